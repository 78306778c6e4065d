#include "Container/Storage/Errors.h"

#include <cstdio>
#include <cstring>
#include <exception>
#include <new>
#include <string>

namespace {

void DefaultWarningMessenger(FilterException& e) {
  // A box would block an unattended run, so the warning is only written out.
  std::fprintf(stderr, "Warning\t%d\n\n%s\n", static_cast<int>(e.Code()), e.Text() ? e.Text() : "");
  std::fflush(stderr);
}

void DefaultLogEventMessenger(FilterException& e) {
  std::printf("(%d) %s\n", static_cast<int>(e.Code()), e.Text() ? e.Text() : "");
}

FilterMessenger g_warningMessenger = DefaultWarningMessenger;
FilterMessenger g_logEventMessenger = DefaultLogEventMessenger;
bool g_assertionBusy = false;

std::unique_ptr<char[]> CopyText(const char* text) {
  if (!text)
    return nullptr;
  const size_t length = std::strlen(text);
  std::unique_ptr<char[]> copy(new char[length + 1]);
  std::memcpy(copy.get(), text, length + 1);
  return copy;
}

void Deliver(FilterMessenger messenger, FilterException& e) {
  // A messenger is outside code; whatever it throws must not turn a warning into a failure.
  try {
    messenger(e);
  } catch (...) {
  }
}

}  // namespace

FilterException::FilterException(int32_t code, sh_MessageType type, va_list /*args*/,
                                 FE_Position position)
    : m_code(code), m_type(type), m_position(position) {
  // The message format of a code would come from the module's string table, which holds no
  // texts for the library's codes: the text stays absent and the arguments are not formatted.
}

FilterException::FilterException(int32_t code, sh_MessageType type, FE_Position position)
    : m_code(code), m_type(type), m_position(position) {}

FilterException::FilterException(const FilterException& other)
    : m_code(other.m_code),
      m_text(CopyText(other.m_text.get())),
      m_type(other.m_type),
      m_position(other.m_position) {}

FilterException& FilterException::operator=(const FilterException& other) {
  if (this != &other) {
    m_text = CopyText(other.m_text.get());
    m_code = other.m_code;
    m_type = other.m_type;
    m_position = other.m_position;
  }
  return *this;
}

FilterException::~FilterException() = default;

void Error(int code, ...) {
  va_list args;
  va_start(args, code);
  FilterException e(code, sh_Error, args, FE_Position());
  va_end(args);
  throw e;
}

void LocalizedError(int code, FE_Position position, ...) {
  va_list args;
  va_start(args, position);
  FilterException e(code, sh_Error, args, position);
  va_end(args);
  throw e;
}

void Warning(int code, ...) {
  va_list args;
  va_start(args, code);
  FilterException e(code, sh_Warning, args, FE_Position());
  va_end(args);
  Deliver(g_warningMessenger, e);
}

void LocalizedWarning(int code, FE_Position position, ...) {
  va_list args;
  va_start(args, position);
  FilterException e(code, sh_Warning, args, position);
  va_end(args);
  Deliver(g_warningMessenger, e);
}

void Warning(FilterException& e) {
  e.SetType(sh_Warning);
  Deliver(g_warningMessenger, e);
}

void LogEvent(int code, ...) {
  va_list args;
  va_start(args, code);
  FilterException e(code, sh_LogEvent, args, FE_Position());
  va_end(args);
  Deliver(g_logEventMessenger, e);
}

void LocalizedLogEvent(int code, FE_Position position, ...) {
  va_list args;
  va_start(args, position);
  FilterException e(code, sh_LogEvent, args, position);
  va_end(args);
  Deliver(g_logEventMessenger, e);
}

void SetWarningMessenger(FilterMessenger messenger) {
  g_warningMessenger = messenger ? messenger : DefaultWarningMessenger;
}

void SetLogEventMessenger(FilterMessenger messenger) {
  g_logEventMessenger = messenger ? messenger : DefaultLogEventMessenger;
}

void WarnAboutCurrentException() noexcept {
  try {
    throw;
  } catch (FilterException& e) {
    Warning(e);
  } catch (const std::bad_alloc&) {
    Warning(FE_StorageOutOfMemory);
  } catch (...) {
    Warning(FE_StorageFailure);
  }
}

void AssertFail(const char* file, int line, const char* expression) {
  if (g_assertionBusy)
    return;
  g_assertionBusy = true;
  const std::string path = file ? file : "";
  size_t cut = path.rfind('\\');
  if (cut == std::string::npos)
    cut = path.rfind('/');
  const std::string name = cut == std::string::npos ? path : path.substr(cut + 1);
  // Nobody may be there to answer a box, so the report is written and the program goes on,
  // as if the question "break to debugger?" had been answered with No.
  std::fprintf(stderr, "Unexpected error at %s %d\n%s\n", name.c_str(), line,
               expression ? expression : "");
  std::fflush(stderr);
  g_assertionBusy = false;
}

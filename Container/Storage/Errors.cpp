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

const char* FilterErrorText(int32_t code) {
  switch (code) {
    case FE_StorageFailure: return "structured-storage failure";
    case FE_StorageOutOfMemory: return "out of memory";
    case FE_StorageInvalidName: return "invalid storage or stream name";
    case FE_StorageInvalidParameter: return "invalid parameter";
    case FE_StorageInvalidPointer: return "invalid pointer";
    case FE_StorageInvalidFunction: return "invalid function";
    case FE_StorageOldFormat: return "not a compound file, or a damaged one";
    case FE_StorageFileNotFound: return "storage or stream not found";
    case FE_StorageAccessDenied: return "access denied";
    case FE_StorageAlreadyExists: return "already exists";
    case FE_StorageReverted: return "storage reverted";
    case FE_StorageFalse: return "data ended early";
    case FE_StorageCantSave: return "cannot save";
    case FE_StorageMediumFull: return "medium full, or data larger than allowed";
    case FE_StorageWriteFault: return "write fault";
    case FE_StorageTooManyOpenFiles: return "too many open files";
    case FE_StorageUnexpected: return "unexpected storage failure";
    case FE_StorageCorrupt: return "damaged compound file";
    case FE_CodeFileVersion: return "code file of a newer format version";
    case FE_CodeFileShortRead: return "damaged code file: a record ended before it was complete or is listed twice";
    case FE_ZlibMemory: return "zlib: out of memory";
    case FE_ZlibVersion: return "zlib: version mismatch";
    case FE_ZlibStream: return "zlib: inconsistent stream";
    case FE_ZlibBuffer: return "zlib: compressed data cut short";
    case FE_ZlibNeedDictionary: return "zlib: a dictionary is needed";
    case FE_ZlibData: return "zlib: damaged compressed data";
    default: return "unknown container error";
  }
}

FilterException::FilterException(int32_t code, sh_MessageType type, va_list /*args*/,
                                 FE_Position position)
    : m_code(code), m_type(type), m_position(position) {
  // The message format of a code would come from the module's string table, which holds no
  // texts for the library's codes: the text stays absent and the arguments are not formatted.
}

FilterException::FilterException(int32_t code, sh_MessageType type, FE_Position position)
    : m_code(code), m_type(type), m_position(position) {}

FilterException::FilterException(int32_t code, const std::string& text)
    : m_code(code), m_text(CopyText(text.c_str())), m_type(sh_Error) {}

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

// Errors, warnings and log events of the exchange-container library.
//
// Failures are thrown as FilterException; warnings and log events are handed to a replaceable
// messenger and never thrown. The library defines only the numbers; a message text would be
// looked up by code in the module's string table, which holds none, so a text is usually absent.
#pragma once

#include <cstdarg>
#include <cstdint>
#include <memory>
#include <string>

// Kind of a library message.
enum sh_MessageType : int32_t {
  sh_Error = 0,
  sh_Warning = 1,
  sh_LogEvent = 2,
};

// Error numbers raised by the library.
enum FilterErrorCode : int32_t {
  FE_StorageFailure = 32769,      // structured-storage result without a mapping of its own
  FE_StorageOutOfMemory = 32773,
  FE_StorageInvalidName = 33000,
  FE_StorageInvalidParameter = 33001,
  FE_StorageInvalidPointer = 33003,
  FE_StorageInvalidFunction = 33004,
  FE_StorageOldFormat = 33005,    // also: not a compound file
  FE_StorageFileNotFound = 33006,
  FE_StorageAccessDenied = 33007,
  FE_StorageAlreadyExists = 33008,
  FE_StorageReverted = 33009,
  FE_StorageFalse = 33010,        // also: a property-set stream ended early
  FE_StorageCantSave = 33011,     // also: a short write
  FE_StorageMediumFull = 33012,
  FE_StorageWriteFault = 33013,
  FE_StorageTooManyOpenFiles = 33014,
  FE_StorageUnexpected = 33015,
  FE_StorageCorrupt = 33016,      // a damaged compound file; the text names the damage
  FE_CodeFileVersion = 34000,     // written by a newer format version
  FE_CodeFileShortRead = 34001,   // a record ended before it was complete
  FE_ZlibMemory = 44001,
  FE_ZlibVersion = 44002,
  FE_ZlibStream = 44003,
  FE_ZlibBuffer = 44004,
  FE_ZlibNeedDictionary = 44005,
  FE_ZlibData = 44006,
};

// What a library error number means, for a reader of a log; "unknown container error" for a
// number the library does not raise.
const char* FilterErrorText(int32_t code);

// Where in a source a message applies; the library itself always reports {0, 0}.
struct FE_Position {
  uint32_t first = 0;
  uint32_t second = 0;

  FE_Position() = default;
  FE_Position(uint32_t firstWord, uint32_t secondWord) : first(firstWord), second(secondWord) {}
};

class FilterException {
 public:
  // Builds the message text from the code's format (when the module has one) and `args`.
  FilterException(int32_t code, sh_MessageType type, va_list args, FE_Position position);
  // The same for a format without arguments.
  FilterException(int32_t code, sh_MessageType type = sh_Error, FE_Position position = {});
  // An error of `code` with a text of its own, in place of the code's general one.
  FilterException(int32_t code, const std::string& text);
  FilterException(const FilterException& other);
  FilterException& operator=(const FilterException& other);
  virtual ~FilterException();

  int32_t Code() const { return m_code; }
  // The message text, or null when the module has none for this code.
  const char* Text() const { return m_text.get(); }
  sh_MessageType Type() const { return m_type; }
  void SetType(sh_MessageType type) { m_type = type; }
  const FE_Position& Position() const { return m_position; }

 private:
  int32_t m_code;
  std::unique_ptr<char[]> m_text;
  sh_MessageType m_type;
  FE_Position m_position;
};

using FilterMessenger = void (*)(FilterException&);

// Throws a FilterException of type error. The extra arguments feed the code's message format.
[[noreturn]] void Error(int code, ...);
[[noreturn]] void LocalizedError(int code, FE_Position position, ...);

// Hand a warning to the warning messenger and return.
void Warning(int code, ...);
void LocalizedWarning(int code, FE_Position position, ...);
// Turns a caught error into a warning and hands it to the warning messenger.
void Warning(FilterException& e);

// Hand a log event to the log-event messenger and return.
void LogEvent(int code, ...);
void LocalizedLogEvent(int code, FE_Position position, ...);

// A null messenger reinstalls the default one. The defaults never block: a warning goes to the
// standard error stream, a log event to the standard output stream.
void SetWarningMessenger(FilterMessenger messenger);
void SetLogEventMessenger(FilterMessenger messenger);

// For destructors that finish a stored form: reports the exception being handled through the
// warning messenger instead of letting it escape. Call only inside a catch block.
void WarnAboutCurrentException() noexcept;

// Report of a failed internal consistency check. It is written to the standard error stream and
// the program goes on; a report made while another one is being written returns at once.
void AssertFail(const char* file, int line, const char* expression);

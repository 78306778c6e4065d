// Common base of the structured-storage wrappers and the library's single mapping of
// structured-storage results to library error codes.
#pragma once

#include <cstdint>

class OLEObject {
 public:
  OLEObject() = default;
  OLEObject(const OLEObject&) = default;
  OLEObject& operator=(const OLEObject&) = delete;
  virtual ~OLEObject();

  // True when the file exists.
  static bool Exists(const char* path);
  // True when the file is a compound file; false for a file of another format. Other failures
  // (an absent file among them) raise their library error.
  static bool IsStorage(const char* path);

  // The library code of a structured-storage result; every result without a mapping of its own,
  // success included, gives FE_StorageFailure.
  static int ResultCode(int32_t result);

 protected:
  // Raises the library error of `result`, with the name of the item concerned (null: empty).
  [[noreturn]] static void Abort(int32_t result, const char16_t* item);
};

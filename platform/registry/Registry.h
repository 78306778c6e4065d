// The module's key store, standing in for the Windows registry: a key is a folder and a string
// value a file holding its text (no terminator, no line end). The store lives in one root
// folder, which holds a folder per hive ("HKEY_LOCAL_MACHINE"); key paths below a hive take "\"
// or "/" between their names. Names are found without regard to case, as the registry finds
// them, and keep the spelling they were created with.
//
// Every call answers a Win32 error code, 0 for success, so that callers branch as they would
// on the registry.
#pragma once

#include <cstdint>
#include <string>

#include "platform/fs/Claims.h"

namespace platform::registry {

// Win32 results.
enum : int32_t {
    kSuccess = 0,
    kFileNotFound = 2,        // ERROR_FILE_NOT_FOUND: no such key or value
    kAccessDenied = 5,        // ERROR_ACCESS_DENIED: the key was opened without that right
    kInvalidHandle = 6,       // ERROR_INVALID_HANDLE: a key that is not open
    kInvalidParameter = 87,   // ERROR_INVALID_PARAMETER
    kAlreadyExists = 183,     // ERROR_ALREADY_EXISTS: an exclusive create found the value
    kNoMoreItems = 259,       // ERROR_NO_MORE_ITEMS: enumeration past the last subkey
    kBadKey = 1010,           // ERROR_BADKEY: a key or value name that cannot be stored
    kCantOpen = 1011,         // ERROR_CANTOPEN: the store cannot be reached
    kCantRead = 1012,         // ERROR_CANTREAD
    kCantWrite = 1013,        // ERROR_CANTWRITE
    kKeyDeleted = 1018,       // ERROR_KEY_DELETED: the open key's folder is gone
};

// Access rights, with the registry's values.
enum : uint32_t {
    kQueryValue = 0x0001,
    kSetValue = 0x0002,
    kCreateSubKey = 0x0004,
    kEnumerateSubKeys = 0x0008,
    kRead = 0x20019,          // KEY_READ
    kWrite = 0x20006,         // KEY_WRITE
    kAllAccess = 0xF003F,     // KEY_ALL_ACCESS
};

// An open key: its folder and the rights it was opened with. A default key is not open.
struct Key {
    std::string folder;
    uint32_t access = 0;
    bool IsOpen() const { return !folder.empty(); }
};

// The hive every key of the module lives under.
inline constexpr const char kLocalMachine[] = "HKEY_LOCAL_MACHINE";

// The store's root folder (process-wide; empty until set).
void SetRoot(const std::string& folder);
std::string Root();

// The hive itself as an open key with every right; its folder is made when missing.
int32_t OpenHive(const char* hive, Key& out);

// RegCreateKeyEx: opens the subkey, creating it and every missing key on the way.
int32_t CreateKey(const Key& parent, const std::string& subKey, uint32_t access, Key& out);
// RegOpenKeyEx: opens an existing subkey.
int32_t OpenKey(const Key& parent, const std::string& subKey, uint32_t access, Key& out);
// RegCloseKey.
int32_t CloseKey(Key& key);

// RegQueryValueEx of a string value (needs kQueryValue).
int32_t QueryString(const Key& key, const std::string& name, std::string& out);
// RegSetValueEx of a string value (needs kSetValue); replaces the whole value at once.
int32_t SetString(const Key& key, const std::string& name, const std::string& text);
// Sets a string value only when it does not exist yet, in one step: of any number of callers
// exactly one succeeds, the others get kAlreadyExists. A reader never sees part of the text.
int32_t CreateStringExclusive(const Key& key, const std::string& name, const std::string& text);

// Sets a string value as this process's claim, held through `claim` for as long as it holds it
// (the owner's process id is recorded beside the value, in a hidden file of the key). A value
// whose recorded owner has gone, however it ended, is taken over: `stale` is then that owner's
// process id (else 0). kAlreadyExists while a living process holds the value, `owner` then
// being its process id, and also for a value that another program set without recording an
// owner (owner 0).
int32_t ClaimString(const Key& key, const std::string& name, const std::string& text, fs::OwnerClaim& claim,
                    long& owner, long& stale);

// RegEnumKeyEx: the name of subkey `index` (in name order); kNoMoreItems past the last.
int32_t EnumKey(const Key& key, uint32_t index, std::string& name);
// RegDeleteKey: deletes a subkey that has no subkeys of its own, with its values.
int32_t DeleteKey(const Key& parent, const std::string& subKey);

} // namespace platform::registry

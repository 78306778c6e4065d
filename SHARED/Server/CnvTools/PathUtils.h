// Path and file functions over std::string and ustring (host text); both instantiations
// behave alike and compare bytes.
//
// Paths are POSIX paths. Splitting and searching treat both "/" and "\" as separators;
// joining writes "/". No function throws: each answers false, 0 or an empty string, and
// createDirectory and removeDirectory log their failures to the server log.
#pragma once

#include <cstdint>
#include <string>

#include "Foundation/UString.h"
#include "platform/host/HostServices.h"

// True for "/" and "\".
template <class Ch>
constexpr bool IsPathSeparator(Ch c)
{
    return c == Ch('/') || c == Ch('\\');
}

// The separator that joins paths.
constexpr char kPathSeparator = '/';

// The longest path the system takes, in bytes without the terminating zero (its buffers hold
// 4096 bytes with it). Every path function and host file record works up to it.
constexpr std::size_t kLongestPath = 4095;

// Removes the trailing run of c, never the first character; answers how many went.
template <class TStr>
std::size_t StripTrailing(TStr& text, typename TStr::value_type c);

// Removes trailing separators of either kind, never the first character.
template <class TStr>
std::size_t StripTrailingSeparators(TStr& text);

template <class TStr>
bool PathExists(const TStr& path, bool* isDirectory = nullptr);

// Removes a file (never a folder), retrying up to `retries` more times 20 ms apart.
template <class TStr>
bool RemoveFile(const TStr& path, int retries);

// Makes one folder (its parent must exist); false for an empty or existing path.
template <class TStr>
bool createDirectory(const TStr& path);

// Makes durable the names that this process gave files and folders since the last call, before
// a run reports them done; a folder that cannot be synced is named in the general log. False
// then, with failure (when given) saying which folder and why.
bool SyncWrittenNames(std::string* failure = nullptr);

// Removes an empty folder, retrying up to `retries` more times 20 ms apart.
template <class TStr>
bool removeDirectory(const TStr& path, int retries);

template <class TStr>
TStr GetExtension(const TStr& path, bool withDot);

// Keeps the text before the last c (and c itself unless dropCharacter); false when absent.
template <class TStr>
bool TruncateAtLast(TStr& text, typename TStr::value_type c, bool dropCharacter);

// The text after the last separator (empty when there is none).
template <class TStr>
TStr GetFileName(const TStr& path, bool keepExtension);

// Keeps an argument out of template deduction, so that nullptr can stand for "no output".
template <class T>
struct NonDeduced {
    using type = T;
};

// Splits at the last separator; true when both folder and name are non-empty. The extension
// output (may be null) receives the path's extension whatever the outcome.
template <class TStr>
bool SplitPathAtBackslash(const TStr& path, TStr& folder, TStr& name,
                          typename NonDeduced<TStr>::type* extension, bool keepExtension);

// Replaces the extension of the last path component (a dot in a folder name does not count).
template <class TStr>
bool ChangeExtension(TStr& path, const TStr& extension, bool sameLengthOnly, bool appendWhenNone);

template <class TStr>
bool CompareStrings(const TStr& a, const TStr& b, bool exact);

template <class TStr>
uint32_t FileSizeOf(const TStr& path);

// The system's temporary folder without trailing separator.
template <class TStr>
bool GetSystemTempPath(TStr& out);

template <class TStr = std::string>
TStr SystemTempPath();

// Joins a folder and a name with one separator.
template <class TStr>
TStr JoinPath(const TStr& folder, const TStr& name);

// ---- Host file specifications --------------------------------------------------------------

// The name field of the file spec; answers 0.
int16_t GetFileSpecName(const HostFileSpec& spec, ustring& out);

// The full path of a specification through the host; with takeName, a three-character
// extension's file name is replaced by the file spec's own name when they differ.
// Answers the host's result code, 0 = success.
int16_t FileSpecToPath(ustring& out, const HostFileSpec& spec, bool takeName);
int16_t FileSpecToPath(std::string& out, const HostFileSpec& spec, bool takeName);

// The host's temporary folder, empty on failure.
ustring GetHostTempFolder();
std::string GetHostTempPath();

// ---- Instantiations ------------------------------------------------------------------------

#define KS_PATH_FUNCTIONS_EXTERN(TStr)                                                         \
    extern template std::size_t StripTrailing<TStr>(TStr&, TStr::value_type);                 \
    extern template std::size_t StripTrailingSeparators<TStr>(TStr&);                          \
    extern template bool PathExists<TStr>(const TStr&, bool*);                                 \
    extern template bool RemoveFile<TStr>(const TStr&, int);                                   \
    extern template bool createDirectory<TStr>(const TStr&);                                   \
    extern template bool removeDirectory<TStr>(const TStr&, int);                              \
    extern template TStr GetExtension<TStr>(const TStr&, bool);                                \
    extern template bool TruncateAtLast<TStr>(TStr&, TStr::value_type, bool);                  \
    extern template TStr GetFileName<TStr>(const TStr&, bool);                                 \
    extern template bool SplitPathAtBackslash<TStr>(const TStr&, TStr&, TStr&, TStr*, bool);   \
    extern template bool ChangeExtension<TStr>(TStr&, const TStr&, bool, bool);                \
    extern template bool CompareStrings<TStr>(const TStr&, const TStr&, bool);                 \
    extern template uint32_t FileSizeOf<TStr>(const TStr&);                                    \
    extern template bool GetSystemTempPath<TStr>(TStr&);                                       \
    extern template TStr SystemTempPath<TStr>();                                               \
    extern template TStr JoinPath<TStr>(const TStr&, const TStr&);

KS_PATH_FUNCTIONS_EXTERN(std::string)
KS_PATH_FUNCTIONS_EXTERN(ustring)
#undef KS_PATH_FUNCTIONS_EXTERN

// Copies of an exchange container with damage done to them, as translation tools were seen to do
// it: the code file's streams by name, edited through the folder tree they flatten, and raw
// edits of any stream of the compound file.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <utility>
#include <vector>

namespace kesto_damage {

using Bytes = std::vector<uint8_t>;

uint32_t U32(const Bytes& bytes, size_t at);
void PutU32(Bytes& bytes, size_t at, uint32_t value);

// One entry of a folder's table of sub-folders.
struct FolderEntry {
    std::string name;
    int32_t index;
    uint32_t number;
};

using FolderPath = std::vector<std::pair<std::string, int32_t>>;

// The streams of a code file (every one with tag 0), edited through the folder tree they flatten:
// the stream n of the folder with prefix P is P + 0x01 + n, its sub-folder numbered k has the
// prefix P + 0x01 + k in upper-case hexadecimal, and its table of sub-folders is P + 0x02.
struct CodeStreams {
    std::map<std::string, Bytes> streams;

    static std::string Hex(uint32_t number);
    std::vector<FolderEntry> Table(const std::string& prefix) const;
    void SetTable(const std::string& prefix, const std::vector<FolderEntry>& entries);
    // The prefix of the folder at the path of (name, index) pairs below the root; raises when
    // there is none.
    std::string Folder(const FolderPath& path) const;
    // Every folder below `prefix` whose name is `name`, depth first.
    void Find(const std::string& prefix, const std::string& name, std::vector<std::string>& found) const;
};

// Copies the folder at `prefix` with everything in it as element `index` of the same parent; the
// elements of its name from `index` on move one place back.
void CopyElement(CodeStreams& code, const std::string& prefix, int32_t index);
// The field streams of the bundle at `bundle`: the streams named `bundle` + 0x01 + a field name.
std::vector<std::string> FieldsOf(const CodeStreams& code, const std::string& bundle);

// The path of the stories' collection of the first document, and of story `story`.
extern const FolderPath kStories;
FolderPath StoryPath(int32_t story);

CodeStreams ReadCodeFile(const std::string& path);

// Receives the bytes of the stream at a path ("A/B/name") of the copy and changes them in place.
using RawEdit = std::function<void(const std::u16string& path, Bytes& bytes)>;

// Writes `out` from `in` with the code file's streams from `code` (when given) and the streams at
// the paths of `edited` passed through `edit`; without `compress`, the code file stores its
// streams as they are, which any reader takes as well and which is many times quicker to write.
void WriteCopy(const std::string& in, const std::string& out, const CodeStreams* code,
               const std::vector<std::u16string>& edited = {}, const RawEdit& edit = nullptr, bool compress = true);

// The host document stored in the container at `path`, inflated.
std::string StoredDocument(const std::string& path);

// The names of the damages DamageContainer does, each alone.
const std::vector<std::string>& DamageNames();

// Writes `out`: the container `in` (an export of export.qxp or alike, translated or not) with the
// damage `name`; "document-of-another-export" takes the stored document of the container `other`.
// False with a message in `error` when the damage cannot be done to this container.
bool DamageContainer(const std::string& name, const std::string& in, const std::string& out,
                     const std::string& other, std::string& error);

} // namespace kesto_damage

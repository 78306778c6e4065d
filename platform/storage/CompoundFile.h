// The compound file itself: its directory tree in memory, the sectors of its large streams,
// reading (versions 3 and 4) and writing (version 3).
//
// A file is opened either for reading (the original file, locked shared or exclusive) or for
// writing. Writing goes to a temporary file in the target's folder: streams of 4096 bytes and
// more are written through to their sectors at once, smaller streams are held in memory and
// go to the mini stream when the file is finished; the allocation tables, the directory and
// the header are written by flush(), whose first success moves the temporary file over the
// target.
#pragma once

#include "platform/storage/Names.h"
#include "platform/storage/StructuredStorage.h"

#include <map>
#include <memory>
#include <string>
#include <vector>

namespace cfb {

constexpr uint32_t kMiniStreamCutoff = 4096;
constexpr uint32_t kMiniSectorSize = 64;
// Streams are limited to what a version 3 size field may hold.
constexpr uint64_t kMaxStreamSize = 0x80000000u;

enum class Kind : uint8_t { Storage = 1, Stream = 2, Root = 5 };

struct Node;
using Children = std::map<std::u16string, std::unique_ptr<Node>, NameOrder>;   // key: upper-cased name

struct Node {
    std::u16string name;           // stored spelling
    Kind kind = Kind::Stream;
    CLSID clsid = CLSID_NULL;
    uint32_t stateBits = 0;
    uint64_t ctime = 0;
    uint64_t mtime = 0;
    Node* parent = nullptr;
    Children children;

    uint64_t size = 0;             // streams only
    // The data: at or above kMiniStreamCutoff in the sectors of `chain`; below it, in `bytes` in a
    // file being written and in the mini sectors of `chain` in a file being read.
    std::vector<uint8_t> bytes;
    std::vector<uint32_t> chain;

    uint32_t users = 0;            // live storage and stream objects on this element (clones included)

    bool isStorage() const { return kind != Kind::Stream; }
};

// True when the element or anything below it is in use by a live object.
bool inUse(const Node& node);

class File {
public:
    // Reads a compound file; `exclusive` locks it against every other open, otherwise readers share.
    static HRESULT openForReading(const std::string& path, bool exclusive, std::shared_ptr<File>& out);
    // Starts a new file that will replace `path` (STG_E_FILEALREADYEXISTS when it exists and
    // failIfThere is set).
    static HRESULT create(const std::string& path, bool failIfThere, std::shared_ptr<File>& out);
    // Opens an existing file for changes: its tree is copied into a new file that replaces it.
    static HRESULT openForWriting(const std::string& path, std::shared_ptr<File>& out);

    File(const File&) = delete;
    File& operator=(const File&) = delete;
    ~File();

    Node& root() { return root_; }
    const std::string& path() const { return path_; }
    bool writable() const { return writable_; }
    // S_OK while the file may be used; STG_E_REVERTED after Revert.
    HRESULT usable() const { return reverted_ ? STG_E_REVERTED : S_OK; }
    // S_OK while the file may be changed; otherwise the reason (reverted, an earlier write failure).
    HRESULT changeable() const;

    HRESULT read(const Node& stream, uint64_t offset, void* buffer, uint32_t count, uint32_t& got) const;
    HRESULT write(Node& stream, uint64_t offset, const void* data, uint32_t count);
    // As writes of `piece` bytes each (the last one shorter), one after the other; `written`: the
    // bytes of the pieces that were written.
    HRESULT writePieces(Node& stream, uint64_t offset, const void* data, uint32_t count, uint32_t piece,
                        uint32_t& written);
    HRESULT resize(Node& stream, uint64_t size);

    static Node* find(Node& parent, const std::u16string& name);
    Node& insert(Node& parent, const std::u16string& name, Kind kind);
    void erase(Node& element);                                   // with its subtree
    void rename(Node& element, const std::u16string& name);
    void relink(Node& element, Node& parent, const std::u16string& name);   // same file only
    // Copies `source` (of `from`, possibly this file) with its subtree into `parent` as `name`.
    HRESULT copyInto(const File& from, const Node& source, Node& parent, const std::u16string& name);
    void touch() { dirty_ = true; }

    HRESULT flush();
    HRESULT revert();

private:
    File() = default;

    static HRESULT startWriting(const std::string& path, int targetFd, std::shared_ptr<File>& out);
    HRESULT load(uint64_t fileSize);
    HRESULT readSectors(const std::vector<uint32_t>& chain, uint64_t offset, void* buffer, size_t count) const;
    HRESULT readMini(const std::vector<uint32_t>& units, uint64_t offset, void* buffer, size_t count) const;
    HRESULT writeSectors(const std::vector<uint32_t>& chain, uint64_t offset, const void* data, size_t count);
    HRESULT putAt(const void* data, size_t count, uint64_t offset);
    HRESULT release();
    void overlayHeld(uint64_t offset, uint8_t* buffer, size_t count) const;
    HRESULT writeZeros(const std::vector<uint32_t>& chain, uint64_t from, uint64_t to);
    HRESULT growChain(std::vector<uint32_t>& chain, uint64_t size);
    void trimChain(std::vector<uint32_t>& chain, uint64_t size);
    HRESULT place(Node& stream, uint64_t offset, const void* data, uint32_t count);
    HRESULT fail(HRESULT hr);
    HRESULT writeStructures();
    HRESULT replaceTarget();

    std::string path_;             // the target
    std::string tempPath_;         // the file being written (writable files)
    int fd_ = -1;                  // the file read, or the temporary file written
    int targetFd_ = -1;            // holds the lock on an existing target until it is replaced
    bool writable_ = false;
    unsigned shift_ = 9;           // sector size 1 << shift_
    uint32_t sectorCount_ = 0;     // sectors after the header
    std::vector<uint32_t> miniChain_; // sectors of the mini stream (files being read)
    uint64_t miniSize_ = 0;
    mutable std::unique_ptr<uint8_t[]> miniStream_;   // the mini stream, once a small stream was read
    std::vector<uint32_t> free_;   // free sectors inside sectorCount_
    std::vector<uint32_t> meta_;   // sectors of the tables, directory and mini stream last written
    // Stream data written but not yet handed to the system: writes that continue one another
    // are gathered here and go out in one, so that a stream written in small pieces costs few
    // system calls. Reads see these bytes; the tables are written only after them.
    std::unique_ptr<uint8_t[]> held_;
    uint64_t heldAt_ = 0;
    size_t heldSize_ = 0;
    bool dirty_ = false;
    bool replaced_ = false;        // the first flush moved the file over the target
    bool reverted_ = false;
    HRESULT failure_ = S_OK;       // first write failure; the file is then never moved over the target
    Node root_;
};

}  // namespace cfb

// The storage, stream and enumerator objects over cfb::File, and the entry points.
#include "platform/storage/StructuredStorage.h"

#include "platform/storage/CompoundFile.h"

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <new>

using cfb::File;
using cfb::Kind;
using cfb::Node;

namespace {

// Every entry point answers an HRESULT, also when memory runs out.
template <class Body>
HRESULT guarded(Body&& body) noexcept {
    try {
        return body();
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    } catch (...) {
        return E_UNEXPECTED;
    }
}

class TaskAllocator final : public IMalloc {
public:
    uint32_t AddRef() override { return 1; }
    uint32_t Release() override { return 1; }
    void* Alloc(size_t size) override { return std::malloc(size ? size : 1); }
    void* Realloc(void* block, size_t size) override { return std::realloc(block, size ? size : 1); }
    void Free(void* block) override { std::free(block); }
};

TaskAllocator& taskAllocator() {
    static TaskAllocator allocator;
    return allocator;
}

// A name handed to the caller, freed with the task allocator.
char16_t* handOut(const std::u16string& name) {
    auto* block = static_cast<char16_t*>(taskAllocator().Alloc((name.size() + 1) * sizeof(char16_t)));
    if (!block) throw std::bad_alloc();
    std::memcpy(block, name.data(), name.size() * sizeof(char16_t));
    block[name.size()] = 0;
    return block;
}

constexpr uint32_t kAccessMask = 0x3;
constexpr uint32_t kShareMask = 0x70;

bool readsWith(uint32_t mode) { return (mode & kAccessMask) != STGM_WRITE; }
bool writesWith(uint32_t mode) { return (mode & kAccessMask) != STGM_READ; }

template <class Interface>
class RefCounted : public Interface {
public:
    uint32_t AddRef() override { return ++refs_; }
    uint32_t Release() override {
        const uint32_t left = --refs_;
        if (left == 0) delete this;
        return left;
    }

protected:
    virtual ~RefCounted() = default;

private:
    uint32_t refs_ = 1;
};

// An open element: keeps its file alive and counts as a user of its directory entry.
class Element {
public:
    Element(std::shared_ptr<File> file, Node& node, uint32_t mode)
        : file_(std::move(file)), node_(&node), mode_(mode) {
        ++node_->users;
    }
    Element(const Element&) = delete;
    Element& operator=(const Element&) = delete;
    ~Element() { --node_->users; }

protected:
    bool canRead() const { return readsWith(mode_); }
    bool canWrite() const { return writesWith(mode_); }

    std::shared_ptr<File> file_;
    Node* node_;
    uint32_t mode_;
};

HRESULT checkStatFlag(STATSTG* stat, uint32_t flag) {
    if (!stat) return STG_E_INVALIDPOINTER;
    if (flag != STATFLAG_DEFAULT && flag != STATFLAG_NONAME) return STG_E_INVALIDFLAG;
    std::memset(stat, 0, sizeof *stat);
    return S_OK;
}

class StreamObject final : public RefCounted<IStream>, private Element {
public:
    StreamObject(std::shared_ptr<File> file, Node& node, uint32_t mode, uint64_t position = 0)
        : Element(std::move(file), node, mode), position_(position) {}

    HRESULT Read(void* pv, uint32_t cb, uint32_t* pcbRead) override {
        if (pcbRead) *pcbRead = 0;
        return guarded([&]() -> HRESULT {
            if (!pv && cb) return STG_E_INVALIDPOINTER;
            if (HRESULT hr = file_->usable(); FAILED(hr)) return hr;
            if (!canRead()) return STG_E_ACCESSDENIED;
            uint32_t got = 0;
            if (HRESULT hr = file_->read(*node_, position_, pv, cb, got); FAILED(hr)) return hr;
            position_ += got;
            if (pcbRead) *pcbRead = got;
            return S_OK;
        });
    }

    HRESULT Write(const void* pv, uint32_t cb, uint32_t* pcbWritten) override {
        if (pcbWritten) *pcbWritten = 0;
        return guarded([&]() -> HRESULT {
            if (!pv && cb) return STG_E_INVALIDPOINTER;
            if (HRESULT hr = file_->usable(); FAILED(hr)) return hr;
            if (!canWrite()) return STG_E_ACCESSDENIED;
            if (HRESULT hr = file_->write(*node_, position_, pv, cb); FAILED(hr)) return hr;
            position_ += cb;
            if (pcbWritten) *pcbWritten = cb;
            return S_OK;
        });
    }

    HRESULT WritePieces(const void* pv, uint32_t cb, uint32_t piece, uint32_t* pcbWritten) override {
        if (pcbWritten) *pcbWritten = 0;
        return guarded([&]() -> HRESULT {
            if (!pv && cb) return STG_E_INVALIDPOINTER;
            if (HRESULT hr = file_->usable(); FAILED(hr)) return hr;
            if (!canWrite()) return STG_E_ACCESSDENIED;
            uint32_t written = 0;
            const HRESULT hr = file_->writePieces(*node_, position_, pv, cb, piece, written);
            position_ += written;
            if (pcbWritten) *pcbWritten = written;
            return hr;
        });
    }

    HRESULT Seek(int64_t move, uint32_t origin, uint64_t* newPosition) override {
        if (HRESULT hr = file_->usable(); FAILED(hr)) return hr;
        uint64_t base = 0;
        switch (origin) {
        case STREAM_SEEK_SET: base = 0; break;
        case STREAM_SEEK_CUR: base = position_; break;
        case STREAM_SEEK_END: base = node_->size; break;
        default: return STG_E_INVALIDFUNCTION;
        }
        uint64_t position = 0;
        if (move < 0) {
            const uint64_t back = uint64_t(-(move + 1)) + 1;
            if (back > base) return STG_E_INVALIDFUNCTION;
            position = base - back;
        } else {
            position = base + uint64_t(move);
            if (position < base) return STG_E_INVALIDFUNCTION;
        }
        position_ = position;
        if (newPosition) *newPosition = position;
        return S_OK;
    }

    HRESULT SetSize(uint64_t size) override {
        return guarded([&]() -> HRESULT {
            if (HRESULT hr = file_->usable(); FAILED(hr)) return hr;
            if (!canWrite()) return STG_E_ACCESSDENIED;
            return file_->resize(*node_, size);
        });
    }

    HRESULT CopyTo(IStream* target, uint64_t cb, uint64_t* pcbRead, uint64_t* pcbWritten) override {
        uint64_t read = 0, written = 0;
        const HRESULT result = guarded([&]() -> HRESULT {
            if (!target) return STG_E_INVALIDPOINTER;
            if (HRESULT hr = file_->usable(); FAILED(hr)) return hr;
            if (!canRead()) return STG_E_ACCESSDENIED;
            const uint64_t left = position_ < node_->size ? node_->size - position_ : 0;
            const uint64_t total = std::min(cb, left);
            // Onto the same data (a clone) the source is read whole first, so an overlapping
            // target cannot overwrite bytes not yet copied.
            auto* same = dynamic_cast<StreamObject*>(target);
            const uint64_t block = same && same->node_ == node_ ? total : uint64_t(1) << 20;
            std::vector<uint8_t> buffer(size_t(std::min(block, total)));
            while (read < total) {
                const uint32_t want = uint32_t(std::min<uint64_t>(buffer.size(), total - read));
                uint32_t got = 0, put = 0;
                if (HRESULT hr = Read(buffer.data(), want, &got); FAILED(hr)) return hr;
                if (got == 0) break;
                read += got;
                if (HRESULT hr = target->Write(buffer.data(), got, &put); FAILED(hr)) return hr;
                written += put;
            }
            return S_OK;
        });
        if (pcbRead) *pcbRead = read;
        if (pcbWritten) *pcbWritten = written;
        return result;
    }

    HRESULT Clone(IStream** out) override {
        if (!out) return STG_E_INVALIDPOINTER;
        *out = nullptr;
        return guarded([&]() -> HRESULT {
            if (HRESULT hr = file_->usable(); FAILED(hr)) return hr;
            *out = new StreamObject(file_, *node_, mode_, position_);
            return S_OK;
        });
    }

    HRESULT Stat(STATSTG* stat, uint32_t flag) override {
        if (HRESULT hr = checkStatFlag(stat, flag); FAILED(hr)) return hr;
        return guarded([&]() -> HRESULT {
            if (HRESULT hr = file_->usable(); FAILED(hr)) return hr;
            stat->type = STGTY_STREAM;
            stat->cbSize = node_->size;
            stat->grfMode = mode_;
            if (flag == STATFLAG_DEFAULT) stat->pwcsName = handOut(node_->name);
            return S_OK;
        });
    }

private:
    uint64_t position_;
};

struct EnumEntry {
    std::u16string name;
    uint32_t type;
    uint64_t size;
    CLSID clsid;
    uint32_t stateBits;
};

class EnumObject final : public RefCounted<IEnumSTATSTG> {
public:
    EnumObject(std::shared_ptr<const std::vector<EnumEntry>> entries, size_t position)
        : entries_(std::move(entries)), position_(position) {}

    HRESULT Next(uint32_t celt, STATSTG* records, uint32_t* fetched) override {
        if (fetched) *fetched = 0;
        if (!records || (celt != 1 && !fetched)) return STG_E_INVALIDPOINTER;
        uint32_t n = 0;
        const HRESULT hr = guarded([&]() -> HRESULT {
            for (; n < celt && position_ < entries_->size(); ++n) {
                const EnumEntry& e = (*entries_)[position_];
                STATSTG& r = records[n];
                std::memset(&r, 0, sizeof r);
                r.pwcsName = handOut(e.name);
                r.type = e.type;
                r.cbSize = e.size;
                r.clsid = e.clsid;
                r.grfStateBits = e.stateBits;
                ++position_;
            }
            return S_OK;
        });
        if (FAILED(hr)) {
            for (uint32_t k = 0; k < n; ++k) taskAllocator().Free(records[k].pwcsName);
            position_ -= n;
            return hr;
        }
        if (fetched) *fetched = n;
        return n == celt ? S_OK : S_FALSE;
    }

    HRESULT Skip(uint32_t celt) override {
        const size_t left = entries_->size() - position_;
        position_ += std::min<size_t>(celt, left);
        return celt <= left ? S_OK : S_FALSE;
    }

    HRESULT Reset() override {
        position_ = 0;
        return S_OK;
    }

    HRESULT Clone(IEnumSTATSTG** out) override {
        if (!out) return STG_E_INVALIDPOINTER;
        *out = nullptr;
        return guarded([&]() -> HRESULT {
            *out = new EnumObject(entries_, position_);
            return S_OK;
        });
    }

private:
    std::shared_ptr<const std::vector<EnumEntry>> entries_;
    size_t position_;
};

class StorageObject final : public RefCounted<IStorage>, private Element {
public:
    StorageObject(std::shared_ptr<File> file, Node& node, uint32_t mode) : Element(std::move(file), node, mode) {}

    HRESULT CreateStream(const char16_t* name, uint32_t mode, uint32_t reserved1, uint32_t reserved2,
                         IStream** out) override {
        return open(out, [&](Node*& node) { return create(name, mode, reserved1 | reserved2, Kind::Stream, node); },
                    [&](Node& node) { return new StreamObject(file_, node, mode); });
    }

    HRESULT OpenStream(const char16_t* name, void* reserved1, uint32_t mode, uint32_t reserved2,
                       IStream** out) override {
        return open(out, [&](Node*& node) { return find(name, mode, reserved1 || reserved2, Kind::Stream, node); },
                    [&](Node& node) { return new StreamObject(file_, node, mode); });
    }

    HRESULT CreateStorage(const char16_t* name, uint32_t mode, uint32_t reserved1, uint32_t reserved2,
                          IStorage** out) override {
        return open(out, [&](Node*& node) { return create(name, mode, reserved1 | reserved2, Kind::Storage, node); },
                    [&](Node& node) { return new StorageObject(file_, node, mode); });
    }

    HRESULT OpenStorage(const char16_t* name, IStorage* priority, uint32_t mode, char16_t** exclude,
                        uint32_t reserved, IStorage** out) override {
        return open(out,
                    [&](Node*& node) { return find(name, mode, priority || exclude || reserved, Kind::Storage, node); },
                    [&](Node& node) { return new StorageObject(file_, node, mode); });
    }

    HRESULT MoveElementTo(const char16_t* name, IStorage* destination, const char16_t* newName,
                          uint32_t flags) override {
        return guarded([&]() -> HRESULT {
            std::u16string from, to;
            if (!cfb::takeName(name, from) || !cfb::takeName(newName ? newName : name, to)) return STG_E_INVALIDNAME;
            if (!destination) return STG_E_INVALIDPOINTER;
            if (flags != STGMOVE_MOVE && flags != STGMOVE_COPY) return STG_E_INVALIDFLAG;
            auto* target = dynamic_cast<StorageObject*>(destination);
            if (!target) return STG_E_INVALIDPARAMETER;
            if (HRESULT hr = file_->usable(); FAILED(hr)) return hr;
            const bool move = flags == STGMOVE_MOVE;
            Node* element = File::find(*node_, from);
            if (!element) return STG_E_FILENOTFOUND;
            if (!target->canWrite() || (move && !canWrite())) return STG_E_ACCESSDENIED;
            if (HRESULT hr = target->file_->changeable(); FAILED(hr)) return hr;
            if (move)
                if (HRESULT hr = file_->changeable(); FAILED(hr)) return hr;
            const bool sameFile = target->file_ == file_;
            if (sameFile)
                for (const Node* n = target->node_; n; n = n->parent)
                    if (n == element) return STG_E_ACCESSDENIED;   // into itself
            if (File::find(*target->node_, to)) {
                const bool ontoItself = sameFile && target->node_ == node_ && cfb::upperCased(from) == cfb::upperCased(to);
                return ontoItself ? STG_E_ACCESSDENIED : STG_E_FILEALREADYEXISTS;
            }
            if (move && cfb::inUse(*element)) return STG_E_ACCESSDENIED;
            if (move && sameFile) {
                file_->relink(*element, *target->node_, to);
                return S_OK;
            }
            if (HRESULT hr = target->file_->copyInto(*file_, *element, *target->node_, to); FAILED(hr)) return hr;
            if (move) file_->erase(*element);
            return S_OK;
        });
    }

    HRESULT DestroyElement(const char16_t* name) override {
        return guarded([&]() -> HRESULT {
            Node* element = nullptr;
            if (HRESULT hr = changeChild(name, element); FAILED(hr)) return hr;
            if (cfb::inUse(*element)) return STG_E_ACCESSDENIED;
            file_->erase(*element);
            return S_OK;
        });
    }

    HRESULT RenameElement(const char16_t* oldName, const char16_t* newName) override {
        return guarded([&]() -> HRESULT {
            std::u16string to;
            if (!cfb::takeName(newName, to)) return STG_E_INVALIDNAME;
            Node* element = nullptr;
            if (HRESULT hr = changeChild(oldName, element); FAILED(hr)) return hr;
            const Node* existing = File::find(*node_, to);
            if (existing && existing != element) return STG_E_FILEALREADYEXISTS;
            if (element->users) return STG_E_ACCESSDENIED;
            file_->rename(*element, to);
            return S_OK;
        });
    }

    HRESULT SetClass(const CLSID& clsid) override {
        if (HRESULT hr = file_->usable(); FAILED(hr)) return hr;
        if (!canWrite()) return STG_E_ACCESSDENIED;
        if (HRESULT hr = file_->changeable(); FAILED(hr)) return hr;
        node_->clsid = clsid;
        file_->touch();
        return S_OK;
    }

    HRESULT Stat(STATSTG* stat, uint32_t flag) override {
        if (HRESULT hr = checkStatFlag(stat, flag); FAILED(hr)) return hr;
        return guarded([&]() -> HRESULT {
            if (HRESULT hr = file_->usable(); FAILED(hr)) return hr;
            stat->type = STGTY_STORAGE;
            stat->grfMode = mode_;
            stat->clsid = node_->clsid;
            stat->grfStateBits = node_->stateBits;
            if (flag == STATFLAG_DEFAULT)
                stat->pwcsName = handOut(node_->kind == Kind::Root ? cfb::utf8ToUtf16(file_->path()) : node_->name);
            return S_OK;
        });
    }

    HRESULT EnumElements(uint32_t reserved1, void* reserved2, uint32_t reserved3, IEnumSTATSTG** out) override {
        if (!out) return STG_E_INVALIDPOINTER;
        *out = nullptr;
        if (reserved1 || reserved2 || reserved3) return STG_E_INVALIDPARAMETER;
        return guarded([&]() -> HRESULT {
            if (HRESULT hr = file_->usable(); FAILED(hr)) return hr;
            auto entries = std::make_shared<std::vector<EnumEntry>>();
            entries->reserve(node_->children.size());
            for (const auto& c : node_->children) {
                const Node& n = *c.second;
                entries->push_back({n.name, n.isStorage() ? STGTY_STORAGE : STGTY_STREAM, n.size, n.clsid, n.stateBits});
            }
            *out = new EnumObject(std::move(entries), 0);
            return S_OK;
        });
    }

    HRESULT LookupElement(const char16_t* name, uint32_t* type) override {
        return guarded([&]() -> HRESULT {
            std::u16string key;
            if (!cfb::takeName(name, key)) return STG_E_INVALIDNAME;
            if (HRESULT hr = file_->usable(); FAILED(hr)) return hr;
            const Node* element = File::find(*node_, key);
            if (!element) return STG_E_FILENOTFOUND;
            if (type) *type = element->isStorage() ? STGTY_STORAGE : STGTY_STREAM;
            return S_OK;
        });
    }

    HRESULT Flush() override {
        return guarded([&] { return file_->flush(); });
    }

    HRESULT Revert() override { return file_->revert(); }

private:
    template <class Out, class Locate, class Make>
    HRESULT open(Out** out, Locate&& locate, Make&& make) {
        if (!out) return STG_E_INVALIDPOINTER;
        *out = nullptr;
        return guarded([&]() -> HRESULT {
            if (HRESULT hr = file_->usable(); FAILED(hr)) return hr;
            Node* node = nullptr;
            if (HRESULT hr = locate(node); FAILED(hr)) return hr;
            *out = make(*node);
            return S_OK;
        });
    }

    // The mode of a child: exclusive sharing, and no access its parent lacks. Creating needs
    // write access.
    HRESULT checkChildMode(uint32_t mode, bool creating) const {
        const uint32_t allowed = kAccessMask | kShareMask | (creating ? STGM_CREATE : 0);
        if ((mode & ~allowed) || (mode & kAccessMask) == kAccessMask ||
            (mode & kShareMask) != STGM_SHARE_EXCLUSIVE || (creating && !writesWith(mode)))
            return STG_E_INVALIDFLAG;
        if ((writesWith(mode) && !canWrite()) || (readsWith(mode) && !canRead())) return STG_E_ACCESSDENIED;
        return S_OK;
    }

    HRESULT create(const char16_t* name, uint32_t mode, uint32_t reserved, Kind kind, Node*& node) {
        std::u16string key;
        if (reserved) return STG_E_INVALIDPARAMETER;
        if (!cfb::takeName(name, key)) return STG_E_INVALIDNAME;
        if (HRESULT hr = checkChildMode(mode, true); FAILED(hr)) return hr;
        if (HRESULT hr = file_->changeable(); FAILED(hr)) return hr;
        if (Node* existing = File::find(*node_, key)) {
            if (!(mode & STGM_CREATE)) return STG_E_FILEALREADYEXISTS;
            if (cfb::inUse(*existing)) return STG_E_ACCESSDENIED;
            file_->erase(*existing);
        }
        node = &file_->insert(*node_, key, kind);
        return S_OK;
    }

    HRESULT find(const char16_t* name, uint32_t mode, bool reserved, Kind kind, Node*& node) {
        std::u16string key;
        if (reserved) return STG_E_INVALIDPARAMETER;
        if (!cfb::takeName(name, key)) return STG_E_INVALIDNAME;
        if (HRESULT hr = checkChildMode(mode, false); FAILED(hr)) return hr;
        node = File::find(*node_, key);
        if (!node || (node->kind == Kind::Stream) != (kind == Kind::Stream)) return STG_E_FILENOTFOUND;
        if (node->users) return STG_E_ACCESSDENIED;
        return S_OK;
    }

    // An existing child that this storage may change.
    HRESULT changeChild(const char16_t* name, Node*& element) {
        std::u16string key;
        if (!cfb::takeName(name, key)) return STG_E_INVALIDNAME;
        if (HRESULT hr = file_->usable(); FAILED(hr)) return hr;
        if (!canWrite()) return STG_E_ACCESSDENIED;
        if (HRESULT hr = file_->changeable(); FAILED(hr)) return hr;
        element = File::find(*node_, key);
        return element ? S_OK : STG_E_FILENOTFOUND;
    }
};

HRESULT rootObject(HRESULT hr, const std::shared_ptr<File>& file, uint32_t mode, IStorage** out) {
    if (FAILED(hr)) return hr;
    *out = new StorageObject(file, file->root(), mode);
    return S_OK;
}

std::atomic<int> oleStarts{0};
std::atomic<HRESULT> oleStartFailure{S_OK};

}  // namespace

HRESULT StgCreateDocfile(const char* path, uint32_t mode, uint32_t reserved, IStorage** out) {
    if (!out) return STG_E_INVALIDPOINTER;
    *out = nullptr;
    if (!path) return STG_E_INVALIDPOINTER;
    if (reserved) return STG_E_INVALIDPARAMETER;
    if (!*path) return STG_E_INVALIDNAME;
    const uint32_t share = mode & kShareMask;
    if ((mode & ~(kAccessMask | kShareMask | STGM_CREATE)) || (mode & kAccessMask) == kAccessMask ||
        !writesWith(mode) || (share != STGM_SHARE_EXCLUSIVE && share != 0))
        return STG_E_INVALIDFLAG;
    return guarded([&]() -> HRESULT {
        std::shared_ptr<File> file;
        return rootObject(File::create(path, !(mode & STGM_CREATE), file), file, mode, out);
    });
}

HRESULT StgCreateDocfile(const char16_t* path, uint32_t mode, uint32_t reserved, IStorage** out) {
    if (!path) return out ? (*out = nullptr, STG_E_INVALIDPOINTER) : STG_E_INVALIDPOINTER;
    return guarded([&] { return StgCreateDocfile(cfb::utf16ToUtf8(path).c_str(), mode, reserved, out); });
}

HRESULT StgOpenStorage(const char* path, IStorage* priority, uint32_t mode, char16_t** exclude, uint32_t reserved,
                       IStorage** out) {
    if (!out) return STG_E_INVALIDPOINTER;
    *out = nullptr;
    if (!path) return STG_E_INVALIDPOINTER;
    if (priority || exclude || reserved) return STG_E_INVALIDPARAMETER;
    if (!*path) return STG_E_INVALIDNAME;
    const uint32_t share = mode & kShareMask;
    if ((mode & ~(kAccessMask | kShareMask)) || (mode & kAccessMask) == kAccessMask ||
        (writesWith(mode) && share != STGM_SHARE_EXCLUSIVE))
        return STG_E_INVALIDFLAG;
    return guarded([&]() -> HRESULT {
        std::shared_ptr<File> file;
        const HRESULT hr = writesWith(mode)
                               ? File::openForWriting(path, file)
                               : File::openForReading(path, share == STGM_SHARE_EXCLUSIVE || share == STGM_SHARE_DENY_READ, file);
        return rootObject(hr, file, mode, out);
    });
}

HRESULT StgOpenStorage(const char16_t* path, IStorage* priority, uint32_t mode, char16_t** exclude,
                       uint32_t reserved, IStorage** out) {
    if (!path) return out ? (*out = nullptr, STG_E_INVALIDPOINTER) : STG_E_INVALIDPOINTER;
    return guarded([&] { return StgOpenStorage(cfb::utf16ToUtf8(path).c_str(), priority, mode, exclude, reserved, out); });
}

HRESULT CoGetMalloc(uint32_t context, IMalloc** out) {
    if (!out) return E_INVALIDARG;
    *out = nullptr;
    if (context != MEMCTX_TASK) return E_INVALIDARG;
    *out = &taskAllocator();
    return S_OK;
}

HRESULT OleInitialize(void* reserved) {
    if (reserved) return E_INVALIDARG;
    const HRESULT failure = oleStartFailure.load();
    if (FAILED(failure)) return failure;
    return oleStarts.fetch_add(1) == 0 ? S_OK : S_FALSE;
}

void SetOleInitializeFailure(HRESULT failure) {
    oleStartFailure.store(FAILED(failure) ? failure : S_OK);
}

void OleUninitialize() {
    int n = oleStarts.load();
    while (n > 0 && !oleStarts.compare_exchange_weak(n, n - 1)) {
    }
}

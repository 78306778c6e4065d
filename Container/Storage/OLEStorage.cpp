#include "Container/Storage/OLEStorage.h"

#include <exception>

#include "Container/Storage/Errors.h"
#include "platform/storage/StructuredStorage.h"

namespace {

constexpr uint32_t kCopyBlock = 1024;
// A transfer nests no deeper than this; anything deeper is a damaged stream, not a container.
constexpr int kMaxTransferDepth = 64;
// Names are at most 31 units plus the terminating NUL.
constexpr uint32_t kMaxNameUnits = 32;
constexpr uint8_t kKindStream = 0;
constexpr uint8_t kKindStorage = 1;
constexpr uint8_t kEndOfList = 0xFF;

uint32_t ShareFlag(CD_OpenMode mode, bool fileRoot) {
  return fileRoot && mode == CD_OpenRead ? STGM_SHARE_DENY_WRITE : STGM_SHARE_EXCLUSIVE;
}

bool Creates(CD_OpenMode mode) { return (mode & STGM_CREATE) != 0; }

// Abort for the helpers of this file.
struct OLEAbort : OLEObject {
  using OLEObject::Abort;
};

// Creating without write access cannot work; it is refused before the platform sees it.
void RefuseCreateWithoutWrite(CD_OpenMode mode, const char16_t* item) {
  if (Creates(mode) && (mode & (STGM_WRITE | STGM_READWRITE)) == 0)
    OLEAbort::Abort(STG_E_INVALIDFLAG, item);
}

// Moves a name handed out by the platform into a string and frees the platform's block.
std::u16string TakeName(char16_t*& name) {
  std::u16string taken = name ? std::u16string(name) : std::u16string();
  OLEStdAllocator<char16_t>().Free(name);
  return taken;
}

void PutClassId(OutStream& target, const CLSID& id) {
  PutU32(target, id.Data1);
  PutU16(target, id.Data2);
  PutU16(target, id.Data3);
  target.PutData(id.Data4, sizeof id.Data4);
}

bool GetClassId(InStream& source, CLSID& id) {
  return GetU32(source, id.Data1) && GetU16(source, id.Data2) && GetU16(source, id.Data3) &&
         source.GetData(id.Data4, sizeof id.Data4) == sizeof id.Data4;
}

}  // namespace

// ---- OLEStdAllocator -------------------------------------------------------------------------

template <class T>
OLEStdAllocator<T>::OLEStdAllocator() {
  const HRESULT hr = CoGetMalloc(MEMCTX_TASK, &m_malloc);
  if (FAILED(hr))
    OLEAbort::Abort(hr, nullptr);
  if (!m_malloc)
    Error(FE_StorageOutOfMemory);
}

template <class T>
OLEStdAllocator<T>::OLEStdAllocator(const OLEStdAllocator& other) : m_malloc(other.m_malloc) {
  m_malloc->AddRef();
}

template <class T>
OLEStdAllocator<T>::~OLEStdAllocator() {
  m_malloc->Release();
}

template <class T>
T* OLEStdAllocator<T>::Alloc(size_t count) {
  void* block = m_malloc->Alloc(count * sizeof(T));
  if (!block)
    Error(FE_StorageOutOfMemory);
  return static_cast<T*>(block);
}

template <class T>
void OLEStdAllocator<T>::Free(T*& block) {
  m_malloc->Free(block);
  block = nullptr;
}

template class OLEStdAllocator<char>;
template class OLEStdAllocator<char16_t>;

// ---- OLEHandler ------------------------------------------------------------------------------

template <class I>
OLEHandler<I>::OLEHandler(I* object, OLEHandler<IStorage>* parent)
    : m_object(object), m_parent(parent), m_uncaught(std::uncaught_exceptions()) {
  if (m_parent)
    m_parent->AddRef();
}

template <class I>
void OLEHandler<I>::AddRef() {
  ++m_extra;
  if (m_parent)
    m_parent->AddRef();
}

template <class I>
void OLEHandler<I>::Release() {
  if (m_extra == 0) {
    delete this;
    return;
  }
  --m_extra;
  if (m_parent)
    m_parent->Release();
}

template <class I>
OLEHandler<I>::~OLEHandler() {
  if constexpr (std::is_same_v<I, IStorage>) {
    // The last handle of a file root decides the file's fate: finished when it goes normally,
    // abandoned (an existing file stays as it was) when an exception is unwinding past it.
    const uint32_t references = m_object->AddRef();
    m_object->Release();
    if (!m_parent && references == 2) {
      if (std::uncaught_exceptions() > m_uncaught) {
        m_object->Revert();
      } else {
        const HRESULT hr = m_object->Flush();
        // A file given up on purpose (Revert) has nothing left to finish.
        if (FAILED(hr) && hr != STG_E_REVERTED)
          Warning(OLEObject::ResultCode(hr), u"");
      }
    }
  }
  m_object->Release();
  if (m_parent)
    m_parent->Release();
}

template class OLEHandler<IStorage>;
template class OLEHandler<IStream>;

// ---- OLEStat ---------------------------------------------------------------------------------

namespace {

class OLEStatImpl final : public OLEStat {
 public:
  explicit OLEStatImpl(OLEHandler<IStorage>* handler) : m_handler(handler) {
    STATSTG stat{};
    const HRESULT hr = (*handler)()->Stat(&stat, STATFLAG_DEFAULT);
    if (FAILED(hr))
      throw hr;
    m_name = TakeName(stat.pwcsName);
    m_mode = stat.grfMode;
    m_classId = stat.clsid;
    m_handler->AddRef();
  }
  OLEStatImpl(const OLEStatImpl&) = delete;
  OLEStatImpl& operator=(const OLEStatImpl&) = delete;
  ~OLEStatImpl() override { m_handler->Release(); }

  void WriteClassId(OutStream& target) const override { PutClassId(target, m_classId); }

  bool ReadClassId(InStream& source) override {
    CLSID id{};
    if (!GetClassId(source, id))
      return false;
    const HRESULT hr = (*m_handler)()->SetClass(id);
    if (FAILED(hr))
      OLEAbort::Abort(hr, m_name.c_str());
    m_classId = id;
    return true;
  }

  const char16_t* Name() const override { return m_name.c_str(); }
  uint32_t Mode() const override { return m_mode; }

 private:
  OLEHandler<IStorage>* m_handler;
  std::u16string m_name;
  uint32_t m_mode = 0;
  CLSID m_classId = CLSID_NULL;
};

}  // namespace

// ---- OLEStorage ------------------------------------------------------------------------------

OLEStorage::OLEStorage(const char* path, CD_OpenMode mode) {
  const OLEString item(path ? path : "");
  RefuseCreateWithoutWrite(mode, item);
  IStorage* storage = nullptr;
  const uint32_t flags = mode | ShareFlag(mode, true);
  HRESULT hr;
  if (Creates(mode)) {
    hr = StgCreateDocfile(path, flags, 0, &storage);
  } else {
    hr = StgOpenStorage(path, nullptr, flags, nullptr, 0, &storage);
    // The platform's answer for a file that is not a compound file.
    if (hr == STG_E_FILEALREADYEXISTS)
      hr = STG_E_OLDFORMAT;
  }
  if (FAILED(hr))
    Abort(hr, item);
  m_handler = new OLEHandler<IStorage>(storage, nullptr);
  TakeStat(item);
}

OLEStorage::OLEStorage(OLEStorage& parent, const char16_t* name, CD_OpenMode mode) {
  RefuseCreateWithoutWrite(mode, name);
  IStorage* storage = nullptr;
  const uint32_t flags = mode | ShareFlag(mode, false);
  const HRESULT hr = Creates(mode)
                         ? parent()->CreateStorage(name, flags, 0, 0, &storage)
                         : parent()->OpenStorage(name, nullptr, flags, nullptr, 0, &storage);
  if (FAILED(hr))
    Abort(hr, name);
  m_handler = new OLEHandler<IStorage>(storage, parent.m_handler);
  TakeStat(name);
}

OLEStorage::OLEStorage(IStorage* storage) {
  if (!storage)
    Abort(STG_E_INVALIDPOINTER, u"IStorage");
  m_handler = new OLEHandler<IStorage>(storage, nullptr);
  TakeStat(u"IStorage");
}

OLEStorage::OLEStorage(const OLEStorage& other) : OLEObject(other) {
  IStorage* storage = other();
  storage->AddRef();
  m_handler = new OLEHandler<IStorage>(storage, other.m_handler->Parent());
  TakeStat(other.Name());
}

void OLEStorage::TakeStat(const char16_t* item) {
  try {
    m_stat = std::make_unique<OLEStatImpl>(m_handler);
  } catch (HRESULT hr) {
    // Nothing acquired may outlive a constructor that fails.
    m_handler->Release();
    m_handler = nullptr;
    Abort(hr, item);
  } catch (...) {
    m_handler->Release();
    m_handler = nullptr;
    throw;
  }
}

OLEStorage::~OLEStorage() {
  m_stat.reset();
  if (m_handler)
    m_handler->Release();
}

IStorage* OLEStorage::operator()() const { return (*m_handler)(); }

OLEStorageEnumerator OLEStorage::CreateEnumerator() { return OLEStorageEnumerator(*this); }

namespace {

// A directory look-up: it works while the item is open elsewhere, and opens nothing.
bool HasItemOfType(IStorage* storage, const char16_t* name, uint32_t wanted) {
  uint32_t type = 0;
  const HRESULT hr = storage->LookupElement(name, &type);
  if (hr == STG_E_FILENOTFOUND)
    return false;
  if (FAILED(hr))
    OLEAbort::Abort(hr, name);
  return type == wanted;
}

}  // namespace

bool OLEStorage::StorageExists(const char16_t* name) {
  return HasItemOfType((*this)(), name, STGTY_STORAGE);
}

bool OLEStorage::StreamExists(const char16_t* name) {
  return HasItemOfType((*this)(), name, STGTY_STREAM);
}

OLEStorage OLEStorage::OpenStorage(const char16_t* name, CD_OpenMode mode) {
  return OLEStorage(*this, name, mode);
}

OLEStream OLEStorage::OpenStream(const char16_t* name, CD_OpenMode mode) {
  return OLEStream(*this, name, mode);
}

void OLEStorage::CopyItem(const char16_t* name, OLEStorage& target, const char16_t* targetName,
                          bool move) {
  const char16_t* newName = targetName ? targetName : name;
  const HRESULT hr =
      (*this)()->MoveElementTo(name, target(), newName, move ? STGMOVE_MOVE : STGMOVE_COPY);
  if (FAILED(hr)) {
    const bool targetsFault = hr == STG_E_SHAREVIOLATION || hr == STG_E_ACCESSDENIED ||
                              hr == STG_E_FILEALREADYEXISTS;
    Abort(hr, targetsFault ? newName : name);
  }
}

void OLEStorage::DestroyItem(const char16_t* name) {
  const HRESULT hr = (*this)()->DestroyElement(name);
  if (FAILED(hr))
    Abort(hr, name);
}

void OLEStorage::RenameItem(const char16_t* oldName, const char16_t* newName) {
  const HRESULT hr = (*this)()->RenameElement(oldName, newName);
  if (FAILED(hr))
    Abort(hr, hr == STG_E_FILEALREADYEXISTS ? newName : oldName);
}

const char16_t* OLEStorage::Name() const { return m_stat->Name(); }

OLEStat& OLEStorage::Stat() { return *m_stat; }

const OLEStat& OLEStorage::Stat() const { return *m_stat; }

uint32_t OLEStorage::GetSize() {
  OLEStorageEnumerator items(*this);
  uint32_t size = 0;
  while (items.Next(1))
    size += items.GetItemSize();
  return size;
}

void OLEStorage::Flush() {
  const HRESULT hr = (*this)()->Flush();
  if (FAILED(hr))
    Abort(hr, Name());
}

// ---- OLEStream -------------------------------------------------------------------------------

OLEStream::OLEStream(OLEStorage& storage, const char16_t* name, CD_OpenMode mode) {
  RefuseCreateWithoutWrite(mode, name);
  IStream* stream = nullptr;
  const uint32_t flags = mode | STGM_SHARE_EXCLUSIVE;
  HRESULT hr = Creates(mode) ? storage()->CreateStream(name, flags, 0, 0, &stream)
                             : storage()->OpenStream(name, nullptr, flags, 0, &stream);
  if (FAILED(hr))
    Abort(hr, name);
  m_handler = new OLEHandler<IStream>(stream, storage.m_handler);
  STATSTG stat{};
  hr = stream->Stat(&stat, STATFLAG_DEFAULT);
  if (FAILED(hr)) {
    m_handler->Release();
    m_handler = nullptr;
    Abort(hr, name);
  }
  m_name = TakeName(stat.pwcsName);
}

OLEStream::OLEStream(const OLEStream& other)
    : SeekMethod(other), OLEObject(other), InOutFile(other), m_name(other.m_name) {
  IStream* clone = nullptr;
  const HRESULT hr = other()->Clone(&clone);
  if (FAILED(hr))
    Abort(hr, m_name.c_str());
  m_handler = new OLEHandler<IStream>(clone, other.m_handler->Parent());
}

OLEStream::~OLEStream() {
  if (m_handler)
    m_handler->Release();
}

IStream* OLEStream::operator()() const { return (*m_handler)(); }

uint32_t OLEStream::CopyData(OLEStream& target, uint32_t count) {
  uint64_t read = 0;
  uint64_t written = 0;
  const HRESULT hr = (*this)()->CopyTo(target(), count, &read, &written);
  if (FAILED(hr))
    Abort(hr, target.Name());
  return static_cast<uint32_t>(read);
}

void OLEStream::Resize(uint32_t size) {
  const HRESULT hr = (*this)()->SetSize(size);
  if (FAILED(hr))
    Abort(hr, m_name.c_str());
}

const char16_t* OLEStream::Name() const { return m_name.c_str(); }

uint32_t OLEStream::GetSize() {
  // A clone has a position of its own, so this handle's position stays where it is.
  OLEStream probe(*this);
  return probe.Seek(0, SO_End);
}

uint32_t OLEStream::GetData(void* buffer, uint32_t count) {
  if (!buffer && count == 0)
    return 0;
  uint32_t got = 0;
  const HRESULT hr = (*this)()->Read(buffer, count, &got);
  if (hr != S_OK)
    Abort(hr, m_name.c_str());
  return got;
}

void OLEStream::PutData(const void* data, uint32_t count) {
  uint32_t put = 0;
  const HRESULT hr = (*this)()->Write(data, count, &put);
  if (FAILED(hr))
    Abort(hr, m_name.c_str());
  if (put < count)
    Abort(STG_E_CANTSAVE, m_name.c_str());
}

void OLEStream::PutPieces(const void* data, uint32_t count, uint32_t piece) {
  uint32_t put = 0;
  const HRESULT hr = (*this)()->WritePieces(data, count, piece, &put);
  if (FAILED(hr))
    Abort(hr, m_name.c_str());
  if (put < count)
    Abort(STG_E_CANTSAVE, m_name.c_str());
}

uint32_t OLEStream::Seek(int32_t offset, SeekOrigin origin) {
  // From the beginning the offset counts as unsigned; relative offsets keep their sign.
  const int64_t move = origin == SO_Begin ? int64_t{static_cast<uint32_t>(offset)} : int64_t{offset};
  const uint32_t from = origin == SO_Begin ? STREAM_SEEK_SET
                        : origin == SO_Current ? STREAM_SEEK_CUR
                                               : STREAM_SEEK_END;
  uint64_t position = 0;
  const HRESULT hr = (*this)()->Seek(move, from, &position);
  if (FAILED(hr))
    Abort(hr, m_name.c_str());
  return static_cast<uint32_t>(position);
}

// ---- OLEObject::IsStorage --------------------------------------------------------------------

bool OLEObject::IsStorage(const char* path) {
  IStorage* storage = nullptr;
  const HRESULT hr =
      StgOpenStorage(path, nullptr, STGM_READ | STGM_SHARE_DENY_WRITE, nullptr, 0, &storage);
  if (SUCCEEDED(hr)) {
    storage->Release();
    return true;
  }
  if (hr == STG_E_FILEALREADYEXISTS || hr == STG_E_OLDDLL || hr == STG_E_OLDFORMAT)
    return false;
  Abort(hr, OLEString(path ? path : ""));
}

// ---- OLEStorageEnumerator --------------------------------------------------------------------

OLEStorageEnumerator::OLEStorageEnumerator(OLEStorage& storage) : m_storage(storage) {
  STATSTG stat{};
  HRESULT hr = m_storage()->Stat(&stat, STATFLAG_NONAME);
  if (FAILED(hr))
    OLEAbort::Abort(hr, m_storage.Name());
  // A storage opened for writing is not enumerated.
  if (stat.grfMode & STGM_WRITE)
    return;
  hr = m_storage()->EnumElements(0, nullptr, 0, &m_enum);
  if (FAILED(hr))
    OLEAbort::Abort(hr, m_storage.Name());
}

OLEStorageEnumerator::OLEStorageEnumerator(const OLEStorageEnumerator& other)
    : m_storage(other.m_storage),
      m_itemName(other.m_itemName),
      m_hasItem(other.m_hasItem),
      m_itemIsStorage(other.m_itemIsStorage) {
  if (other.m_enum) {
    const HRESULT hr = other.m_enum->Clone(&m_enum);
    if (FAILED(hr))
      OLEAbort::Abort(hr, nullptr);
  }
}

OLEStorageEnumerator::~OLEStorageEnumerator() {
  if (m_enum)
    m_enum->Release();
}

void OLEStorageEnumerator::Rewind() {
  m_itemName.clear();
  m_hasItem = false;
  m_itemIsStorage = false;
  if (m_enum)
    m_enum->Reset();
}

bool OLEStorageEnumerator::Next(uint32_t n) {
  if (n == 0)
    return true;
  m_itemName.clear();
  m_hasItem = false;
  m_itemIsStorage = false;
  if (!m_enum)
    return false;
  if (n > 1 && m_enum->Skip(n - 1) != S_OK)
    return false;
  STATSTG stat{};
  uint32_t fetched = 0;
  const HRESULT hr = m_enum->Next(1, &stat, &fetched);
  if (FAILED(hr))
    OLEAbort::Abort(hr, m_storage.Name());
  if (hr != S_OK || fetched != 1)
    return false;
  m_itemName = TakeName(stat.pwcsName);
  m_hasItem = true;
  m_itemIsStorage = stat.type == STGTY_STORAGE;
  return true;
}

const char16_t* OLEStorageEnumerator::ItemName() const {
  return m_hasItem ? m_itemName.c_str() : nullptr;
}

bool OLEStorageEnumerator::ItemIsStorage() const { return m_hasItem && m_itemIsStorage; }

bool OLEStorageEnumerator::Seek(const char16_t* name) {
  Rewind();
  const std::u16string wanted = name ? name : u"";
  while (Next(1)) {
    if (m_itemName == wanted)
      return true;
  }
  return false;
}

OLEStorage OLEStorageEnumerator::OpenStorage(CD_OpenMode mode) {
  return OLEStorage(m_storage, m_itemName.c_str(), mode);
}

OLEStream OLEStorageEnumerator::OpenStream(CD_OpenMode mode) {
  return OLEStream(m_storage, m_itemName.c_str(), mode);
}

uint32_t OLEStorageEnumerator::GetItemSize() {
  if (!m_hasItem)
    return 0;
  if (m_itemIsStorage)
    return OpenStorage(CD_OpenRead).GetSize();
  return OpenStream(CD_OpenRead).GetSize();
}

// ---- Subtree transfer ------------------------------------------------------------------------

namespace {

void PutName(OutStream& target, const std::u16string& name) {
  PutU32(target, static_cast<uint32_t>(name.size() + 1));
  for (const char16_t unit : name)
    PutU16(target, unit);
  PutU16(target, 0);
}

void WriteStorageItems(OLEStorage& storage, OutStream& target) {
  OLEStorageEnumerator items(storage);
  while (items.Next(1))
    items >> target;
  PutU8(target, kEndOfList);
}

enum class ItemRead { Created, EndOfList, EndOfData };

ItemRead ReadItem(OLEStorage& parent, InStream& source, int depth);

// Reads items into `storage` up to the byte that closes its list.
void ReadStorageItems(OLEStorage& storage, InStream& source, int depth) {
  for (;;) {
    switch (ReadItem(storage, source, depth)) {
      case ItemRead::Created: break;
      case ItemRead::EndOfList: return;
      case ItemRead::EndOfData: OLEAbort::Abort(STG_E_CANTSAVE, storage.Name());
    }
  }
}

ItemRead ReadItem(OLEStorage& parent, InStream& source, int depth) {
  uint8_t kind = 0;
  if (!GetU8(source, kind))
    return ItemRead::EndOfData;
  if (kind == kEndOfList || (depth == 0 && kind != kKindStream && kind != kKindStorage))
    return ItemRead::EndOfList;
  if (kind != kKindStream && kind != kKindStorage)
    OLEAbort::Abort(STG_E_INVALIDPARAMETER, parent.Name());
  if (depth >= kMaxTransferDepth)
    OLEAbort::Abort(STG_E_DOCFILECORRUPT, parent.Name());

  uint32_t units = 0;
  if (!GetU32(source, units))
    OLEAbort::Abort(STG_E_CANTSAVE, parent.Name());
  if (units < 2 || units > kMaxNameUnits)
    OLEAbort::Abort(STG_E_INVALIDNAME, parent.Name());
  std::u16string name(units, u'\0');
  for (char16_t& unit : name) {
    uint16_t value = 0;
    if (!GetU16(source, value))
      OLEAbort::Abort(STG_E_CANTSAVE, parent.Name());
    unit = value;
  }
  if (name.back() != u'\0' || name.find(u'\0') != units - 1)
    OLEAbort::Abort(STG_E_INVALIDNAME, parent.Name());
  name.pop_back();

  if (kind == kKindStorage) {
    OLEStorage storage(parent, name.c_str(), CD_CreateWrite);
    if (!storage.Stat().ReadClassId(source))
      OLEAbort::Abort(STG_E_CANTSAVE, name.c_str());
    ReadStorageItems(storage, source, depth + 1);
  } else {
    OLEStream stream(parent, name.c_str(), CD_CreateWrite);
    uint32_t size = 0;
    if (!GetU32(source, size) || CopyStreamData(source, stream, size, kCopyBlock) != size)
      OLEAbort::Abort(STG_E_CANTSAVE, name.c_str());
  }
  return ItemRead::Created;
}

}  // namespace

void OLEStorageEnumerator::operator>>(OutStream& target) {
  if (!m_hasItem)
    OLEAbort::Abort(STG_E_INVALIDFUNCTION, m_storage.Name());
  PutU8(target, m_itemIsStorage ? kKindStorage : kKindStream);
  PutName(target, m_itemName);
  if (m_itemIsStorage) {
    OLEStorage storage = OpenStorage(CD_OpenRead);
    storage.Stat().WriteClassId(target);
    WriteStorageItems(storage, target);
  } else {
    OLEStream stream = OpenStream(CD_OpenRead);
    const uint32_t size = stream.Seek(0, SO_End);
    stream.Seek(0, SO_Begin);
    PutU32(target, size);
    if (CopyStreamData(stream, target, size, kCopyBlock) != size)
      OLEAbort::Abort(STG_E_CANTSAVE, m_itemName.c_str());
  }
}

bool OLEStorageEnumerator::operator<<(InStream& source) {
  return ReadItem(m_storage, source, 0) == ItemRead::Created;
}

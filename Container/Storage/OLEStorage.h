// Handle classes over structured storage (compound files): storages, streams and the
// enumeration of a storage's items. Every failure of the platform is raised as a library error;
// absence on reading is answered, not raised (StorageExists, StreamExists, Next, Seek).
//
// A child handle keeps every storage above it open: the file closes when the last handle below
// its root goes. A root opened for writing is finished by Flush(); a root whose last handle goes
// without it is flushed then (a failure goes to the warning messenger), or abandoned, leaving an
// existing file untouched, when the handle goes while an exception is unwinding the stack.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "Container/Storage/OLEObject.h"
#include "Container/Storage/Streams.h"

class IStorage;
class IStream;
class IEnumSTATSTG;
class IMalloc;

// Open modes, used directly as structured-storage access flags (a sharing flag is added).
using CD_OpenMode = uint32_t;
constexpr CD_OpenMode CD_OpenRead = 0x0000;
constexpr CD_OpenMode CD_Create = 0x1000;       // create, replacing an existing item
constexpr CD_OpenMode CD_CreateWrite = 0x1001;  // create for writing

// Code page of 8-bit names; 0 is the system code page (UTF-8).
using CD_CodePage = uint32_t;

// Memory of the names the platform hands out, over its task allocator.
template <class T>
class OLEStdAllocator {
 public:
  OLEStdAllocator();
  OLEStdAllocator(const OLEStdAllocator& other);
  OLEStdAllocator& operator=(const OLEStdAllocator&) = delete;
  ~OLEStdAllocator();

  // Raises FE_StorageOutOfMemory when nothing is allocated.
  T* Alloc(size_t count);
  // Frees and nulls `block`.
  void Free(T*& block);

 private:
  IMalloc* m_malloc = nullptr;
};

// Reference-counted holder of one platform object. Every reference to a handler also holds
// every handler above it, so a child keeps its parents open.
template <class I>
class OLEHandler {
 public:
  OLEHandler(I* object, OLEHandler<IStorage>* parent);
  OLEHandler(const OLEHandler&) = delete;
  OLEHandler& operator=(const OLEHandler&) = delete;

  virtual void AddRef();
  // Without extra references the handler destroys itself.
  virtual void Release();

  I* operator()() const { return m_object; }
  OLEHandler<IStorage>* Parent() const { return m_parent; }

 protected:
  virtual ~OLEHandler();

 private:
  I* m_object;
  OLEHandler<IStorage>* m_parent;
  uint32_t m_extra = 0;
  int m_uncaught;  // exceptions in flight when the handler was made
};

// Statistics of an open storage, taken once right after opening.
class OLEStat {
 public:
  virtual ~OLEStat() = default;
  // The 16-byte class identifier, little-endian field by field.
  virtual void WriteClassId(OutStream& target) const = 0;
  // Reads a class identifier and gives it to the storage; false when fewer than 16 bytes arrive.
  virtual bool ReadClassId(InStream& source) = 0;
  virtual const char16_t* Name() const = 0;
  // The access mode the storage was opened with.
  virtual uint32_t Mode() const = 0;
};

class OLEStream;
class OLEStorageEnumerator;

class OLEStorage : public OLEObject {
 public:
  // Opens (CD_OpenRead) or creates (CD_CreateWrite) a compound file. A file of another format
  // raises FE_StorageOldFormat.
  OLEStorage(const char* path, CD_OpenMode mode);
  // Opens or creates a child storage of `parent`.
  OLEStorage(OLEStorage& parent, const char16_t* name, CD_OpenMode mode);
  // Adopts a platform storage together with the caller's reference.
  explicit OLEStorage(IStorage* storage);
  // Another handle on the same storage.
  OLEStorage(const OLEStorage& other);
  ~OLEStorage() override;

  virtual OLEStorageEnumerator CreateEnumerator();
  virtual bool StorageExists(const char16_t* name);
  virtual bool StreamExists(const char16_t* name);
  virtual OLEStorage OpenStorage(const char16_t* name, CD_OpenMode mode);
  virtual OLEStream OpenStream(const char16_t* name, CD_OpenMode mode);
  // Copies (move false) or moves an item with everything below it into `target`, under
  // `targetName` or, when that is null, under its own name.
  virtual void CopyItem(const char16_t* name, OLEStorage& target, const char16_t* targetName,
                        bool move);
  virtual void DestroyItem(const char16_t* name);
  virtual void RenameItem(const char16_t* oldName, const char16_t* newName);
  virtual const char16_t* Name() const;
  virtual OLEStat& Stat();
  virtual const OLEStat& Stat() const;
  // The bytes of every stream below this storage.
  virtual uint32_t GetSize();

  // Finishes the file this storage belongs to when it was opened for writing: the file is
  // complete and in place afterwards. Raises on failure.
  void Flush();

  IStorage* operator()() const;

 private:
  friend class OLEStream;
  friend class OLEStorageEnumerator;

  void TakeStat(const char16_t* item);

  OLEHandler<IStorage>* m_handler = nullptr;
  std::unique_ptr<OLEStat> m_stat;
};

// A stream handle; reading and writing share one position.
class OLEStream : public OLEObject, public InOutFile {
 public:
  // Opens or creates the named stream of `storage`.
  OLEStream(OLEStorage& storage, const char16_t* name, CD_OpenMode mode);
  // A clone: the same data with a position of its own.
  OLEStream(const OLEStream& other);
  ~OLEStream() override;

  // Copies up to `count` bytes from the position to `target`'s position; answers the bytes read.
  virtual uint32_t CopyData(OLEStream& target, uint32_t count);
  virtual void Resize(uint32_t size);
  virtual const char16_t* Name() const;
  // The size, leaving the position where it is.
  virtual uint32_t GetSize();

  uint32_t GetData(void* buffer, uint32_t count) override;
  void PutData(const void* data, uint32_t count) override;
  // The pieces place the stream's sectors as that many writes would, and their bytes go out
  // together.
  void PutPieces(const void* data, uint32_t count, uint32_t piece) override;
  uint32_t Seek(int32_t offset, SeekOrigin origin) override;

  IStream* operator()() const;

 private:
  OLEHandler<IStream>* m_handler = nullptr;
  std::u16string m_name;
};

// Iterates over the items of one storage. Over a storage opened for writing it finds nothing.
class OLEStorageEnumerator {
 public:
  explicit OLEStorageEnumerator(OLEStorage& storage);
  OLEStorageEnumerator(const OLEStorageEnumerator& other);
  OLEStorageEnumerator& operator=(const OLEStorageEnumerator&) = delete;
  virtual ~OLEStorageEnumerator();

  virtual void Rewind();
  // Skips n - 1 items and makes the next one current; false at the end. Next(0) changes nothing.
  virtual bool Next(uint32_t n = 1);
  // Null when there is no current item.
  virtual const char16_t* ItemName() const;
  virtual bool ItemIsStorage() const;
  // Makes the item of exactly this name current; false when there is none.
  virtual bool Seek(const char16_t* name);
  virtual OLEStorage OpenStorage(CD_OpenMode mode);
  virtual OLEStream OpenStream(CD_OpenMode mode);

  // Writes the current item with everything below it: kind (1 byte: 0 stream, 1 storage),
  // u32 name length in UTF-16 units counting the terminating NUL, the name; a stream then has
  // its u32 size and bytes, a storage its 16-byte class id, its items in this same layout and
  // the byte 0xFF.
  virtual void operator>>(OutStream& target);
  // Reads one item in that layout and creates it in the enumerated storage. False when the
  // source holds no further item (it has ended, or its next byte closes a list); a damaged or
  // truncated item raises.
  virtual bool operator<<(InStream& source);

  virtual uint32_t GetItemSize();

 private:
  OLEStorage m_storage;
  IEnumSTATSTG* m_enum = nullptr;
  std::u16string m_itemName;
  bool m_hasItem = false;
  bool m_itemIsStorage = false;
};

// A name held as 8-bit or wide text; the other form is made on first use.
class OLEString {
 public:
  explicit OLEString(const char* text, CD_CodePage codePage = 0);
  explicit OLEString(const char16_t* text, CD_CodePage codePage = 0);

  operator const char16_t*() const;
  operator const char*() const;
  CD_CodePage CP() const { return m_codePage; }

 private:
  CD_CodePage m_codePage;
  mutable std::unique_ptr<std::string> m_narrow;
  mutable std::unique_ptr<std::u16string> m_wide;
};

// Byte-stream interfaces of the exchange-container library and the helpers every reader and
// writer shares. Counts and positions are 32 bits wide, as in the stored formats; multi-byte
// values are little-endian.
#pragma once

#include <cstdint>
#include <string>

template <class T>
class instream;
template <class T>
class outstream;

// A source of bytes. A stream object belongs to whoever created it.
template <>
class instream<void> {
 public:
  virtual ~instream() = default;
  // Reads up to `count` bytes and answers how many arrived; fewer than asked (0 included) means
  // the data has ended.
  virtual uint32_t GetData(void* buffer, uint32_t count) = 0;
  // At most how many more bytes GetData can deliver, so that a reader can refuse a length no
  // data could fill before it makes room for it; kUnknownDeliverable when the stream cannot tell.
  static constexpr uint64_t kUnknownDeliverable = UINT64_MAX;
  virtual uint64_t Deliverable() const { return kUnknownDeliverable; }
};

// A sink of bytes. Failures are raised as FilterException.
template <>
class outstream<void> {
 public:
  virtual ~outstream() = default;
  virtual void PutData(const void* data, uint32_t count) = 0;
  // PutData of `piece` bytes at a time, the last piece shorter. A sink on which the cuts between
  // writes leave a trace (where a compound-file stream's sectors lie) takes the bytes as those
  // writes would; one on which they leave none may take them at once.
  virtual void PutPieces(const void* data, uint32_t count, uint32_t piece);
};

// The library's names of the two interfaces; every stream class derives from one of them.
class InStream : public instream<void> {};
class OutStream : public outstream<void> {};

enum SeekOrigin : int32_t {
  SO_Begin = 0,
  SO_Current = 1,
  SO_End = 2,
};

// Positioning; Seek(0, SO_Current) asks for the position, Seek(0, SO_End) for the size.
class SeekMethod {
 public:
  virtual ~SeekMethod() = default;
  // Answers the new position.
  virtual uint32_t Seek(int32_t offset, SeekOrigin origin) = 0;
};

class InFile : public InStream, public virtual SeekMethod {};
class OutFile : public OutStream, public virtual SeekMethod {};
// Reading and writing share one position.
class InOutFile : public InFile, public OutFile {};

// Holds one array made with new[] and frees it.
template <class T>
class ArrayObjKeeper {
 public:
  explicit ArrayObjKeeper(T* array = nullptr) : m_array(array) {}
  ArrayObjKeeper(const ArrayObjKeeper&) = delete;
  ArrayObjKeeper& operator=(const ArrayObjKeeper&) = delete;
  ~ArrayObjKeeper() { delete[] m_array; }

  T* Get() const { return m_array; }
  void Reset(T* array) {
    delete[] m_array;
    m_array = array;
  }

 private:
  T* m_array;
};

// Copies up to `count` bytes from `source` to `target` in blocks of `blockSize`; stops early
// when the source runs dry. Answers the bytes copied.
uint32_t CopyStreamData(InStream& source, OutStream& target, uint32_t count, uint32_t blockSize);

// Stored short string: an unsigned 16-bit length, then the bytes, no terminator. A string too
// long for its length field is refused with FE_StorageInvalidParameter rather than stored cut.
void WriteShortString(const std::string& text, OutStream& target);
// False when the stream ends before the string is complete (`text` then holds what arrived).
bool ReadShortString(std::string& text, InStream& source);

// Fixed-width little-endian fields, written and read one at a time.
void PutU8(OutStream& target, uint8_t value);
void PutU16(OutStream& target, uint16_t value);
void PutU32(OutStream& target, uint32_t value);
// False when the stream ends before the field is complete.
bool GetU8(InStream& source, uint8_t& value);
bool GetU16(InStream& source, uint16_t& value);
bool GetU32(InStream& source, uint32_t& value);

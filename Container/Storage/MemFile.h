// Memory files: growable blocks that read and write like files.
#pragma once

#include <cstdint>
#include <memory>

#include "Container/Storage/Streams.h"

// Position over a block whose size the owner knows. No bounds are enforced: reads past the end
// answer 0 bytes, writes past the end grow the block.
class MemSeekMethod : public virtual SeekMethod {
 public:
  uint32_t Seek(int32_t offset, SeekOrigin origin) override;
  virtual uint32_t Size() const = 0;

 protected:
  uint32_t Position() const { return m_position; }
  void SetPosition(uint32_t position) { m_position = position; }

 private:
  uint32_t m_position = 0;
};

// Reads from a block that a derived class supplies.
class MemInFile : public InFile, public virtual MemSeekMethod {
 public:
  uint32_t GetData(void* buffer, uint32_t count) override;
  virtual const uint8_t* Data() const = 0;
};

// Writes into a block of its own, which grows geometrically.
class MemOutFile : public OutFile, public virtual MemSeekMethod {
 public:
  MemOutFile() = default;
  MemOutFile(const MemOutFile& other);
  MemOutFile& operator=(const MemOutFile&) = delete;

  void PutData(const void* data, uint32_t count) override;
  void PutPieces(const void* data, uint32_t count, uint32_t) override { PutData(data, count); }
  const uint8_t* Data() const { return m_data.get(); }
  // The highest position ever written.
  uint32_t Size() const override { return m_size; }
  uint32_t Capacity() const { return m_capacity; }
  // Empties the file but keeps its block.
  void Clear();
  // Cuts or extends the file to the current position.
  void Resize();

 private:
  std::unique_ptr<uint8_t[]> m_data;
  uint32_t m_capacity = 0;
  uint32_t m_size = 0;
};

// Bytes written can be read back after seeking: one block, one position.
class MemFile : public MemInFile, public MemOutFile {
 public:
  MemFile() = default;
  MemFile(const MemFile& other) : MemSeekMethod(other), MemInFile(other), MemOutFile(other) {}
  MemFile& operator=(const MemFile&) = delete;

  const uint8_t* Data() const override { return MemOutFile::Data(); }
  uint32_t Size() const override { return MemOutFile::Size(); }
};

#include "Container/Storage/CodeFile.h"

#include "Container/Storage/CachedOutStream.h"
#include "Container/Storage/Errors.h"
#include "Container/Storage/LZStreams.h"
#include "Container/Storage/MemFile.h"
#include "Container/Storage/NameIndex.h"
#include "Container/Storage/OLEStorage.h"

#include <algorithm>
#include <cstring>
#include <deque>
#include <map>
#include <set>
#include <string>
#include <vector>

const char16_t kCodeFileStreamName[] = u"VerbantCodeFile";
const char16_t kCodeFileSummaryName[] = u"\u0005VerbantSummaryInformation";

namespace {

constexpr uint32_t kHeaderSize = 8;
constexpr uint32_t kPageSize = 4096;
constexpr uint32_t kStagingSize = 1024;
constexpr uint32_t kDescriptorSize = 13;
constexpr uint32_t kChunkRecordSize = 8;
constexpr uint32_t kNoOffset = 0xFFFFFFFF;  // chunk table not written yet; "where the last read ended"

// Code-file streams compress with a small window; the size test of automatic mode with zlib's
// usual one.
constexpr LZ_WindowBits kStreamWindowBits = 10;
constexpr LZ_MemoryLevel kStreamMemoryLevel = 3;
constexpr LZ_WindowBits kTestWindowBits = 15;
constexpr LZ_MemoryLevel kTestMemoryLevel = 8;

struct CF_Descriptor {
  uint32_t id;
  uint32_t tag;
  uint8_t compression;
  uint32_t tableOffset;
};

// Directory order: ascending tag, then id.
struct StreamKey {
  uint32_t tag;
  uint32_t id;
  bool operator<(const StreamKey& other) const {
    return tag != other.tag ? tag < other.tag : id < other.id;
  }
};

StreamKey KeyOf(const CF_Descriptor& d) { return StreamKey{d.tag, d.id}; }

uint32_t U32At(const uint8_t* p) {
  return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

// A code file whose `size` bytes end before `what`, which begins at `offset`: cut short, or
// damaged where it says where its parts lie.
[[noreturn]] void EndsBefore(uint32_t size, const std::string& what, uint64_t offset) {
  throw FilterException(FE_CodeFileShortRead, "damaged code file, cut short or with a wrong offset: its " +
                                                  std::to_string(size) + " bytes end before " + what +
                                                  " at byte " + std::to_string(offset));
}
[[noreturn]] void Detached() { Error(FE_StorageReverted); }

// ---- Writer ---------------------------------------------------------------------------------

class CF_OLEOutStream;

class CF_Writer {
 public:
  virtual ~CF_Writer() = default;
  // Records a finished stream's descriptor.
  virtual void RegisterStream(CF_OLEOutStream& stream, const CF_Descriptor& descriptor) = 0;
  // Appends bytes to the code stream and answers the offset they start at.
  virtual uint32_t AppendBlock(const void* data, uint32_t size) = 0;
  // Appends `pages` whole pages as that many blocks; answers the offset of the first.
  virtual uint32_t AppendPages(const void* data, uint32_t pages) = 0;
  // The stream object goes away.
  virtual void StreamGone(CF_OLEOutStream& stream) = 0;
};

// Cuts a stream's stored bytes into pages and keeps the chunk list.
class PageWriter : public OutStream {
 public:
  explicit PageWriter(CF_Writer* const& writer) : m_writer(writer) {}

  void PutData(const void* data, uint32_t count) override {
    const auto* bytes = static_cast<const uint8_t*>(data);
    while (count > 0) {
      if (m_fill == 0 && count >= kPageSize) {  // whole pages go out without a copy, together
        const uint32_t pages = count / kPageSize;
        const uint32_t first = Writer().AppendPages(bytes, pages);
        for (uint32_t k = 0; k < pages; ++k) AddChunk(first + k * kPageSize, kPageSize);
        bytes += pages * kPageSize;
        count -= pages * kPageSize;
        continue;
      }
      const uint32_t take = std::min(count, kPageSize - m_fill);
      std::memcpy(m_page + m_fill, bytes, take);
      m_fill += take;
      bytes += take;
      count -= take;
      if (m_fill == kPageSize) {
        AddChunk(Writer().AppendBlock(m_page, kPageSize), kPageSize);
        m_fill = 0;
      }
    }
  }

  // Appends the pending page (possibly empty) and the chunk table; answers the table's offset.
  uint32_t Close() {
    AddChunk(Writer().AppendBlock(m_page, m_fill), m_fill);
    m_fill = 0;
    MemFile table;
    PutU32(table, static_cast<uint32_t>(m_chunks.size()));
    for (auto it = m_chunks.rbegin(); it != m_chunks.rend(); ++it) {
      PutU32(table, it->first);
      PutU32(table, it->second);
    }
    return Writer().AppendBlock(table.Data(), table.Size());
  }

 private:
  CF_Writer& Writer() const {
    if (!m_writer) Detached();
    return *m_writer;
  }
  void AddChunk(uint32_t offset, uint32_t size) { m_chunks.emplace_back(offset, size); }

  CF_Writer* const& m_writer;
  uint8_t m_page[kPageSize];
  uint32_t m_fill = 0;
  std::vector<std::pair<uint32_t, uint32_t>> m_chunks;  // {offset, size} in writing order
};

class CF_OLEOutStream : public CF_OutStream {
 public:
  CF_OLEOutStream(CF_Writer& writer, const CF_Descriptor& descriptor, int32_t mode)
      : m_writer(&writer), m_descriptor(descriptor), m_mode(mode), m_pages(m_writer) {}

  ~CF_OLEOutStream() override {
    if (!m_finished && m_writer) {
      try {
        Finish();
      } catch (...) {
        WarnAboutCurrentException();
      }
    }
    if (m_writer) m_writer->StreamGone(*this);
  }

  void PutData(const void* data, uint32_t count) override {
    if (m_finished || !m_writer) Detached();
    const auto* bytes = static_cast<const uint8_t*>(data);
    if (m_staged == 0 && m_mode != cf_Automatic) {  // settled: no need to stage
      Pass(bytes, count);
      return;
    }
    while (count > 0) {
      const uint32_t take = std::min(count, kStagingSize - m_staged);
      std::memcpy(m_staging + m_staged, bytes, take);
      m_staged += take;
      bytes += take;
      count -= take;
      if (m_staged == kStagingSize) {
        FlushStaging();
        if (m_mode != cf_Automatic) {
          Pass(bytes, count);
          return;
        }
      }
    }
  }

  void Finish() override {
    if (m_finished) return;
    m_finished = true;
    if (!m_writer) Detached();
    FlushStaging();
    if (m_deflate) m_deflate->Finish();
    m_descriptor.compression = static_cast<uint8_t>(m_mode);
    m_descriptor.tableOffset = m_pages.Close();
    m_writer->RegisterStream(*this, m_descriptor);
  }

  bool Finished() const { return m_finished; }
  const CF_Descriptor& Descriptor() const { return m_descriptor; }
  void SetIdentity(uint32_t id, uint32_t tag) {
    m_descriptor.id = id;
    m_descriptor.tag = tag;
  }
  void Detach() { m_writer = nullptr; }

 private:
  void FlushStaging() {
    if (m_mode == cf_Automatic) m_mode = Decide();
    Pass(m_staging, m_staged);
    m_staged = 0;
  }

  // A full buffer means a stream worth compressing; a shorter stream is compressed only when
  // that makes it smaller.
  int32_t Decide() const {
    if (m_staged == kStagingSize) return cf_Compressed;
    MemFile test;
    auto deflate = LZ_OutStream::New(test, -1, kTestWindowBits, kTestMemoryLevel);
    deflate->PutData(m_staging, m_staged);
    deflate->Finish();
    return test.Size() < m_staged ? cf_Compressed : cf_Stored;
  }

  void Pass(const uint8_t* bytes, uint32_t count) {
    if (m_mode == cf_Compressed) {
      if (!m_deflate) m_deflate = LZ_OutStream::New(m_pages, -1, kStreamWindowBits, kStreamMemoryLevel);
      if (count) m_deflate->PutData(bytes, count);
    } else if (count) {
      m_pages.PutData(bytes, count);
    }
  }

  CF_Writer* m_writer;
  CF_Descriptor m_descriptor;
  int32_t m_mode;
  bool m_finished = false;
  uint8_t m_staging[kStagingSize];
  uint32_t m_staged = 0;
  PageWriter m_pages;
  std::unique_ptr<LZ_OutStream> m_deflate;  // after m_pages: it writes into them
};

class CF_OLEOutStorage : public CF_OutStorage, private CF_Writer {
 public:
  CF_OLEOutStorage(std::unique_ptr<CF_Medium> medium, bool compress)
      : m_medium(std::move(medium)), m_code(&m_medium->CreateCodeStream()), m_compress(compress) {
    m_code->Seek(kHeaderSize, SO_Begin);  // the header is written last
    m_cache = std::make_unique<CachedOutStream>(*m_code, false);
  }

  ~CF_OLEOutStorage() override {
    if (!m_finished) {
      try {
        Finish();
      } catch (...) {
        WarnAboutCurrentException();
      }
    }
    for (CF_OLEOutStream* stream : m_live) stream->Detach();
  }

  void SetProperty(int32_t id, const Variant& value) override { m_summary += Property(id, value); }

  std::unique_ptr<CF_OutStream> CreateStream(const char* name, uint32_t tag,
                                             int32_t compression) override {
    if (m_finished) Detached();
    if (!name) Error(FE_StorageInvalidName);
    if (!m_compress || (compression != cf_Compressed && compression != cf_Automatic))
      compression = cf_Stored;
    const CF_Descriptor descriptor{IdOf(name), tag, static_cast<uint8_t>(compression), kNoOffset};
    auto stream = std::make_unique<CF_OLEOutStream>(static_cast<CF_Writer&>(*this), descriptor, compression);
    if (!HasEntry(descriptor.id, tag)) {  // an entry there stays
      AddEntry(descriptor);
      m_open.emplace(EntryKey{descriptor.id, tag}, stream.get());
    }
    m_live.insert(stream.get());
    return stream;
  }

  CF_OutStream* RenameStream(const char* oldName, uint32_t oldTag, const char* newName,
                             uint32_t newTag) override {
    if (m_finished || !oldName || !newName) return nullptr;
    uint32_t oldId = 0, newId = 0;
    if (!m_names.Find(oldName, oldId)) return nullptr;
    const auto open = m_open.find(EntryKey{oldId, oldTag});  // an open stream has its entry
    if (open == m_open.end()) return nullptr;
    if (m_names.Find(newName, newId) && HasEntry(newId, newTag)) return nullptr;

    CF_OLEOutStream* stream = open->second;
    m_open.erase(open);
    RemoveEntry(oldId, oldTag);
    stream->SetIdentity(IdOf(newName), newTag);
    AddEntry(stream->Descriptor());
    m_open.emplace(EntryKey{stream->Descriptor().id, newTag}, stream);
    return stream;
  }

  void Finish() override {
    if (m_finished) return;
    m_finished = true;
    m_summary += Property(kCodeFileMajorVersionId, Variant(kCodeFileMajorVersion));
    m_summary += Property(kCodeFileMinorVersionId, Variant(kCodeFileMinorVersion));
    m_medium->PutSummary(m_summary);

    for (CF_OLEOutStream* stream : std::vector<CF_OLEOutStream*>(m_live.begin(), m_live.end()))
      if (!stream->Finished()) stream->Finish();
    m_open.clear();

    // The directory goes straight into the code stream: a copy of it in memory would be the
    // largest single allocation of a big book. Entries in ascending tag, then id; names in
    // byte-wise order.
    uint32_t names = 0;
    uint64_t size = uint64_t(m_liveEntries) * kDescriptorSize + 4;
    for (uint32_t id = 0; id < m_names.Count(); ++id) {
      if (!NameFinished(id)) continue;
      ++names;
      size += 2 + m_names.Name(id).size() + 4;
    }
    const uint32_t directory = NextOffset(size);
    OutStream& block = *m_cache;
    ForEachEntry([&block](uint32_t id, uint32_t tag, uint32_t tableOffset, uint8_t compression) {
      PutU32(block, id);
      PutU32(block, tag);
      PutU8(block, compression);
      PutU32(block, tableOffset);
    });
    // The entries are not needed any more: their memory is free for the rest.
    std::deque<uint32_t>().swap(m_tag);
    std::deque<uint32_t>().swap(m_offset);
    std::deque<uint8_t>().swap(m_compression);
    m_extra.clear();
    PutU32(block, names);
    m_names.VisitByName([this](uint32_t id) { return NameFinished(id); },
                        [this, &block](uint32_t id) {
                          const std::string_view name = m_names.Name(id);
                          PutU16(block, static_cast<uint16_t>(name.size()));
                          if (!name.empty()) block.PutData(name.data(), static_cast<uint32_t>(name.size()));
                          PutU32(block, id);
                        });
    m_cache->Finish();

    MemFile header;
    PutU32(header, m_liveEntries);
    PutU32(header, directory);
    m_code->Seek(0, SO_Begin);
    m_code->PutData(header.Data(), header.Size());
    m_cache.reset();
    m_code = nullptr;
    m_medium.reset();  // closes the code stream
  }

 private:
  // The directory's entries. A big book has one per stream until the directory is written, and
  // nearly every name there has one tag: the entry of an id's first tag lies in arrays by id,
  // the entries of further tags in a map.
  using EntryKey = std::pair<uint32_t, uint32_t>;  // id, tag
  struct Extra {
    uint32_t tableOffset;
    uint8_t compression;
  };
  static constexpr uint8_t kNoEntry = 0xFF;  // in m_compression: the id has no entry in the arrays

  uint32_t IdOf(std::string_view name) {
    // Every name must fit the 16-bit length of its name record.
    if (name.size() > UINT16_MAX) Error(FE_StorageInvalidParameter);
    const uint32_t id = m_names.Insert(name, m_names.Count()).first;
    if (id >= m_tag.size()) {
      m_tag.resize(id + 1, 0);
      m_offset.resize(id + 1, 0);
      m_compression.resize(id + 1, kNoEntry);
    }
    return id;
  }

  bool InArrays(uint32_t id, uint32_t tag) const {
    return m_compression[id] != kNoEntry && m_tag[id] == tag;
  }

  bool HasEntry(uint32_t id, uint32_t tag) const {
    return id < m_tag.size() && (InArrays(id, tag) || m_extra.count(EntryKey{id, tag}));
  }

  void AddEntry(const CF_Descriptor& d) {
    if (m_compression[d.id] == kNoEntry) {
      m_tag[d.id] = d.tag;
      m_offset[d.id] = d.tableOffset;
      m_compression[d.id] = d.compression;
    } else {
      m_extra.emplace(EntryKey{d.id, d.tag}, Extra{d.tableOffset, d.compression});
    }
    ++m_liveEntries;
  }

  void RemoveEntry(uint32_t id, uint32_t tag) {
    if (InArrays(id, tag))
      m_compression[id] = kNoEntry;
    else
      m_extra.erase(EntryKey{id, tag});
    --m_liveEntries;
  }

  // Calls op(id, tag, table offset, compression) in ascending tag, then id.
  template <class Op>
  void ForEachEntry(Op op) const {
    const auto ids = static_cast<uint32_t>(m_tag.size());
    bool oneTag = m_extra.empty();
    uint32_t tag = 0;
    for (uint32_t id = 0, seen = 0; oneTag && id < ids; ++id) {
      if (m_compression[id] == kNoEntry) continue;
      if (seen++ && m_tag[id] != tag) oneTag = false;
      tag = m_tag[id];
    }
    if (oneTag) {  // the usual directory: in id order
      for (uint32_t id = 0; id < ids; ++id)
        if (m_compression[id] != kNoEntry) op(id, m_tag[id], m_offset[id], m_compression[id]);
      return;
    }
    std::vector<uint64_t> keys;
    keys.reserve(m_liveEntries);
    for (uint32_t id = 0; id < ids; ++id)
      if (m_compression[id] != kNoEntry) keys.push_back(uint64_t(m_tag[id]) << 32 | id);
    for (const auto& [key, extra] : m_extra) keys.push_back(uint64_t(key.second) << 32 | key.first);
    std::sort(keys.begin(), keys.end());
    for (const uint64_t key : keys) {
      const auto id = static_cast<uint32_t>(key), keyTag = static_cast<uint32_t>(key >> 32);
      if (InArrays(id, keyTag)) {
        op(id, keyTag, m_offset[id], m_compression[id]);
      } else {
        const Extra& extra = m_extra.at(EntryKey{id, keyTag});
        op(id, keyTag, extra.tableOffset, extra.compression);
      }
    }
  }

  void RegisterStream(CF_OLEOutStream& stream, const CF_Descriptor& descriptor) override {
    const uint32_t id = descriptor.id, tag = descriptor.tag;
    if (InArrays(id, tag)) {
      m_compression[id] = descriptor.compression;
      m_offset[id] = descriptor.tableOffset;
    } else if (const auto extra = m_extra.find(EntryKey{id, tag}); extra != m_extra.end()) {
      extra->second = Extra{descriptor.tableOffset, descriptor.compression};
    } else {
      AddEntry(descriptor);
    }
    const auto open = m_open.find(EntryKey{id, tag});
    if (open != m_open.end() && open->second == &stream) m_open.erase(open);
    if (descriptor.id >= m_idFinished.size()) m_idFinished.resize(descriptor.id + 1);
    m_idFinished[descriptor.id] = true;
  }

  bool NameFinished(uint32_t id) const { return id < m_idFinished.size() && m_idFinished[id]; }

  // Where `size` bytes appended next will start; raises when they would end past 32 bits, the
  // width of every offset in the file.
  uint32_t NextOffset(uint64_t size) const {
    if (!m_cache) Detached();
    const uint64_t offset = uint64_t(kHeaderSize) + m_cache->GetOffset();
    if (offset + size > UINT32_MAX) Error(FE_StorageCantSave);
    return static_cast<uint32_t>(offset);
  }

  uint32_t AppendBlock(const void* data, uint32_t size) override {
    const uint32_t offset = NextOffset(size);
    if (size) m_cache->PutData(data, size);
    return offset;
  }

  uint32_t AppendPages(const void* data, uint32_t pages) override {
    const uint32_t offset = NextOffset(uint64_t(pages) * kPageSize);
    if (pages) m_cache->PutPieces(data, pages * kPageSize, kPageSize);
    return offset;
  }

  void StreamGone(CF_OLEOutStream& stream) override {
    m_live.erase(&stream);
    if (m_finished) return;
    const CF_Descriptor& d = stream.Descriptor();
    const auto open = m_open.find(EntryKey{d.id, d.tag});
    if (open != m_open.end() && open->second == &stream) m_open.erase(open);
  }

  std::unique_ptr<CF_Medium> m_medium;
  OutFile* m_code;
  std::unique_ptr<CachedOutStream> m_cache;
  PropertySet m_summary{kCodeFileSummaryName};
  NameIndex m_names;               // name -> id: ids are the numbers of the index
  std::deque<uint32_t> m_tag;          // by id
  std::deque<uint32_t> m_offset;       // by id: the chunk table's offset
  std::deque<uint8_t> m_compression;   // by id, kNoEntry when the arrays hold no entry of it
  std::map<EntryKey, Extra> m_extra;
  uint32_t m_liveEntries = 0;
  std::map<EntryKey, CF_OLEOutStream*> m_open;  // entry -> the stream that made it, until it finishes
  std::vector<bool> m_idFinished;  // by id: a stream of that name was finished
  std::set<CF_OLEOutStream*> m_live;
  bool m_compress;
  bool m_finished = false;
};

// ---- Reader ---------------------------------------------------------------------------------

class CF_OLEInStream;

class CF_Reader {
 public:
  virtual ~CF_Reader() = default;
  virtual void StreamClosed(CF_OLEInStream& stream) = 0;
  // Reads exactly `size` bytes at `offset` (kNoOffset: where the last read ended); 34001 when
  // fewer are there.
  virtual void ReadAt(void* buffer, uint32_t size, uint32_t offset) = 0;
  virtual uint32_t CodeSize() const = 0;
};

// Serves a stream's chunks in writing order.
class ChunkReader : public InStream {
 public:
  ChunkReader(CF_Reader* const& reader, uint32_t id, uint32_t tableOffset) : m_reader(reader), m_id(id) {
    CF_Reader& r = Reader();
    const uint32_t size = r.CodeSize();
    if (tableOffset == kNoOffset || tableOffset > size || size - tableOffset < 4)
      EndsBefore(size, "the end of the chunk table of stream " + std::to_string(id), uint64_t(tableOffset) + 4);
    uint8_t word[4];
    r.ReadAt(word, 4, tableOffset);
    const uint32_t count = U32At(word);
    if (count > (size - tableOffset - 4) / kChunkRecordSize)
      EndsBefore(size, "the end of the chunk table of stream " + std::to_string(id) + " (" + std::to_string(count) + " chunks)",
                 uint64_t(tableOffset) + 4 + uint64_t(count) * kChunkRecordSize);
    std::vector<uint8_t> records(size_t(count) * kChunkRecordSize);
    if (count) r.ReadAt(records.data(), static_cast<uint32_t>(records.size()), tableOffset + 4);
    m_chunks.reserve(count);
    for (uint32_t i = 0; i < count; ++i) {  // stored last chunk first
      m_chunks.emplace_back(U32At(&records[8 * i]), U32At(&records[8 * i + 4]));
      m_left += m_chunks.back().second;
    }
    m_next = count;
  }

  uint64_t Deliverable() const override { return m_left; }

  uint32_t GetData(void* buffer, uint32_t count) override {
    auto* bytes = static_cast<uint8_t*>(buffer);
    uint32_t delivered = 0;
    while (delivered < count) {
      if (m_used == m_current.second) {
        if (m_next == 0) break;
        m_current = m_chunks[--m_next];
        m_used = 0;
        continue;
      }
      // The chunks that follow on in the code stream are read in the same request: a stream
      // written in one go lies in one piece, whatever its pages.
      const uint32_t wanted = count - delivered;
      uint64_t run = m_current.second - m_used;
      uint64_t end = uint64_t(m_current.first) + m_current.second;
      for (uint32_t k = m_next; run < wanted && k > 0 && m_chunks[k - 1].first == end; --k) {
        run += m_chunks[k - 1].second;
        end += m_chunks[k - 1].second;
      }
      const uint32_t take = static_cast<uint32_t>(std::min<uint64_t>(wanted, run));
      const uint64_t from = uint64_t(m_current.first) + m_used;
      if (from + take > Reader().CodeSize())
        EndsBefore(Reader().CodeSize(), "the end of a chunk of stream " + std::to_string(m_id), from + take);
      Reader().ReadAt(bytes + delivered, take, static_cast<uint32_t>(from));
      delivered += take;
      m_left -= take;
      for (uint32_t left = take;;) {
        const uint32_t step = std::min(left, m_current.second - m_used);
        m_used += step;
        left -= step;
        if (left == 0) break;
        m_current = m_chunks[--m_next];
        m_used = 0;
      }
    }
    return delivered;
  }

 private:
  CF_Reader& Reader() const {
    if (!m_reader) Detached();
    return *m_reader;
  }

  CF_Reader* const& m_reader;
  std::vector<std::pair<uint32_t, uint32_t>> m_chunks;  // {offset, size} as stored
  uint32_t m_next;                                      // chunks below this are still to read
  std::pair<uint32_t, uint32_t> m_current{0, 0};
  uint32_t m_used = 0;
  uint64_t m_left = 0;  // bytes of the chunks not yet delivered
  uint32_t m_id;
};

class CF_OLEInStream : public CF_InStream {
 public:
  CF_OLEInStream(CF_Reader& reader, const CF_Descriptor& descriptor)
      : m_reader(&reader), m_descriptor(descriptor), m_chunks(m_reader, descriptor.id, descriptor.tableOffset) {}

  ~CF_OLEInStream() override {
    m_inflate.reset();
    if (m_reader) m_reader->StreamClosed(*this);
  }

  uint32_t GetData(void* buffer, uint32_t count) override {
    if (!m_reader) Detached();
    if (count == 0) return 0;
    if (m_descriptor.compression != cf_Compressed) return m_chunks.GetData(buffer, count);
    if (!m_inflate) m_inflate = LZ_InStream::New(m_chunks, kStreamWindowBits);
    return m_inflate->GetData(buffer, count);
  }

  uint64_t Deliverable() const override {
    if (m_descriptor.compression != cf_Compressed) return m_chunks.Deliverable();
    if (m_inflate) return m_inflate->Deliverable();
    return LZ_MostInflated(m_chunks.Deliverable());
  }

  void Detach() { m_reader = nullptr; }

  // The reader's open streams, linked through the streams themselves: opening one costs no
  // allocation beside its own.
  CF_OLEInStream* m_previousOpen = nullptr;
  CF_OLEInStream* m_nextOpen = nullptr;

 private:
  CF_Reader* m_reader;
  CF_Descriptor m_descriptor;
  ChunkReader m_chunks;
  std::unique_ptr<LZ_InStream> m_inflate;  // after m_chunks: it reads from them
};

// Read cache of the code stream: a few windows of 128 KiB, each filled from a little before
// the position asked for (a stream's chunk table, which is read first, lies right after its
// bytes). A read of the code stream costs a system call whatever its size, so larger windows
// than a page answer the many small reads of a book with few calls; reads of 32 KiB and more
// go straight to the source, as does everything when the code stream is in memory.
class ReadAhead : public InFile {
 public:
  explicit ReadAhead(InFile& source)
      : m_source(source), m_direct(dynamic_cast<MemInFile*>(&source) != nullptr) {
    m_position = source.Seek(0, SO_Current);
    m_size = source.Seek(0, SO_End);
  }

  uint32_t Seek(int32_t offset, SeekOrigin origin) override {
    switch (origin) {
      case SO_Begin: m_position = static_cast<uint32_t>(offset); break;
      case SO_Current: m_position += static_cast<uint32_t>(offset); break;
      case SO_End: m_position = m_size + static_cast<uint32_t>(offset); break;
      default: break;
    }
    return m_position;
  }

  uint32_t GetData(void* buffer, uint32_t count) override {
    auto* out = static_cast<uint8_t*>(buffer);
    if (m_position >= m_size) return 0;
    count = std::min(count, m_size - m_position);
    uint32_t done = 0;
    while (done < count) {
      const uint32_t rest = count - done;
      Window* window = Holding(m_position);
      if (!window && (m_direct || rest >= kDirectRead || !(window = Fill(m_position)))) {
        m_source.Seek(static_cast<int32_t>(m_position), SO_Begin);
        const uint32_t got = m_source.GetData(out + done, rest);
        m_position += got;
        return done + got;
      }
      const uint32_t take = std::min(rest, window->end - m_position);
      std::memcpy(out + done, window->data.get() + (m_position - window->first), take);
      m_position += take;
      done += take;
      window->used = ++m_clock;
    }
    return done;
  }

 private:
  static constexpr uint32_t kWindowSize = 128 * 1024;
  static constexpr uint32_t kBehind = 16 * 1024;
  static constexpr uint32_t kDirectRead = 32 * 1024;
  static constexpr size_t kWindows = 4;

  struct Window {
    std::unique_ptr<uint8_t[]> data;
    uint32_t first = 0;
    uint32_t end = 0;
    uint64_t used = 0;
  };

  Window* Holding(uint32_t position) {
    for (Window& w : m_windows)
      if (w.first <= position && position < w.end) return &w;
    return nullptr;
  }

  // Null when the source has nothing at the position.
  Window* Fill(uint32_t position) {
    Window* victim = &m_windows[0];
    for (Window& w : m_windows)
      if (w.used < victim->used) victim = &w;
    if (!victim->data) victim->data.reset(new uint8_t[kWindowSize]);
    const uint32_t first = position - std::min(position, kBehind);
    const uint32_t want = std::min(kWindowSize, m_size - first);
    m_source.Seek(static_cast<int32_t>(first), SO_Begin);
    const uint32_t got = m_source.GetData(victim->data.get(), want);
    victim->first = first;
    victim->end = first + got;
    victim->used = ++m_clock;
    return position < victim->end ? victim : nullptr;
  }

  InFile& m_source;
  const bool m_direct;
  uint32_t m_position = 0;
  uint32_t m_size = 0;
  uint64_t m_clock = 0;
  Window m_windows[kWindows];
};

class CF_OLEInStorage : public CF_EnumerableInStorage, private CF_Reader {
 public:
  explicit CF_OLEInStorage(std::unique_ptr<CF_Medium> medium) : m_medium(std::move(medium)) {
    InFile& code = m_medium->OpenCodeStream();
    m_code = std::make_unique<ReadAhead>(code);
    m_medium->GetSummary(m_summary);

    // A summary stream that lost both versions (as a property-set tool that keeps only the
    // properties it knows leaves it) was written as every writer of this format stores them,
    // with both: read in the layout of the version this library writes, not as version 0.0.
    // A minor version alone absent still counts as 0; a major version alone absent leaves
    // the layout unknown.
    const bool majorStored = m_summary.Find(kCodeFileMajorVersionId) != nullptr;
    const bool minorStored = m_summary.Find(kCodeFileMinorVersionId) != nullptr;
    if (!majorStored && minorStored)
      throw FilterException(FE_CodeFileVersion, "its summary stream holds the minor format version (property 3000) "
                                                "without the major one (property 3001): its layout cannot be told");
    const int32_t major = majorStored || minorStored ? GetProperty(kCodeFileMajorVersionId).ExpandedInteger()
                                                     : kCodeFileMajorVersion;
    const int32_t minor = majorStored || minorStored ? GetProperty(kCodeFileMinorVersionId).ExpandedInteger()
                                                     : kCodeFileMinorVersion;
    if (major > kCodeFileMajorVersion || (major == kCodeFileMajorVersion && minor > kCodeFileMinorVersion))
      Error(FE_CodeFileVersion);

    m_size = m_code->Seek(0, SO_End);
    uint8_t header[kHeaderSize];
    if (m_size < kHeaderSize) EndsBefore(m_size, "the end of its header", kHeaderSize);
    ReadAt(header, kHeaderSize, 0);
    const uint32_t count = U32At(header);
    const uint32_t directory = U32At(header + 4);
    if (directory > m_size) EndsBefore(m_size, "its directory", directory);
    if (minor == 0)
      ReadOldDirectory(count, directory);
    else
      ReadDirectory(count, directory);
    if (minor == 0) SortNames();
    // By key; of a key listed twice the last record counts. A directory as written is in order
    // already.
    const auto before = [](const CF_Descriptor& a, const CF_Descriptor& b) { return KeyOf(a) < KeyOf(b); };
    const auto notBefore = [&before](const CF_Descriptor& a, const CF_Descriptor& b) { return !before(a, b); };
    if (std::adjacent_find(m_table.begin(), m_table.end(), notBefore) != m_table.end()) {
      std::stable_sort(m_table.begin(), m_table.end(), before);
      size_t kept = 0;
      for (size_t i = 0; i < m_table.size(); ++i) {
        if (i + 1 < m_table.size() && !before(m_table[i], m_table[i + 1])) continue;  // a later one counts
        m_table[kept++] = m_table[i];
      }
      m_table.resize(kept);
    }
    m_table.shrink_to_fit();
  }

  ~CF_OLEInStorage() override {
    for (CF_OLEInStream* stream = m_open; stream; stream = stream->m_nextOpen) stream->Detach();
  }

  Variant GetProperty(int32_t id) override {
    const Property* p = m_summary.Find(id);
    return p ? p->Value() : Variant();
  }

  std::unique_ptr<CF_InStream> OpenStream(const char* name, uint32_t tag) override {
    if (!name) return nullptr;
    uint32_t id = 0;
    if (!m_ids.Find(name, id)) return nullptr;
    CF_Descriptor descriptor{};
    if (!Describe(id, tag, descriptor)) return nullptr;
    auto stream = std::make_unique<CF_OLEInStream>(static_cast<CF_Reader&>(*this), descriptor);
    stream->m_nextOpen = m_open;
    if (m_open) m_open->m_previousOpen = stream.get();
    m_open = stream.get();
    return stream;
  }

  bool EnumerateStreams(IdentifierReceiver& receiver) override {
    if (!m_namesSorted) {
      // The names by id are needed only here: they are taken from the name table again.
      m_code->Seek(static_cast<int32_t>(m_nameTable), SO_Begin);
      uint32_t names = 0;
      std::string name;
      if (GetU32(*m_code, names)) {
        for (uint32_t i = 0; i < names; ++i) {
          uint32_t id = 0;
          if (!ReadShortString(name, *m_code) || !GetU32(*m_code, id)) break;
          const uint32_t place = m_ids.Locate(name);
          if (place != NameIndex::kNone) m_names.emplace_back(id, place);
        }
      }
      SortNames();
    }
    for (size_t i = 0; i < EntryCount(); ++i) {
      const CF_Descriptor descriptor = EntryAt(i);
      const auto name =
          std::lower_bound(m_names.begin(), m_names.end(), descriptor.id,
                           [](const IdName& n, uint32_t id) { return n.first < id; });
      if (name == m_names.end() || name->first != descriptor.id) continue;  // name record lost
      if (!receiver(m_ids.NameAt(name->second).data(), descriptor.tag)) return false;
    }
    return true;
  }

 private:
  void ReadDirectory(uint32_t count, uint32_t directory) {
    if (count > (m_size - directory) / kDescriptorSize)
      EndsBefore(m_size, "the end of its directory of " + std::to_string(count) + " streams",
                 directory + uint64_t(count) * kDescriptorSize);
    m_denseOffsets.reserve(count);
    m_denseCompressions.reserve(count);
    // In pieces: the whole directory at once would be a copy of it beside its table.
    constexpr uint32_t kPiece = 4096;
    std::vector<uint8_t> block(size_t(std::min(count, kPiece)) * kDescriptorSize);
    for (uint32_t done = 0; done < count;) {
      const uint32_t n = std::min(count - done, kPiece);
      ReadAt(block.data(), n * kDescriptorSize, directory + done * kDescriptorSize);
      for (uint32_t i = 0; i < n; ++i) {
        const uint8_t* d = &block[size_t(i) * kDescriptorSize];
        Enter(CF_Descriptor{U32At(d), U32At(d + 4), d[8], U32At(d + 9)});
      }
      done += n;
    }
    // The name table is the last part of the file, so a file cut short, even at a sector
    // boundary, loses names first: without them its streams could not be found, and the file
    // would pass for one without them.
    m_nameTable = directory + count * kDescriptorSize;
    m_code->Seek(static_cast<int32_t>(m_nameTable), SO_Begin);
    uint32_t names = 0;
    if (!GetU32(*m_code, names)) EndsBefore(m_size, "the count of its name table", m_nameTable);
    std::string name;
    for (uint32_t i = 0; i < names; ++i) {
      const uint32_t at = m_code->Seek(0, SO_Current);
      uint32_t id = 0;
      if (!ReadShortString(name, *m_code) || !GetU32(*m_code, id))
        EndsBefore(m_size, "the end of name " + std::to_string(i) + " of its name table of " + std::to_string(names),
                   at);
      m_ids.Insert(name, id);  // a name listed again keeps its first id
    }
  }

  // By id; the first record of an id is the one that counts.
  void SortNames() {
    std::stable_sort(m_names.begin(), m_names.end(),
                     [](const IdName& a, const IdName& b) { return a.first < b.first; });
    m_names.erase(std::unique(m_names.begin(), m_names.end(),
                              [](const IdName& a, const IdName& b) { return a.first == b.first; }),
                  m_names.end());
    m_names.shrink_to_fit();
    m_namesSorted = true;
  }

  // Minor version 0: the names are in the descriptors and ids follow their first appearance.
  void ReadOldDirectory(uint32_t count, uint32_t directory) {
    m_code->Seek(static_cast<int32_t>(directory), SO_Begin);
    std::string name;
    for (uint32_t i = 0; i < count; ++i) {
      const uint32_t at = m_code->Seek(0, SO_Current);
      const auto entryCut = [&] {
        EndsBefore(m_size, "the end of entry " + std::to_string(i) + " of its directory of " + std::to_string(count) + " streams",
                   at);
      };
      uint8_t length = 0;
      if (!GetU8(*m_code, length)) entryCut();
      name.assign(length, '\0');
      uint8_t rest[9];
      if (m_code->GetData(name.data(), length) != length || m_code->GetData(rest, 9) != 9) entryCut();
      const uint32_t known = m_ids.Count();
      const auto [id, added] = m_ids.Insert(name, known);
      if (added) m_names.emplace_back(id, m_ids.Place(known));
      Enter(CF_Descriptor{id, U32At(rest), rest[4], U32At(rest + 5)});
    }
  }

  // The usual directory has every id from 0 once, in order, all with one tag: only the offsets
  // and compressions are kept then, by id. A directory of any other form goes to m_table.
  void Enter(const CF_Descriptor& d) {
    if (m_table.empty()) {
      if (d.id == m_denseOffsets.size() && (m_denseOffsets.empty() || d.tag == m_denseTag)) {
        m_denseTag = d.tag;
        m_denseOffsets.push_back(d.tableOffset);
        m_denseCompressions.push_back(d.compression);
        return;
      }
      m_table.reserve(m_denseOffsets.capacity());
      for (uint32_t id = 0; id < m_denseOffsets.size(); ++id)
        m_table.push_back(CF_Descriptor{id, m_denseTag, m_denseCompressions[id], m_denseOffsets[id]});
      std::vector<uint32_t>().swap(m_denseOffsets);
      std::vector<uint8_t>().swap(m_denseCompressions);
    }
    m_table.push_back(d);
  }

  size_t EntryCount() const { return m_table.empty() ? m_denseOffsets.size() : m_table.size(); }

  // The entry at a position of the directory's order.
  CF_Descriptor EntryAt(size_t i) const {
    if (!m_table.empty()) return m_table[i];
    return CF_Descriptor{static_cast<uint32_t>(i), m_denseTag, m_denseCompressions[i], m_denseOffsets[i]};
  }

  bool Describe(uint32_t id, uint32_t tag, CF_Descriptor& out) const {
    if (m_table.empty()) {
      if (id >= m_denseOffsets.size() || tag != m_denseTag) return false;
      out = EntryAt(id);
      return true;
    }
    const StreamKey key{tag, id};
    const auto entry = std::lower_bound(m_table.begin(), m_table.end(), key,
                                        [](const CF_Descriptor& d, const StreamKey& k) { return KeyOf(d) < k; });
    if (entry == m_table.end() || key < KeyOf(*entry)) return false;
    out = *entry;
    return true;
  }

  void StreamClosed(CF_OLEInStream& stream) override {
    (stream.m_previousOpen ? stream.m_previousOpen->m_nextOpen : m_open) = stream.m_nextOpen;
    if (stream.m_nextOpen) stream.m_nextOpen->m_previousOpen = stream.m_previousOpen;
  }

  void ReadAt(void* buffer, uint32_t size, uint32_t offset) override {
    if (offset == kNoOffset) offset = m_code->Seek(0, SO_Current);
    if (offset > m_size) EndsBefore(m_size, "data it places", offset);
    m_code->Seek(static_cast<int32_t>(offset), SO_Begin);
    if (m_code->GetData(buffer, size) != size)
      EndsBefore(m_size, "the end of " + std::to_string(size) + " bytes it places", uint64_t(offset) + size);
  }

  uint32_t CodeSize() const override { return m_size; }

  std::unique_ptr<CF_Medium> m_medium;
  std::unique_ptr<ReadAhead> m_code;
  PropertySet m_summary{kCodeFileSummaryName};
  uint32_t m_size = 0;
  using IdName = std::pair<uint32_t, uint32_t>;  // id, place of its name in m_ids

  // The names once each, with the id each came with first: a big book has more than a million.
  NameIndex m_ids;
  std::vector<IdName> m_names;        // sorted by id, once enumeration needs it
  bool m_namesSorted = false;
  uint32_t m_nameTable = 0;           // where the name table starts
  std::vector<CF_Descriptor> m_table;  // sorted by key, one per key; empty when dense
  uint32_t m_denseTag = 0;
  std::vector<uint32_t> m_denseOffsets;       // by id
  std::vector<uint8_t> m_denseCompressions;   // by id
  CF_OLEInStream* m_open = nullptr;  // the first open stream
};

}  // namespace

std::unique_ptr<CF_OutStorage> CreateCodeFile(std::unique_ptr<CF_Medium> medium, bool compress) {
  return std::make_unique<CF_OLEOutStorage>(std::move(medium), compress);
}

std::unique_ptr<CF_EnumerableInStorage> OpenEnumerableCodeFile(std::unique_ptr<CF_Medium> medium) {
  return std::make_unique<CF_OLEInStorage>(std::move(medium));
}

OutFile& CF_MemoryMedium::CreateCodeStream() {
  m_code.Clear();
  return m_code;
}

void CF_MemoryMedium::PutSummary(const PropertySet& summary) {
  m_summary.Clear();
  summary.Write(m_summary);
}

InFile& CF_MemoryMedium::OpenCodeStream() {
  m_code.Seek(0, SO_Begin);
  return m_code;
}

void CF_MemoryMedium::GetSummary(PropertySet& summary) {
  if (m_summary.Size() == 0) return;
  m_summary.Seek(0, SO_Begin);
  summary.Read(m_summary);
}

namespace {

class OLEStorageMediumImpl : public CF_Medium {
 public:
  explicit OLEStorageMediumImpl(const OLEStorage& storage) : m_storage(storage) {}

  OutFile& CreateCodeStream() override {
    m_code = std::make_unique<OLEStream>(m_storage, kCodeFileStreamName, CD_CreateWrite);
    return *m_code;
  }
  void PutSummary(const PropertySet& summary) override { summary.Put(m_storage); }
  InFile& OpenCodeStream() override {
    m_code = std::make_unique<OLEStream>(m_storage, kCodeFileStreamName, CD_OpenRead);
    return *m_code;
  }
  void GetSummary(PropertySet& summary) override { summary.Get(m_storage); }

 private:
  OLEStorage m_storage;
  std::unique_ptr<OLEStream> m_code;
};

}  // namespace

std::unique_ptr<CF_Medium> OLEStorageMedium(OLEStorage storage) {
  return std::make_unique<OLEStorageMediumImpl>(storage);
}

std::unique_ptr<CF_OutStorage> CreateCodeFile(OLEStorage storage, bool compress) {
  return CreateCodeFile(OLEStorageMedium(storage), compress);
}

std::unique_ptr<CF_InStorage> OpenCodeFile(OLEStorage storage) {
  return OpenEnumerableCodeFile(OLEStorageMedium(storage));
}

std::unique_ptr<CF_EnumerableInStorage> OpenEnumerableCodeFile(OLEStorage storage) {
  return OpenEnumerableCodeFile(OLEStorageMedium(storage));
}

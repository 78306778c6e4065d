#include "Container/Model/Folders.h"

#include "Container/Storage/CodeFile.h"
#include "Container/Storage/CodeFolder.h"
#include "Container/Storage/Errors.h"
#include "Container/Storage/OLEStorage.h"

#include <algorithm>
#include <cstring>
#include <map>
#include <unordered_set>
#include <vector>

namespace {

// ---- Stored form of the values ---------------------------------------------------------------

constexpr uint32_t kBufferSize = 1024;

template <class T>
constexpr uint32_t kWidth = sizeof(T);
template <>
constexpr uint32_t kWidth<bool> = 1;

template <class T>
void Encode(const T& value, uint8_t* out) {
  if constexpr (std::is_same_v<T, bool>) {
    out[0] = value ? 1 : 0;
  } else {
    using U = std::conditional_t<sizeof(T) == 1, uint8_t,
              std::conditional_t<sizeof(T) == 2, uint16_t,
              std::conditional_t<sizeof(T) == 4, uint32_t, uint64_t>>>;
    U bits;
    std::memcpy(&bits, &value, sizeof bits);
    for (uint32_t i = 0; i < sizeof bits; ++i) out[i] = static_cast<uint8_t>(bits >> (8 * i));
  }
}

template <class T>
T Decode(const uint8_t* in) {
  if constexpr (std::is_same_v<T, bool>) {
    return in[0] != 0;  // a stored byte other than 0 or 1 is still a valid bool
  } else {
    using U = std::conditional_t<sizeof(T) == 1, uint8_t,
              std::conditional_t<sizeof(T) == 2, uint16_t,
              std::conditional_t<sizeof(T) == 4, uint32_t, uint64_t>>>;
    U bits = 0;
    for (uint32_t i = 0; i < sizeof bits; ++i) bits = static_cast<U>(bits | U(in[i]) << (8 * i));
    T value;
    std::memcpy(&value, &bits, sizeof value);
    return value;
  }
}

// Fixed-width values, encoded a buffer at a time.
template <class T>
void WriteValues(OutStream& out, const T* values, uint32_t count) {
  uint8_t buffer[kBufferSize];
  constexpr uint32_t kPerBuffer = kBufferSize / kWidth<T>;
  while (count > 0) {
    const uint32_t n = std::min(count, kPerBuffer);
    for (uint32_t i = 0; i < n; ++i) Encode(values[i], buffer + i * kWidth<T>);
    out.PutData(buffer, n * kWidth<T>);
    values += n;
    count -= n;
  }
}

void WriteValues(OutStream& out, const void* values, uint32_t count) {
  if (count) out.PutData(values, count);
}

// Counted strings: every value is checked before any is written, so that a refused call leaves
// no partial value behind.
template <class S>
void WriteCountedStrings(OutStream& out, const S* values, uint32_t count) {
  for (uint32_t i = 0; i < count; ++i)
    if (values[i].size() > UINT16_MAX) Error(FE_StorageInvalidParameter);
  for (uint32_t i = 0; i < count; ++i) {
    PutU16(out, static_cast<uint16_t>(values[i].size()));
    WriteValues(out, values[i].data(), static_cast<uint32_t>(values[i].size()));
  }
}

void WriteValues(OutStream& out, const std::string* values, uint32_t count) {
  WriteCountedStrings(out, values, count);
}
void WriteValues(OutStream& out, const std::u16string* values, uint32_t count) {
  WriteCountedStrings(out, values, count);
}
void WriteValues(OutStream& out, const Variant* values, uint32_t count) {
  for (uint32_t i = 0; i < count; ++i) values[i] >> out;
}

// Reading side: a source that counts what it delivered, so that a value cut short (damage) can be
// told from the clean end of the stream.
class CountingIn : public InStream {
 public:
  explicit CountingIn(std::unique_ptr<CF_InStream> source) : m_source(std::move(source)) {}
  uint32_t GetData(void* buffer, uint32_t count) override {
    const uint32_t got = m_source->GetData(buffer, count);
    m_delivered += got;
    return got;
  }
  uint64_t Delivered() const { return m_delivered; }

 private:
  std::unique_ptr<CF_InStream> m_source;
  uint64_t m_delivered = 0;
};

// Each reader answers the whole values read and sets `damaged` when a value arrived cut short.
template <class T>
uint32_t ReadValues(CountingIn& in, T* values, uint32_t count, bool& damaged) {
  uint8_t buffer[kBufferSize];
  constexpr uint32_t kPerBuffer = kBufferSize / kWidth<T>;
  uint32_t done = 0;
  while (done < count) {
    const uint32_t want = std::min(count - done, kPerBuffer) * kWidth<T>;
    const uint32_t got = in.GetData(buffer, want);
    const uint32_t whole = got / kWidth<T>;
    for (uint32_t i = 0; i < whole; ++i) values[done + i] = Decode<T>(buffer + i * kWidth<T>);
    done += whole;
    if (got % kWidth<T>) damaged = true;
    if (got < want) break;
  }
  return done;
}

uint32_t ReadValues(CountingIn& in, void* values, uint32_t count, bool&) {
  return in.GetData(values, count);
}

template <class S>
uint32_t ReadCountedStrings(CountingIn& in, S* values, uint32_t count, bool& damaged) {
  using Unit = typename S::value_type;
  for (uint32_t i = 0; i < count; ++i) {
    S& value = values[i];
    value.clear();
    uint8_t word[2];
    const uint32_t got = in.GetData(word, 2);
    if (got < 2) {
      damaged = got != 0;
      return i;
    }
    value.resize(Decode<uint16_t>(word));  // at most 65535 units: bounded by the format
    bool cut = false;
    if (ReadValues<Unit>(in, value.data(), static_cast<uint32_t>(value.size()), cut) !=
        value.size()) {
      damaged = true;
      return i;
    }
  }
  return count;
}

uint32_t ReadValues(CountingIn& in, std::string* values, uint32_t count, bool& damaged) {
  return ReadCountedStrings(in, values, count, damaged);
}
uint32_t ReadValues(CountingIn& in, std::u16string* values, uint32_t count, bool& damaged) {
  return ReadCountedStrings(in, values, count, damaged);
}
uint32_t ReadValues(CountingIn& in, Variant* values, uint32_t count, bool& damaged) {
  for (uint32_t i = 0; i < count; ++i) {
    const uint64_t before = in.Delivered();
    if (!(values[i] << in)) {
      damaged = in.Delivered() != before;
      return i;
    }
  }
  return count;
}

// ---- Containers ------------------------------------------------------------------------------

class DWX_OutFolder_Impl;

// Owns the code-file writer; every folder, bundle and stream of the container holds a reference.
class DWX_OutContainer final : public ReferredObject {
 public:
  explicit DWX_OutContainer(std::unique_ptr<CF_OutStorage> file) : m_file(std::move(file)) {}

  CF_OutStorage& File() { return *m_file; }
  void Register(DWX_OutFolder_Impl* folder) { m_folders.insert(folder); }
  void Unregister(DWX_OutFolder_Impl* folder) { m_folders.erase(folder); }
  void Complete();

 private:
  std::unique_ptr<CF_OutStorage> m_file;  // its destructor finishes a file not yet finished
  std::unordered_set<DWX_OutFolder_Impl*> m_folders;
};

class DWX_InContainer final : public ReferredObject {
 public:
  explicit DWX_InContainer(std::unique_ptr<CF_InStorage> file) : m_file(std::move(file)) {}
  CF_InStorage& File() { return *m_file; }

 private:
  std::unique_ptr<CF_InStorage> m_file;
};

using OutContainerRef = DWX_Handle<DWX_OutContainer>;
using InContainerRef = DWX_Handle<DWX_InContainer>;

// ---- Streams ---------------------------------------------------------------------------------

template <class T>
class DWX_Out_Impl final : public DWX_Out<T>, public DWX_OutStream2 {
 public:
  DWX_Out_Impl(const OutContainerRef& container, std::unique_ptr<CF_OutStream> stream)
      : m_container(container), m_stream(std::move(stream)) {}

  void PutData(const T* values, dwx_ulong count) override { WriteValues(*m_stream, values, count); }
  void Finish() override { m_stream->Finish(); }

 private:
  OutContainerRef m_container;           // released last: the stream needs its code file
  std::unique_ptr<CF_OutStream> m_stream;  // its destructor finishes it, reporting failures
};

template <class T>
class DWX_In_Impl final : public DWX_In<T>, public DWX_InStream2 {
 public:
  DWX_In_Impl(const InContainerRef& container, std::unique_ptr<CF_InStream> stream)
      : m_container(container), m_in(std::move(stream)) {}

  dwx_ulong GetData(T* values, dwx_ulong count) override {
    if (count == 0 || m_damaged) return 0;
    return ReadValues(m_in, values, count, m_damaged);
  }
  bool Damaged() const override { return m_damaged; }

 private:
  InContainerRef m_container;
  CountingIn m_in;
  bool m_damaged = false;
};

// One object of Impl<value type> for a type code.
template <template <class> class Impl, class Base, class... Args>
Base* MakeTyped(DWX_FieldType code, Args&&... args) {
  switch (code) {
    case ft_Bool: return new Impl<bool>(std::forward<Args>(args)...);
    case ft_Char: return new Impl<char>(std::forward<Args>(args)...);
    case ft_UChar: return new Impl<unsigned char>(std::forward<Args>(args)...);
    case ft_Short: return new Impl<int16_t>(std::forward<Args>(args)...);
    case ft_UShort: return new Impl<uint16_t>(std::forward<Args>(args)...);
    case ft_Long: return new Impl<dwx_long>(std::forward<Args>(args)...);
    case ft_ULong: return new Impl<dwx_ulong>(std::forward<Args>(args)...);
    case ft_Float: return new Impl<float>(std::forward<Args>(args)...);
    case ft_Double: return new Impl<double>(std::forward<Args>(args)...);
    case ft_String: return new Impl<std::string>(std::forward<Args>(args)...);
    case ft_WString: return new Impl<std::u16string>(std::forward<Args>(args)...);
    case ft_Variant: return new Impl<Variant>(std::forward<Args>(args)...);
    default: return new Impl<void>(std::forward<Args>(args)...);
  }
}

// ---- Bundles ---------------------------------------------------------------------------------

template <class Stream>
using FieldStreams = std::map<dwx_long, DWX_Handle<Stream>>;

class DWX_OutBundle_Impl final : public DWX_OutBundle2 {
 public:
  DWX_OutBundle_Impl(const DWX_Handle<DWX_OutFolder2>& folder, FieldStreams<DWX_OutStream2> streams)
      : m_folder(folder), m_streams(std::move(streams)) {}

  void PutRecord(const DWX_OutRecord& record) override {
    for (auto& [index, stream] : m_streams) record.PutField(index, *stream);
  }
  void Finish() override {
    for (auto& entry : m_streams) entry.second->Finish();
    m_folder->Finish();
  }

 private:
  DWX_Handle<DWX_OutFolder2> m_folder;
  FieldStreams<DWX_OutStream2> m_streams;  // released before the folder
};

class DWX_InBundle_Impl final : public DWX_InBundle2 {
 public:
  DWX_InBundle_Impl(const DWX_Handle<DWX_InFolder2>& folder, FieldStreams<DWX_InStream2> streams)
      : m_folder(folder), m_streams(std::move(streams)) {}

  // A record is whole in every field, or the records have ended in every field: one that some
  // field lacks (a value cut short, or a field ending before the others) is an error, not the end.
  bool GetRecord(DWX_InRecord& record) override {
    size_t read = 0;
    bool damaged = false;
    for (auto& [index, stream] : m_streams) {
      if (record.GetField(index, *stream))
        ++read;
      else
        damaged |= stream->Damaged();
    }
    if (damaged || (read != 0 && read != m_streams.size())) Error(FE_CodeFileShortRead);
    return read != 0;
  }

 private:
  DWX_Handle<DWX_InFolder2> m_folder;
  FieldStreams<DWX_InStream2> m_streams;
};

// ---- Folders ---------------------------------------------------------------------------------

class DWX_OutFolder_Impl final : public DWX_OutFolder2 {
 public:
  DWX_OutFolder_Impl(const OutContainerRef& container, std::unique_ptr<CF_OutFolder> folder)
      : m_container(container), m_folder(std::move(folder)) {
    m_container->Register(this);
  }
  ~DWX_OutFolder_Impl() override {
    m_container->Unregister(this);
    m_folder.reset();  // writes the table unless finished, reporting failures
  }

  void ProcessFolder(DWX_OutFolderProcessor& processor, const char* name,
                     dwx_long index) override {
    auto child = CreateFolder(name, index);
    processor.Call(*child);
    child->Finish();
  }
  void ProcessStream(DWX_OutStreamProcessor& processor, DWX_FieldType type, const char* name,
                     dwx_long tag) override {
    auto child = CreateStream(type, name, tag);
    processor.Call(*child);
    child->Finish();
  }
  void ProcessBundle(DWX_OutBundleProcessor& processor, const DWX_FieldsEnumerator& record,
                     const char* name, dwx_long index) override {
    auto child = CreateBundle(record, name, index);
    processor.Call(*child);
    child->Finish();
  }

  DWX_Handle<DWX_OutFolder2> CreateFolder(const char* name, dwx_long index) override {
    return DWX_Handle<DWX_OutFolder2>(
        new DWX_OutFolder_Impl(m_container, m_folder->CreateFolder(name, index)));
  }

  DWX_Handle<DWX_OutStream2> CreateStream(DWX_FieldType type, const char* name,
                                          dwx_long tag) override {
    const DWX_FieldType code = type < ft_Count ? type : ft_Raw;
    auto stream = m_folder->CreateStream(name, static_cast<uint32_t>(tag), cf_Automatic);
    PutU16(*stream, code);
    return DWX_Handle<DWX_OutStream2>(
        MakeTyped<DWX_Out_Impl, DWX_OutStream2>(code, m_container, std::move(stream)));
  }

  DWX_Handle<DWX_OutBundle2> CreateBundle(const DWX_FieldsEnumerator& record, const char* name,
                                          dwx_long index) override {
    auto folder = CreateFolder(name, index);
    DWX_FieldsList fields;
    record.EnumFields(fields);
    FieldStreams<DWX_OutStream2> streams;
    for (const auto& [i, field] : fields.Fields())
      streams.emplace(i, folder->CreateStream(field.type, field.name.c_str(), 0));
    return DWX_Handle<DWX_OutBundle2>(new DWX_OutBundle_Impl(folder, std::move(streams)));
  }

  void Finish() override { m_folder->Finish(); }
  void Complete() override { m_container->Complete(); }

 private:
  OutContainerRef m_container;
  std::unique_ptr<CF_OutFolder> m_folder;
};

void DWX_OutContainer::Complete() {
  const std::vector<DWX_OutFolder_Impl*> open(m_folders.begin(), m_folders.end());
  for (DWX_OutFolder_Impl* folder : open) folder->Finish();
  m_file->Finish();
}

class DWX_InFolder_Impl final : public DWX_InFolder2 {
 public:
  DWX_InFolder_Impl(const InContainerRef& container, std::unique_ptr<CF_InFolder> folder)
      : m_container(container), m_folder(std::move(folder)) {}

  bool ProcessFolder(DWX_InFolderProcessor& processor, const char* name,
                     dwx_long index) override {
    return Process(processor, OpenFolder(name, index));
  }
  bool ProcessStream(DWX_InStreamProcessor& processor, DWX_FieldType type, const char* name,
                     dwx_long tag) override {
    return Process(processor, OpenStream(type, name, tag));
  }
  bool ProcessBundle(DWX_InBundleProcessor& processor, const DWX_FieldsEnumerator& record,
                     const char* name, dwx_long index) override {
    return Process(processor, OpenBundle(record, name, index));
  }

  CF_InFolder& CodeFolder() { return *m_folder; }

  // The stream `name` when its type code reads as `type`; `cut` tells a stream that is there but
  // too short to hold its type code.
  DWX_Handle<DWX_InStream2> OpenTyped(DWX_FieldType type, const char* name, dwx_long tag, bool& cut) {
    auto stream = m_folder->OpenStream(name, static_cast<uint32_t>(tag));
    uint16_t code = 0;
    cut = stream && !GetU16(*stream, code);
    if (!stream || cut || code >= ft_Count || code != type) return {};
    return DWX_Handle<DWX_InStream2>(MakeTyped<DWX_In_Impl, DWX_InStream2>(
        static_cast<DWX_FieldType>(code), m_container, std::move(stream)));
  }

  DWX_Handle<DWX_InFolder2> OpenFolder(const char* name, dwx_long index) override {
    auto folder = m_folder->OpenFolder(name, index);
    if (!folder) return {};
    return DWX_Handle<DWX_InFolder2>(new DWX_InFolder_Impl(m_container, std::move(folder)));
  }

  DWX_Handle<DWX_InStream2> OpenStream(DWX_FieldType type, const char* name,
                                       dwx_long tag) override {
    bool cut = false;
    return OpenTyped(type, name, tag, cut);
  }

  DWX_Handle<DWX_InBundle2> OpenBundle(const DWX_FieldsEnumerator& record, const char* name,
                                       dwx_long index) override {
    auto code = m_folder->OpenFolder(name, index);
    if (!code) return {};
    auto* impl = new DWX_InFolder_Impl(m_container, std::move(code));
    const DWX_Handle<DWX_InFolder2> folder(impl);
    DWX_FieldsList fields;
    record.EnumFields(fields);
    FieldStreams<DWX_InStream2> streams;
    for (const auto& [i, field] : fields.Fields()) {
      bool cut = false;
      if (auto stream = impl->OpenTyped(field.type, field.name.c_str(), 0, cut))
        streams.emplace(i, std::move(stream));
      else if (cut)
        Error(FE_CodeFileShortRead);  // a field whose type code is cut: its records are incomplete
    }
    return DWX_Handle<DWX_InBundle2>(new DWX_InBundle_Impl(folder, std::move(streams)));
  }

 private:
  template <class Processor, class Child>
  static bool Process(Processor& processor, const DWX_Handle<Child>& child) {
    if (!child) return false;
    processor.Call(*child);
    return true;
  }

  InContainerRef m_container;
  std::unique_ptr<CF_InFolder> m_folder;
};

DWX_Handle<DWX_OutFolder2> WrapCodeFile(std::unique_ptr<CF_OutStorage> file) {
  OutContainerRef container(new DWX_OutContainer(std::move(file)));
  auto root = CreateCodeFolder(container->File());
  return DWX_Handle<DWX_OutFolder2>(new DWX_OutFolder_Impl(container, std::move(root)));
}

DWX_Handle<DWX_InFolder2> WrapCodeFile(std::unique_ptr<CF_InStorage> file) {
  // A code file without a root table holds no folders.
  if (!file->OpenStream(CF_NameComposer(std::string()).TableName().c_str(), 0)) return {};
  InContainerRef container(new DWX_InContainer(std::move(file)));
  auto root = OpenCodeFolder(container->File());
  return DWX_Handle<DWX_InFolder2>(new DWX_InFolder_Impl(container, std::move(root)));
}

class StyleRefSaver : public DWX_OutStreamProcessor {
 public:
  explicit StyleRefSaver(dwx_long id) : m_id(id) {}
  void Call(DWX_OutStream& stream) override {
    dynamic_cast<DWX_Out<dwx_long>&>(stream).PutData(&m_id, 1);
  }

 private:
  dwx_long m_id;
};

class StyleRefReader : public DWX_InStreamProcessor {
 public:
  explicit StyleRefReader(dwx_long& id) : m_id(id) {}
  void Call(DWX_InStream& stream) override {
    dwx_long value = -1;
    m_id = dynamic_cast<DWX_In<dwx_long>&>(stream).GetData(&value, 1) == 1 ? value : -1;
  }

 private:
  dwx_long& m_id;
};

}  // namespace

DWX_Handle<DWX_OutFolder2> CreateDWXFolder2(OLEStorage& storage, bool compress) {
  return WrapCodeFile(CreateCodeFile(storage, compress));
}

DWX_Handle<DWX_OutFolder2> CreateDWXFolder2(std::unique_ptr<CF_Medium> medium, bool compress) {
  return WrapCodeFile(CreateCodeFile(std::move(medium), compress));
}

std::vector<std::pair<std::string, dwx_long>> DWX_SubFolders(DWX_InFolder2& folder) {
  std::vector<std::pair<std::string, dwx_long>> folders;
  auto* impl = dynamic_cast<DWX_InFolder_Impl*>(&folder);
  auto* table = impl ? dynamic_cast<CF_EnumerableInFolder*>(&impl->CodeFolder()) : nullptr;
  if (!table) return folders;
  struct Collect : IdentifierReceiver {
    std::vector<std::pair<std::string, dwx_long>>& out;
    explicit Collect(std::vector<std::pair<std::string, dwx_long>>& o) : out(o) {}
    bool operator()(const char* found, uint32_t index) override {
      out.emplace_back(found ? found : "", static_cast<int32_t>(index));
      return true;
    }
  } collect(folders);
  table->EnumerateFolders(collect);
  return folders;
}

std::vector<dwx_long> DWX_SubFolderIndices(DWX_InFolder2& folder, const char* name) {
  std::vector<dwx_long> indices;
  if (!name) return indices;
  for (const auto& [found, index] : DWX_SubFolders(folder))
    if (found == name) indices.push_back(index);
  std::sort(indices.begin(), indices.end());
  return indices;
}

DWX_Handle<DWX_InFolder2> OpenDWXFolder2(OLEStorage& storage) {
  if (!storage.StreamExists(kCodeFileStreamName)) return {};
  return WrapCodeFile(OpenCodeFile(storage));
}

DWX_Handle<DWX_InFolder2> OpenDWXFolder2(std::unique_ptr<CF_Medium> medium) {
  std::unique_ptr<CF_InStorage> file = OpenEnumerableCodeFile(std::move(medium));
  return WrapCodeFile(std::move(file));
}

void CreateDWXFolder(DWX_OutFolderProcessor& processor, OLEStorage& storage, bool compress) {
  auto root = CreateDWXFolder2(storage, compress);
  processor.Call(*root);
  root->Complete();
}

bool OpenDWXFolder(DWX_InFolderProcessor& processor, OLEStorage& storage) {
  auto root = OpenDWXFolder2(storage);
  if (!root) return false;
  processor.Call(*root);
  return true;
}

DWX_OutFolder2& DWX_FolderHandler_Out2::Folder() {
  if (!m_folder) Error(FE_StorageInvalidPointer);
  return *m_folder;
}

DWX_InFolder2& DWX_FolderHandler_In2::Folder() {
  DWX_InFolder2* folder = FolderOrNull();
  if (!folder) Error(FE_StorageInvalidPointer);
  return *folder;
}

void DWX_ProcessorWithStyle_Out::StoreStyleRef(DWX_OutFolder& folder, dwx_long id,
                                               const char* name) {
  StyleRefSaver saver(id);
  folder.ProcessStream(saver, ft_Long, name, 0);
}

bool DWX_ProcessorWithStyle_In::RestoreStyleRef(DWX_InFolder& folder, dwx_long& id,
                                                const char* name) {
  StyleRefReader reader(id);
  return folder.ProcessStream(reader, ft_Long, name, 0);
}

#include "Container/Storage/CodeFolder.h"

#include "Container/Storage/Errors.h"
#include "Container/Storage/MemFile.h"
#include "Container/Storage/ReadGrowing.h"

#include <cstdio>
#include <cstring>
#include <set>
#include <unordered_map>
#include <vector>

std::string CF_NameComposer::FolderPrefix(uint32_t number) const {
  char digits[12];
  std::snprintf(digits, sizeof digits, "%X", number);
  return m_prefix + kItemSeparator + digits;
}

bool CF_NameComposer::IsReserved(const char* name) {
  return !name || std::strchr(name, kItemSeparator) || std::strchr(name, kTableMark);
}

namespace {

using FolderKey = std::pair<std::string, int32_t>;  // byte-wise name, then signed index

// The streams of a code file filed by the folder they lie directly in, read from the code
// file's directory in one pass the first time any folder of a tree is asked for its streams.
// Asking the directory itself for each folder would read all of it once per folder, which for
// a walk through every folder grows with the square of the number of streams.
class StreamsByFolder {
 public:
  explicit StreamsByFolder(CF_EnumerableInStorage* file) : m_file(file) {}

  // Calls the receiver, in directory order, with each stream directly below the folder of
  // this prefix, or with a null prefix each stream outside every folder.
  bool Enumerate(const std::string* prefix, IdentifierReceiver& receiver) {
    if (!m_file) return true;
    if (!m_built) Build();
    const std::vector<Item>* items = &m_plain;
    if (prefix) {
      const auto folder = m_folders.find(*prefix);
      if (folder == m_folders.end()) return true;
      items = &folder->second;
    }
    for (const Item& item : *items)
      if (!receiver(&m_names[item.name], item.tag)) return false;
    return true;
  }

 private:
  struct Item {
    size_t name;  // where its name (without prefix and separator) starts in m_names
    uint32_t tag;
  };

  // A stream P + 0x01 + n lies in the folder P when n holds no separator: P ends at the last
  // 0x01. A name without either separator lies outside every folder; every other one (a folder
  // table, a reserved name) in none.
  class Sorter : public IdentifierReceiver {
   public:
    explicit Sorter(StreamsByFolder& index) : m_index(index) {}
    bool operator()(const char* name, uint32_t tag) override {
      const char* item = std::strrchr(name, CF_NameComposer::kItemSeparator);
      const char* rest = item ? item + 1 : name;
      if (std::strchr(rest, CF_NameComposer::kTableMark)) return true;
      std::vector<Item>* items = &m_index.m_plain;
      if (item) {
        m_prefix.assign(name, item);
        items = &m_index.m_folders[m_prefix];
      }
      items->push_back(Item{m_index.m_names.size(), tag});
      m_index.m_names.append(rest, std::strlen(rest) + 1);
      return true;
    }

   private:
    StreamsByFolder& m_index;
    std::string m_prefix;
  };

  void Build() {
    try {
      Sorter sorter(*this);
      m_file->EnumerateStreams(sorter);
    } catch (...) {
      // Asked again, the directory is read again.
      m_names.clear();
      m_plain.clear();
      m_folders.clear();
      throw;
    }
    m_built = true;
  }

  CF_EnumerableInStorage* m_file;  // null when the code file cannot enumerate
  bool m_built = false;
  std::string m_names;                                        // every name, each ended by NUL
  std::vector<Item> m_plain;                                  // outside every folder
  std::unordered_map<std::string, std::vector<Item>> m_folders;  // by folder prefix
};

// The flattened name of a stream, composed in `scratch`: a folder's streams are named one after
// the other, so the one string is reused instead of a new one made for each.
const char* Composed(const CF_NameComposer& names, const char* name, std::string& scratch) {
  scratch.assign(names.Prefix());
  scratch += CF_NameComposer::kItemSeparator;
  scratch += name;
  return scratch.c_str();
}

class CF_OutFolderImpl : public CF_OutFolder {
 public:
  CF_OutFolderImpl(CF_OutStorage& file, std::string prefix)
      : m_file(file), m_names(std::move(prefix)) {}

  ~CF_OutFolderImpl() override {
    if (m_finished) return;
    try {
      Finish();
    } catch (...) {
      WarnAboutCurrentException();
    }
  }

  void SetProperty(int32_t id, const Variant& value) override { m_file.SetProperty(id, value); }

  std::unique_ptr<CF_OutStream> CreateStream(const char* name, uint32_t tag,
                                             int32_t compression) override {
    if (CF_NameComposer::IsReserved(name)) Error(FE_StorageInvalidName);
    return m_file.CreateStream(Composed(m_names, name, m_scratch), tag, compression);
  }

  CF_OutStream* RenameStream(const char* oldName, uint32_t oldTag, const char* newName,
                             uint32_t newTag) override {
    if (CF_NameComposer::IsReserved(oldName) || CF_NameComposer::IsReserved(newName))
      return nullptr;
    return m_file.RenameStream(m_names.StreamName(oldName).c_str(), oldTag,
                               m_names.StreamName(newName).c_str(), newTag);
  }

  std::unique_ptr<CF_OutFolder> CreateFolder(const char* name, int32_t index) override {
    if (!name) Error(FE_StorageInvalidName);
    const auto number = static_cast<uint32_t>(m_table.size());
    const auto entry = m_table.emplace(FolderKey(name, index), number).first;
    return std::make_unique<CF_OutFolderImpl>(m_file, m_names.FolderPrefix(entry->second));
  }

  void Finish() override {
    if (m_finished) return;
    m_finished = true;
    MemFile table;
    for (const auto& [key, number] : m_table) {
      PutU32(table, static_cast<uint32_t>(key.first.size() + 1));
      table.PutData(key.first.c_str(), static_cast<uint32_t>(key.first.size() + 1));
      PutU32(table, static_cast<uint32_t>(key.second));
      PutU32(table, number);
    }
    auto stream = m_file.CreateStream(m_names.TableName().c_str(), 0, cf_Automatic);
    if (table.Size()) stream->PutData(table.Data(), table.Size());
    stream->Finish();
  }

 private:
  CF_OutStorage& m_file;
  CF_NameComposer m_names;
  std::string m_scratch;
  std::map<FolderKey, uint32_t> m_table;  // (name, index) -> sub-folder number
  bool m_finished = false;
};

uint32_t ReadRecordWord(InStream& stream) {
  uint32_t value = 0;
  if (!GetU32(stream, value)) Error(FE_CodeFileShortRead);
  return value;
}

class CF_InFolderImpl : public CF_EnumerableInFolder {
 public:
  CF_InFolderImpl(CF_InStorage& file, std::shared_ptr<StreamsByFolder> streams, std::string prefix)
      : m_file(file), m_streams(std::move(streams)), m_names(std::move(prefix)) {
    auto stream = m_file.OpenStream(m_names.TableName().c_str(), 0);
    if (!stream) Error(FE_CodeFileShortRead);
    std::vector<uint8_t> name;
    std::set<uint32_t> numbers;
    for (;;) {
      uint8_t word[4];
      const uint32_t got = stream->GetData(word, 4);
      if (got == 0) break;  // the table is complete
      if (got < 4) Error(FE_CodeFileShortRead);
      const uint32_t length = uint32_t(word[0]) | uint32_t(word[1]) << 8 |
                              uint32_t(word[2]) << 16 | uint32_t(word[3]) << 24;
      if (length == 0) Error(FE_CodeFileShortRead);  // not even the terminator
      // A length no data of the table could fill is refused before any room is made for it.
      const uint64_t deliverable = stream->Deliverable();
      if (length > deliverable)
        NameTooLong(length, "more than the rest of the table can hold (" + std::to_string(deliverable) + " bytes)");
      if (!ReadGrowing(*stream, name, length)) NameTooLong(length, "more than the table holds");
      name.back() = 0;
      const auto index = static_cast<int32_t>(ReadRecordWord(*stream));
      const uint32_t number = ReadRecordWord(*stream);
      if (!m_table.emplace(FolderKey(reinterpret_cast<const char*>(name.data()), index), number)
               .second)
        Error(FE_CodeFileShortRead);  // a pair listed twice
      // Two pairs sharing a sub-folder would read one element's data as another's as well.
      if (!numbers.insert(number).second) Error(FE_CodeFileShortRead);
    }
  }

  Variant GetProperty(int32_t id) override { return m_file.GetProperty(id); }

  std::unique_ptr<CF_InStream> OpenStream(const char* name, uint32_t tag) override {
    if (CF_NameComposer::IsReserved(name)) return nullptr;
    return m_file.OpenStream(Composed(m_names, name, m_scratch), tag);
  }

  // The table's next record names a name of `length` bytes, which its data cannot give.
  [[noreturn]] void NameTooLong(uint32_t length, const std::string& than) const {
    std::string folder = m_names.Prefix().empty() ? "the root folder" : "folder ";
    for (char c : m_names.Prefix()) folder += c == CF_NameComposer::kItemSeparator ? '/' : c;
    throw FilterException(FE_CodeFileShortRead, "damaged code file: record " + std::to_string(m_table.size()) +
                                                    " of the table of " + folder + " names a name of " +
                                                    std::to_string(length) + " bytes, " + than);
  }

  std::unique_ptr<CF_InFolder> OpenFolder(const char* name, int32_t index) override {
    return OpenEnumerableFolder(name, index);
  }

  std::unique_ptr<CF_EnumerableInFolder> OpenEnumerableFolder(const char* name,
                                                              int32_t index) override {
    if (!name) return nullptr;
    const auto entry = m_table.find(FolderKey(name, index));
    if (entry == m_table.end()) return nullptr;
    return std::make_unique<CF_InFolderImpl>(m_file, m_streams, m_names.FolderPrefix(entry->second));
  }

  bool EnumerateStreams(IdentifierReceiver& receiver) override {
    return m_streams->Enumerate(&m_names.Prefix(), receiver);
  }

  std::unique_ptr<CF_EnumerableInStorage> OpenUnfoldedStorage() override;

  bool EnumerateFolders(IdentifierReceiver& receiver) override {
    for (const auto& [key, number] : m_table)
      if (!receiver(key.first.c_str(), static_cast<uint32_t>(key.second))) return false;
    return true;
  }

 private:
  CF_InStorage& m_file;
  std::shared_ptr<StreamsByFolder> m_streams;  // shared by every folder of the tree
  CF_NameComposer m_names;
  std::string m_scratch;
  std::map<FolderKey, uint32_t> m_table;
};

// The streams of a code file that lie outside every folder.
class CF_UnfoldedStorage : public CF_EnumerableInStorage {
 public:
  CF_UnfoldedStorage(CF_InStorage& file, std::shared_ptr<StreamsByFolder> streams)
      : m_file(file), m_streams(std::move(streams)) {}

  Variant GetProperty(int32_t id) override { return m_file.GetProperty(id); }

  std::unique_ptr<CF_InStream> OpenStream(const char* name, uint32_t tag) override {
    if (CF_NameComposer::IsReserved(name)) return nullptr;
    return m_file.OpenStream(name, tag);
  }

  bool EnumerateStreams(IdentifierReceiver& receiver) override {
    return m_streams->Enumerate(nullptr, receiver);
  }

 private:
  CF_InStorage& m_file;
  std::shared_ptr<StreamsByFolder> m_streams;
};

std::unique_ptr<CF_EnumerableInStorage> CF_InFolderImpl::OpenUnfoldedStorage() {
  return std::make_unique<CF_UnfoldedStorage>(m_file, m_streams);
}

}  // namespace

std::unique_ptr<CF_OutFolder> CreateCodeFolder(CF_OutStorage& file) {
  return std::make_unique<CF_OutFolderImpl>(file, std::string());
}

std::unique_ptr<CF_InFolder> OpenCodeFolder(CF_InStorage& file) {
  return std::make_unique<CF_InFolderImpl>(
      file, std::make_shared<StreamsByFolder>(dynamic_cast<CF_EnumerableInStorage*>(&file)), std::string());
}

std::unique_ptr<CF_EnumerableInFolder> OpenEnumerableCodeFolder(CF_EnumerableInStorage& file) {
  return std::make_unique<CF_InFolderImpl>(file, std::make_shared<StreamsByFolder>(&file), std::string());
}

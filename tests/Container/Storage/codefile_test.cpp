// Code files and code folders in memory: exact bytes, round trips, versions and damaged input.
#include "Container/Storage/CodeFolder.h"
#include "Container/Storage/Errors.h"
#include "Container/Storage/MemFile.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <functional>
#include <map>
#include <random>
#include <set>
#include <string>
#include <tuple>
#include <vector>

#include "TestStreams.h"

namespace {

using Bytes = std::vector<uint8_t>;

struct MemoryCodeFile {
  MemFile code;
  MemFile summary;

  std::unique_ptr<CF_OutStorage> Create(bool compress) {
    return CreateCodeFile(std::make_unique<CF_MemoryMedium>(code, summary), compress);
  }
  std::unique_ptr<CF_EnumerableInStorage> Open() {
    return OpenEnumerableCodeFile(std::make_unique<CF_MemoryMedium>(code, summary));
  }
  Bytes CodeBytes() const { return Bytes(code.Data(), code.Data() + code.Size()); }
  void SetCode(const Bytes& bytes) {
    code.Clear();
    if (!bytes.empty()) code.PutData(bytes.data(), static_cast<uint32_t>(bytes.size()));
  }
  void SetVersion(int major, int minor) {
    PropertySet set(kCodeFileSummaryName);
    if (major >= 0) set += Property(kCodeFileMajorVersionId, Variant(uint16_t(major)));
    if (minor >= 0) set += Property(kCodeFileMinorVersionId, Variant(uint16_t(minor)));
    summary.Clear();
    set.Write(summary);
  }
};

Bytes ReadAll(InStream& in) {
  Bytes all;
  uint8_t buffer[777];  // an odd size crosses page and chunk boundaries at odd places
  for (uint32_t got; (got = in.GetData(buffer, sizeof buffer)) > 0;)
    all.insert(all.end(), buffer, buffer + got);
  return all;
}

void Write(CF_OutStream& s, const Bytes& bytes) {
  if (!bytes.empty()) s.PutData(bytes.data(), static_cast<uint32_t>(bytes.size()));
}

void PutLE32(Bytes& b, uint32_t v) {
  for (int i = 0; i < 4; ++i) b.push_back(uint8_t(v >> (8 * i)));
}

uint32_t LE32(const Bytes& b, size_t at) {
  return uint32_t(b[at]) | uint32_t(b[at + 1]) << 8 | uint32_t(b[at + 2]) << 16 |
         uint32_t(b[at + 3]) << 24;
}

struct Collector : IdentifierReceiver {
  std::vector<std::pair<std::string, uint32_t>> items;
  bool operator()(const char* name, uint32_t tag) override {
    items.emplace_back(name, tag);
    return true;
  }
};

// Descriptor of stream i of a finished file: {id, tag, compression, table offset}.
struct Descriptor {
  uint32_t id, tag;
  uint8_t compression;
  uint32_t table;
};

std::vector<Descriptor> Directory(const Bytes& file) {
  std::vector<Descriptor> out;
  const uint32_t n = LE32(file, 0), d = LE32(file, 4);
  for (uint32_t i = 0; i < n; ++i) {
    const size_t at = d + 13 * i;
    out.push_back({LE32(file, at), LE32(file, at + 4), file[at + 8], LE32(file, at + 9)});
  }
  return out;
}

std::vector<std::pair<uint32_t, uint32_t>> ChunkTable(const Bytes& file, uint32_t at) {
  std::vector<std::pair<uint32_t, uint32_t>> chunks;
  const uint32_t c = LE32(file, at);
  for (uint32_t i = 0; i < c; ++i) chunks.emplace_back(LE32(file, at + 4 + 8 * i), LE32(file, at + 8 + 8 * i));
  return chunks;
}

// A code file of one stored stream in its root folder; answers its bytes.
Bytes SmallFile(MemoryCodeFile& f, const char* name = "name", const std::string& data = "data") {
  auto file = f.Create(false);
  auto root = CreateCodeFolder(*file);
  auto s = root->CreateStream(name, 0, cf_Stored);
  s->PutData(data.data(), uint32_t(data.size()));
  s.reset();
  root.reset();
  file->Finish();
  return f.CodeBytes();
}

// Appends `text` to `file` and behind it a stream table of one stored piece holding it; answers
// the table's offset.
uint32_t AppendStoredText(Bytes& file, const std::string& text) {
  const uint32_t data = uint32_t(file.size());
  file.insert(file.end(), text.begin(), text.end());
  const uint32_t table = uint32_t(file.size());
  PutLE32(file, 1);
  PutLE32(file, data);
  PutLE32(file, uint32_t(text.size()));
  return table;
}

// Appends to `file` (whose first 8 bytes are the header) a directory of {id, tag, table offset}
// records, all stored, and a name table, points the header at them and opens the result.
using Record = std::tuple<uint32_t, uint32_t, uint32_t>;
std::unique_ptr<CF_EnumerableInStorage> OpenWithDirectory(MemoryCodeFile& f, Bytes file,
                                                          const std::vector<Record>& records,
                                                          const std::vector<std::pair<std::string, uint32_t>>& names) {
  const uint32_t directory = uint32_t(file.size());
  for (const auto& [id, tag, table] : records) {
    PutLE32(file, id);
    PutLE32(file, tag);
    file.push_back(0);
    PutLE32(file, table);
  }
  PutLE32(file, uint32_t(names.size()));
  for (const auto& [name, id] : names) {
    file.insert(file.end(), {uint8_t(name.size()), 0});
    file.insert(file.end(), name.begin(), name.end());
    PutLE32(file, id);
  }
  for (int i = 0; i < 4; ++i) {
    file[i] = uint8_t(records.size() >> (8 * i));
    file[4 + i] = uint8_t(directory >> (8 * i));
  }
  f.SetCode(file);
  f.SetVersion(1, 1);
  return f.Open();
}

TEST(CodeFileFormat, GoldenFileWithOneStreamAndTheRootTable) {
  MemoryCodeFile f;
  SmallFile(f, "x", "AB");
  const Bytes expected = {
      0x02, 0x00, 0x00, 0x00, 0x22, 0x00, 0x00, 0x00, 0x41, 0x42, 0x01, 0x00, 0x00, 0x00, 0x08, 0x00,
      0x00, 0x00, 0x02, 0x00, 0x00, 0x00, 0x01, 0x00, 0x00, 0x00, 0x16, 0x00, 0x00, 0x00, 0x00, 0x00,
      0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x0A, 0x00, 0x00, 0x00, 0x01,
      0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x16, 0x00, 0x00, 0x00, 0x02, 0x00, 0x00, 0x00,
      0x02, 0x00, 0x01, 0x78, 0x00, 0x00, 0x00, 0x00, 0x01, 0x00, 0x02, 0x01, 0x00, 0x00, 0x00};
  EXPECT_EQ(f.CodeBytes(), expected);
  EXPECT_EQ(f.summary.Size(), 88u);

  auto in = f.Open();
  EXPECT_TRUE(in->GetProperty(kCodeFileMajorVersionId) == uint16_t(1));
  EXPECT_TRUE(in->GetProperty(kCodeFileMinorVersionId) == uint16_t(1));
  auto folder = OpenEnumerableCodeFolder(*in);
  auto s = folder->OpenStream("x", 0);
  ASSERT_TRUE(s);
  EXPECT_EQ(ReadAll(*s), (Bytes{'A', 'B'}));
  EXPECT_FALSE(folder->OpenStream("x", 1));
  EXPECT_FALSE(folder->OpenStream("y", 0));
}

TEST(CodeFileFormat, ChunksAndCompressionModes) {
  MemoryCodeFile f;
  std::mt19937 random(7);
  Bytes noise(4096);
  for (auto& b : noise) b = uint8_t(random());
  {
    auto file = f.Create(true);
    file->CreateStream("empty0", 0, cf_Stored)->Finish();
    file->CreateStream("empty2", 0, cf_Automatic)->Finish();
    file->CreateStream("empty1", 0, cf_Compressed)->Finish();
    auto page = file->CreateStream("page", 0, cf_Stored);
    Write(*page, noise);
    page->Finish();
    auto same = file->CreateStream("same100", 0, cf_Automatic);
    Write(*same, Bytes(100, 'z'));
    same->Finish();
    auto rnd = file->CreateStream("random100", 0, cf_Automatic);
    Write(*rnd, Bytes(noise.begin(), noise.begin() + 100));
    rnd->Finish();
    auto full = file->CreateStream("random1024", 0, cf_Automatic);
    Write(*full, Bytes(noise.begin(), noise.begin() + 1024));  // a full buffer decides: compress
    full->Finish();
    file->Finish();
  }
  const Bytes bytes = f.CodeBytes();
  const auto dir = Directory(bytes);
  ASSERT_EQ(dir.size(), 7u);
  // ids in order of first use
  const uint8_t compression[] = {0, 0, 1, 0, 1, 0, 1};
  for (uint32_t i = 0; i < 7; ++i) {
    EXPECT_EQ(dir[i].id, i);
    EXPECT_EQ(dir[i].compression, compression[i]) << i;
  }
  EXPECT_EQ(ChunkTable(bytes, dir[0].table).size(), 1u);
  EXPECT_EQ(ChunkTable(bytes, dir[0].table)[0].second, 0u);
  const auto empty1 = ChunkTable(bytes, dir[2].table);
  ASSERT_EQ(empty1.size(), 1u);
  EXPECT_EQ(Bytes(bytes.begin() + empty1[0].first, bytes.begin() + empty1[0].first + empty1[0].second),
            (Bytes{0x28, 0x91, 0x03, 0x00, 0x00, 0x00, 0x00, 0x01}));
  // 4096 stored bytes: a full page and an empty one, the last written listed first.
  const auto page = ChunkTable(bytes, dir[3].table);
  ASSERT_EQ(page.size(), 2u);
  EXPECT_EQ(page[0].first, page[1].first + 4096);
  EXPECT_EQ(page[0].second, 0u);
  EXPECT_EQ(page[1].second, 4096u);

  auto in = f.Open();
  auto s = in->OpenStream("random1024", 0);
  EXPECT_EQ(ReadAll(*s), Bytes(noise.begin(), noise.begin() + 1024));
  s = in->OpenStream("empty1", 0);
  EXPECT_TRUE(ReadAll(*s).empty());
}

TEST(CodeFileFormat, CompressionOffStoresEverything) {
  MemoryCodeFile f;
  {
    auto file = f.Create(false);
    auto s = file->CreateStream("a", 0, cf_Compressed);
    Write(*s, Bytes(5000, 'a'));
    s->Finish();
    file->Finish();
  }
  const auto dir = Directory(f.CodeBytes());
  ASSERT_EQ(dir.size(), 1u);
  EXPECT_EQ(dir[0].compression, 0);
  EXPECT_EQ(ChunkTable(f.CodeBytes(), dir[0].table).size(), 2u);
}

TEST(CodeFileFormat, SharedNamesTagsAndRenaming) {
  MemoryCodeFile f;
  {
    auto file = f.Create(true);
    auto a1 = file->CreateStream("a", 1, cf_Automatic);
    auto a0 = file->CreateStream("a", 0, cf_Automatic);
    auto b = file->CreateStream("b", 0, cf_Automatic);
    Write(*b, Bytes{'b'});
    EXPECT_EQ(file->RenameStream("b", 0, "c", 5), b.get());
    EXPECT_EQ(file->RenameStream("b", 0, "d", 0), nullptr);  // no longer there
    EXPECT_EQ(file->RenameStream("c", 5, "a", 1), nullptr);  // taken
    Write(*a1, Bytes{'1'});
    Write(*a0, Bytes{'0'});
    a0->Finish();
    EXPECT_EQ(file->RenameStream("a", 0, "e", 0), nullptr);  // finished
    // a1 and the renamed stream are still open: finishing the file finishes them.
    file->Finish();
    EXPECT_EQ(CodeOf([&] { Write(*a1, Bytes{'x'}); }), FE_StorageReverted);
  }
  const Bytes bytes = f.CodeBytes();
  const auto dir = Directory(bytes);
  ASSERT_EQ(dir.size(), 3u);
  // (tag, id) order: (0, a), (1, a), (5, c)
  EXPECT_EQ(dir[0].tag, 0u);
  EXPECT_EQ(dir[0].id, 0u);
  EXPECT_EQ(dir[1].tag, 1u);
  EXPECT_EQ(dir[1].id, 0u);
  EXPECT_EQ(dir[2].tag, 5u);
  EXPECT_EQ(dir[2].id, 2u);  // "b" took id 1 and keeps it without a finished stream
  const uint32_t names = LE32(bytes, LE32(bytes, 4) + 13 * 3);
  EXPECT_EQ(names, 2u);  // "a" once, "c"; "b" has no finished stream

  auto in = f.Open();
  Collector all;
  EXPECT_TRUE(in->EnumerateStreams(all));
  EXPECT_EQ(all.items, (std::vector<std::pair<std::string, uint32_t>>{{"a", 0}, {"a", 1}, {"c", 5}}));
  EXPECT_EQ(ReadAll(*in->OpenStream("a", 1)), (Bytes{'1'}));
  EXPECT_EQ(ReadAll(*in->OpenStream("c", 5)), (Bytes{'b'}));
  EXPECT_FALSE(in->OpenStream("b", 0));
}

TEST(CodeFolders, FlattenedNamesAndTableBytes) {
  MemoryCodeFile f;
  {
    auto file = f.Create(false);
    auto root = CreateCodeFolder(*file);
    auto a1 = root->CreateFolder("a", 1);
    auto a0 = root->CreateFolder("a", 0);
    auto b = root->CreateFolder("b", -1);
    root->CreateFolder("a", 1).reset();  // the same pair again: the same number
    for (int k = 3; k <= 16; ++k) root->CreateFolder("n", k).reset();
    auto y = a1->CreateStream("y", 0, cf_Stored);
    Write(*y, Bytes{'y'});
    EXPECT_EQ(CodeOf([&] { a1->CreateStream("bad\x01name", 0, cf_Stored); }), FE_StorageInvalidName);
    y.reset();
    a1.reset();
    a0.reset();
    b.reset();
    root.reset();
    file->Finish();
  }
  auto in = f.Open();
  Collector names;
  in->EnumerateStreams(names);
  std::set<std::string> flat;
  for (const auto& item : names.items) flat.insert(item.first);
  EXPECT_TRUE(flat.count(std::string("\x01" "0\x01y")));
  EXPECT_TRUE(flat.count(std::string("\x01" "0\x02")));
  EXPECT_TRUE(flat.count(std::string("\x01" "A\x02")));   // the eleventh sub-folder
  EXPECT_TRUE(flat.count(std::string("\x01" "10\x02")));  // the seventeenth
  EXPECT_TRUE(flat.count(std::string("\x02")));

  auto table = in->OpenStream("\x02", 0);
  const Bytes bytes = ReadAll(*table);
  const Bytes head = {2, 0, 0, 0, 'a', 0, 0, 0, 0, 0, 1, 0, 0, 0,          //
                      2, 0, 0, 0, 'a', 0, 1, 0, 0, 0, 0, 0, 0, 0,          //
                      2, 0, 0, 0, 'b', 0, 0xFF, 0xFF, 0xFF, 0xFF, 2, 0, 0, 0};
  EXPECT_EQ(Bytes(bytes.begin(), bytes.begin() + head.size()), head);

  auto root = OpenEnumerableCodeFolder(*in);
  Collector folders;
  EXPECT_TRUE(root->EnumerateFolders(folders));
  ASSERT_EQ(folders.items.size(), 17u);
  EXPECT_EQ(folders.items[2], (std::pair<std::string, uint32_t>{"b", 0xFFFFFFFF}));
  auto a1 = root->OpenFolder("a", 1);
  ASSERT_TRUE(a1);
  EXPECT_EQ(ReadAll(*a1->OpenStream("y", 0)), (Bytes{'y'}));
  EXPECT_FALSE(root->OpenFolder("a", 2));
  EXPECT_FALSE(root->OpenStream("y", 0));
  auto n16 = root->OpenEnumerableFolder("n", 16);
  ASSERT_TRUE(n16);
  Collector none;
  EXPECT_TRUE(n16->EnumerateFolders(none));
  EXPECT_TRUE(n16->EnumerateStreams(none));
  EXPECT_TRUE(none.items.empty());
}

TEST(CodeFolders, EnumerationSeparatesFoldersFromPlainNames) {
  MemoryCodeFile f;
  {
    auto file = f.Create(true);
    file->CreateStream("plain", 0, cf_Automatic)->Finish();
    auto root = CreateCodeFolder(*file);
    root->CreateStream("top", 3, cf_Automatic)->Finish();
    auto sub = root->CreateFolder("sub", 0);
    sub->CreateStream("deep", 0, cf_Automatic)->Finish();
    sub->Finish();
    root->Finish();
    file->Finish();
  }
  auto in = f.Open();
  auto root = OpenEnumerableCodeFolder(*in);
  Collector top;
  root->EnumerateStreams(top);
  EXPECT_EQ(top.items, (std::vector<std::pair<std::string, uint32_t>>{{"top", 3}}));
  auto unfolded = root->OpenUnfoldedStorage();
  Collector plain;
  unfolded->EnumerateStreams(plain);
  EXPECT_EQ(plain.items, (std::vector<std::pair<std::string, uint32_t>>{{"plain", 0}}));
  EXPECT_TRUE(unfolded->OpenStream("plain", 0));
  EXPECT_FALSE(unfolded->OpenStream("\x02", 0));
  Collector stop;
  struct StopAtOnce : IdentifierReceiver {
    bool operator()(const char*, uint32_t) override { return false; }
  } stopper;
  EXPECT_FALSE(in->EnumerateStreams(stopper));
}

// Each folder lists, in directory order, exactly the streams whose name is its prefix, the
// separator and a name without separators; a walk through every folder asks the code file for
// its directory once, not once per folder.
TEST(CodeFolders, AWalkReadsTheDirectoryOnceAndEachFolderListsItsOwnStreams) {
  MemoryCodeFile f;
  {
    auto file = f.Create(false);
    // Names that only a raw writer makes: a table mark after a folder's separator, and plain ones.
    file->CreateStream("plain", 0, cf_Stored)->Finish();
    file->CreateStream("\x01" "1\x01" "marked\x02", 0, cf_Stored)->Finish();
    file->CreateStream("\x01" "1\x01", 5, cf_Stored)->Finish();  // an empty name in folder 1
    auto root = CreateCodeFolder(*file);
    root->CreateStream("top", 3, cf_Stored)->Finish();
    // Seventeen sub-folders: the prefixes of folders 1 and 16 ("1" and "10") begin alike.
    for (int32_t i = 0; i < 17; ++i) {
      auto sub = root->CreateFolder("sub", i);
      sub->CreateStream(("s" + std::to_string(i)).c_str(), uint32_t(i), cf_Stored)->Finish();
      sub->CreateStream("shared", 1, cf_Stored)->Finish();
      auto deep = sub->CreateFolder("deep", 0);
      deep->CreateStream("d", 0, cf_Stored)->Finish();
      deep->Finish();
      sub->Finish();
    }
    root->Finish();
    file->Finish();
  }
  auto in = f.Open();
  Collector flat;
  in->EnumerateStreams(flat);

  // Passes everything on and counts the reads of the directory.
  struct Counting : CF_EnumerableInStorage {
    CF_EnumerableInStorage& file;
    int enumerations = 0;
    explicit Counting(CF_EnumerableInStorage& f) : file(f) {}
    Variant GetProperty(int32_t id) override { return file.GetProperty(id); }
    std::unique_ptr<CF_InStream> OpenStream(const char* name, uint32_t tag) override {
      return file.OpenStream(name, tag);
    }
    bool EnumerateStreams(IdentifierReceiver& receiver) override {
      ++enumerations;
      return file.EnumerateStreams(receiver);
    }
  } counting(*in);

  // What a folder of this prefix holds, straight from the flat directory.
  const auto expected = [&flat](const std::string* prefix) {
    std::vector<std::pair<std::string, uint32_t>> items;
    for (const auto& [name, tag] : flat.items) {
      std::string rest = name;
      if (prefix) {
        if (name.compare(0, prefix->size(), *prefix) != 0 || name.size() <= prefix->size() ||
            name[prefix->size()] != '\x01')
          continue;
        rest = name.substr(prefix->size() + 1);
      }
      if (rest.find_first_of("\x01\x02") == std::string::npos) items.emplace_back(rest, tag);
    }
    return items;
  };

  auto root = OpenEnumerableCodeFolder(counting);
  size_t folders = 0;
  std::function<void(CF_EnumerableInFolder&, const std::string&)> walk =
      [&](CF_EnumerableInFolder& folder, const std::string& prefix) {
        ++folders;
        Collector streams;
        EXPECT_TRUE(folder.EnumerateStreams(streams));
        EXPECT_EQ(streams.items, expected(&prefix)) << prefix;
        Collector subs;
        folder.EnumerateFolders(subs);
        for (const auto& [name, index] : subs.items) {
          auto sub = folder.OpenEnumerableFolder(name.c_str(), int32_t(index));
          ASSERT_TRUE(sub);
          // Sub-folders are numbered in the order of creation: ("sub", i) is i, ("deep", 0) is 0.
          char digits[12];
          std::snprintf(digits, sizeof digits, "%X", name == "sub" ? index : 0u);
          walk(*sub, prefix + "\x01" + digits);
        }
      };
  walk(*root, "");
  EXPECT_EQ(folders, 1u + 17u + 17u);

  Collector plain;
  root->OpenUnfoldedStorage()->EnumerateStreams(plain);
  EXPECT_EQ(plain.items, expected(nullptr));
  EXPECT_EQ(counting.enumerations, 1);

  // A receiver that stops ends the listing there.
  struct StopAfterOne : IdentifierReceiver {
    int seen = 0;
    bool operator()(const char*, uint32_t) override { return ++seen < 1; }
  } stop;
  EXPECT_FALSE(root->OpenEnumerableFolder("sub", 1)->EnumerateStreams(stop));
  EXPECT_EQ(stop.seen, 1);
}

TEST(CodeFolders, TheTableWrittenLastWins) {
  MemoryCodeFile f;
  {
    auto file = f.Create(false);
    auto first = CreateCodeFolder(*file);
    auto second = CreateCodeFolder(*file);
    first->CreateFolder("one", 0);
    second->CreateFolder("two", 0);
    first.reset();
    second.reset();
    file->Finish();
  }
  auto in = f.Open();
  auto root = OpenEnumerableCodeFolder(*in);
  EXPECT_FALSE(root->OpenFolder("one", 0));
  EXPECT_TRUE(root->OpenFolder("two", 0));
}

// ---- Randomized round trip ------------------------------------------------------------------

struct Expected {
  std::map<std::pair<std::string, uint32_t>, Bytes> streams;  // (name, tag) -> bytes
  std::map<std::pair<std::string, int32_t>, std::unique_ptr<Expected>> folders;
};

Bytes Content(std::mt19937& random, size_t size, bool compressible) {
  Bytes b(size);
  for (size_t i = 0; i < size; ++i) b[i] = compressible ? uint8_t("kesto"[(i / 7) % 5]) : uint8_t(random());
  return b;
}

void Verify(CF_EnumerableInFolder& folder, const Expected& expected, size_t& streams) {
  Collector names;
  ASSERT_TRUE(folder.EnumerateStreams(names));
  std::set<std::pair<std::string, uint32_t>> listed(names.items.begin(), names.items.end());
  ASSERT_EQ(listed.size(), names.items.size());
  std::set<std::pair<std::string, uint32_t>> written;
  for (const auto& [key, bytes] : expected.streams) written.insert(key);
  ASSERT_EQ(listed, written);
  // Several streams open at once, read in interleaved pieces.
  std::vector<std::pair<std::unique_ptr<CF_InStream>, const Bytes*>> open;
  for (const auto& [key, bytes] : expected.streams) {
    auto s = folder.OpenStream(key.first.c_str(), key.second);
    ASSERT_TRUE(s);
    open.emplace_back(std::move(s), &bytes);
    if (open.size() == 4) {
      std::vector<Bytes> got(open.size());
      for (bool more = true; more;) {
        more = false;
        for (size_t i = 0; i < open.size(); ++i) {
          uint8_t piece[3000];
          const uint32_t n = open[i].first->GetData(piece, sizeof piece);
          got[i].insert(got[i].end(), piece, piece + n);
          more |= n > 0;
        }
      }
      for (size_t i = 0; i < open.size(); ++i) ASSERT_EQ(got[i], *open[i].second);
      streams += open.size();
      open.clear();
    }
  }
  for (auto& [s, bytes] : open) ASSERT_EQ(ReadAll(*s), *bytes);
  streams += open.size();

  Collector folders;
  ASSERT_TRUE(folder.EnumerateFolders(folders));
  ASSERT_EQ(folders.items.size(), expected.folders.size());
  for (const auto& [key, sub] : expected.folders) {
    auto child = folder.OpenEnumerableFolder(key.first.c_str(), key.second);
    ASSERT_TRUE(child) << key.first;
    Verify(*child, *sub, streams);
  }
}

void RoundTrip(bool compress, uint32_t seed) {
  std::mt19937 random(seed);
  const size_t kSizes[] = {0, 1, 1023, 1024, 1025, 4095, 4096, 4097, 8192, 12289, 100000};
  MemoryCodeFile f;
  Expected root;
  size_t written = 0;
  {
    auto file = f.Create(compress);
    auto rootFolder = CreateCodeFolder(*file);
    struct Level {
      CF_OutFolder* folder;
      Expected* expected;
    };
    std::vector<std::unique_ptr<CF_OutFolder>> folders;
    std::vector<Level> levels = {{rootFolder.get(), &root}};
    std::vector<std::pair<std::unique_ptr<CF_OutStream>, Bytes>> open;  // up to 8 at once
    while (written < 2500) {
      const Level level = levels[random() % levels.size()];
      if (random() % 10 == 0 && levels.size() < 200) {
        // One folder object per (name, index): two would number their sub-folders alike.
        const std::string name = "F" + std::to_string(random() % 4);
        const int32_t index = int32_t(random() % 3) - 1;
        auto& slot = level.expected->folders[{name, index}];
        if (slot) continue;
        slot = std::make_unique<Expected>();
        folders.push_back(level.folder->CreateFolder(name.c_str(), index));
        levels.push_back({folders.back().get(), slot.get()});
        continue;
      }
      const std::string name = "s" + std::to_string(written);
      const uint32_t tag = random() % 3 == 0 ? 1 : 0;
      const size_t size = kSizes[random() % std::size(kSizes)] + (random() % 8 == 0 ? random() % 3 : 0);
      Bytes bytes = Content(random, size, random() % 2 == 0);
      level.expected->streams[{name, tag}] = bytes;
      open.emplace_back(level.folder->CreateStream(name.c_str(), tag, int32_t(random() % 3)), bytes);
      ++written;
      // Write the open streams in interleaved pieces, closing some of them.
      for (auto it = open.begin(); it != open.end();) {
        Bytes& rest = it->second;
        const size_t piece = std::min<size_t>(rest.size(), 1 + random() % 6000);
        if (piece) it->first->PutData(rest.data(), uint32_t(piece));
        rest.erase(rest.begin(), rest.begin() + piece);
        if (rest.empty() && (open.size() > 8 || random() % 2)) {
          if (random() % 2) it->first->Finish();
          it = open.erase(it);
        } else {
          ++it;
        }
      }
    }
    for (auto& [s, rest] : open) Write(*s, rest);
    open.clear();
    folders.clear();
    rootFolder.reset();
    file->Finish();
  }
  auto in = f.Open();
  auto rootIn = OpenEnumerableCodeFolder(*in);
  size_t read = 0;
  Verify(*rootIn, root, read);
  EXPECT_EQ(read, written);
}

TEST(CodeFileRoundTrip, ThousandsOfStreamsInNestedFoldersCompressed) { RoundTrip(true, 1); }
TEST(CodeFileRoundTrip, ThousandsOfStreamsInNestedFoldersStored) { RoundTrip(false, 2); }

// ---- Versions -------------------------------------------------------------------------------

// The directory as written is in key order with one record per key; a directory in another
// order is sorted, and of a key listed twice the later record counts.
TEST(CodeFileDamage, UnorderedDirectoryAndKeysListedTwice) {
  Bytes file(8);
  std::vector<uint32_t> tables;
  for (const char* text : {"one", "two", "three"})
    tables.push_back(AppendStoredText(file, text));
  // (id, tag, table): id 1 tag 0 twice, the later naming "three"; id 0 after id 1.
  MemoryCodeFile f;
  auto in = OpenWithDirectory(f, file, {{1, 0, tables[0]}, {0, 0, tables[1]}, {1, 0, tables[2]}, {0, 2, tables[0]}},
                              {{"a", 0}, {"b", 1}});
  Collector names;
  EXPECT_TRUE(in->EnumerateStreams(names));
  EXPECT_EQ(names.items, (std::vector<std::pair<std::string, uint32_t>>{{"a", 0}, {"b", 0}, {"a", 2}}));
  EXPECT_EQ(ReadAll(*in->OpenStream("a", 0)), (Bytes{'t', 'w', 'o'}));
  EXPECT_EQ(ReadAll(*in->OpenStream("b", 0)), (Bytes{'t', 'h', 'r', 'e', 'e'}));
  EXPECT_EQ(ReadAll(*in->OpenStream("a", 2)), (Bytes{'o', 'n', 'e'}));
  EXPECT_FALSE(in->OpenStream("b", 2));
}

// Streams written by turns lie in pieces of pages between each other's; read with requests of
// every size, each gives its own bytes back, whole pages run together or not.
TEST(CodeFileRoundTrip, StreamsWrittenByTurnsInterleaveTheirPages) {
  MemoryCodeFile f;
  const Bytes a = [] { Bytes b(50000); for (size_t i = 0; i < b.size(); ++i) b[i] = uint8_t(i * 7 + i / 300); return b; }();
  const Bytes b(30000, 'b');
  {
    auto file = f.Create(false);
    auto sa = file->CreateStream("a", 0, cf_Stored);
    auto sb = file->CreateStream("b", 0, cf_Stored);
    size_t ia = 0, ib = 0;
    for (uint32_t piece : {9000u, 100u, 4096u, 12288u, 3u, 20000u, 8192u}) {
      const uint32_t na = uint32_t(std::min<size_t>(piece, a.size() - ia));
      if (na) sa->PutData(a.data() + ia, na);
      ia += na;
      const uint32_t nb = uint32_t(std::min<size_t>(piece / 2 + 1, b.size() - ib));
      if (nb) sb->PutData(b.data() + ib, nb);
      ib += nb;
    }
    if (ia < a.size()) sa->PutData(a.data() + ia, uint32_t(a.size() - ia));
    if (ib < b.size()) sb->PutData(b.data() + ib, uint32_t(b.size() - ib));
    file->Finish();
  }
  auto in = f.Open();
  for (const uint32_t request : {1u, 777u, 4096u, 5000u, 65536u}) {
    for (const auto& [name, bytes] : {std::pair<const char*, const Bytes*>{"a", &a}, {"b", &b}}) {
      auto s = in->OpenStream(name, 0);
      Bytes all, buffer(request);
      for (uint32_t got; (got = s->GetData(buffer.data(), request)) > 0;) all.insert(all.end(), buffer.begin(), buffer.begin() + got);
      EXPECT_EQ(all, *bytes) << name << " " << request;
    }
  }
}

TEST(CodeFileVersions, NewerVersionsAreRefusedOlderOnesRead) {
  MemoryCodeFile f;
  SmallFile(f);
  f.SetVersion(1, 2);
  EXPECT_EQ(CodeOf([&] { f.Open(); }), FE_CodeFileVersion);
  f.SetVersion(2, 0);
  EXPECT_EQ(CodeOf([&] { f.Open(); }), FE_CodeFileVersion);
  f.SetVersion(0, 5);  // major 0: read in the current form
  EXPECT_TRUE(OpenCodeFolder(*f.Open())->OpenStream("name", 0));
}

// A summary that lost both versions, as a property-set tool keeping only the properties it knows
// leaves it, is read in the current layout; one that lost the major version alone is refused,
// naming it.
TEST(CodeFileVersions, ASummaryWithoutVersionsIsReadAsTheCurrentVersion) {
  MemoryCodeFile f;
  SmallFile(f);
  f.SetVersion(-1, -1);
  EXPECT_TRUE(OpenCodeFolder(*f.Open())->OpenStream("name", 0));
  f.SetVersion(-1, 1);
  const auto [code, text] = ErrorOf([&] { f.Open(); });
  EXPECT_EQ(code, FE_CodeFileVersion);
  EXPECT_NE(text.find("without the major one (property 3001)"), std::string::npos) << text;
}

TEST(CodeFileVersions, MinorVersionZeroKeepsNamesInTheDescriptors) {
  // Stream "\x02" (empty root table) and stream "\x01n" = "hi", written by hand.
  Bytes file(8);
  const uint32_t table = AppendStoredText(file, "hi");
  MemoryCodeFile f;
  auto in = OpenWithDirectory(f, file, {{4, 0, table}, {9, 0, table}}, {{"z", 9}, {"a", 9}, {"m", 4}});
  Collector names;
  EXPECT_TRUE(in->EnumerateStreams(names));
  EXPECT_EQ(names.items, (std::vector<std::pair<std::string, uint32_t>>{{"m", 0}, {"z", 0}}));
  for (const char* name : {"z", "a", "m"})
    EXPECT_EQ(ReadAll(*in->OpenStream(name, 0)), (Bytes{'h', 'i'})) << name;
}

// ---- Damaged files --------------------------------------------------------------------------

// The name table is the file's last part: a file cut short loses names first, and without them
// its streams would be missing, not damaged.
TEST(CodeFileDamage, AFileCutAnywhereRaisesAndSaysWhereItEnds) {
  MemoryCodeFile f;
  const Bytes good = SmallFile(f);
  const uint32_t directory = LE32(good, 4);
  const uint32_t names = directory + 13 * LE32(good, 0);
  for (size_t cut = 0; cut < good.size(); ++cut) {
    f.SetCode(Bytes(good.begin(), good.begin() + cut));
    const auto [code, text] = ErrorOf([&] {
      auto in = f.Open();
      auto root = OpenCodeFolder(*in);
      auto s = root->OpenStream("name", 0);
      if (s) ReadAll(*s);
    });
    EXPECT_EQ(code, FE_CodeFileShortRead) << cut;
    const std::string where = cut < 8 ? "the end of its header" : cut < directory ? "its directory" : cut < names ? "the end of its directory" : "name table";
    EXPECT_NE(text.find("cut short or with a wrong offset: its " + std::to_string(cut) + " bytes end before"), std::string::npos)
        << text;
    EXPECT_NE(text.find(where), std::string::npos) << cut << ": " << text;
  }
  // Counts and offsets beyond the file.
  for (const auto& [at, value] : std::vector<std::pair<size_t, uint32_t>>{
           {0, 0x7FFFFFFF}, {4, 0xFFFFFFF0}, {0, 0xFFFFFFFF}}) {
    Bytes bad = good;
    for (int i = 0; i < 4; ++i) bad[at + i] = uint8_t(value >> (8 * i));
    f.SetCode(bad);
    EXPECT_EQ(CodeOf([&] { f.Open(); }), FE_CodeFileShortRead);
  }
  // A chunk table that is not there, or claims more chunks than the file holds.
  for (uint32_t table : {0xFFFFFFFFu, uint32_t(good.size()), uint32_t(good.size() - 4)}) {
    Bytes bad = good;
    for (int i = 0; i < 4; ++i) bad[directory + 9 + i] = uint8_t(table >> (8 * i));
    f.SetCode(bad);
    auto in = f.Open();
    EXPECT_EQ(CodeOf([&] { in->OpenStream("\x01name", 0); }), FE_CodeFileShortRead) << table;
  }
}

TEST(CodeFileDamage, DamagedCompressedStreamRaisesZlibCode) {
  MemoryCodeFile f;
  {
    auto file = f.Create(true);
    auto s = file->CreateStream("z", 0, cf_Compressed);
    Write(*s, Bytes(20000, 'q'));
    file->Finish();
  }
  Bytes bad = f.CodeBytes();
  bad[8 + 2] ^= 0xFF;  // inside the deflate data
  f.SetCode(bad);
  auto in = f.Open();
  auto s = in->OpenStream("z", 0);
  EXPECT_EQ(CodeOf([&] { ReadAll(*s); }), FE_ZlibData);
}

Bytes FileWithRootTable(const Bytes& table) {
  MemoryCodeFile f;
  auto file = f.Create(false);
  auto s = file->CreateStream("\x02", 0, cf_Stored);
  Write(*s, table);
  s->Finish();
  file->Finish();
  return f.CodeBytes();
}

TEST(CodeFolderDamage, BadTablesGive34001WithoutACrash) {
  const Bytes record = {2, 0, 0, 0, 'a', 0, 1, 0, 0, 0, 0, 0, 0, 0};
  Bytes twice = record;
  twice.insert(twice.end(), record.begin(), record.end());
  const std::vector<Bytes> bad = {
      Bytes(record.begin(), record.begin() + 2),           // length cut
      Bytes(record.begin(), record.begin() + 6),           // name cut
      Bytes(record.begin(), record.begin() + 12),          // number cut
      {0, 0, 0, 0, 1, 0, 0, 0, 0, 0, 0, 0},                // zero name length
      {0xFF, 0xFF, 0xFF, 0xFF, 'a', 0, 1, 0, 0, 0, 0, 0},  // huge name length
      twice,                                               // a pair listed twice
  };
  for (const Bytes& table : bad) {
    MemoryCodeFile f;
    f.SetCode(FileWithRootTable(table));
    f.SetVersion(1, 1);
    auto in = f.Open();
    EXPECT_EQ(CodeOf([&] { OpenCodeFolder(*in); }), FE_CodeFileShortRead) << table.size();
  }
  MemoryCodeFile f;
  f.SetCode(FileWithRootTable(record));
  f.SetVersion(1, 1);
  auto in = f.Open();
  auto root = OpenCodeFolder(*in);
  // The sub-folder is listed but its table is missing.
  EXPECT_EQ(CodeOf([&] { root->OpenFolder("a", 1); }), FE_CodeFileShortRead);
  // No root table at all.
  MemoryCodeFile empty;
  empty.Create(false)->Finish();
  auto none = empty.Open();
  EXPECT_EQ(CodeOf([&] { OpenCodeFolder(*none); }), FE_CodeFileShortRead);
}

TEST(CodeFileLifetime, StreamsOutlivingTheirFileAreDetached) {
  MemoryCodeFile f;
  std::unique_ptr<CF_OutStream> late;
  {
    auto file = f.Create(true);
    late = file->CreateStream("late", 0, cf_Automatic);
    Write(*late, Bytes(3000, 'l'));
  }  // the destructor finishes the file and the open stream with it
  EXPECT_EQ(CodeOf([&] { Write(*late, Bytes{'x'}); }), FE_StorageReverted);
  late.reset();
  std::unique_ptr<CF_InStream> reading;
  {
    auto in = f.Open();
    reading = in->OpenStream("late", 0);
    EXPECT_EQ(ReadAll(*reading), Bytes(3000, 'l'));
  }
  uint8_t b;
  EXPECT_EQ(CodeOf([&] { reading->GetData(&b, 1); }), FE_StorageReverted);
}

}  // namespace

#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <functional>
#include <fstream>
#include <memory>
#include <stdexcept>

#include "Container/Storage/Errors.h"
#include "Container/Storage/MemFile.h"
#include "Container/Storage/OLEStorage.h"
#include "TempDir.h"
#include "TestStreams.h"

namespace fs = std::filesystem;

namespace {

class OLEStorageTest : public ::testing::Test {
 protected:
  void SetUp() override {
    m_temp = std::make_unique<TempDir>("kesto-ole");
    m_folder = m_temp->Path();
  }
  void TearDown() override { m_temp.reset(); }

  std::string Path(const char* name) const { return (m_folder / name).string(); }

  std::unique_ptr<TempDir> m_temp;
  fs::path m_folder;
};

void Write(OLEStream& stream, const std::vector<uint8_t>& bytes) {
  stream.PutData(bytes.data(), static_cast<uint32_t>(bytes.size()));
}

std::vector<uint8_t> ReadAll(OLEStream& stream) {
  std::vector<uint8_t> bytes(stream.GetSize());
  stream.Seek(0, SO_Begin);
  EXPECT_EQ(stream.GetData(bytes.data(), static_cast<uint32_t>(bytes.size())), bytes.size());
  return bytes;
}

std::vector<uint8_t> ClassIdBytes(const OLEStorage& storage) {
  RecordingOut out;
  storage.Stat().WriteClassId(out);
  return out.bytes;
}

void SetClassId(OLEStorage& storage, uint8_t seed) {
  std::vector<uint8_t> id(16);
  for (size_t i = 0; i < id.size(); ++i)
    id[i] = static_cast<uint8_t>(seed + i);
  VectorIn in(id);
  ASSERT_TRUE(storage.Stat().ReadClassId(in));
}

// root: storage "A" {class id, stream "s1" of 5000 bytes, empty stream "e", storage "B" {"x"}},
// stream "T"
void BuildTree(const std::string& path) {
  OLEStorage root(path.c_str(), CD_CreateWrite);
  {
    OLEStorage a(root, u"A", CD_CreateWrite);
    SetClassId(a, 0x10);
    OLEStream s1(a, u"s1", CD_CreateWrite);
    Write(s1, Pattern(5000, 3));
    OLEStream e(a, u"e", CD_CreateWrite);
    OLEStorage b(a, u"B", CD_CreateWrite);
    OLEStream x(b, u"x", CD_CreateWrite);
    Write(x, {1, 2, 3});
  }
  OLEStream t(root, u"T", CD_CreateWrite);
  Write(t, Pattern(100, 4));
  root.Flush();
}

// Items, their kinds, class ids and bytes, depth first.
std::string Describe(OLEStorage& storage) {
  std::string text;
  OLEStorageEnumerator items(storage);
  while (items.Next(1)) {
    text += OLEString(items.ItemName());
    if (items.ItemIsStorage()) {
      OLEStorage child = items.OpenStorage(CD_OpenRead);
      text += "{";
      for (uint8_t byte : ClassIdBytes(child))
        text += std::to_string(byte) + ".";
      text += Describe(child) + "}";
    } else {
      OLEStream stream = items.OpenStream(CD_OpenRead);
      const auto bytes = ReadAll(stream);
      uint32_t sum = 0;
      for (uint8_t byte : bytes)
        sum = sum * 31 + byte;
      text += "[" + std::to_string(bytes.size()) + ":" + std::to_string(sum) + "]";
    }
  }
  return text;
}

TEST_F(OLEStorageTest, OpeningFailuresHaveTheirCodes) {
  const std::string text = Path("text.dwq");
  std::ofstream(text) << "not a compound file, but long enough to have a header of some kind...";
  EXPECT_EQ(CodeOf([&] { OLEStorage s(text.c_str(), CD_OpenRead); }), 33005);
  EXPECT_FALSE(OLEObject::IsStorage(text.c_str()));
  EXPECT_EQ(CodeOf([&] { OLEStorage s(Path("absent.dwq").c_str(), CD_OpenRead); }), 33006);
  EXPECT_EQ(CodeOf([&] { OLEObject::IsStorage(Path("absent.dwq").c_str()); }), 33006);
  // Creating without write access is refused.
  EXPECT_EQ(CodeOf([&] { OLEStorage s(Path("new.dwq").c_str(), CD_Create); }), 33004);
  EXPECT_FALSE(OLEObject::Exists(Path("new.dwq").c_str()));

  BuildTree(Path("tree.dwq"));
  EXPECT_TRUE(OLEObject::Exists(Path("tree.dwq").c_str()));
  EXPECT_TRUE(OLEObject::IsStorage(Path("tree.dwq").c_str()));
}

TEST_F(OLEStorageTest, ExistenceTestsAnswerAbsenceAndRaiseOnInvalidNames) {
  BuildTree(Path("tree.dwq"));
  OLEStorage root(Path("tree.dwq").c_str(), CD_OpenRead);
  EXPECT_TRUE(root.StreamExists(u"T"));
  EXPECT_TRUE(root.StreamExists(u"t"));  // names compare without regard to case
  EXPECT_FALSE(root.StreamExists(u"A"));  // a storage
  EXPECT_TRUE(root.StorageExists(u"A"));
  EXPECT_FALSE(root.StreamExists(u"absent"));
  EXPECT_FALSE(root.StorageExists(u"absent"));
  EXPECT_EQ(CodeOf([&] { root.StreamExists(u"a/b"); }), 33000);
  EXPECT_EQ(CodeOf([&] { root.OpenStream(u"absent", CD_OpenRead); }), 33006);

  // An item that is open elsewhere still exists.
  OLEStorage a = root.OpenStorage(u"A", CD_OpenRead);
  EXPECT_TRUE(root.StorageExists(u"A"));
}

TEST_F(OLEStorageTest, AChildKeepsItsParentOpen) {
  const std::string path = Path("child.dwq");
  auto root = std::make_unique<OLEStorage>(path.c_str(), CD_CreateWrite);
  auto child = std::make_unique<OLEStorage>(*root, u"child", CD_CreateWrite);
  root.reset();
  {
    OLEStream stream(*child, u"data", CD_CreateWrite);
    Write(stream, {9, 8, 7});
  }
  // Not finished while a handle below the root lives.
  EXPECT_NE(CodeOf([&] { OLEStorage reader(path.c_str(), CD_OpenRead); }), 0);
  child.reset();

  OLEStorage reader(path.c_str(), CD_OpenRead);
  OLEStorage readChild = reader.OpenStorage(u"child", CD_OpenRead);
  OLEStream stream = readChild.OpenStream(u"data", CD_OpenRead);
  EXPECT_EQ(ReadAll(stream), (std::vector<uint8_t>{9, 8, 7}));
}

TEST_F(OLEStorageTest, AWriteOpenedStorageEnumeratesNothing) {
  OLEStorage root(Path("w.dwq").c_str(), CD_CreateWrite);
  OLEStream stream(root, u"s", CD_CreateWrite);
  OLEStorageEnumerator items = root.CreateEnumerator();
  EXPECT_FALSE(items.Next(1));
  EXPECT_EQ(items.ItemName(), nullptr);
  EXPECT_FALSE(items.Seek(u"s"));
  EXPECT_EQ(items.GetItemSize(), 0u);
  OLEStorageEnumerator copy(items);
  EXPECT_FALSE(copy.Next(1));
  EXPECT_EQ(root.GetSize(), 0u);
}

TEST_F(OLEStorageTest, EnumerationNextSeekAndCopies) {
  BuildTree(Path("tree.dwq"));
  OLEStorage root(Path("tree.dwq").c_str(), CD_OpenRead);
  OLEStorageEnumerator items(root);
  EXPECT_TRUE(items.Next(0));
  EXPECT_EQ(items.ItemName(), nullptr);
  ASSERT_TRUE(items.Next(1));
  EXPECT_EQ(std::u16string(items.ItemName()), u"A");  // shorter names first, then by letters
  EXPECT_TRUE(items.ItemIsStorage());
  EXPECT_TRUE(items.Next(0));
  EXPECT_EQ(std::u16string(items.ItemName()), u"A");

  OLEStorageEnumerator copy(items);  // keeps the position
  ASSERT_TRUE(copy.Next(1));
  EXPECT_EQ(std::u16string(copy.ItemName()), u"T");
  EXPECT_FALSE(copy.ItemIsStorage());
  EXPECT_EQ(copy.GetItemSize(), 100u);
  EXPECT_FALSE(copy.Next(1));

  items.Rewind();
  EXPECT_FALSE(items.Next(3));
  items.Rewind();
  ASSERT_TRUE(items.Next(2));
  EXPECT_EQ(std::u16string(items.ItemName()), u"T");
  EXPECT_TRUE(items.Seek(u"A"));
  EXPECT_EQ(items.GetItemSize(), 5003u);
  EXPECT_FALSE(items.Seek(u"a"));  // exact names only
  EXPECT_EQ(root.GetSize(), 5103u);
}

TEST_F(OLEStorageTest, StreamsSeekCloneResizeAndCopy) {
  // Read and write access, so that what is written can be read back through the same handle.
  const CD_OpenMode readWrite = CD_Create | 0x2;
  OLEStorage root(Path("s.dwq").c_str(), readWrite);
  OLEStream stream(root, u"s", readWrite);
  EXPECT_EQ(std::u16string(stream.Name()), u"s");
  stream.Seek(8, SO_Begin);  // a gap reads as zeros
  Write(stream, {1, 2, 3, 4});
  EXPECT_EQ(stream.GetSize(), 12u);

  stream.Seek(2, SO_Begin);
  uint8_t bytes[4];
  EXPECT_EQ(stream.GetData(bytes, 2), 2u);
  EXPECT_EQ(stream.GetSize(), 12u);  // the size is measured without moving the position
  EXPECT_EQ(stream.Seek(0, SO_Current), 4u);
  EXPECT_EQ(stream.GetData(nullptr, 0), 0u);

  OLEStream clone(stream);
  EXPECT_EQ(clone.Seek(0, SO_Current), 4u);
  clone.Seek(-2, SO_End);
  EXPECT_EQ(clone.GetData(bytes, 4), 2u);
  EXPECT_EQ(bytes[0], 3);
  EXPECT_EQ(stream.Seek(0, SO_Current), 4u);
  EXPECT_EQ(CodeOf([&] { stream.Seek(-100, SO_Current); }), 33004);

  stream.Resize(9);
  EXPECT_EQ(clone.GetSize(), 9u);

  OLEStream target(root, u"t", readWrite);
  stream.Seek(7, SO_Begin);
  EXPECT_EQ(stream.CopyData(target, 100), 2u);
  EXPECT_EQ(ReadAll(target), (std::vector<uint8_t>{0, 1}));

  // A stream that is open can be neither opened again nor replaced.
  EXPECT_EQ(CodeOf([&] { OLEStream again(root, u"s", readWrite); }), 33007);
}

TEST_F(OLEStorageTest, CreatingReplacesAnItemOfEitherKind) {
  OLEStorage root(Path("r.dwq").c_str(), CD_CreateWrite);
  {
    OLEStorage s(root, u"item", CD_CreateWrite);
    OLEStream inner(s, u"inner", CD_CreateWrite);
  }
  {
    OLEStream replaced(root, u"item", CD_CreateWrite);
    Write(replaced, {5});
  }
  EXPECT_TRUE(root.StreamExists(u"item"));
  OLEStorage again(root, u"item", CD_CreateWrite);
  EXPECT_TRUE(root.StorageExists(u"item"));
  EXPECT_FALSE(again.StreamExists(u"inner"));
}

TEST_F(OLEStorageTest, CopyMoveRenameAndDestroy) {
  BuildTree(Path("tree.dwq"));
  const std::string copyPath = Path("copy.dwq");
  {
    OLEStorage source(Path("tree.dwq").c_str(), CD_OpenRead);
    OLEStorage target(copyPath.c_str(), CD_CreateWrite);
    source.CopyItem(u"A", target, nullptr, false);
    source.CopyItem(u"T", target, u"T2", false);
    EXPECT_EQ(CodeOf([&] { source.CopyItem(u"T", target, u"T2", false); }), 33008);
    EXPECT_EQ(CodeOf([&] { source.CopyItem(u"absent", target, nullptr, false); }), 33006);
    target.RenameItem(u"T2", u"T3");
    EXPECT_EQ(CodeOf([&] { target.RenameItem(u"T3", u"A"); }), 33008);
    OLEStorage a(target, u"A", CD_CreateWrite);  // replaced by an empty storage
    EXPECT_FALSE(a.StreamExists(u"s1"));
  }
  {
    OLEStorage target(copyPath.c_str(), CD_OpenRead);
    EXPECT_TRUE(target.StreamExists(u"T3"));
    EXPECT_FALSE(target.StreamExists(u"T2"));
  }
  OLEStorage source(Path("tree.dwq").c_str(), CD_OpenRead);
  OLEStorage moved(Path("moved.dwq").c_str(), CD_CreateWrite);
  source.CopyItem(u"A", moved, u"A", false);
  moved.DestroyItem(u"A");
  EXPECT_FALSE(moved.StorageExists(u"A"));
  EXPECT_EQ(CodeOf([&] { moved.DestroyItem(u"A"); }), 33006);
}

TEST_F(OLEStorageTest, AnEmptyStorageTransfersAsKindNameClassIdAndEnd) {
  const std::string path = Path("empty.dwq");
  {
    OLEStorage root(path.c_str(), CD_CreateWrite);
    OLEStorage s(root, u"S", CD_CreateWrite);
  }
  OLEStorage root(path.c_str(), CD_OpenRead);
  OLEStorageEnumerator items(root);
  ASSERT_TRUE(items.Seek(u"S"));
  RecordingOut out;
  items >> out;
  std::vector<uint8_t> expected = {0x01, 0x02, 0x00, 0x00, 0x00, 0x53, 0x00, 0x00, 0x00};
  expected.insert(expected.end(), 16, 0x00);
  expected.push_back(0xFF);
  EXPECT_EQ(out.bytes, expected);
}

TEST_F(OLEStorageTest, AStreamTransfersWithItsSizeAndBytes) {
  BuildTree(Path("tree.dwq"));
  OLEStorage root(Path("tree.dwq").c_str(), CD_OpenRead);
  OLEStorageEnumerator items(root);
  ASSERT_TRUE(items.Seek(u"T"));
  RecordingOut out;
  items >> out;
  std::vector<uint8_t> expected = {0x00, 0x02, 0x00, 0x00, 0x00, 'T', 0x00, 0x00, 0x00,
                                   100,  0x00, 0x00, 0x00};
  const auto data = Pattern(100, 4);
  expected.insert(expected.end(), data.begin(), data.end());
  EXPECT_EQ(out.bytes, expected);
}

TEST_F(OLEStorageTest, SubtreeTransferRoundTrip) {
  BuildTree(Path("tree.dwq"));
  MemFile transfer;
  std::string original;
  {
    OLEStorage root(Path("tree.dwq").c_str(), CD_OpenRead);
    original = Describe(root);
    OLEStorageEnumerator items(root);
    while (items.Next(1))
      items >> transfer;
  }
  {
    OLEStorage copy(Path("copy.dwq").c_str(), CD_CreateWrite);
    OLEStorageEnumerator items(copy);
    transfer.Seek(0, SO_Begin);
    int created = 0;
    while (items << transfer)
      ++created;
    EXPECT_EQ(created, 2);
  }
  OLEStorage copy(Path("copy.dwq").c_str(), CD_OpenRead);
  EXPECT_EQ(Describe(copy), original);
  EXPECT_NE(original.find("A{16.17.18."), std::string::npos);
  EXPECT_NE(original.find("B{0.0."), std::string::npos);
}

TEST_F(OLEStorageTest, DamagedTransfersRaise) {
  BuildTree(Path("tree.dwq"));
  MemFile transfer;
  {
    OLEStorage root(Path("tree.dwq").c_str(), CD_OpenRead);
    OLEStorageEnumerator items(root);
    ASSERT_TRUE(items.Seek(u"A"));
    items >> transfer;
  }
  const std::vector<uint8_t> whole(transfer.Data(), transfer.Data() + transfer.Size());
  auto readInto = [&](const std::vector<uint8_t>& bytes, const char* file) {
    OLEStorage target(Path(file).c_str(), CD_CreateWrite);
    OLEStorageEnumerator items(target);
    VectorIn in(bytes);
    return items << in;
  };
  // Cut anywhere inside, the transfer is refused rather than taken as complete.
  for (size_t cut : {size_t{1}, size_t{7}, size_t{30}, whole.size() / 2, whole.size() - 1}) {
    SCOPED_TRACE(cut);
    EXPECT_EQ(CodeOf([&] { readInto({whole.begin(), whole.begin() + cut}, "cut.dwq"); }), 33011);
  }
  EXPECT_FALSE(readInto({}, "empty.dwq"));
  EXPECT_FALSE(readInto({0xFF}, "end.dwq"));
  EXPECT_FALSE(readInto({0x07}, "kind.dwq"));

  auto longName = whole;
  longName[1] = 200;  // name length
  EXPECT_EQ(CodeOf([&] { readInto(longName, "name.dwq"); }), 33000);
  auto noTerminator = whole;
  noTerminator[7] = 'x';  // the NUL of "A"
  EXPECT_EQ(CodeOf([&] { readInto(noTerminator, "nul.dwq"); }), 33000);
  auto badChildKind = whole;
  badChildKind[5 + 4 + 16] = 0x07;  // kind of the first child
  EXPECT_EQ(CodeOf([&] { readInto(badChildKind, "child.dwq"); }), 33001);
}

TEST_F(OLEStorageTest, DeeplyNestedTransfersAreRefused) {
  std::vector<uint8_t> bytes;
  for (int i = 0; i < 100; ++i) {
    bytes.insert(bytes.end(), {0x01, 0x02, 0x00, 0x00, 0x00, 'd', 0x00, 0x00, 0x00});
    bytes.insert(bytes.end(), 16, 0x00);
  }
  OLEStorage target(Path("deep.dwq").c_str(), CD_CreateWrite);
  OLEStorageEnumerator items(target);
  VectorIn in(bytes);
  EXPECT_EQ(CodeOf([&] { items << in; }), 33016);
}

TEST_F(OLEStorageTest, AFileAbandonedByAnExceptionLeavesTheOldOneInPlace) {
  const std::string path = Path("keep.dwq");
  BuildTree(path);
  try {
    OLEStorage root(path.c_str(), CD_CreateWrite);
    OLEStream stream(root, u"half", CD_CreateWrite);
    Write(stream, {1});
    throw std::runtime_error("export failed");
  } catch (const std::runtime_error&) {
  }
  OLEStorage root(path.c_str(), CD_OpenRead);
  EXPECT_TRUE(root.StreamExists(u"T"));
  EXPECT_FALSE(root.StreamExists(u"half"));
}

TEST_F(OLEStorageTest, ARootFinishesWhenItsLastHandleGoes) {
  const std::string path = Path("copies.dwq");
  {
    OLEStorage root(path.c_str(), CD_CreateWrite);
    auto copy = std::make_unique<OLEStorage>(root);
    OLEStream stream(*copy, u"s", CD_CreateWrite);
    Write(stream, {4, 2});
  }
  OLEStorage root(path.c_str(), CD_OpenRead);
  OLEStream stream = root.OpenStream(u"s", CD_OpenRead);
  EXPECT_EQ(ReadAll(stream), (std::vector<uint8_t>{4, 2}));
  EXPECT_EQ(std::string(OLEString(root.Name())), path);
}

TEST(OLEString, ConvertsBetweenUtf8AndUtf16) {
  const OLEString narrow("Grüße €");
  EXPECT_EQ(std::u16string(static_cast<const char16_t*>(narrow)), u"Grüße €");
  EXPECT_EQ(std::string(static_cast<const char*>(narrow)), "Grüße €");
  const OLEString wide(u"VerbantTextAndCode");
  EXPECT_EQ(std::string(static_cast<const char*>(wide)), "VerbantTextAndCode");
  EXPECT_EQ(wide.CP(), 0u);
  const OLEString broken("a\xFF" "b");
  EXPECT_EQ(std::u16string(static_cast<const char16_t*>(broken)), u"a\uFFFDb");
  const OLEString latin1("\xE9t\xE9", 1252);
  EXPECT_EQ(std::u16string(static_cast<const char16_t*>(latin1)), u"été");
}

}  // namespace

// Field streams, folders and bundles over a code file in memory.
#include "Container/Model/Folders.h"
#include "Container/Storage/Errors.h"
#include "ModelDump.h"

#include <gtest/gtest.h>

namespace {

using model_test::Bytes;
using model_test::MemoryCodeFile;

template <class T>
void Put(DWX_OutFolder2& folder, const char* name, std::vector<T> values) {
  auto stream = folder.CreateStream(DWX_TypeCode<T>::value, name, 0);
  std::unique_ptr<T[]> buffer(new T[values.size()]);  // also for bool, which vector packs
  std::copy(values.begin(), values.end(), buffer.get());
  dynamic_cast<DWX_Out<T>&>(*stream).PutData(buffer.get(), dwx_ulong(values.size()));
}

template <class T>
std::vector<T> Get(DWX_InFolder2& folder, const char* name, dwx_ulong ask = 100) {
  auto stream = folder.OpenStream(DWX_TypeCode<T>::value, name, 0);
  if (!stream) return {};
  std::unique_ptr<T[]> buffer(new T[ask]);
  const dwx_ulong got = dynamic_cast<DWX_In<T>&>(*stream).GetData(buffer.get(), ask);
  return std::vector<T>(buffer.get(), buffer.get() + got);
}

// Writes raw code-file streams below the root, for stored forms this library never writes.
void WriteRawStreams(MemoryCodeFile& file, const std::vector<std::pair<std::string, Bytes>>& streams,
                     const char* folderName = nullptr) {
  auto code = CreateCodeFile(file.Medium(), false);
  auto root = CreateCodeFolder(*code);
  std::unique_ptr<CF_OutFolder> sub;
  if (folderName) sub = root->CreateFolder(folderName, 0);
  for (const auto& [name, bytes] : streams) {
    auto stream = (sub ? *sub : *root).CreateStream(name.c_str(), 0, cf_Stored);
    if (!bytes.empty()) stream->PutData(bytes.data(), uint32_t(bytes.size()));
    stream->Finish();
  }
  if (sub) sub->Finish();
  root->Finish();
  code->Finish();
}

// Whether a code file has its directory and root folder: an unfinished one is refused or empty.
bool Complete(const MemoryCodeFile& file) {
  try {
    return !OpenDWXFolder2(file.Snapshot()->Medium()).Empty();
  } catch (const FilterException&) {
    return false;
  }
}

TEST(FieldStreams, StoreTypeCodeAndValuesExactly) {
  MemoryCodeFile file;
  {
    auto root = CreateDWXFolder2(file.Medium(), false);
    Put<dwx_long>(*root, "longs", {1, -1});
    Put<std::u16string>(*root, "texts", {u"ab", u""});
    Put<dwx_ulong>(*root, "max", {0xFFFFFFFFu});
  }
  EXPECT_EQ(model_test::StreamBytes(file.Medium(), {}, "longs"),
            (Bytes{0x06, 0, 1, 0, 0, 0, 0xFF, 0xFF, 0xFF, 0xFF}));
  EXPECT_EQ(model_test::StreamBytes(file.Medium(), {}, "texts"),
            (Bytes{0x0B, 0, 2, 0, 0x61, 0, 0x62, 0, 0, 0}));
  EXPECT_EQ(model_test::StreamBytes(file.Medium(), {}, "max"),
            (Bytes{0x07, 0, 0xFF, 0xFF, 0xFF, 0xFF}));
}

TEST(FieldStreams, EveryTypeRoundTrips) {
  MemoryCodeFile file;
  {
    auto root = CreateDWXFolder2(file.Medium(), true);
    Put<bool>(*root, "bool", {true, false});
    Put<char>(*root, "char", {'a', char(-3)});
    Put<unsigned char>(*root, "uchar", {200});
    Put<int16_t>(*root, "short", {-2, 300});
    Put<uint16_t>(*root, "ushort", {0xD83D, 0xDE00});
    Put<dwx_long>(*root, "long", {INT32_MIN, INT32_MAX});
    Put<dwx_ulong>(*root, "ulong", {4000000000u});
    Put<float>(*root, "float", {1.5f});
    Put<double>(*root, "double", {-2.25, 1e300});
    Put<std::string>(*root, "string", {"x", "", std::string(300, 'y')});
    Put<std::u16string>(*root, "wstring", {u"\U0001F600", std::u16string(3000, u'z')});
    Put<Variant>(*root, "variant", {Variant(int32_t(5)), Variant(2.5)});
    auto raw = root->CreateStream(ft_Raw, "raw", 0);
    dynamic_cast<DWX_Out<void>&>(*raw).PutData("\x01\x02\x03", 3);
  }
  auto root = OpenDWXFolder2(file.Medium());
  ASSERT_TRUE(root);
  EXPECT_EQ(Get<bool>(*root, "bool"), (std::vector<bool>{true, false}));
  EXPECT_EQ(Get<char>(*root, "char"), (std::vector<char>{'a', char(-3)}));
  EXPECT_EQ(Get<unsigned char>(*root, "uchar"), (std::vector<unsigned char>{200}));
  EXPECT_EQ(Get<int16_t>(*root, "short"), (std::vector<int16_t>{-2, 300}));
  EXPECT_EQ(Get<uint16_t>(*root, "ushort"), (std::vector<uint16_t>{0xD83D, 0xDE00}));
  EXPECT_EQ(Get<dwx_long>(*root, "long"), (std::vector<dwx_long>{INT32_MIN, INT32_MAX}));
  EXPECT_EQ(Get<dwx_ulong>(*root, "ulong"), (std::vector<dwx_ulong>{4000000000u}));
  EXPECT_EQ(Get<float>(*root, "float"), (std::vector<float>{1.5f}));
  EXPECT_EQ(Get<double>(*root, "double"), (std::vector<double>{-2.25, 1e300}));
  EXPECT_EQ(Get<std::string>(*root, "string"),
            (std::vector<std::string>{"x", "", std::string(300, 'y')}));
  EXPECT_EQ(Get<std::u16string>(*root, "wstring"),
            (std::vector<std::u16string>{u"\U0001F600", std::u16string(3000, u'z')}));
  const auto variants = Get<Variant>(*root, "variant");
  ASSERT_EQ(variants.size(), 2u);
  EXPECT_TRUE(variants[0] == int32_t(5));
  EXPECT_TRUE(variants[1] == 2.5);
  auto raw = root->OpenStream(ft_Raw, "raw", 0);
  ASSERT_TRUE(raw);
  char bytes[8];
  EXPECT_EQ(dynamic_cast<DWX_In<void>&>(*raw).GetData(bytes, 8), 3u);
}

// A stored 32-bit value keeps its 32-bit meaning on a platform whose long is wider.
TEST(FieldStreams, ValuesKeepThirtyTwoBitMeaning) {
  MemoryCodeFile file;
  WriteRawStreams(file, {{"minus", {6, 0, 0xFF, 0xFF, 0xFF, 0xFF}},
                         {"flag", {1, 0, 2, 0, 1}}});
  auto root = OpenDWXFolder2(file.Medium());
  EXPECT_EQ(Get<dwx_long>(*root, "minus"), (std::vector<dwx_long>{-1}));
  const auto flags = Get<bool>(*root, "flag");  // any byte other than 0 is true
  ASSERT_EQ(flags.size(), 3u);
  EXPECT_TRUE(flags[0]);
  EXPECT_FALSE(flags[1]);
  EXPECT_TRUE(flags[2]);
}

TEST(FieldStreams, OpenRefusesOtherTypesAndForeignCodes) {
  MemoryCodeFile file;
  WriteRawStreams(file, {{"short", {4, 0, 1, 0}}, {"code13", {13, 0}}, {"one", {6}}, {"empty", {}}});
  auto root = OpenDWXFolder2(file.Medium());
  EXPECT_FALSE(root->OpenStream(ft_UShort, "short", 0));
  EXPECT_TRUE(root->OpenStream(ft_Short, "short", 0));
  EXPECT_FALSE(root->OpenStream(ft_Raw, "code13", 0));
  EXPECT_FALSE(root->OpenStream(ft_Long, "one", 0));
  EXPECT_FALSE(root->OpenStream(ft_Raw, "empty", 0));
  EXPECT_FALSE(root->OpenStream(ft_Short, "absent", 0));
  EXPECT_FALSE(root->OpenStream(ft_Short, "short", 1));  // another tag
}

TEST(FieldStreams, ShortReadsCountWholeValuesAndMarkDamage) {
  MemoryCodeFile file;
  WriteRawStreams(file, {{"three", model_test::LongStream({1, 2, 3})},
                         {"cutLong", {6, 0, 1, 0, 0, 0, 2, 0}},
                         {"cutText", {11, 0, 3, 0, 'a', 0, 'b'}}});
  auto root = OpenDWXFolder2(file.Medium());
  EXPECT_EQ(Get<dwx_long>(*root, "three", 10).size(), 3u);

  auto cut = root->OpenStream(ft_Long, "cutLong", 0);
  dwx_long values[4];
  EXPECT_EQ(dynamic_cast<DWX_In<dwx_long>&>(*cut).GetData(values, 4), 1u);
  EXPECT_TRUE(cut->Damaged());

  auto text = root->OpenStream(ft_WString, "cutText", 0);
  std::u16string value;
  EXPECT_EQ(dynamic_cast<DWX_In<std::u16string>&>(*text).GetData(&value, 1), 0u);
  EXPECT_TRUE(text->Damaged());

  auto clean = root->OpenStream(ft_Long, "three", 0);
  auto& in = dynamic_cast<DWX_In<dwx_long>&>(*clean);
  EXPECT_EQ(in.GetData(values, 0), 0u);
  EXPECT_EQ(in.GetData(values, 4), 3u);
  EXPECT_FALSE(clean->Damaged());
}

// A string that its 16-bit count cannot describe is refused whole, not stored cut.
TEST(FieldStreams, RefuseTooLongStrings) {
  MemoryCodeFile file;
  {
    auto root = CreateDWXFolder2(file.Medium(), false);
    auto stream = root->CreateStream(ft_WString, "texts", 0);
    auto& out = dynamic_cast<DWX_Out<std::u16string>&>(*stream);
    const std::u16string longest(65535, u'a');
    out.PutData(&longest, 1);
    const std::u16string values[2] = {u"ok", std::u16string(65536, u'b')};
    try {
      out.PutData(values, 2);
      FAIL() << "a string of 65536 units was stored";
    } catch (const FilterException& e) {
      EXPECT_EQ(e.Code(), FE_StorageInvalidParameter);
    }
    auto narrow = root->CreateStream(ft_String, "narrow", 0);
    const std::string tooLong(70000, 'c');
    EXPECT_THROW(dynamic_cast<DWX_Out<std::string>&>(*narrow).PutData(&tooLong, 1),
                 FilterException);
  }
  auto root = OpenDWXFolder2(file.Medium());
  const auto texts = Get<std::u16string>(*root, "texts");
  ASSERT_EQ(texts.size(), 1u);
  EXPECT_EQ(texts[0].size(), 65535u);
  EXPECT_TRUE(Get<std::string>(*root, "narrow").empty());
}

TEST(Bundles, StoreRecordsAsColumns) {
  MemoryCodeFile file;
  {
    auto root = CreateDWXFolder2(file.Medium(), false);
    auto bundle = root->CreateBundle(DWX_Attr_Rec(), "Attrs{}", 0);
    bundle->PutRecord(DWX_Attr_Rec_Out(CF_Attr{1, 2}));
    bundle->PutRecord(DWX_Attr_Rec_Out(CF_Attr{3, 4}));
  }
  EXPECT_EQ(model_test::StreamBytes(file.Medium(), {{"Attrs{}", 0}}, "m_NameRef"),
            model_test::LongStream({1, 3}));
  EXPECT_EQ(model_test::StreamBytes(file.Medium(), {{"Attrs{}", 0}}, "m_ValueRef"),
            model_test::LongStream({2, 4}));

  auto root = OpenDWXFolder2(file.Medium());
  auto bundle = root->OpenBundle(DWX_Attr_Rec(), "Attrs{}", 0);
  ASSERT_TRUE(bundle);
  DWX_Attr_Rec_In record;
  ASSERT_TRUE(bundle->GetRecord(record));
  EXPECT_EQ(record.m_NameRef, 1);
  ASSERT_TRUE(bundle->GetRecord(record));
  EXPECT_EQ(record.m_ValueRef, 4);
  EXPECT_FALSE(bundle->GetRecord(record));
  EXPECT_FALSE(root->OpenBundle(DWX_Attr_Rec(), "Attrs{}", 1));
}

TEST(Bundles, PartialBundles) {
  MemoryCodeFile file;
  {
    auto code = CreateCodeFile(file.Medium(), false);
    auto root = CreateCodeFolder(*code);
    auto write = [](CF_OutFolder& folder, const char* name, const Bytes& bytes) {
      auto stream = folder.CreateStream(name, 0, cf_Stored);
      stream->PutData(bytes.data(), uint32_t(bytes.size()));
      stream->Finish();
    };
    auto nameOnly = root->CreateFolder("nameOnly", 0);
    write(*nameOnly, "m_NameRef", model_test::LongStream({5}));
    auto none = root->CreateFolder("none", 0);
    write(*none, "other", model_test::LongStream({5}));
    auto wrongType = root->CreateFolder("wrongType", 0);
    write(*wrongType, "m_NameRef", model_test::LongStream({5}));
    write(*wrongType, "m_ValueRef", {4, 0, 1, 0});
    auto uneven = root->CreateFolder("uneven", 0);
    write(*uneven, "m_NameRef", model_test::LongStream({5, 6}));
    write(*uneven, "m_ValueRef", model_test::LongStream({7}));
    for (auto* folder : {nameOnly.get(), none.get(), wrongType.get(), uneven.get()})
      folder->Finish();
    root->Finish();
    code->Finish();
  }
  auto root = OpenDWXFolder2(file.Medium());
  DWX_Attr_Rec_In record;
  auto nameOnly = root->OpenBundle(DWX_Attr_Rec(), "nameOnly", 0);
  ASSERT_TRUE(nameOnly);
  ASSERT_TRUE(nameOnly->GetRecord(record));
  EXPECT_EQ(record.m_NameRef, 5);
  EXPECT_EQ(record.m_ValueRef, -1);  // no column: the field keeps its default

  auto none = root->OpenBundle(DWX_Attr_Rec(), "none", 0);
  ASSERT_TRUE(none);
  EXPECT_FALSE(none->GetRecord(record));

  auto wrongType = root->OpenBundle(DWX_Attr_Rec(), "wrongType", 0);
  DWX_Attr_Rec_In other;
  ASSERT_TRUE(wrongType->GetRecord(other));
  EXPECT_EQ(other.m_ValueRef, -1);

  // The second record has a name but no value: the file left it incomplete.
  auto uneven = root->OpenBundle(DWX_Attr_Rec(), "uneven", 0);
  ASSERT_TRUE(uneven->GetRecord(record));
  try {
    uneven->GetRecord(record);
    FAIL() << "an incomplete record was read";
  } catch (const FilterException& e) {
    EXPECT_EQ(e.Code(), FE_CodeFileShortRead);
  }
}

struct CountingFolderProcessor : DWX_OutFolderProcessor, DWX_InFolderProcessor {
  int calls = 0;
  void Call(DWX_OutFolder& folder) override {
    ++calls;
    struct Saver : DWX_OutStreamProcessor {
      void Call(DWX_OutStream& s) override {
        const dwx_long v = 42;
        dynamic_cast<DWX_Out<dwx_long>&>(s).PutData(&v, 1);
      }
    } saver;
    folder.ProcessStream(saver, ft_Long, "value", 0);
  }
  void Call(DWX_InFolder& folder) override {
    ++calls;
    struct Reader : DWX_InStreamProcessor {
      dwx_long v = 0;
      void Call(DWX_InStream& s) override { dynamic_cast<DWX_In<dwx_long>&>(s).GetData(&v, 1); }
    } reader;
    EXPECT_TRUE(folder.ProcessStream(reader, ft_Long, "value", 0));
    EXPECT_EQ(reader.v, 42);
    EXPECT_FALSE(folder.ProcessStream(reader, ft_Long, "absent", 0));
  }
};

TEST(Folders, ProcessorsReceiveChildrenForOneCall) {
  MemoryCodeFile file;
  CountingFolderProcessor processor;
  {
    auto root = CreateDWXFolder2(file.Medium(), false);
    root->ProcessFolder(processor, "child/", 3);
  }
  auto root = OpenDWXFolder2(file.Medium());
  EXPECT_TRUE(root->ProcessFolder(processor, "child/", 3));
  EXPECT_FALSE(root->ProcessFolder(processor, "child/", 0));
  EXPECT_EQ(processor.calls, 2);
  EXPECT_EQ(model_test::DumpCodeFile(file.Medium()), "child/ [3]\n  value : long 42\n");
}

// The code file is complete only once the last handle into it goes, whichever that is.
TEST(Folders, LastReleaseCompletesTheFile) {
  MemoryCodeFile file;
  auto root = CreateDWXFolder2(file.Medium(), false);
  auto child = root->CreateFolder("a/", 0);
  auto stream = child->CreateStream(ft_Long, "x", 0);
  root.Reset();
  child.Reset();
  const dwx_long value = 9;
  dynamic_cast<DWX_Out<dwx_long>&>(*stream).PutData(&value, 1);
  EXPECT_FALSE(Complete(file));
  stream.Reset();
  EXPECT_TRUE(Complete(file));
  EXPECT_EQ(model_test::DumpCodeFile(file.Medium()), "a/ [0]\n  x : long 9\n");
}

TEST(Folders, CompleteFinishesWhileHandlesRemain) {
  MemoryCodeFile file;
  auto root = CreateDWXFolder2(file.Medium(), false);
  auto child = root->CreateFolder("a/", 1);
  Put<dwx_long>(*child, "x", {1, 2});
  auto open = child->CreateStream(ft_Short, "open", 0);
  EXPECT_FALSE(Complete(file));
  root->Complete();
  auto snapshot = file.Snapshot();
  EXPECT_EQ(model_test::DumpCodeFile(snapshot->Medium()), "a/ [1]\n  open : short\n  x : long 1 2\n");
  EXPECT_THROW(child->CreateStream(ft_Long, "late", 0), FilterException);
  const int16_t late = 1;
  EXPECT_THROW(dynamic_cast<DWX_Out<int16_t>&>(*open).PutData(&late, 1), FilterException);
}

}  // namespace

// The book's string table and attribute sets.
#include "Container/Model/AttrsSet.h"
#include "Container/Storage/Errors.h"
#include "ModelDump.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <map>
#include <string>
#include <utility>
#include <vector>

namespace {

using model_test::MemoryCodeFile;

TEST(StringsMap, IdsInOrderOfFirstUseStoredInTextOrder) {
  MemoryCodeFile file;
  {
    DWX_StringsMap_Out strings;
    EXPECT_EQ(strings[u"b"], 0);
    EXPECT_EQ(strings[u"a"], 1);
    EXPECT_EQ(strings[u"b"], 0);
    EXPECT_EQ(strings.find(u"c"), -1);
    EXPECT_EQ(strings.size(), 2u);
    EXPECT_EQ(strings[u""], 2);  // the empty text is an ordinary entry
    EXPECT_EQ(std::u16string(strings[1]), u"a");
    EXPECT_EQ(strings[-1], nullptr);
    EXPECT_EQ(strings[7], nullptr);
    auto root = CreateDWXFolder2(file.Medium(), false);
    strings.Store(*root, "StringsMap{}");
  }
  EXPECT_EQ(model_test::StreamBytes(file.Medium(), {{"StringsMap{}", 0}}, "m_Ref"),
            model_test::LongStream({2, 1, 0}));
  EXPECT_EQ(model_test::StreamBytes(file.Medium(), {{"StringsMap{}", 0}}, "m_String"),
            model_test::WideStringStream({u"", u"a", u"b"}));

  DWX_StringsMap_In restored;
  auto root = OpenDWXFolder2(file.Medium());
  EXPECT_FALSE(restored.Restore(*root, "absent{}"));
  ASSERT_TRUE(restored.Restore(*root, "StringsMap{}"));
  EXPECT_EQ(restored.find(u"b"), 0);
  EXPECT_EQ(std::u16string(restored[2]), u"");
  EXPECT_EQ(restored[u"new"], 3);
}

// The order is that of UTF-16 code units: a supplementary character sorts before U+FFFD.
TEST(StringsMap, OrdersByUtf16CodeUnits) {
  MemoryCodeFile file;
  {
    DWX_StringsMap_Out strings;
    strings[u"\uFFFD"];
    strings[u"\U0001F600"];
    strings[u"\u00E9"];
    auto root = CreateDWXFolder2(file.Medium(), false);
    strings.Store(*root, "S{}");
  }
  EXPECT_EQ(model_test::StreamBytes(file.Medium(), {{"S{}", 0}}, "m_Ref"),
            model_test::LongStream({2, 1, 0}));
}

// A stored table with gaps, repeated ids or the highest id: new texts never reuse a stored id,
// and never go past the highest.
TEST(StringsMap, RestoredIdsAreNotReused) {
  const auto restored = [](std::vector<std::pair<dwx_long, std::u16string>> records, DWX_StringsMap_In& strings) {
    MemoryCodeFile file;
    {
      auto root = CreateDWXFolder2(file.Medium(), false);
      auto bundle = root->CreateBundle(DWX_NumberedString(), "S{}", 0);
      for (const auto& [id, text] : records) bundle->PutRecord(DWX_NumberedString_Out(id, text));
    }
    auto root = OpenDWXFolder2(file.Medium());
    ASSERT_TRUE(strings.Restore(*root, "S{}"));
  };
  DWX_StringsMap_In strings;
  restored({{9, u"x"}, {9, u"a"}, {-4, u"neg"}}, strings);
  EXPECT_EQ(std::u16string(strings[9]), u"a");  // the first in text order
  EXPECT_EQ(strings.find(u"neg"), -1);
  EXPECT_EQ(strings[u"new"], 10);

  DWX_StringsMap_In highest;
  restored({{INT32_MAX, u"top"}, {0, u"zero"}, {2, u"two"}}, highest);
  EXPECT_EQ(highest[u"b"], 1);
  EXPECT_EQ(highest[u"c"], 3);
  EXPECT_EQ(highest[u"b"], 1);
  EXPECT_EQ(std::u16string(highest[INT32_MAX]), u"top");
  EXPECT_EQ(std::u16string(highest[3]), u"c");
}

TEST(AttrsSet, DefaultsTakeTheFirstIds) {
  DWX_StringsMap strings;
  DWX_AttrsSet attrs;
  attrs.SetDefaultValues(strings);
  const char16_t* const expected[] = {
      u"source_data_type", u"unknown", u"field_id", u"-1", u"index_id", u"table_id", u"row_id",
      u"cell_id", u"cell_width", u"listlevel", u"0", u"codepage", u"0xFFFF", u"direction",
      u"left-to-right", u"bold", u"off", u"italic", u"outline", u"overline", u"strike",
      u"shadow", u"hidden", u"variable_name", u""};
  ASSERT_EQ(strings.size(), std::size(expected));
  for (dwx_long id = 0; id < dwx_long(std::size(expected)); ++id)
    EXPECT_EQ(std::u16string(strings[id]), expected[id]) << id;
  EXPECT_EQ(attrs.OwnAttrs().size(), 18u);
  EXPECT_EQ(std::u16string(attrs.GetAttrValue(u"codepage", strings)), u"0xFFFF");
}

TEST(AttrsSet, ColourGroupDefinesItsPartners) {
  DWX_StringsMap strings;
  DWX_AttrsSet attrs;
  attrs.AddAttr(u"fore_color_green", u"128", strings);
  EXPECT_EQ(std::u16string(attrs.GetAttrValue(u"fore_color_green", strings)), u"128");
  EXPECT_EQ(std::u16string(attrs.GetAttrValue(u"fore_color_red", strings)), u"0");
  EXPECT_EQ(std::u16string(attrs.GetAttrValue(u"fore_color_blue", strings)), u"0");
  EXPECT_EQ(attrs.GetAttrValue(u"fore_color_cyan", strings), nullptr);
  // Interned as the rules reach them.
  EXPECT_EQ(strings.find(u"fore_color_green"), 0);
  EXPECT_EQ(strings.find(u"128"), 1);
  EXPECT_EQ(strings.find(u"fore_color_red"), 2);
  EXPECT_EQ(strings.find(u"0"), 3);
  EXPECT_EQ(strings.find(u"fore_color_blue"), 4);
}

TEST(AttrsSet, GeometryGroupClearsOnlyDefinedPartners) {
  DWX_StringsMap strings;
  DWX_AttrsSet plain;
  plain.AddAttr(u"angle", nullptr, strings);  // ignored
  plain.AddAttr(u"width", u"", strings);
  EXPECT_EQ(plain.GetAttrValue(u"height", strings), nullptr);
  EXPECT_EQ(plain.OwnAttrs().size(), 1u);

  DWX_AttrsSet geometry;
  geometry.AddAttr(u"height", u"12", strings);
  EXPECT_EQ(std::u16string(geometry.GetAttrValue(u"angle", strings)), u"0");
  DWX_AttrsSet partial;
  partial.AddAttr(u"vertical_pos", u"", strings);  // a cleared member alone: nothing else
  EXPECT_EQ(partial.OwnAttrs().size(), 1u);

  // "height" holds 12 and "angle" is undefined (set directly, without the group rules).
  struct Direct : DWX_AttrsSet {
    void Set(DWX_StringsMap& s, const char16_t* n, const char16_t* v) { Attrs()[s[n]] = s[v]; }
  } direct;
  direct.Set(strings, u"height", u"12");
  direct.AddAttr(u"width", u"", strings);
  EXPECT_EQ(std::u16string(direct.GetAttrValue(u"height", strings)), u"");
  EXPECT_EQ(std::u16string(direct.GetAttrValue(u"width", strings)), u"");
  EXPECT_EQ(direct.GetAttrValue(u"angle", strings), nullptr);
}

TEST(AttrsSet, HyphenCharDefinesHyphenTypeOnce) {
  DWX_StringsMap strings;
  DWX_AttrsSet base;
  base.AddAttr(u"hyphen_type", u"custom", strings);
  DWX_AttrsSet derived;
  derived.DefineBaseAttrsSet(&base);
  derived.AddAttr(u"hyphen_char", u"-", strings);
  EXPECT_EQ(derived.OwnAttrs().size(), 1u);
  DWX_AttrsSet alone;
  alone.AddAttr(u"hyphen_char", u"-", strings);
  EXPECT_EQ(std::u16string(alone.GetAttrValue(u"hyphen_type", strings)), u"normal");
}

struct Collect : DWX_AttrsSet::AttrsReceiver {
  std::map<std::u16string, std::u16string> seen;
  int calls = 0;
  bool OnAttr(const char16_t* name, const char16_t* value) override {
    ++calls;
    seen[name] = value;
    return true;
  }
};

TEST(AttrsSet, BaseSetsAndEnumeration) {
  DWX_StringsMap strings;
  DWX_AttrsSet base;
  base.AddAttr(u"bold", u"on", strings);
  base.AddAttr(u"font", u"Arial", strings);
  DWX_AttrsSet derived;
  derived.DefineBaseAttrsSet(&base);
  derived.AddAttr(u"bold", u"off", strings);
  EXPECT_EQ(std::u16string(derived.GetAttrValue(u"font", strings)), u"Arial");
  Collect all;
  EXPECT_TRUE(derived.EnumAttrs(all, strings));
  EXPECT_EQ(all.calls, 2);
  EXPECT_EQ(all.seen[u"bold"], u"off");
  base.DefineBaseAttrsSet(&derived);  // would be circular: refused
  EXPECT_EQ(base.BaseAttrsSet(), nullptr);
}

TEST(AttrsSet, NumericValues) {
  dwx_long out = 99;
  EXPECT_TRUE(DWX_AttrsSet::GetNumericValue(u"0x1F", out));
  EXPECT_EQ(out, 31);
  EXPECT_TRUE(DWX_AttrsSet::GetNumericValue(u"42", out));
  EXPECT_EQ(out, 42);
  EXPECT_TRUE(DWX_AttrsSet::GetNumericValue(u"0xFFFFFFFF", out));
  EXPECT_EQ(out, -1);
  EXPECT_TRUE(DWX_AttrsSet::GetNumericValue(u"-2147483648", out));
  EXPECT_EQ(out, INT32_MIN);
  EXPECT_TRUE(DWX_AttrsSet::GetNumericValue(u"4294967295", out));
  EXPECT_EQ(out, -1);
  // Only a whole value is a number: one read as far as it parses would be another value.
  out = 5;
  for (const char16_t* text : {u"abc", u"", u"0xZZ", u"0X1F", u"  -7pt", u"4x2", u"12 ", u"-", u"0x", u"+3",
                               u"4294967296", u"-2147483649", u"0x100000000", u"\u0131\u0132"})
    EXPECT_FALSE(DWX_AttrsSet::GetNumericValue(text, out)) << std::u16string(text).size();
  EXPECT_FALSE(DWX_AttrsSet::GetNumericValue(nullptr, out));
  EXPECT_EQ(out, 5);
}

TEST(AttrsSet, StoresOwnEntriesAndRestoresThem) {
  MemoryCodeFile file;
  DWX_StringsMap strings;
  {
    DWX_AttrsSet_Out base;
    base.AddAttr(u"b", u"1", strings);
    DWX_AttrsSet_Out derived;
    derived.DefineBaseAttrsSet(&base);
    derived.AddAttr(u"a", u"2", strings);
    derived.AddAttr(u"c", u"3", strings);
    DWX_AttrsSet_Out empty;
    empty.DefineBaseAttrsSet(&base);
    auto root = CreateDWXFolder2(file.Medium(), false);
    derived.Store(*root, "Attrs{}");
    empty.Store(*root, "Empty{}");
  }
  EXPECT_EQ(model_test::DumpCodeFile(file.Medium()),
            "Attrs{} [0]\n  m_NameRef : long 2 4\n  m_ValueRef : long 3 5\n"
            "Empty{} [0]\n  m_NameRef : long\n  m_ValueRef : long\n");

  auto root = OpenDWXFolder2(file.Medium());
  DWX_AttrsSet_In restored;
  EXPECT_FALSE(restored.Restore(*root, "absent{}"));
  ASSERT_TRUE(restored.Restore(*root, "Attrs{}", &strings));
  EXPECT_EQ(std::u16string(restored.GetAttrValue(u"c", strings)), u"3");
  EXPECT_EQ(restored.GetAttrValue(u"b", strings), nullptr);

  // Checked against a table that lacks the ids: the ids belong to another table.
  DWX_StringsMap other;
  other[u"only"];
  DWX_AttrsSet_In checked;
  EXPECT_THROW(checked.Restore(*root, "Attrs{}", &other), FilterException);
}

}  // namespace

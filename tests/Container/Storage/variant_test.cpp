#include "Container/Storage/Errors.h"
#include "Container/Storage/MemFile.h"
#include "Container/Storage/PropertySet.h"
#include "Container/Storage/Variant.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "TestStreams.h"

namespace {

using Bytes = std::vector<uint8_t>;

Bytes Stored(const Variant& v) {
  MemFile out;
  v >> out;
  return Bytes(out.Data(), out.Data() + out.Size());
}

MemFile FileOf(const Bytes& bytes) {
  MemFile f;
  if (!bytes.empty()) f.PutData(bytes.data(), static_cast<uint32_t>(bytes.size()));
  f.Seek(0, SO_Begin);
  return f;
}

bool ReadBack(const Bytes& bytes, Variant& v) {
  MemFile f = FileOf(bytes);
  return v << f;
}

TEST(VariantStoredForm, ScalarsArraysAndStrings) {
  EXPECT_EQ(Stored(Variant(uint16_t(1))), (Bytes{0x32, 0x08, 0x01, 0x00}));
  EXPECT_EQ(Stored(Variant("ab")), (Bytes{0x25, 0x04, 3, 0, 0, 0, 'a', 'b', 0}));
  EXPECT_EQ(Stored(Variant(u"ab")), (Bytes{0x35, 0x08, 6, 0, 0, 0, 'a', 0, 'b', 0, 0, 0}));
  EXPECT_EQ(Stored(Variant()), (Bytes{0x00, 0x00}));
  EXPECT_EQ(Stored(Variant(int32_t(-2))), (Bytes{0x22, 0x10, 0xFE, 0xFF, 0xFF, 0xFF}));
  EXPECT_EQ(Stored(Variant(1.0)), (Bytes{0x23, 0x20, 0, 0, 0, 0, 0, 0, 0xF0, 0x3F}));
  EXPECT_EQ(Stored(Variant(true)), (Bytes{0x11, 0x04, 1}));

  // Every type survives a round trip, scalar and array.
  const int16_t shorts[] = {-1, 2, 300};
  const double doubles[] = {0.5, -3.25};
  const std::vector<Variant> values = {
      Variant(true),         Variant('x'),           Variant(u'\u20AC'),   Variant(int16_t(-7)),
      Variant(int32_t(-9)),  Variant(uint16_t(65535)), Variant(uint32_t(4000000000u)),
      Variant(1.5f),         Variant(2.25),          Variant(shorts, 3),   Variant(doubles, 2),
      Variant("text"),       Variant(u"wide"),       Variant(static_cast<const char*>(nullptr), 0)};
  for (const Variant& v : values) {
    Variant back;
    ASSERT_TRUE(ReadBack(Stored(v), back)) << v.Type();
    EXPECT_EQ(back.Type(), v.Type());
    EXPECT_TRUE(back == v) << v.Type();
  }
}

TEST(VariantStoredForm, IncompleteOrInconsistentInputReadsFalse) {
  Variant v(int32_t(5));
  EXPECT_TRUE(ReadBack({0x00, 0x00}, v));
  EXPECT_EQ(v.Type(), vt_Empty);
  EXPECT_FALSE(ReadBack({0x32}, v));                                 // header cut
  EXPECT_FALSE(ReadBack({0x32, 0x08, 0x01}, v));                     // value cut
  EXPECT_FALSE(ReadBack({0x25, 0x04, 3, 0, 0}, v));                  // length cut
  EXPECT_FALSE(ReadBack({0x25, 0x04, 3, 0, 0, 0, 'a'}, v));          // block cut
  EXPECT_FALSE(ReadBack({0x32, 0x10, 0x01, 0x00}, v));               // size disagrees with type
  EXPECT_FALSE(ReadBack({0x35, 0x08, 3, 0, 0, 0, 'a', 0, 'b'}, v));  // half a wide character
  ASSERT_TRUE(ReadBack({0x11, 0x04, 2}, v));  // any non-zero byte is true
  EXPECT_TRUE(v == true);
  // A code outside the table reads like the empty value only when nothing follows it.
  EXPECT_TRUE(ReadBack({0x43, 0x00}, v));
  EXPECT_EQ(v.Type(), vt_Empty);
  EXPECT_FALSE(ReadBack({0x43, 0x04, 1}, v));
  EXPECT_TRUE(ReadBack({0x45, 0x00, 0, 0, 0, 0}, v));
  EXPECT_FALSE(ReadBack({0x45, 0x00, 1, 0, 0, 0, 7}, v));
  // A huge announced length is refused by the bytes that arrive, not by a huge allocation.
  EXPECT_FALSE(ReadBack({0x25, 0x04, 0xFF, 0xFF, 0xFF, 0xFF, 'a', 'b'}, v));
  EXPECT_EQ(v.Type(), vt_Empty);
}

TEST(VariantCompare, DomainsAndThirtyTwoBitIntegers) {
  EXPECT_TRUE(Variant(int16_t(-1)) == Variant(int32_t(-1)));
  EXPECT_TRUE(Variant(1.0f) == Variant(1.0));
  EXPECT_TRUE(Variant(uint16_t(1)) < Variant(0.5));  // integer domain before real domain
  EXPECT_FALSE(Variant(0.5) < Variant(uint16_t(1)));
  EXPECT_TRUE(Variant(uint32_t(0xFFFFFFFF)) == Variant(int32_t(-1)));
  EXPECT_TRUE(Variant(uint32_t(0xFFFFFFFF)) < Variant(int32_t(0)));
  EXPECT_FALSE(Variant('a') == Variant(u'a'));  // character types need equal codes
  EXPECT_TRUE(Variant(true) == Variant(true));

  EXPECT_TRUE(Variant(int16_t(-1)) == int32_t(-1));
  EXPECT_TRUE(Variant(uint32_t(0xFFFFFFFF)) == int32_t(-1));
  EXPECT_FALSE(Variant(int32_t(1)) == 1.0);
  EXPECT_TRUE(Variant(1.5f) == 1.5);
  EXPECT_FALSE(Variant(uint16_t(1)) == true);

  // Arrays order by code, then length, then bytes.
  EXPECT_TRUE(Variant("b") < Variant("aa"));
  EXPECT_TRUE(Variant("ab") < Variant("ac"));
  EXPECT_TRUE(Variant("zz") < Variant(u"a"));
  EXPECT_FALSE(Variant("ab") == Variant(u"ab"));
  EXPECT_TRUE(Variant("ab") == Variant("ab"));
}

TEST(VariantConvert, TextAndNumbers) {
  Variant out;
  ASSERT_TRUE(Variant("12").ToInteger(out));
  EXPECT_EQ(out.Type(), vt_Long);
  EXPECT_EQ(out.ExpandedInteger(), 12);
  ASSERT_TRUE(Variant(u"-40").ToInteger(out));
  EXPECT_EQ(out.ExpandedInteger(), -40);
  EXPECT_FALSE(Variant("x").ToInteger(out));
  EXPECT_FALSE(Variant("99999999999").ToInteger(out));  // outside 32 bits
  EXPECT_FALSE(Variant(1.5).ToInteger(out));
  ASSERT_TRUE(Variant(uint16_t(7)).ToInteger(out));
  EXPECT_EQ(out.Type(), vt_UShort);

  ASSERT_TRUE(Variant("2.5").ToReal(out));
  EXPECT_EQ(out.Type(), vt_Double);
  EXPECT_EQ(out.ExpandedReal(), 2.5);
  EXPECT_FALSE(Variant(int32_t(2)).ToReal(out));

  ASSERT_TRUE(Variant(int16_t(-5)).ToString(out, true));
  EXPECT_STREQ(static_cast<char*>(out), "-5");
  ASSERT_TRUE(Variant(uint32_t(4000000000u)).ToString(out, true));
  EXPECT_STREQ(static_cast<char*>(out), "4000000000");
  ASSERT_TRUE(Variant(0.5f).ToString(out, false));
  EXPECT_EQ(std::u16string(static_cast<char16_t*>(out)), u"0.500000");
  ASSERT_TRUE(Variant("gr\xC3\xBC\xC3\x9F").ToString(out, false));  // UTF-8 to UTF-16
  EXPECT_EQ(std::u16string(static_cast<char16_t*>(out)), u"gr\u00FC\u00DF");
  EXPECT_FALSE(Variant("gr\xC3").ToString(out, false));  // invalid UTF-8 is refused, not replaced
  EXPECT_FALSE(Variant(u"ab").ToString(out, true));
  EXPECT_FALSE(Variant('c').ToString(out, true));
  EXPECT_FALSE(Variant(1e300).ToString(out, false));  // too long for the wide conversion
  EXPECT_TRUE(Variant(1e300).ToString(out, true));
}

TEST(VariantValue, CopiesOwnTheirBlocksAndNullDataIsZeroed) {
  Variant a("abc");
  Variant b = a;
  static_cast<char*>(a)[0] = 'x';
  EXPECT_STREQ(static_cast<char*>(b), "abc");
  b = b;
  EXPECT_STREQ(static_cast<char*>(b), "abc");
  const Variant zeros(static_cast<const int32_t*>(nullptr), 4);
  EXPECT_EQ(zeros.ArraySize(), 16u);
  for (int i = 0; i < 4; ++i) EXPECT_EQ(static_cast<int32_t*>(zeros)[i], 0);
}

// ---- Property sets --------------------------------------------------------------------------

const char16_t kSummary[] = u"\u0005VerbantSummaryInformation";

Bytes Written(const PropertySet& set) {
  MemFile out;
  set.Write(out);
  return Bytes(out.Data(), out.Data() + out.Size());
}

void ReadSet(PropertySet& set, const Bytes& bytes) {
  MemFile f = FileOf(bytes);
  set.Read(f);
}

TEST(PropertySetStream, VersionSummaryIsByteExact) {
  PropertySet set(kSummary);
  set += Property(3001, Variant(uint16_t(1)));
  set += Property(3000, Variant(uint16_t(1)));
  const Bytes expected = {
      0xFE, 0xFF, 0x00, 0x00, 0x04, 0x00, 0x02, 0x00, 0, 0, 0, 0, 0, 0, 0, 0,  //
      0, 0, 0, 0, 0, 0, 0, 0, 0x01, 0x00, 0x00, 0x00, 0, 0, 0, 0,              //
      0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0x30, 0x00, 0x00, 0x00,              //
      0x28, 0, 0, 0, 0x02, 0, 0, 0, 0xB8, 0x0B, 0, 0, 0x18, 0, 0, 0,           //
      0xB9, 0x0B, 0, 0, 0x20, 0, 0, 0, 0x12, 0, 0, 0, 0x01, 0, 0, 0,           //
      0x12, 0, 0, 0, 0x01, 0, 0, 0};
  EXPECT_EQ(Written(set), expected);

  PropertySet back(kSummary);
  ReadSet(back, expected);
  ASSERT_EQ(back.Size(), 2u);
  EXPECT_EQ(back[0].ID(), 3000);
  EXPECT_EQ(back[1].Value().Type(), vt_UShort);
  EXPECT_TRUE(back.Find(3001)->Value() == uint16_t(1));
}

TEST(PropertySetStream, EveryWritableTypeRoundTrips) {
  PropertySet set(u"p");
  set += Property(2, Variant(int16_t(-2)));
  set += Property(3, Variant(int32_t(-3)));
  set += Property(4, Variant(4.5f));
  set += Property(5, Variant(5.25));
  set += Property(11, Variant(true));
  set += Property(16, Variant('q'));
  set += Property(18, Variant(uint16_t(18)));
  set += Property(19, Variant(uint32_t(19)));
  set += Property(30, Variant("narrow"));
  set += Property(31, Variant(u"wide"));
  set += Property(-5, Variant(int32_t(7)));
  PropertySet back(u"p");
  ReadSet(back, Written(set));
  ASSERT_EQ(back.Size(), set.Size());
  for (uint32_t i = 0; i < set.Size(); ++i) {
    EXPECT_EQ(back[i].ID(), set[i].ID());
    EXPECT_EQ(back[i].Value().Type(), set[i].Value().Type());
    EXPECT_TRUE(back[i].Value() == set[i].Value()) << set[i].ID();
  }
  // Id 0 carries its value in place of the type word.
  PropertySet zero(u"z");
  zero += Property(0, Variant(int32_t(1252)));
  ReadSet(back, Written(zero));
  EXPECT_TRUE(back.Find(0)->Value() == uint32_t(1252));
  EXPECT_EQ(back.Find(0)->Value().Type(), vt_ULong);
}

TEST(PropertySetStream, DateAndClipboardValuesPassThroughUnchanged) {
  // Section with four properties: a date (64), a clipboard value (71), an unknown type (99)
  // and an unsigned short.
  Bytes stream = {0xFE, 0xFF, 0, 0, 4, 0, 2, 0};
  stream.resize(24, 0);
  stream.insert(stream.end(), {1, 0, 0, 0});
  const uint8_t formatId[16] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16};
  stream.insert(stream.end(), formatId, formatId + 16);
  stream.insert(stream.end(), {48, 0, 0, 0});
  const Bytes section = {
      76, 0, 0, 0, 4, 0, 0, 0,                             // size, count
      7, 0, 0, 0, 40, 0, 0, 0, 8, 0, 0, 0, 52, 0, 0, 0,    // ids 7 and 8
      9, 0, 0, 0, 64, 0, 0, 0, 10, 0, 0, 0, 68, 0, 0, 0,   // ids 9 and 10
      64, 0, 0, 0, 1, 2, 3, 4, 5, 6, 7, 8,                 // date
      71, 0, 0, 0, 3, 0, 0, 0, 0xAA, 0xBB, 0xCC, 0,        // clipboard, 3 bytes
      99, 0, 0, 0,                                         // unknown
      18, 0, 0, 0, 5, 0, 0, 0};
  stream.insert(stream.end(), section.begin(), section.end());

  PropertySet set(u"p");
  ReadSet(set, stream);
  ASSERT_TRUE(set.Find(10));
  ASSERT_TRUE(set.Find(PropertySet::kPassThroughId));
  EXPECT_EQ(set.Find(PropertySet::kPassThroughId)->Value().Type(), vt_ULongArray);
  EXPECT_FALSE(set.Find(7));

  // Written back, the date and the clipboard value keep their bytes; the unknown type, which
  // carried no data, comes back as an empty property.
  PropertySet again(u"p");
  ReadSet(again, Written(set));
  ASSERT_TRUE(again.Find(9));
  EXPECT_EQ(again.Find(9)->Value().Type(), vt_Empty);
  EXPECT_TRUE(again.Find(10)->Value() == uint16_t(5));
  const Bytes rewritten = Written(set);
  EXPECT_EQ(Bytes(rewritten.begin() + 28, rewritten.begin() + 44), Bytes(formatId, formatId + 16));
  const Bytes date = {64, 0, 0, 0, 1, 2, 3, 4, 5, 6, 7, 8};
  EXPECT_NE(std::search(rewritten.begin(), rewritten.end(), date.begin(), date.end()),
            rewritten.end());
  const Bytes clip = {71, 0, 0, 0, 3, 0, 0, 0, 0xAA, 0xBB, 0xCC, 0};
  EXPECT_NE(std::search(rewritten.begin(), rewritten.end(), clip.begin(), clip.end()),
            rewritten.end());
}

TEST(PropertySetStream, TruncatedOrLyingStreamsRaise33010) {
  PropertySet set(kSummary);
  set += Property(30, Variant("some text"));
  set += Property(3000, Variant(uint16_t(1)));
  const Bytes good = Written(set);
  for (size_t cut = 0; cut < good.size(); ++cut) {
    PropertySet back(kSummary);
    const Bytes shortened(good.begin(), good.begin() + cut);
    const int code = CodeOf([&] { ReadSet(back, shortened); });
    // Only the last value's padding may go missing without harm.
    if (cut < good.size() - 3) {
      EXPECT_EQ(code, FE_StorageFalse) << cut;
    }
  }
  Bytes huge = good;
  huge[48 + 4] = 0xFF;  // property count
  huge[48 + 5] = 0xFF;
  huge[48 + 6] = 0xFF;
  PropertySet back(kSummary);
  EXPECT_EQ(CodeOf([&] { ReadSet(back, huge); }), FE_StorageFalse);
  Bytes longText = good;
  const size_t textCount = 48 + 8 + 16 + 4;  // first value: type word, then the count
  longText[textCount + 3] = 0x7F;
  EXPECT_EQ(CodeOf([&] { ReadSet(back, longText); }), FE_StorageFalse);
}

TEST(PropertySetStream, TextWithoutTerminatorGetsOne) {
  PropertySet set(u"p");
  set += Property(30, Variant("abcd"));
  Bytes bytes = Written(set);
  // Claim 4 bytes: the terminator is outside the count.
  const size_t count = 48 + 8 + 8 + 4;
  bytes[count] = 4;
  ReadSet(set, bytes);
  EXPECT_EQ(set.Find(30)->Value().ArraySize(), 5u);
  EXPECT_STREQ(static_cast<char*>(set.Find(30)->Value()), "abcd");
}

TEST(PropertySetContents, InsertReplaceRemove) {
  PropertySet a(u"a");
  a += Property(5, Variant(int32_t(1)));
  a += Property(-1, Variant(int32_t(2)));
  a += Property(5, Variant(int32_t(3)));
  ASSERT_EQ(a.Size(), 2u);
  EXPECT_EQ(a[0].ID(), -1);
  EXPECT_TRUE(a.Find(5)->Value() == int32_t(3));
  PropertySet b(u"b");
  b += Property(7);
  b += a;
  EXPECT_EQ(b.Size(), 3u);
  b -= a;
  EXPECT_EQ(b.Size(), 1u);
  b -= Property(7);
  EXPECT_EQ(b.Size(), 0u);
  EXPECT_EQ(b.Find(7), nullptr);
}

}  // namespace

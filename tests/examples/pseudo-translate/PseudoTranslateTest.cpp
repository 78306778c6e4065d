// The stand-in translation of exchange containers: text runs grow, everything else stays.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "BridgeSample.h"
#include "Container/Model/FileFixture.h"
#include "Plugin/Exchange/DWX_Import.h"
#include "examples/pseudo-translate/PseudoTranslate.h"

using namespace KS_DWX::Import;
using namespace bridge_test;

namespace {

class PseudoTranslate : public model_test::FileFixture {
protected:
    PseudoTranslate() : FileFixture("kesto-pseudo-", "in.dwq") {}
    std::string Out() const { return (m_dir / "out.dwq").string(); }
};

std::u16string Units(IRun& run)
{
    std::u16string text;
    uint8_t unit[2];
    while (run.Read(unit, sizeof unit) == 2)
        text += static_cast<char16_t>(unit[0] | unit[1] << 8);
    return text;
}

size_t RecordCount(IRun& run)
{
    size_t count = 0;
    uint8_t record[16];
    while (run.Read(record, sizeof record) != 0)
        ++count;
    return count;
}

TEST(PseudoTranslateText, BracketsAndATailOfTwoFifthsRoundedUp)
{
    EXPECT_EQ(PseudoTranslateText(u""), u"[]");
    EXPECT_EQ(PseudoTranslateText(u"a"), u"[a~]");
    EXPECT_EQ(PseudoTranslateText(u"Hello"), u"[Hello~~]");
    EXPECT_EQ(PseudoTranslateText(u"Hello!"), u"[Hello!~~~]");
    EXPECT_EQ(PseudoTranslateText(std::u16string(2500, u'x')).size(), 2u + 2500u + 1000u);
}

TEST_F(PseudoTranslate, OnlyUnicodeRunsChangeTheRestAndTheStoredDocumentStay)
{
    const Bytes document = Pattern(7000, 3);
    WriteSampleBook(m_path, document);
    std::string error;
    ASSERT_TRUE(PseudoTranslateFile(m_path, Out(), error)) << error;

    RefPtr<IBook> book = OpenImportBook(Out());
    ASSERT_TRUE(book);
    const char16_t* type = book->GetText(u"source_data_type");
    ASSERT_TRUE(type);
    EXPECT_EQ(std::u16string(type), u"QuarkXpress 7 Win {MB=1}");
    RefPtr<IDoc> doc = book->Document(0);
    ASSERT_TRUE(doc);
    RefPtr<IStory> story = doc->Story(0);
    ASSERT_TRUE(story);
    EXPECT_EQ(std::u16string(story->GetText(u"story_type")), u"layout_cur0");
    RefPtr<IPara> para = story->Paragraph(0);
    ASSERT_TRUE(para);
    int32_t uniq = 0;
    EXPECT_TRUE(para->GetNumber(u"uniqID", uniq));
    EXPECT_EQ(uniq, 42);

    RefPtr<IRun> hello = para->Run(0);
    ASSERT_EQ(hello->Kind(), kRunUnicodes);
    EXPECT_EQ(Units(*hello), u"[Hello~~]");
    EXPECT_EQ(RecordCount(*para->Run(1)), 2u);
    RefPtr<IRun> wide = para->Run(3);
    ASSERT_EQ(wide->Kind(), kRunWideMultibytes);
    EXPECT_EQ(Units(*wide), (std::u16string{u'\x85', u'\x2000'}));
    EXPECT_EQ(RecordCount(*para->Run(4)), 2u);
    EXPECT_EQ(RecordCount(*para->Run(5)), 3u);

    RefPtr<IRun> longRun = story->Paragraph(1)->Run(0);
    const std::u16string text = Units(*longRun);
    std::vector<uint16_t> original = LongRunText();
    ASSERT_EQ(text.size(), 2u + kLongRunUnits + 1000u);
    EXPECT_EQ(text.front(), u'[');
    EXPECT_TRUE(std::equal(original.begin(), original.end(), text.begin() + 1));
    EXPECT_EQ(text.substr(1 + kLongRunUnits), std::u16string(1000, u'~') + u"]");

    MemorySink sink;
    book->LoadQXP(0, &sink);
    EXPECT_EQ(sink.data, document);
}

TEST_F(PseudoTranslate, DamagedInputsFailAndLeaveNoOutput)
{
    WriteSampleBook(m_path, Pattern(3000, 5));
    const Bytes whole = FileBytes(m_path);
    const std::string cut = (m_dir / "cut.dwq").string();
    const std::string flipped = (m_dir / "flipped.dwq").string();
    const std::string plain = (m_dir / "plain.dwq").string();
    std::ofstream(cut, std::ios::binary).write(reinterpret_cast<const char*>(whole.data()), whole.size() / 2);
    Bytes bad = whole;
    for (size_t i = 512; i < bad.size(); i += 97)
        bad[i] ^= 0x5A;
    std::ofstream(flipped, std::ios::binary).write(reinterpret_cast<const char*>(bad.data()), bad.size());
    std::ofstream(plain) << "not a compound file";

    for (const std::string& in : {cut, flipped, plain, (m_dir / "missing.dwq").string()}) {
        std::string error;
        EXPECT_FALSE(PseudoTranslateFile(in, Out(), error)) << in;
        EXPECT_FALSE(error.empty());
        EXPECT_FALSE(std::filesystem::exists(Out())) << in;
    }
}

} // namespace

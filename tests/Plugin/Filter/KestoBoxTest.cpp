// The private working boxes against the emulated host: the samples written by an export
// analysis, the probes an import cuts from them, and the formatting a probe carries into a
// story, with the old and the new copy call of the host.
#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "Plugin/Filter/Filter_KS.h"
#include "Plugin/Filter/KestoBox.h"
#include "Plugin/Mixer/HostCalls.h"
#include "Plugin/ModuleHostFixture.h"
#include "Plugin/QAPI/QStory.h"
#include "Plugin/Shell/HostSuites.h"
#include "StoryView.h"
#include "platform/host/documents/DocumentFile.h"
#include "platform/host/documents/testing/DocBuilder.h"

namespace {

using xthost::doc::DocBuilder;
using xthost::doc::Place;

constexpr int32_t pt(int32_t points) { return points * 65536; }
xthost::doc::Rect Pt(int32_t top, int32_t left, int32_t bottom, int32_t right)
{
    return xthost::doc::Rect{pt(top), pt(left), pt(bottom), pt(right)};
}

using kesto_test::FormatAt;
std::u16string TextOf(XTHandle box) { return kesto_test::StoryChars(box); }

void ExpectSameFormat(const XTCharFormat& a, const XTCharFormat& b, const std::string& what)
{
    EXPECT_EQ(a.font, b.font) << what;
    EXPECT_EQ(a.face, b.face) << what;
    EXPECT_EQ(a.size, b.size) << what;
    EXPECT_EQ(a.colour, b.colour) << what;
    EXPECT_EQ(a.high, b.high) << what;
    EXPECT_EQ(a.scriptLang, b.scriptLang) << what;
    EXPECT_EQ(a.extra, b.extra) << what;
}

class KestoBoxTest : public kesto_test::ModuleHostTest {
protected:
    KestoBoxTest() : ModuleHostTest("filter") {}

    // Saves the builder's document into the application folder and opens it.
    void OpenBuilt(DocBuilder& builder, const std::string& name)
    {
        const std::string path = (app / name).string();
        ASSERT_TRUE(xthost::doc::WriteFileAtomically(path, builder.Bytes()));
        ASSERT_EQ(Docs().Open(path, 63), XT_OK) << host->Log().Text();
    }

    // A document whose only private box carries link id linkId and the text.
    void OpenWithPrivateBox(int32_t linkId, const std::u16string& chars)
    {
        DocBuilder b;
        const int32_t cf = b.PlainText(pt(12));
        b.Page(0);
        const uint32_t story = b.TextBox(Place::OnSpread(0), Pt(36, 36, 200, 300));
        b.Story({story}).Text(u"A story.", cf).End();
        const uint32_t privateBox = b.TextBox(Place::OnSpread(0), Pt(300, 36, 340, 76));
        b.Story({privateBox}).Text(chars, cf).End();
        const uint32_t id = static_cast<uint32_t>(linkId);
        b.PrivateData(privateBox, BoxLinkIdKey,
                      {uint8_t(id >> 24), uint8_t(id >> 16), uint8_t(id >> 8), uint8_t(id)})
            .PrivateData(privateBox, BoxLinkMarkKey, {0xAC, 0xAC});
        OpenBuilt(b, "private.qxp");
        privateUid = privateBox;
        storyUid = story;
    }

    // The import side over a document whose only private box carries linkId and chars.
    std::unique_ptr<KestoBoxImp> Imported(int32_t linkId, const std::u16string& chars, const std::string& settings = "")
    {
        Start(settings);
        OpenWithPrivateBox(linkId, chars);
        std::unique_ptr<KestoBoxImp> imp(KestoBoxImp::New(importer));
        EXPECT_NE(imp, nullptr);
        return imp;
    }

    uint32_t privateUid = 0;
    uint32_t storyUid = 0;
    Mapper importer;  // makes no host call of its own
};

TEST_F(KestoBoxTest, TheExportAnalysisWritesTwoCharactersPerRunKey)
{
    Start();
    OpenExample("mapping.qxp");
    Mapper mapper;
    ASSERT_EQ(mapper.AnaliseDocument(), 7);
    auto* exp = dynamic_cast<KestoBoxExp*>(mapper.PrivateBox());
    ASSERT_NE(exp, nullptr);
    EXPECT_EQ(exp->mode, 1);
    EXPECT_EQ(exp->box, exp->SecondBox());
    const auto& ids = exp->PrivateIds();
    ASSERT_FALSE(ids.empty());
    EXPECT_EQ(TextOf(exp->SecondBox()).size(), 2 * ids.size());
    std::vector<int32_t> seen;
    for (const auto& entry : ids) {
        EXPECT_EQ(exp->GetPrivateId(entry.first), entry.second);
        seen.push_back(entry.second);
    }
    std::sort(seen.begin(), seen.end());
    for (size_t n = 0; n < seen.size(); ++n)
        EXPECT_EQ(seen[n], static_cast<int32_t>(n));
    EXPECT_EQ(exp->GetPrivateId(RunKey{0xFFFF, 0}), -1);
    // The import side's slot answers nothing on the export object.
    EXPECT_EQ(exp->CopyProbe(0, mapper.FindBox(0), 0), -1);
}

TEST_F(KestoBoxTest, ProbesOfTheSecondBoxAreTwoCharactersWide)
{
    const auto imp = Imported(-2, u"abcdefg");
    ASSERT_NE(imp, nullptr);
    EXPECT_EQ(imp->mode, 2);
    ASSERT_EQ(imp->Probes().size(), 3u);
    for (int32_t i = 0; i < 3; ++i) {
        EXPECT_EQ(imp->Probes()[static_cast<size_t>(i)].box, Box(privateUid));
        EXPECT_EQ(imp->Probes()[static_cast<size_t>(i)].start, 2 * i);
        EXPECT_EQ(imp->Probes()[static_cast<size_t>(i)].length, 2);
    }
    // Out of range: nothing is copied.
    const XTHandle story = Box(storyUid);
    EXPECT_EQ(imp->CopyProbe(-1, story, 0), 0);
    EXPECT_EQ(imp->CopyProbe(3, story, 0), 0);
    EXPECT_EQ(TextOf(story), u"A story.");
    // The export side's slot answers nothing on the import object.
    EXPECT_EQ(imp->GetPrivateId(RunKey{}), -1);
}

TEST_F(KestoBoxTest, ProbesOfTheFirstBoxAreOneCharacterWide)
{
    const auto imp = Imported(-1, u"wxyz");
    ASSERT_NE(imp, nullptr);
    EXPECT_EQ(imp->mode, 1);
    ASSERT_EQ(imp->Probes().size(), 4u);
    EXPECT_EQ(imp->Probes()[3].start, 3);
    EXPECT_EQ(imp->Probes()[3].length, 1);
}

TEST_F(KestoBoxTest, WithoutPrivateBoxesThereIsNothingToCopy)
{
    Start();
    OpenExample("minimal.qxp");
    Mapper mapper;
    std::unique_ptr<KestoBoxImp> imp(KestoBoxImp::New(mapper));
    ASSERT_NE(imp, nullptr);
    EXPECT_EQ(imp->mode, 0);
    EXPECT_TRUE(imp->Probes().empty());
    EXPECT_EQ(imp->CopyProbe(0, Box(1), 0), 0);
}

TEST_F(KestoBoxTest, AMissingWorkBoxLeavesNoPrivateBoxBehind)
{
    Start();
    OpenExample("minimal.qxp");
    Mapper mapper;
    // The second work box is refused.
    host->Faults().Add(xthost::FaultRule{"BOX-8", -50, 1, 1});
    std::unique_ptr<KestoBoxExp> exp(KestoBoxExp::New(mapper));
    host->Faults().Clear();
    EXPECT_EQ(exp, nullptr);
    EXPECT_EQ(FindBoxByPrivateData16(BoxLinkMarkKey, BoxLinkMark), 0);
    EXPECT_EQ(mapper.FindBox(-1), 0);
    // Without private working boxes no run has a private id and no probe is copied.
    ASSERT_EQ(mapper.PrivateBox(), nullptr);
    EXPECT_EQ(mapper.GetPrivateId(RunKey{}), -1);
    EXPECT_EQ(mapper.CopyProbe(0, Box(1), 0), 0);
}

// A copy of probe 1 lands at position 5 with its characters and their formatting, and answers
// the characters copied, with either copy call of the host.
class ProbeCopyTest : public KestoBoxTest, public ::testing::WithParamInterface<bool> {};

TEST_P(ProbeCopyTest, AProbeIsCopiedWithItsFormatting)
{
    const auto imp =
        Imported(-2, u"abcdefg", std::string("[Options]\nuseObsoleteCopyText=") + (GetParam() ? "True" : "False") + "\n");
    ASSERT_NE(imp, nullptr);
    const XTHandle story = Box(storyUid);
    EXPECT_EQ(imp->CopyProbe(1, story, 5), 2);
    EXPECT_EQ(TextOf(story), u"A stocdry.");
}

TEST_P(ProbeCopyTest, EveryParagraphFormatSurvivesThePrivateBoxes)
{
    Start(std::string("[Options]\nuseObsoleteCopyText=") + (GetParam() ? "True" : "False") + "\n");
    DocBuilder b;
    b.Font(1, "DejaVu Sans").Font(2, "DejaVu Serif").Colour(1, "Black", 0x000000).Colour(2, "Red", 0xFF0000);
    xthost::doc::CharFormat bold;
    bold.font = 1;
    bold.size = pt(12);
    bold.face = 1;
    bold.colour = 1;
    xthost::doc::CharFormat italic = bold;
    italic.font = 2;
    italic.face = 2;
    italic.size = pt(14);
    xthost::doc::CharFormat large = bold;
    large.face = 0;
    large.size = pt(18);
    large.colour = 2;
    // In the third paragraph too, apart only in what the Book does not carry: a sample of its own.
    xthost::doc::CharFormat odd = large;
    odd.high = 128;
    odd.scriptLang = 0x0004000C;
    odd.extra = 0x0102;
    odd.face = 0x20;
    odd.size = pt(9) + pt(1) / 4;
    const int32_t c1 = b.CharFormat(bold), c2 = b.CharFormat(italic), c3 = b.CharFormat(large), c4 = b.CharFormat(odd);
    xthost::doc::ParaFormat p1;
    p1.style = 1;
    xthost::doc::ParaFormat p2 = p1;
    p2.leftIndent = pt(18);
    xthost::doc::ParaFormat p3 = p1;
    p3.align = xthost::doc::Align::Center;
    const int32_t f1 = b.ParaFormat(p1), f2 = b.ParaFormat(p2), f3 = b.ParaFormat(p3);
    b.StyleSheet(1, "Normal", c1, f1);
    b.Layout("Layout 1", pt(612), pt(792), pt(36));
    b.Page(0);
    const uint32_t source = b.TextBox(Place::OnSpread(0), Pt(36, 36, 300, 576));
    b.Story({source})
        .Para(f1)
        .Text(u"Bold first paragraph\r", c1)
        .Para(f2)
        .Text(u"Italic second one\r", c2)
        .Para(f3)
        .Text(u"Large third", c3)
        .Text(u" odd", c4)
        .End();
    const uint32_t target = b.TextBox(Place::OnSpread(0), Pt(400, 36, 500, 576));
    b.Story({target}).Para(f1).Text(u"x", c1).End();
    OpenBuilt(b, "three-formats.qxp");

    // The key and the formatting of each run.
    std::map<RunKey, XTCharFormat> formats;
    {
        QStoryText text(Box(source));
        QStoryCursor cursor(text);
        while (cursor.HasMore()) {
            formats.emplace(RunKeyAt(cursor), cursor.GetCharAttributes());
            cursor.Next();
        }
    }
    ASSERT_EQ(formats.size(), 4u);

    Mapper exporter;
    ASSERT_EQ(exporter.AnaliseDocument(), 2);
    const KestoBox* exp = exporter.PrivateBox();
    ASSERT_NE(exp, nullptr);
    std::unique_ptr<KestoBoxImp> imp(KestoBoxImp::New(importer));
    ASSERT_NE(imp, nullptr);
    ASSERT_EQ(imp->mode, 2);

    const XTHandle destination = Box(target);
    for (const auto& entry : formats) {
        const int32_t id = exp->GetPrivateId(entry.first);
        ASSERT_GE(id, 0);
        ASSERT_EQ(imp->CopyProbe(id, destination, 0), 2);
        const std::string what = "key " + std::to_string(entry.first.para) + "/" + std::to_string(entry.first.style);
        ExpectSameFormat(FormatAt(destination, 0), entry.second, what);
        ExpectSameFormat(FormatAt(destination, 1), entry.second, what);
    }
    EXPECT_EQ(TextOf(destination).size(), 1 + 2 * formats.size());
}

INSTANTIATE_TEST_SUITE_P(OldAndNewCopy, ProbeCopyTest, ::testing::Bool(),
                         [](const ::testing::TestParamInfo<bool>& info) { return info.param ? "Obsolete" : "New"; });

} // namespace

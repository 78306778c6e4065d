// The coordinates and XTags exporters in the emulated host with the module linked in: the export
// example's layouts walked the way their commands walk them, the lines checked against the host's
// own line records, and the XTags file's bytes.
#include <gtest/gtest.h>

#include <cstdint>
#include <fstream>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "Plugin/Filter/ExporterCoord.h"
#include "Plugin/Mixer/HostCalls.h"
#include "Plugin/ModuleHostFixture.h"
#include "Plugin/QAPI/CurDocAPI.h"
#include "Plugin/Shell/HostSuites.h"
#include "platform/host/documents/DocumentFile.h"
#include "platform/host/documents/XTDocSuites.h"
#include "platform/host/documents/XTFlowSuites.h"
#include "platform/host/documents/testing/DocBuilder.h"

namespace {

using xthost::doc::DocBuilder;
using xthost::doc::Place;

int32_t pt(int32_t points)
{
    return points * 65536;
}

const char kHead[] =
    "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>\n"
    "<!--\n"
    "--------------------------------------------------------------------------------\n"
    "Paragraph coordinates:\n"
    "%s\n"
    "--------------------------------------------------------------------------------\n"
    "-->\n";

std::string Head(const std::string& path)
{
    std::string head = kHead;
    head.replace(head.find("%s"), 2, path);
    return head;
}

// One line of the file, its attributes in their order.
struct CoordLine {
    std::vector<std::pair<std::string, int32_t>> attrs;
    std::string Names() const
    {
        std::string names;
        for (const auto& [name, value] : attrs)
            names += (names.empty() ? "" : " ") + name;
        return names;
    }
    int32_t operator[](const std::string& name) const
    {
        for (const auto& [n, value] : attrs)
            if (n == name)
                return value;
        ADD_FAILURE() << "no " << name;
        return INT32_MIN;
    }
};

std::vector<CoordLine> Lines(const std::string& body)
{
    static const std::regex line("<coord><p((?: [a-z_]+=\"-?[0-9]+\")+)/></coord>\n");
    static const std::regex attr(" ([a-z_]+)=\"(-?[0-9]+)\"");
    std::vector<CoordLine> lines;
    size_t consumed = 0;
    for (auto it = std::sregex_iterator(body.begin(), body.end(), line); it != std::sregex_iterator(); ++it) {
        EXPECT_EQ(static_cast<size_t>(it->position()), consumed) << "text between lines";
        consumed = static_cast<size_t>(it->position() + it->length());
        CoordLine l;
        const std::string attrs = (*it)[1];
        for (auto a = std::sregex_iterator(attrs.begin(), attrs.end(), attr); a != std::sregex_iterator(); ++a)
            l.attrs.emplace_back((*a)[1], std::stoi((*a)[2]));
        lines.push_back(l);
    }
    EXPECT_EQ(consumed, body.size()) << "text after the last line";
    return lines;
}

// A test exporter whose map has lost its count while its links still find boxes.
class CountlessExporter : public ExporterCoord {
public:
    using ExporterCoord::ExporterCoord;
    void LoseCount() { mStoryCount = 0; }
};

class ExporterCoordTest : public kesto_test::ModuleHostTest {
protected:
    ExporterCoordTest() : ModuleHostTest("filter") {}

    void OpenBuilt(DocBuilder& builder, const std::string& name)
    {
        path = (app / name).string();
        ASSERT_TRUE(xthost::doc::WriteFileAtomically(path, builder.Bytes()));
        ASSERT_EQ(Docs().Open(path, 63), XT_OK) << host->Log().Text();
    }

    // Every layout of the front project, as the command walks them; answers the file's text.
    std::string ExportAll()
    {
        std::ostringstream out;
        WriteCoordHead(out, path);
        UniqIdSet ids;
        int16_t noted = -1;
        CallHost<XDD_CurrentDocId>(&noted);
        XTHandle project = 0;
        int16_t layouts = 0;
        EXPECT_EQ(CallHost<XPK_CurrentProject>(&project), XT_OK);
        EXPECT_EQ(CallHost<XPK_LayoutCount>(project, &layouts), XT_OK);
        RefPtr<QuarkDoc> document(new QuarkDoc());
        for (int16_t i = 0; i < layouts; ++i) {
            int16_t id = 0;
            EXPECT_EQ(CallHost<XPK_LayoutDocument>(project, i, &id), XT_OK);
            document->Finish();
            document->SetIndex(static_cast<uint16_t>(id));
            EXPECT_EQ(CallHost<LTY_MakeLayoutCurrent>(id), XT_OK);
            std::unique_ptr<ExporterCoord> exporter = CreateExporterCoord(document.Get(), &out, &ids);
            EXPECT_TRUE(exporter);
            if (!exporter)
                break;
            exporter->ExportDocument();
            largest = std::max(largest, exporter->LargestUniqID());
        }
        CallHost<LTY_MakeLayoutCurrent>(noted);
        document->Finish();
        uniqIds = ids;
        return out.str();
    }

    // A one-page document whose one text box (from top to bottom, in points) holds the story
    // fill (story builder, character format) makes, exported; answers the file's lines.
    template <class Fill>
    std::string ExportBuilt(int32_t top, int32_t bottom, Fill fill)
    {
        Start();
        DocBuilder b;
        const int32_t cf = b.PlainText(pt(12));
        b.Page(0);
        boxUid = b.TextBox(Place::OnSpread(0), xthost::doc::Rect{pt(top), pt(50), pt(bottom), pt(250)});
        auto story = b.Story({boxUid});
        fill(story, cf);
        story.End();
        OpenBuilt(b, "built.qxp");
        return ExportAll().substr(Head(path).size());
    }

    std::string path;
    uint32_t boxUid = 0;
    int32_t largest = 0;
    UniqIdSet uniqIds;
};

// The host's line records of a box's story, as 16-word records.
std::vector<std::vector<int32_t>> HostLines(XTHandle box)
{
    int32_t size = 0;
    std::vector<std::vector<int32_t>> lines;
    if (CallHost<XTY_LineRecords>(box, nullptr, &size) != XT_OK || size <= 0)
        return lines;
    std::vector<uint8_t> bytes(static_cast<size_t>(size));
    EXPECT_EQ(CallHost<XTY_LineRecords>(box, bytes.data(), &size), XT_OK);
    for (int32_t at = 0; at + 64 <= size; at += 64) {
        std::vector<int32_t> words;
        for (int w = 0; w < 16; ++w) {
            const uint8_t* p = bytes.data() + at + 4 * w;
            words.push_back(static_cast<int32_t>(p[0] | p[1] << 8 | p[2] << 16 | static_cast<uint32_t>(p[3]) << 24));
        }
        lines.push_back(words);
    }
    return lines;
}

TEST_F(ExporterCoordTest, TheExampleGivesALinePerParagraphLayoutByLayout)
{
    Start();
    OpenExample("export.qxp");
    path = (app / "export.qxp").string();
    const std::string text = ExportAll();
    ASSERT_EQ(text.substr(0, Head(path).size()), Head(path));
    EXPECT_EQ(text.find('\r'), std::string::npos);
    const std::vector<CoordLine> lines = Lines(text.substr(Head(path).size()));
    ASSERT_GE(lines.size(), 12u) << text;

    int uid42 = 0, uid17 = 0, uidNone = 0, turned = 0;
    for (const CoordLine& line : lines) {
        const std::string names = line.Names();
        const bool hasAngle = names.find("angle") != std::string::npos;
        EXPECT_TRUE(names == "uid page y_pos x_pos width height" || names == "uid page x_pos y_pos width height" ||
                    names == "uid page angle y_pos x_pos width height" ||
                    names == "uid page angle x_pos y_pos width height")
            << names;
        uid42 += line["uid"] == 42;
        uid17 += line["uid"] == 17;
        uidNone += line["uid"] == -1;
        if (hasAngle) {
            ++turned;
            EXPECT_EQ(line["angle"], 330) << "-30 degrees";
        }
        EXPECT_GE(line["width"], 0);
        EXPECT_GE(line["height"], 0);
    }
    EXPECT_EQ(uid42, 2) << "the chain's first paragraph and the turned box's";
    EXPECT_EQ(uid17, 1) << "the marker that does not parse leaves 17";
    EXPECT_GT(uidNone, 0);
    EXPECT_EQ(turned, 2) << "the turned box's two paragraphs";
    EXPECT_EQ(largest, 42);
    EXPECT_EQ(uniqIds, (UniqIdSet{17, 42}));
    // The first layout's lines come first: the second print layout's text is the last line.
    EXPECT_EQ(lines.back()["uid"], -1);
}

TEST_F(ExporterCoordTest, AFoundLineGivesTheHostsGeometryRelativeToThePage)
{
    const std::string text = ExportBuilt(100, 300, [](auto& story, int32_t cf) {
        story.Uniq(7, cf).Text(u"First paragraph of some words\rSecond one", cf);
    });
    const std::vector<CoordLine> lines = Lines(text);
    ASSERT_EQ(lines.size(), 2u) << text;

    const XTHandle handle = Box(boxUid);
    const auto records = HostLines(handle);
    ASSERT_FALSE(records.empty());
    int32_t pageLeft = 0, pageTop = 0;
    GetBoxPageBounds(handle, &pageLeft, &pageTop, nullptr, nullptr);
    // The first paragraph ends after its return: the record whose start plus length is there.
    const std::vector<int32_t>* first = nullptr;
    double heights = 0;
    for (const auto& r : records) {
        heights += r[5] / 65536.0;
        if (r[0] + r[1] == 9 + 30) {
            first = &r;
            break;
        }
    }
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(lines[0].Names(), "uid page y_pos x_pos width height");
    EXPECT_EQ(lines[0]["uid"], 7);
    EXPECT_EQ(lines[0]["page"], 1);
    EXPECT_EQ(lines[0]["y_pos"], static_cast<int32_t>(((*first)[2] - pageTop) / 65536.0));
    EXPECT_EQ(lines[0]["x_pos"], static_cast<int32_t>(((*first)[3] - pageLeft) / 65536.0));
    EXPECT_EQ(lines[0]["width"], static_cast<int32_t>(std::min(200.0, (*first)[4] / 65536.0)));
    EXPECT_EQ(lines[0]["height"], static_cast<int32_t>(heights));
    EXPECT_EQ(lines[1]["uid"], -1);
    EXPECT_EQ(lines[1].Names(), "uid page y_pos x_pos width height");
    EXPECT_GT(lines[1]["y_pos"], lines[0]["y_pos"]);
}

TEST_F(ExporterCoordTest, AParagraphWhoseLineIsNotFoundRepeatsThePreviousGeometry)
{
    // Room for the first paragraph only: the rest overflows and has no line of its own.
    const std::string text =
        ExportBuilt(100, 118, [](auto& story, int32_t cf) { story.Text(u"Fits\rDoes not fit\rNor this", cf); });
    const std::vector<CoordLine> lines = Lines(text);
    ASSERT_EQ(lines.size(), 3u) << text;
    EXPECT_EQ(lines[0].Names(), "uid page y_pos x_pos width height") << text;
    for (int i = 1; i < 3; ++i) {
        EXPECT_EQ(lines[i].Names(), "uid page x_pos y_pos width height") << text;
        EXPECT_EQ(lines[i]["x_pos"], lines[0]["x_pos"]);
        EXPECT_EQ(lines[i]["y_pos"], lines[0]["y_pos"]);
        EXPECT_EQ(lines[i]["width"], lines[0]["width"]);
        EXPECT_EQ(lines[i]["height"], lines[0]["height"]);
    }
}

TEST_F(ExporterCoordTest, TheFirstParagraphNotFoundWritesZeros)
{
    // Too small for any line.
    const std::string body = ExportBuilt(100, 102, [](auto& story, int32_t cf) { story.Text(u"Nothing fits", cf); });
    EXPECT_EQ(body, "<coord><p uid=\"-1\" page=\"1\" x_pos=\"0\" y_pos=\"0\" width=\"0\" height=\"0\"/></coord>\n");
}

TEST_F(ExporterCoordTest, ADocumentWithoutLinkedBoxesGivesTheHeadAlone)
{
    Start();
    DocBuilder b;
    b.PlainText(pt(12));
    b.Page(0);
    b.PictureBox(Place::OnSpread(0), xthost::doc::Rect{pt(100), pt(50), pt(300), pt(250)});
    OpenBuilt(b, "pictures.qxp");
    EXPECT_EQ(ExportAll(), Head(path));
}

TEST_F(ExporterCoordTest, AMapWithoutACountStillWalksItsBoxes)
{
    Start();
    OpenExample("export.qxp");
    path = (app / "export.qxp").string();
    RefPtr<QuarkDoc> document(new QuarkDoc());
    std::ostringstream out;
    UniqIdSet ids;
    CountlessExporter exporter(*document, out, ids);
    exporter.LoseCount();
    exporter.ExportDocument();
    EXPECT_NE(out.str().find("uid=\"42\""), std::string::npos);
    document->Finish();
}

TEST_F(ExporterCoordTest, AnUnparsableMarkerLeavesTheUidAndTheLargestId)
{
    const std::string text = ExportBuilt(
        100, 300, [](auto& story, int32_t cf) { story.Hidden(0x88, "  4x2 ab", cf).Text(u"Marked badly", cf); });
    const std::vector<CoordLine> lines = Lines(text);
    ASSERT_EQ(lines.size(), 1u) << text;
    EXPECT_EQ(lines[0]["uid"], -1);
    EXPECT_EQ(largest, 0);
    EXPECT_TRUE(uniqIds.empty());
}

// ---- XTags -------------------------------------------------------------------------------------

std::string Utf16(const std::u16string& text)
{
    std::string bytes;
    for (char16_t c : text) {
        bytes.push_back(static_cast<char>(c & 0xFF));
        bytes.push_back(static_cast<char>(c >> 8));
    }
    return bytes;
}

std::string ReadBytes(const std::string& file)
{
    std::ifstream in(file, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

TEST_F(ExporterCoordTest, TheXTagsFileHoldsItsHeaderAndOneTagLineWhateverTheLayouts)
{
    Start();
    OpenExample("export.qxp");
    const std::string target = (app / "export.tgx").string();
    // A path byte that is not UTF-8 becomes U+FFFD; the rest is decoded.
    const std::string source = "/docs/\xC3\xA9t\xE9.qxp";
    {
        WideTextFile out(target);
        ASSERT_TRUE(out.good());
        WriteTgxHead(out, source);
        RefPtr<QuarkDoc> document(new QuarkDoc());
        UniqIdSet ids;
        for (int layout = 0; layout < 3; ++layout) {
            std::unique_ptr<ExporterTgx> exporter = CreateExporterTgx(document.Get(), &out, &ids);
            ASSERT_TRUE(exporter);
            exporter->ExportDocument();
        }
        document->Finish();
        EXPECT_TRUE(out.Close());
    }
    const std::string expected = std::string("\xFF\xFE") +
                                 Utf16(u"<Header>\n<QxpSource>\"/docs/\u00E9t\uFFFD.qxp\"</QxpSource>\n</Header>\n"
                                       u"<XTag -1>\tERROR: TGX export needs a version of QuarkXPress 8 (or later)\n");
    EXPECT_EQ(ReadBytes(target), expected);
}

TEST_F(ExporterCoordTest, ATagLineIsTheNumberAndTheText)
{
    Start();
    OpenExample("minimal.qxp");
    const std::string target = (app / "tags.tgx").string();
    {
        WideTextFile out(target);
        RefPtr<QuarkDoc> document(new QuarkDoc());
        UniqIdSet ids;
        ExporterTgx exporter(*document, out, ids);
        exporter.WriteTag(u"caf\u00E9", 12);
        document->Finish();
        EXPECT_TRUE(out.Close());
    }
    EXPECT_EQ(ReadBytes(target), Utf16(u"<XTag 12>caf\u00E9\n"));
}

TEST(ExporterFactories, NeedEveryPart)
{
    UniqIdSet ids;
    std::ostringstream out;
    EXPECT_EQ(CreateExporterCoord(nullptr, &out, &ids), nullptr);
    EXPECT_EQ(CreateExporterTgx(nullptr, nullptr, &ids), nullptr);
}

TEST(WideTextFileTest, AFileThatCannotBeOpenedIsNotGood)
{
    WideTextFile out("/nonexistent-folder-h29/x.tgx");
    EXPECT_FALSE(out.good());
}

} // namespace

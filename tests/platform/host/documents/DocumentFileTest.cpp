// The host's document files: canonical bytes, field coverage, refusals with their path.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <fstream>
#include <functional>
#include <tuple>
#include <sstream>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/host/documents/DocumentFile.h"
#include "platform/host/documents/testing/DocBuilder.h"
#include "TempDir.h"

namespace xthost::doc {
namespace {

const std::string kExamples = std::string(KESTO_SOURCE_DIR) + "/examples/documents/";

std::string ReadAll(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

std::string Canon(const std::string& bytes)
{
    auto project = ParseDocument(bytes);
    return PrintDocument(*project);
}

std::string RefusalPath(const std::string& bytes)
{
    try {
        ParseDocument(bytes);
    } catch (const DocumentError& e) {
        return e.Path();
    }
    return "(accepted)";
}

TEST(DocumentFile, ExamplesResaveAndRebuildByteForByte)
{
    for (const auto& name : ExampleNames()) {
        SCOPED_TRACE(name);
        const std::string file = ReadAll(kExamples + ExampleFileName(name));
        ASSERT_FALSE(file.empty());
        EXPECT_EQ(BuildExample(name), file);
        EXPECT_EQ(Canon(file), file);
        EXPECT_EQ(file.back(), '\n');
        EXPECT_EQ(file.find('\r'), std::string::npos);
    }
}

TEST(DocumentFile, DamagedExamplesAreRefusedWithTheirPath)
{
    for (const auto& damaged : DamagedExamples()) {
        SCOPED_TRACE(damaged.file);
        EXPECT_EQ(ReadAll(kExamples + "damaged/" + damaged.file), damaged.bytes);
        EXPECT_EQ(RefusalPath(damaged.bytes), damaged.path);
    }
}

TEST(DocumentFile, FileLargerThanTheLimitIsRefusedBeforeReading)
{
    const TempDir folder("xthost-docs");
    const std::string name = folder / "large.qxp";
    const int fd = ::open(name.c_str(), O_WRONLY | O_CREAT | O_EXCL, 0600);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(::ftruncate(fd, 70 << 20), 0);
    ::close(fd);
    try {
        ReadDocumentFile(name);
        ADD_FAILURE() << "a 70 MiB file was accepted";
    } catch (const DocumentError& e) {
        EXPECT_NE(std::string(e.what()).find("64 MiB"), std::string::npos);
    }
}

TEST(DocumentFile, FileOfTinyValuesIsRefusedBeforeItGrowsLarge)
{
    std::string many = "{\"format\": [";
    for (int i = 0; i < (5 << 20); ++i)
        many += "0,";
    many += "0]}";
    const std::string path = RefusalPath(many);
    EXPECT_EQ(path.rfind("format[", 0), 0u) << path;
}

// `good` with the first `from` replaced by `to`.
std::string Edited(std::string good, const std::string& from, const std::string& to)
{
    const auto at = good.find(from);
    EXPECT_NE(at, std::string::npos) << from;
    return at == std::string::npos ? good : good.replace(at, from.size(), to);
}

TEST(DocumentFile, RefusesWrongTypesRangesAndInvariants)
{
    const std::string good = BuildExample("two-page-linked");
    auto edited = [&](const std::string& from, const std::string& to) { return Edited(good, from, to); };
    EXPECT_EQ(RefusalPath(edited("\"next_uid\": 6", "\"next_uid\": \"6\"")), "next_uid");
    EXPECT_EQ(RefusalPath(edited("\"next_uid\": 6", "\"next_uid\": 5")), "layouts[0].boxes[2].uid");
    EXPECT_EQ(RefusalPath(edited("\"platform\": \"win\"", "\"platform\": \"amiga\"")), "platform");
    EXPECT_EQ(RefusalPath(edited("\"rgb\": \"ffffff\"", "\"rgb\": \"FFFFFF\"")), "colours[0].rgb");
    EXPECT_EQ(RefusalPath(edited("[2359296, 2359296, 49545216, 37748736], \"auto_text\"",
                                 "[49545216, 2359296, 2359296, 37748736], \"auto_text\"")),
              "layouts[0].boxes[0].bounds");
    EXPECT_EQ(RefusalPath(edited("\"paras\": [2, 1, 1]", "\"paras\": [2, 1]")), "layouts[0].stories[1].paras");
    EXPECT_EQ(RefusalPath(edited("\"paras\": [2, 1, 1]", "\"paras\": [2, 1, 9]")),
              "layouts[0].stories[1].paras[2]");
    EXPECT_EQ(RefusalPath(edited("[[2, 14], [1, 7]", "[[2, 14], [2, 0], [1, 7]")),
              "layouts[0].stories[1].char_runs[1][1]");
    EXPECT_EQ(RefusalPath(edited("[[2, 14], [1, 7], [3, 5], [1, 13]]", "[[2, 10], [2, 4], [1, 7], [3, 5], [1, 13]]")),
              "layouts[0].stories[1].char_runs[1]");
    EXPECT_EQ(RefusalPath(edited("\"kind\": 69", "\"kind\": 68")), "layouts[0].stories[1].objects[0]");
    // A master box that derives from nothing on a master, and automatic text off a master.
    EXPECT_EQ(RefusalPath(edited("\"derived_from\": 1, \"autotext\": true}", "\"derived_from\": 3}")),
              "layouts[0].boxes[2].derived_from");
    EXPECT_EQ(RefusalPath(edited("{\"pages\": [1], \"items\": [5]}", "{\"pages\": [0], \"items\": [5]}")),
              "layouts[0].boxes[2].derived_from");
    EXPECT_EQ(RefusalPath(edited("\"masters\": [{\"name\": \"A-Master A\", \"items\": [1]}]",
                                 "\"masters\": [{\"name\": \"A-Master A\", \"items\": []}]")),
              "layouts[0].boxes[0]");
    EXPECT_EQ(RefusalPath(edited("{\"uid\": 2, \"boxes\": [1], \"paras\": [1]},", "")), "layouts[0].boxes[0]");
    EXPECT_EQ(RefusalPath("{\"format\": \"xthost-document\", \"version\": 1"), "version");
    EXPECT_EQ(RefusalPath(""), "");
}

TEST(DocumentFile, RefusesValuesThatOverflowTheHostsArithmetic)
{
    const std::string good = BuildExample("geometry");
    auto edited = [&](const std::string& from, const std::string& to) { return Edited(good, from, to); };
    // The second page of a section numbered from 2147483647, and a text area moved in past the range.
    EXPECT_EQ(RefusalPath(edited("\"sections\": [[1, 7]]", "\"sections\": [[0, 2147483647]]")),
              "layouts[0].sections[0]");
    EXPECT_EQ(RefusalPath(edited("\"sections\": [[1, 7]]", "\"sections\": [[1, 2147483647]]")), "(accepted)");
    const std::string inset = RefusalPath(edited("\"shape\": ", "\"inset\": 2147483647, \"shape\": "));
    EXPECT_EQ(inset.substr(inset.size() < 6 ? 0 : inset.size() - 6), ".inset") << inset;
}

// Changing any field changes the bytes, and reading them back gives the field again.
TEST(DocumentFile, EveryFieldChangesTheBytesAndReloads)
{
    const std::string base = BuildExample("two-page-linked");
    using Edit = std::function<void(Project&)>;
    auto layout = [](Project& p) -> Layout& { return *p.layouts[0]; };
    auto box = [&](Project& p) -> Box& { return layout(p).boxes.at(3); };
    auto story = [&](Project& p) -> Story& { return layout(p).stories.at(4); };
    auto charFormat = [](Project& p, std::function<void(CharFormat&)> change) {
        CharFormat f = *p.charFormats.Find(1);
        change(f);
        const int32_t id = p.charFormats.Intern(f);
        for (auto& s : p.styleSheets)
            if (s.charFormat == 1)
                s.charFormat = id;
    };
    auto paraFormat = [](Project& p, std::function<void(ParaFormat&)> change) {
        ParaFormat f = *p.paraFormats.Find(1);
        change(f);
        const int32_t id = p.paraFormats.Intern(f);
        for (auto& s : p.styleSheets)
            if (s.paraFormat == 1)
                s.paraFormat = id;
    };
    const std::vector<std::pair<const char*, Edit>> edits = {
        {"platform", [](Project& p) { p.mac = true; }},
        {"next_uid", [](Project& p) { p.nextUid = 100; }},
        {"font.id", [](Project& p) { p.fonts[0].id = -12000; }},
        {"font.name", [](Project& p) { p.fonts[0].name = "Other"; }},
        {"font.second_name", [](Project& p) { p.fonts[0].secondName = "Second"; }},
        {"font.script", [](Project& p) { p.fonts[0].script = 25; }},
        {"font.extra", [](Project& p) { p.fonts[0].extra = 3; }},
        {"font.render", [](Project& p) { p.fonts[0].render = "DejaVu Serif"; }},
        {"font.advance", [](Project& p) { p.fonts[0].advance = 900; }},
        {"colour.id", [](Project& p) { p.colours[0].id = 7; }},
        {"colour.name", [](Project& p) { p.colours[0].name = "Paper"; }},
        {"colour.model", [](Project& p) { p.colours[0].model = "CMYK"; }},
        {"colour.rgb", [](Project& p) { p.colours[0].rgb = 0x123456; }},
        {"char.font", [&](Project& p) { charFormat(p, [](CharFormat& f) { f.font = 2; }); }},
        {"char.high", [&](Project& p) { charFormat(p, [](CharFormat& f) { f.high = 0x80; }); }},
        {"char.face", [&](Project& p) { charFormat(p, [](CharFormat& f) { f.face = 0x204; }); }},
        {"char.size", [&](Project& p) { charFormat(p, [](CharFormat& f) { f.size = 1; }); }},
        {"char.kern", [&](Project& p) { charFormat(p, [](CharFormat& f) { f.kern = -5; }); }},
        {"char.track", [&](Project& p) { charFormat(p, [](CharFormat& f) { f.track = 10; }); }},
        {"char.colour", [&](Project& p) { charFormat(p, [](CharFormat& f) { f.colour = 1; }); }},
        {"char.shift", [&](Project& p) { charFormat(p, [](CharFormat& f) { f.shift = 65536; }); }},
        {"char.script_lang", [&](Project& p) { charFormat(p, [](CharFormat& f) { f.scriptLang = 0x10015; }); }},
        {"char.tag", [&](Project& p) { charFormat(p, [](CharFormat& f) { f.tag = 0x00414B42; }); }},
        {"char.extra", [&](Project& p) { charFormat(p, [](CharFormat& f) { f.extra = 9; }); }},
        {"para.style", [&](Project& p) { paraFormat(p, [](ParaFormat& f) { f.style = -1; }); }},
        {"para.style2", [&](Project& p) { paraFormat(p, [](ParaFormat& f) { f.style2 = 2; }); }},
        {"para.left_indent", [&](Project& p) { paraFormat(p, [](ParaFormat& f) { f.leftIndent = 1; }); }},
        {"para.first_indent", [&](Project& p) { paraFormat(p, [](ParaFormat& f) { f.firstIndent = -1; }); }},
        {"para.right_indent", [&](Project& p) { paraFormat(p, [](ParaFormat& f) { f.rightIndent = 1; }); }},
        {"para.leading", [&](Project& p) { paraFormat(p, [](ParaFormat& f) { f.leading = 1; }); }},
        {"para.space_before", [&](Project& p) { paraFormat(p, [](ParaFormat& f) { f.spaceBefore = 1; }); }},
        {"para.space_after", [&](Project& p) { paraFormat(p, [](ParaFormat& f) { f.spaceAfter = 0; }); }},
        {"para.align", [&](Project& p) { paraFormat(p, [](ParaFormat& f) { f.align = Align::Justify; }); }},
        {"para.direction", [&](Project& p) { paraFormat(p, [](ParaFormat& f) { f.direction = Direction::Rtl; }); }},
        {"para.other", [&](Project& p) { paraFormat(p, [](ParaFormat& f) { f.other = {{1, 2}, {0x2D, -3}}; }); }},
        {"style.id", [](Project& p) { p.styleSheets[1].id = 9; }},
        {"style.name", [](Project& p) { p.styleSheets[1].name = "Title"; }},
        {"layout.name", [&](Project& p) { layout(p).name = "Other"; }},
        {"layout.type", [&](Project& p) { layout(p).type = "XWEB"; }},
        {"layout.page_size", [&](Project& p) { layout(p).pageWidth += 1; }},
        {"layout.margins", [&](Project& p) { layout(p).margins.right = 0; }},
        {"layout.sections", [&](Project& p) { layout(p).sections = {{1, 5}}; }},
        {"layer.id", [&](Project& p) { layout(p).layers.push_back(Layer{2, u"Top", true}); }},
        {"layer.name", [&](Project& p) { layout(p).layers[0].name = u"\u0421\u043b\u043e\u0439"; }},
        {"layer.visible", [&](Project& p) { layout(p).layers[0].visible = false; }},
        {"master.name", [&](Project& p) { layout(p).masters[0].name = "B-Master"; }},
        {"master.pages", [&](Project& p) { layout(p).masters[0].pages = 2; }},
        {"master.unused", [&](Project& p) { layout(p).masters.push_back(MasterSpread{"C", 1, {}}); }},
        {"spread.pages", [&](Project& p) { layout(p).spreads[0].pages = {1, 0}; }},
        {"box.kind", [&](Project& p) {
             layout(p).spreads[0].items.push_back(p.NewUid());
             Box b;
             b.uid = layout(p).spreads[0].items.back();
             b.kind = BoxKind::Picture;
             b.layer = 1;
             layout(p).boxes.emplace(b.uid, b);
         }},
        {"box.shape", [&](Project& p) { box(p).shape = 8; }},
        {"box.bounds", [&](Project& p) { box(p).bounds.bottom -= 1; }},
        {"box.angle", [&](Project& p) { box(p).angle = 30 << 16; }},
        {"box.inset", [&](Project& p) { box(p).inset = 0x40000; }},
        {"box.runaround", [&](Project& p) { box(p).runaround = 0; }},
        {"box.layer", [&](Project& p) {
             layout(p).layers.push_back(Layer{5, u"Top", true});
             box(p).layer = 5;
         }},
        {"box.fill", [&](Project& p) { box(p).fill = 1; }},
        {"box.frame", [&](Project& p) { box(p).frame = 2; }},
        {"box.saved_word", [&](Project& p) { box(p).savedWord = 0x80000001u; }},
        {"box.no_reflow", [&](Project& p) { box(p).noReflow = true; }},
        {"box.outline", [&](Project& p) {
             box(p).shape = 10;
             box(p).outline = {{0, 0}, {10, 0}, {10, 10}};
         }},
        {"box.image", [&](Project& p) { box(p).image = ImageMode::Gray; }},
        {"box.word6", [&](Project& p) { box(p).word6 = 7; }},
        {"box.private", [&](Project& p) { box(p).privateData[0x58595A31] = {0xFF}; }},
        {"story.text", [&](Project& p) {
             story(p).text[0] = u'a';
         }},
        {"story.utf16", [&](Project& p) { story(p).text[0] = 0xD800; }},
        {"story.escapes", [&](Project& p) { story(p).text.erase(1, 5); story(p).text.insert(1, u"\t\n\u2028\u0085\uFFF9"); }},
        {"story.chain", [&](Project& p) { std::swap(story(p).boxes[0], story(p).boxes[1]); }},
        {"story.object.value", [&](Project& p) { ObjectRun o = story(p).objects[0]; o.value = 77; story(p).objects.Set(0, o); }},
        {"story.locked", [&](Project& p) { story(p).locked = true; }},
        {"story.flag0", [&](Project& p) { story(p).flag0 = true; }},
    };
    for (const auto& [name, edit] : edits) {
        SCOPED_TRACE(name);
        auto project = ParseDocument(base);
        edit(*project);
        std::string changed;
        try {
            changed = PrintDocument(*project);
        } catch (const DocumentError& e) {
            ADD_FAILURE() << e.what();
            continue;
        }
        EXPECT_NE(changed, base);
        EXPECT_EQ(Canon(changed), changed);
    }
}

// The structural fields the first document does not have: groups, anchors, layouts.
TEST(DocumentFile, StructuralFieldsChangeTheBytesAndReload)
{
    using Edit = std::function<void(Project&)>;
    const std::vector<std::tuple<const char*, const char*, Edit>> edits = {
        {"mapping", "box.members", [](Project& p) {
             auto& members = p.layouts[0]->boxes.at(15).members;
             std::swap(members[0], members[1]);
         }},
        {"mapping", "spread.items", [](Project& p) {
             auto& items = p.layouts[0]->spreads[0].items;
             std::swap(items[0], items[1]);
         }},
        {"mapping", "object.value", [](Project& p) {
             ObjectRuns& objects = p.layouts[0]->stories.at(10).objects;
             ObjectRun o = objects[0];
             o.value = 0x12345678;
             objects.Set(0, o);
         }},
        {"masters", "master.items", [](Project& p) {
             auto& items = p.layouts[0]->masters[0].items;
             std::swap(items[0], items[1]);
         }},
        {"layouts", "current_layout", [](Project& p) { p.currentLayout = 2; }},
        {"layouts", "layout order", [](Project& p) { std::swap(p.layouts[0], p.layouts[2]); }},
    };
    for (const auto& [example, name, edit] : edits) {
        SCOPED_TRACE(name);
        const std::string base = BuildExample(example);
        auto project = ParseDocument(base);
        edit(*project);
        const std::string changed = PrintDocument(*project);
        EXPECT_NE(changed, base);
        EXPECT_EQ(Canon(changed), changed);
    }
}

TEST(DocumentFile, StoryTextWithALoneSurrogateTravelsAsCodeUnits)
{
    auto project = ParseDocument(BuildExample("two-page-linked"));
    Story& story = project->layouts[0]->stories.at(4);
    story.text[0] = 0xDC00;
    const std::string bytes = PrintDocument(*project);
    EXPECT_NE(bytes.find("\"utf16\": \"dc00"), std::string::npos);
    auto back = ParseDocument(bytes);
    EXPECT_EQ(back->layouts[0]->stories.at(4).text, story.text);
}

TEST(DocumentFile, EqualFormatsShareOneIdAndUnusedOnesAreDropped)
{
    auto project = ParseDocument(BuildExample("two-page-linked"));
    CharFormat unused;
    unused.font = 5;
    project->charFormats.Intern(unused);
    EXPECT_EQ(PrintDocument(*project), BuildExample("two-page-linked"));
    // A file that lists one format twice under two ids reads as one format.
    std::string twice = BuildExample("two-page-linked");
    const std::string third = "{\"id\": 3, \"font\": 1, \"face\": 2, \"size\": 786432, \"colour\": 2}";
    twice.replace(twice.find(third), third.size(), third + ",\n    {\"id\": 4, \"font\": 1, \"face\": 2, \"size\": 786432, \"colour\": 2}");
    twice.replace(twice.find("[3, 5], [1, 13]]"), 16, "[4, 5], [1, 13]]");
    EXPECT_EQ(Canon(twice), BuildExample("two-page-linked"));
}

TEST(DocumentFile, SavingReplacesTheTargetOnlyWhenComplete)
{
    const TempDir scratch("xthost-save");
    const std::string folder = scratch.Path();
    const std::string target = folder + "/doc.qxp";
    ASSERT_TRUE(WriteFileAtomically(target, "first\n"));
    ASSERT_TRUE(WriteFileAtomically(target, "second\n"));
    EXPECT_EQ(ReadAll(target), "second\n");
    // A folder that does not exist: nothing is written and nothing is left behind.
    EXPECT_FALSE(WriteFileAtomically(folder + "/missing/doc.qxp", "x"));
    ::unlink(target.c_str());
    EXPECT_EQ(::rmdir(folder.c_str()), 0) << "a temporary file was left behind";
}

}  // namespace
}  // namespace xthost::doc

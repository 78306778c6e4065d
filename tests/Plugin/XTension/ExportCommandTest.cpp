// The export commands as a user runs them: Kesto.so loaded by the emulated host, the example
// document opened, the menu chosen and the dialogs answered by a script; the exchange file is
// then read with Debian's olefile and Python's zlib, as any other reader would, and the
// coordinates are checked against the line records `xthost doc lines` prints.
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include <sys/stat.h>

#include "Plugin/Shell/AppFolderTest.h"
#include "platform/host/Host.h"
#include "platform/host/HostExtensions.h"
#include "platform/host/Script.h"
#include "tests/platform/host/ScriptRun.h"

namespace fs = std::filesystem;

namespace {

using kesto_test::ReadText;

constexpr char kClock[] = "clock 2026-12-07 10:11:12\n";
constexpr char kTime[] = "2026-12-07 10:11:12";

std::string Padded(std::string text, size_t width)
{
    if (text.size() < width)
        text.append(width - text.size(), ' ');
    return text;
}

class ExportCommandTest : public kesto_test::AppFolderTest {
protected:
    ExportCommandTest() : AppFolderTest("kesto") {}

    void SetUp() override
    {
        AppFolderTest::SetUp();
        fs::create_symlink(KESTO_MODULE, app / "XTensions" / "Kesto.so");
        fs::copy_file(fs::path(KESTO_SOURCE_DIR) / "examples/documents/export.qxp", Source());
        xthost::RegisterHostDocuments(extensions);
    }

    fs::path Source() const { return app / "export.qxp"; }
    fs::path Target() const { return app / "export.dwq"; }

    // Runs the script against a fresh host; answers whether it ran to its end. The transcript
    // is kept.
    bool Run(const std::string& script)
    {
        const auto run = xthost::testing::RunScript(app, extensions, script);
        transcript = xthost::testing::Joined(run.lines);
        return run.ok;
    }

    // The stored document of the exchange file, inflated into `out` by olefile and zlib, which
    // must find one complete zlib stream (78 9C) and nothing after it.
    int InflateStored(const fs::path& dwq, const fs::path& out)
    {
        const fs::path script = app / "inflate.py";
        std::ofstream(script) << "import olefile, sys, zlib\n"
                                 "ole = olefile.OleFileIO(sys.argv[1])\n"
                                 "data = ole.openstream('VerbantPluginPrivateData/KestoExportTemplates/0').read()\n"
                                 "assert data[:2] == b'\\x78\\x9c', data[:2]\n"
                                 "z = zlib.decompressobj()\n"
                                 "doc = z.decompress(data)\n"
                                 "assert z.eof and not z.unused_data\n"
                                 "open(sys.argv[2], 'wb').write(doc)\n";
        const std::string command = "/usr/bin/python3 " + script.string() + " " + dwq.string() + " " + out.string();
        return std::system(command.c_str());
    }

    std::string Canon(const fs::path& document)
    {
        const fs::path out = app / "canon.txt";
        const std::string command = std::string(XTHOST_BINARY) + " doc canon " + document.string() + " > " + out.string();
        EXPECT_EQ(std::system(command.c_str()), 0);
        return ReadText(out);
    }

    xthost::HostExtensions extensions;
    std::string transcript;
};

const char kExportFromMenu[] = "start\nopen-document export.qxp\nmenu \"Export current document\"\n"
                               "save * default\ndialog 101\n  press 1\nquit\n";

TEST_F(ExportCommandTest, TheFrontDocumentBecomesAnExchangeFileThatCarriesItsSavedSelf)
{
    ASSERT_TRUE(Run(std::string(kClock) + kExportFromMenu)) << transcript;
    ASSERT_TRUE(fs::exists(Target())) << transcript;

    const fs::path stored = app / "stored.qxp";
    ASSERT_EQ(InflateStored(Target(), stored), 0);
    const std::string check = std::string(XTHOST_BINARY) + " doc check " + stored.string();
    EXPECT_EQ(std::system(check.c_str()), 0);
    // Each stored layout has the two private working boxes (the import finds its text through
    // them); the user's file on disk has none.
    EXPECT_EQ(kesto_test::CountOf(Canon(stored), "\"08414b42\", \"ffffffff\""), 3);
    EXPECT_EQ(kesto_test::CountOf(Canon(stored), "\"08414b42\", \"fffffffe\""), 3);
    const std::string source = Canon(Source());
    EXPECT_EQ(kesto_test::CountOf(source, "\"08414b42\", \"ffffffff\""), 0);
    EXPECT_EQ(kesto_test::CountOf(source, "\"08414b42\", \"fffffffe\""), 0);
    EXPECT_EQ(kesto_test::CountOf(source, "\"08414b42\", \"00000000\""), 3) << "the box links of the three layouts stay";

    // The log's banner, target and closing lines, byte for byte.
    const std::string stars(80, '*');
    const std::string banner = "\n" + stars + "\n" + kTime + "\nStarting export ...\n" + "Source:   " +
                               Padded(Source().string(), 70) + "\n" + "Target:   " + Padded("<YET UNSET>", 70) + "\n";
    const std::string chosen =
        std::string("\n") + kTime + "\nUser selected missing target:\n" + "Target:   " + Padded(Target().string(), 70) + "\n";
    const std::string closing = std::string("... finished.\n") + kTime + "\n" + stars + "\n";
    const std::string log = GeneralLog();
    const size_t at = log.find(banner);
    ASSERT_NE(at, std::string::npos) << log;
    EXPECT_EQ(log.find(chosen), at + banner.size()) << log;
    EXPECT_NE(log.find(closing, at), std::string::npos) << log;
    EXPECT_EQ(kesto_test::CountOf(log, "Export failed"), 0);
    EXPECT_NE(transcript.find("\"Export done\""), std::string::npos);
    // The bar walks the layouts up to 70, then the copy of the saved document takes it to 85.
    const size_t walked = transcript.find("bar 70/100");
    ASSERT_NE(walked, std::string::npos) << transcript;
    EXPECT_LT(walked, transcript.find("bar 85/100"));
}

// The finishing save after the store is refused, by the disk or because the document is
// read-only: the export ends failed, the user's file keeps its earlier bytes (never those of the
// save that the container stores, which has the working boxes), and the earlier exchange file
// keeps its own, since the new one would take its place only after that save.
TEST_F(ExportCommandTest, AnExportWhoseFinalSaveIsRefusedLeavesTheDocumentAndTheEarlierExchangeFile)
{
    const std::string before = ReadText(Source());
    for (const bool readOnly : {false, true}) {
        std::ofstream(Target()) << "the earlier exchange file";
        ASSERT_EQ(::chmod(Source().c_str(), readOnly ? 0444 : 0644), 0);
        ASSERT_TRUE(Run(std::string(readOnly ? "" : "fail NEW-3 after 1 with -34\n") +
                        "start\nopen-document export.qxp\nmenu \"Export current document\"\n"
                        "save * default\ndialog 112\n  press 1\nquit\n"))
            << transcript;
        EXPECT_TRUE(readOnly || transcript.find("fault: NEW-3 answers -34") != std::string::npos) << transcript;
        EXPECT_EQ(ReadText(Source()), before) << readOnly;
        EXPECT_TRUE(ReadText(Target()) == "the earlier exchange file") << readOnly << ": the exchange file was replaced";
        EXPECT_NE(GeneralLog().find("Unable to save the document " + Source().string()), std::string::npos)
            << GeneralLog();
        for (const auto& entry : fs::directory_iterator(app))
            EXPECT_NE(entry.path().filename().string()[0], '.') << "left " << entry.path();
    }
}

TEST_F(ExportCommandTest, ExportToVerbantOpensTheChosenDocumentAndExportsIt)
{
    ASSERT_TRUE(Run("start\nmenu \"Export to Verbant\"\nopen * export.qxp\nsave * default\ndialog 101\n  press 1\nquit\n"))
        << transcript;
    EXPECT_EQ(InflateStored(Target(), app / "stored.qxp"), 0);
}

TEST_F(ExportCommandTest, AnOpenChangedDocumentIsExportedOnlyWhenTheUserContinues)
{
    const std::string change = "start\nopen-document export.qxp\ntype 17 0 \"Changed \"\n"
                               "menu \"Export to Verbant\"\nopen * export.qxp\n";
    ASSERT_TRUE(Run(change + "alert 22200 press 1\nquit\n")) << transcript;
    EXPECT_NE(transcript.find("is already opened and was changed"), std::string::npos) << transcript;
    EXPECT_FALSE(fs::exists(Target()));
    EXPECT_EQ(Canon(Source()).find("Changed"), std::string::npos);

    ASSERT_TRUE(Run(change + "alert 22200 press 2\nsave * default\ndialog 101\n  press 1\nquit\n")) << transcript;
    EXPECT_TRUE(fs::exists(Target()));
    EXPECT_NE(Canon(Source()).find("Changed"), std::string::npos) << "saved before the export";
}

TEST_F(ExportCommandTest, CancellingTheSaveQuestionClosesTheProjectAndFails)
{
    ASSERT_TRUE(Run("start\nopen-document export.qxp\ntype 17 0 \"Changed \"\n"
                    "menu \"Export current document\"\ndialog 105\n  press 2\ndialog 112\n  press 1\nquit\n"))
        << transcript;
    EXPECT_NE(GeneralLog().find("\nUser pressed CANCEL or auto-saving is not allowed.\n"), std::string::npos);
    EXPECT_NE(transcript.find("project.close"), std::string::npos);
    EXPECT_FALSE(fs::exists(Target()));
    EXPECT_EQ(Canon(Source()).find("Changed"), std::string::npos);
}

// The shipped example: a second export into the same exchange file fails when the host cannot
// save, and the first one's file stays whole instead of being emptied and then deleted.
TEST_F(ExportCommandTest, AFailedExportOverAnExistingExchangeFileKeepsIt)
{
    ASSERT_TRUE(Run(ReadText(fs::path(KESTO_SOURCE_DIR) / "examples/app/scripts/export-fails.xts"))) << transcript;
    EXPECT_EQ(kesto_test::CountOf(transcript, "\"Export failed\""), 1) << transcript;
    EXPECT_EQ(InflateStored(Target(), app / "stored.qxp"), 0) << transcript;
}

// ---- Coordinates and XTags ----------------------------------------------------------------------

std::string Utf16(const std::string& ascii)
{
    std::string bytes;
    for (char c : ascii) {
        bytes.push_back(c);
        bytes.push_back('\0');
    }
    return bytes;
}

// One line of the coordinates file: its attribute names in order and their values.
struct CoordLine {
    std::string names;
    std::map<std::string, int> values;
};

std::vector<CoordLine> CoordLines(const std::string& body)
{
    static const std::regex attr(" ([a-z_]+)=\"(-?[0-9]+)\"");
    std::vector<CoordLine> lines;
    std::istringstream in(body);
    std::string text;
    while (std::getline(in, text)) {
        EXPECT_EQ(text.rfind("<coord><p ", 0), 0u) << text;
        EXPECT_EQ(text.substr(text.size() - 10), "/></coord>") << text;
        CoordLine line;
        for (auto a = std::sregex_iterator(text.begin(), text.end(), attr); a != std::sregex_iterator(); ++a) {
            line.names += (line.names.empty() ? "" : " ") + (*a)[1].str();
            line.values[(*a)[1]] = std::stoi((*a)[2]);
        }
        lines.push_back(line);
    }
    return lines;
}

// A line record as `xthost doc lines` prints it.
struct HostLine {
    int start = 0, length = 0;
    double top = 0, left = 0, measure = 0, height = 0;
};

// The coordinates and XTags commands, whose menu items are shown only when asked for.
class CoordExportCommandTest : public ExportCommandTest {
protected:
    void SetUp() override
    {
        ExportCommandTest::SetUp();
        WriteSettings("[Options]\nextendedInterface=True\naddMenuItemExportCoords=True\naddMenuItemExportTgx=True\n");
    }

    fs::path Coo() const { return app / "export.coo"; }
    fs::path Tgx() const { return app / "export.tgx"; }

    // The line records of the front layout's stories, by story uid.
    std::map<int, std::vector<HostLine>> DocLines()
    {
        const fs::path out = app / "lines.txt";
        const std::string command =
            std::string(XTHOST_BINARY) + " doc lines " + (fs::path(KESTO_SOURCE_DIR) / "examples/documents/export.qxp").string() +
            " > " + out.string();
        EXPECT_EQ(std::system(command.c_str()), 0);
        static const std::regex story("^story ([0-9]+) ");
        static const std::regex line("^  line start=([0-9]+) length=([0-9]+) box=[0-9]+ top=([-0-9.]+) "
                                     "left=([-0-9.]+) measure=([-0-9.]+) height=([-0-9.]+) ");
        std::map<int, std::vector<HostLine>> stories;
        std::istringstream in(ReadText(out));
        std::string text;
        int current = -1;
        std::smatch m;
        while (std::getline(in, text)) {
            if (std::regex_search(text, m, story)) {
                current = std::stoi(m[1]);
                stories[current];
            } else if (std::regex_search(text, m, line)) {
                stories[current].push_back({std::stoi(m[1]), std::stoi(m[2]), std::stod(m[3]), std::stod(m[4]),
                                            std::stod(m[5]), std::stod(m[6])});
            }
        }
        return stories;
    }

};

const char kCoordinates[] = "open-document export.qxp\nmenu \"Export PDF coordinates\"\n"
                            "save \"Coordinates output file name:\" default\ndialog 101\n  press 1\n";
const char kXTags[] = "open-document export.qxp\nmenu \"Export XTags\"\n"
                      "save \"TGX output file name:\" default\ndialog 101\n  press 1\n";

// The paragraphs of a story whose host line ends them: for each, the coordinates line's values
// must be that line's, relative to the page (each page of the example is alone on its spread,
// whose origin is the page's), and the height the sum of the paragraph's lines.
void ExpectFound(const CoordLine& line, const std::vector<HostLine>& records, int paraStart, int paraEnd,
                 const std::string& what)
{
    SCOPED_TRACE(what);
    ASSERT_EQ(line.names, "uid page y_pos x_pos width height");
    double heights = 0;
    const HostLine* last = nullptr;
    for (const HostLine& r : records)
        if (r.start >= paraStart && r.start + r.length <= paraEnd) {
            heights += r.height;
            last = &r;
        }
    ASSERT_NE(last, nullptr);
    ASSERT_EQ(last->start + last->length, paraEnd);
    EXPECT_EQ(line.values.at("y_pos"), static_cast<int>(last->top));
    EXPECT_EQ(line.values.at("x_pos"), static_cast<int>(last->left));
    EXPECT_EQ(line.values.at("width"), static_cast<int>(last->measure));
    EXPECT_EQ(line.values.at("height"), static_cast<int>(heights));
}

TEST_F(CoordExportCommandTest, CoordinatesThenXTagsOfTheExample)
{
    ASSERT_TRUE(Run(std::string(kClock) + "start\n" + kCoordinates + kXTags + "quit\n")) << transcript;

    // The coordinates file: the head byte for byte, then a line per paragraph.
    const std::string coo = ReadText(Coo());
    const std::string rule(80, '-');
    const std::string head = "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>\n<!--\n" + rule +
                             "\nParagraph coordinates:\n" + Source().string() + "\n" + rule + "\n-->\n";
    ASSERT_EQ(coo.substr(0, head.size()), head) << coo;
    EXPECT_EQ(coo.find('\r'), std::string::npos);
    const std::vector<CoordLine> lines = CoordLines(coo.substr(head.size()));
    // Link-id order, layout by layout: the header of page 1, the anchored caption, the chain's
    // eight paragraphs, the turned box's two, the header of page 2, the box on the hidden
    // layer, master B's box, then the web layout and the second print layout.
    ASSERT_EQ(lines.size(), 17u) << coo;

    const auto records = DocLines();
    ExpectFound(lines[1], records.at(10), 0, 16, "the caption");
    const int chainEnds[] = {0, 23, 80, 117, 131, 151, 187, 215, 228};
    for (int p = 0; p < 8; ++p)
        ExpectFound(lines[2 + p], records.at(12), chainEnds[p], chainEnds[p + 1], "chain paragraph " + std::to_string(p));
    ExpectFound(lines[13], records.at(18), 0, 17, "the hidden layer's box");
    ExpectFound(lines[14], records.at(4), 0, 27, "master B's box");

    EXPECT_EQ(lines[2].values.at("uid"), 42);
    EXPECT_EQ(lines[8].values.at("uid"), 17);
    EXPECT_EQ(lines[3].values.at("uid"), -1);
    for (int t : {10, 11}) {
        EXPECT_EQ(lines[t].names, "uid page angle y_pos x_pos width height") << t;
        EXPECT_EQ(lines[t].values.at("angle"), 330) << t;
    }
    EXPECT_EQ(lines[10].values.at("uid"), 42);
    // The headers' text overflows their boxes: the first writes zeros, the second repeats the
    // turned box's last paragraph.
    EXPECT_EQ(lines[0].names, "uid page x_pos y_pos width height");
    EXPECT_EQ(lines[0].values.at("x_pos") + lines[0].values.at("y_pos") + lines[0].values.at("width"), 0);
    EXPECT_EQ(lines[12].names, "uid page x_pos y_pos width height");
    EXPECT_EQ(lines[12].values.at("x_pos"), lines[11].values.at("x_pos"));
    EXPECT_EQ(lines[12].values.at("y_pos"), lines[11].values.at("y_pos"));
    EXPECT_EQ(lines[12].values.at("page"), 2);

    // The XTags file, byte for byte.
    const std::string tgx = ReadText(Tgx());
    EXPECT_EQ(tgx, "\xFF\xFE" + Utf16("<Header>\n<QxpSource>\"" + Source().string() +
                                      "\"</QxpSource>\n</Header>\n"
                                      "<XTag -1>\tERROR: TGX export needs a version of QuarkXPress 8 (or later)\n"));

    // Both banners and their closing lines.
    const std::string stars(80, '*');
    const std::string log = GeneralLog();
    const std::string closing = std::string("... finished.\n") + kTime + "\n" + stars + "\n";
    for (const char* starting : {"Starting export coordinates ...", "Starting export XTags ..."}) {
        const std::string banner = "\n" + stars + "\n" + kTime + "\n" + starting + "\nSource:   " +
                                   Padded(Source().string(), 70) + "\n";
        const size_t at = log.find(banner);
        ASSERT_NE(at, std::string::npos) << log;
        EXPECT_NE(log.find(closing, at), std::string::npos) << log;
    }
    EXPECT_EQ(log.find("Export failed"), std::string::npos) << log;
}

TEST_F(CoordExportCommandTest, ACancelledOutputDialogBeepsAndLeavesTheProjectOpen)
{
    ASSERT_TRUE(Run("start\nopen-document export.qxp\nmenu \"Export PDF coordinates\"\n"
                    "save \"Coordinates output file name:\" cancel\ndialog 112\n  press 1\n"
                    "menu \"Export XTags\"\nsave \"TGX output file name:\" cancel\ndialog 112\n  press 1\nquit\n"))
        << transcript;
    EXPECT_EQ(transcript.find("project.close"), std::string::npos) << transcript;
    EXPECT_FALSE(fs::exists(Coo()));
    EXPECT_FALSE(fs::exists(Tgx()));
    // The command's own beep, then the menu's.
    size_t beeps = 0;
    for (size_t at = transcript.find("\nbeep\n"); at != std::string::npos; at = transcript.find("\nbeep\n", at + 1))
        ++beeps;
    EXPECT_EQ(beeps, 4u) << transcript;
}

} // namespace

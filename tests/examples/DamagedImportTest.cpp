// Damaged translations imported through xthost and Kesto.so: a container that lost part of a
// story, names what its Book does not hold or carries another document ends as a failed import,
// the log says which story lacks what, and no story ends with less than its translation or its
// source text.
#include <gtest/gtest.h>

#include <array>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include <unistd.h>

#include "Container/Storage/OLEStorage.h"
#include "tests/examples/DamagedContainer.h"

namespace fs = std::filesystem;

using namespace kesto_test;

namespace {

std::string RunShell(const std::string& command)
{
    std::string out;
    if (FILE* pipe = popen(command.c_str(), "r")) {
        std::array<char, 4096> buffer{};
        while (fgets(buffer.data(), buffer.size(), pipe))
            out += buffer.data();
        pclose(pipe);
    }
    return out;
}

std::string ReadText(const fs::path& path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

// ---- One import ---------------------------------------------------------------------------------

// A work folder of examples/app/roundtrip.sh on export.qxp: the export, its translation and the
// translation's import.
struct Work {
    fs::path dir;
    std::string build = KESTO_BINARY_DIR;
    std::string source = KESTO_SOURCE_DIR;

    std::string Xthost() const { return build + "/platform/host/xthost"; }

    // The story texts of a document as `xthost doc canon` writes them, in its order.
    std::vector<std::string> Stories(const fs::path& document) const
    {
        const fs::path canon = dir / (document.filename().string() + ".canon");
        RunShell("'" + Xthost() + "' doc canon '" + document.string() + "' '" + canon.string() + "' 2>&1");
        const std::string text = ReadText(canon);
        std::vector<std::string> stories;
        const std::string key = "\"text\": \"";
        for (size_t at = text.find(key); at != std::string::npos; at = text.find(key, at + 1)) {
            size_t end = at + key.size();
            while (end < text.size() && !(text[end] == '"' && text[end - 1] != '\\'))
                ++end;
            stories.push_back(text.substr(at + key.size(), end - at - key.size()));
        }
        return stories;
    }

    // Imports `dwq` into `name`.qxp; answers the transcript, the general log of the run in `log`.
    std::string Import(const fs::path& dwq, const std::string& name, std::string& log) const
    {
        std::error_code ignored;
        fs::remove(dir / "KestoLogfile.txt", ignored);
        std::ofstream(dir / (name + ".xts")) << "start\nmenu \"Import Verbant file\"\nopen * " << dwq.filename().string()
                                             << "\nsave * " << name << ".qxp\ndialog 104\n  press 1\nquit\n";
        const std::string transcript =
            RunShell("cd '" + dir.string() + "' && '" + Xthost() + "' --app . --module '" + build +
                     "/Plugin/XTension/Kesto.so' --script '" + name + ".xts' 2>&1");
        log = ReadText(dir / "KestoLogfile.txt");
        return transcript;
    }
};

Work* g_work = nullptr;

class DamagedImport : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        g_work = new Work;
        const std::string out =
            RunShell("bash '" + g_work->source + "/examples/app/roundtrip.sh' '" + g_work->build + "' export.qxp 2>&1");
        const std::string key = "general log: ";
        const size_t at = out.find(key);
        ASSERT_NE(at, std::string::npos) << out;
        g_work->dir = fs::path(out.substr(at + key.size(), out.find('\n', at) - at - key.size())).parent_path();
        // The other document's export, for a container that carries the wrong document.
        RunShell("cd '" + g_work->dir.string() + "' && cp '" + g_work->source +
                 "/examples/documents/minimal.qxp' . && printf 'start\\nopen-document minimal.qxp\\nmenu \"Export "
                 "current document\"\\nsave * default\\nquit\\n' > minimal.xts && '" + g_work->Xthost() +
                 "' --app . --module '" + g_work->build + "/Plugin/XTension/Kesto.so' --script minimal.xts 2>&1");
    }
    static void TearDownTestSuite()
    {
        std::error_code ignored;
        fs::remove_all(g_work->dir, ignored);
        delete g_work;
        g_work = nullptr;
    }
};

struct Damage {
    const char* name;
    // What the log names: the story and its gap.
    const char* logged;
    std::function<void(const Work&, const fs::path& in, const fs::path& out)> make;
    // The document the container carries when it is not the source of its Book.
    const char* carried = nullptr;
};

// The first story with at least two paragraphs.
int32_t StoryWithParagraphs(const CodeStreams& code)
{
    for (int32_t s = 0;; ++s) {
        auto path = StoryPath(s);
        path.emplace_back("ParagraphsSet/", 0);
        if (code.Table(code.Folder(path)).size() >= 2)
            return s;
    }
}

// Sets the first 32-bit value of the field stream `field` in the first bundle named `bundle`.
void SetFirstField(CodeStreams& code, const std::string& bundle, const std::string& field, uint32_t value)
{
    std::vector<std::string> found;
    code.Find("", bundle, found);
    ASSERT_FALSE(found.empty()) << bundle;
    Bytes& bytes = code.streams.at(found.front() + '\x01' + field);
    PutU32(bytes, 2, value);
}

// Removes the entry of element `index` (-1: the last one) from the table of the folder at `path`.
void RemoveElement(CodeStreams& code, const std::vector<std::pair<std::string, int32_t>>& path, int32_t index)
{
    const std::string set = code.Folder(path);
    auto table = code.Table(set);
    size_t at = 0;
    for (size_t i = 0; i < table.size(); ++i)
        if (index < 0 ? table[i].index > table[at].index : table[i].index == index)
            at = i;
    table.erase(table.begin() + static_cast<std::ptrdiff_t>(at));
    code.SetTable(set, table);
}

void EditCode(const fs::path& in, const fs::path& out, const std::function<void(CodeStreams&)>& edit)
{
    CodeStreams code = ReadCodeFile(in.string());
    edit(code);
    WriteCopy(in.string(), out.string(), &code);
}

void FlipInCode(const fs::path& in, const fs::path& out, size_t byte, int bit)
{
    CodeStreams code = ReadCodeFile(in.string());
    std::vector<std::string> runs;
    code.Find(code.Folder(StoryPath(0)), "TextRun[]/", runs);
    std::string stream;
    for (const std::string& run : runs)
        if (stream.empty() && code.streams.count(run + "\x01!1:Unicodes"))
            stream = run + "\x01!1:Unicodes";
    WriteCopy(in.string(), out.string(), nullptr, {u"VerbantTextAndCode/VerbantCodeFile"},
              [&](const std::u16string&, Bytes& bytes) {
                  FlipDescriptorBit(bytes, stream, byte, bit);
                  return true;
              });
}

const Damage kDamages[] = {
    {"paragraph-removed", "is missing (the story lists paragraph",
     [](const Work&, const fs::path& in, const fs::path& out) {
         EditCode(in, out, [](CodeStreams& code) {
             auto path = StoryPath(StoryWithParagraphs(code));
             path.emplace_back("ParagraphsSet/", 0);
             RemoveElement(code, path, 0);
         });
     }},
    {"run-of-unknown-type", "has no readable content",
     [](const Work&, const fs::path& in, const fs::path& out) {
         EditCode(in, out, [](CodeStreams& code) {
             std::vector<std::string> runs;
             code.Find(code.Folder(StoryPath(0)), "TextRun[]/", runs);
             for (const std::string& run : runs)
                 if (code.streams.count(run + "\x01!1:Unicodes")) {
                     code.streams[run + "\x01!1:Unicodes"][0] = 77;
                     return;
                 }
         });
     }},
    {"story-removed", "story 1 is missing (the exchange file lists story 2 behind it)",
     [](const Work&, const fs::path& in, const fs::path& out) {
         EditCode(in, out, [](CodeStreams& code) { RemoveElement(code, kStories, 1); });
     }},
    {"last-story-removed", "links 1 boxes to stories, the exchange file holds none of them",
     [](const Work&, const fs::path& in, const fs::path& out) {
         EditCode(in, out, [](CodeStreams& code) { RemoveElement(code, kStories, -1); });
     }},
    {"duplicate-story-numbers", "story 0 and the stories after it cannot be read: Container Error<34001>",
     [](const Work&, const fs::path& in, const fs::path& out) {
         EditCode(in, out, [](CodeStreams& code) {
             const std::string set = code.Folder(kStories);
             auto table = code.Table(set);
             uint32_t first = 0;
             for (const FolderEntry& e : table)
                 if (e.index == 1)
                     first = e.number;
             for (FolderEntry& e : table)
                 if (e.index == 2)
                     e.number = first;
             code.SetTable(set, table);
         });
     }},
    {"special-character-of-unknown-id", "names a special character the Book does not hold",
     [](const Work&, const fs::path& in, const fs::path& out) {
         EditCode(in, out, [](CodeStreams& code) { SetFirstField(code, "!1:SpecialChars{}", "m_NameRef", 99999); });
     }},
    {"placeholder-of-unknown-id", "names an object type the Book does not hold",
     [](const Work&, const fs::path& in, const fs::path& out) {
         EditCode(in, out,
                  [](CodeStreams& code) { SetFirstField(code, "!1:PlaceHolders{}", "m_ObjectTypeRef", 99999); });
     }},
    {"reference-of-unknown-id", "names a reference the Book does not hold",
     [](const Work&, const fs::path& in, const fs::path& out) {
         EditCode(in, out, [](CodeStreams& code) { SetFirstField(code, "!1:RefPoints{}", "m_RefTypeRef", 99999); });
     }},
    {"descriptor-tag-bit", "story 0 not imported",
     [](const Work&, const fs::path& in, const fs::path& out) { FlipInCode(in, out, 4, 0); }},
    {"descriptor-id-bit", "story 0 not imported",
     [](const Work&, const fs::path& in, const fs::path& out) { FlipInCode(in, out, 3, 7); }},
    {"descriptor-offset-bit", "story 0 not imported",
     [](const Work&, const fs::path& in, const fs::path& out) { FlipInCode(in, out, 12, 6); }},
    {"document-of-another-export", "do not belong to this document",
     [](const Work& work, const fs::path& in, const fs::path& out) {
         OLEStorage other((work.dir / "minimal.dwq").c_str(), CD_OpenRead);
         OLEStorage privateData(other, u"VerbantPluginPrivateData", CD_OpenRead);
         OLEStorage templates(privateData, u"KestoExportTemplates", CD_OpenRead);
         OLEStream stored(templates, u"0", CD_OpenRead);
         const Bytes document = ReadAll(stored);
         WriteCopy(in.string(), out.string(), nullptr, {u"VerbantPluginPrivateData/KestoExportTemplates/0"},
                   [&](const std::u16string&, Bytes& bytes) {
                       bytes = document;
                       return true;
                   });
     },
     "minimal.qxp"},
};

TEST_F(DamagedImport, EachEndsAsAFailedImportNamingItsGapAndNoStoryKeepsLessThanItsTranslationOrSource)
{
    ASSERT_NE(g_work, nullptr);
    const fs::path translated = g_work->dir / "export-translated.dwq";
    const std::vector<std::string> source = g_work->Stories(g_work->source + "/examples/documents/export.qxp");
    const std::vector<std::string> translation = g_work->Stories(g_work->dir / "export-translated.qxp");
    ASSERT_EQ(source.size(), translation.size());
    ASSERT_FALSE(source.empty());

    for (const Damage& damage : kDamages) {
        SCOPED_TRACE(damage.name);
        const fs::path dwq = g_work->dir / (std::string(damage.name) + ".dwq");
        damage.make(*g_work, translated, dwq);
        std::string log;
        const std::string transcript = g_work->Import(dwq, damage.name, log);
        EXPECT_NE(transcript.find("dialog 104"), std::string::npos) << transcript;
        EXPECT_EQ(transcript.find("dialog 103"), std::string::npos) << transcript;
        EXPECT_NE(log.find(damage.logged), std::string::npos) << log;

        const std::vector<std::string> imported = g_work->Stories(g_work->dir / (std::string(damage.name) + ".qxp"));
        if (damage.carried) {
            // A Book that is not the document's writes nothing into it.
            EXPECT_EQ(imported, g_work->Stories(g_work->source + "/examples/documents/" + damage.carried));
            continue;
        }
        ASSERT_EQ(imported.size(), source.size());
        for (size_t s = 0; s < imported.size(); ++s)
            EXPECT_TRUE(imported[s] == source[s] || imported[s] == translation[s])
                << "story " << s << ": " << imported[s] << "\nsource: " << source[s]
                << "\ntranslation: " << translation[s];
    }
}

// A document that can number no further box: the export's working boxes are refused, the export
// fails, and the source is still a document the host opens.
TEST(UidLimit, AnExportThatCannotNumberItsWorkingBoxesFailsAndLeavesTheSourceReadable)
{
    Work work;
    work.dir = fs::temp_directory_path() / ("kesto-uid-limit-" + std::to_string(::getpid()));
    fs::remove_all(work.dir);
    fs::copy(work.source + "/examples/app", work.dir, fs::copy_options::recursive);
    std::string document = ReadText(work.source + "/examples/documents/export.qxp");
    const size_t at = document.find("\"next_uid\": ");
    ASSERT_NE(at, std::string::npos);
    document.replace(at, document.find(',', at) - at, "\"next_uid\": 2147483647");
    std::ofstream(work.dir / "limit.qxp", std::ios::binary) << document;
    std::ofstream(work.dir / "export.xts")
        << "start\nopen-document limit.qxp\nmenu \"Export current document\"\nsave * default\ndialog 112\n  press 1\nquit\n";
    const std::string transcript = RunShell("cd '" + work.dir.string() + "' && '" + work.Xthost() + "' --app . --module '" +
                                            work.build + "/Plugin/XTension/Kesto.so' --script export.xts 2>&1");
    EXPECT_NE(transcript.find("dialog 112"), std::string::npos) << transcript;
    EXPECT_EQ(transcript.find("dialog 101"), std::string::npos) << transcript;
    const std::string check = RunShell("'" + work.Xthost() + "' doc check '" + (work.dir / "limit.qxp").string() +
                                       "' >/dev/null 2>&1 && echo opens");
    EXPECT_EQ(check, "opens\n");
    fs::remove_all(work.dir);
}

} // namespace

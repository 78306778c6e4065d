// The XLIFF bridge as a translator uses it: shipped documents exported by xthost with Kesto.so,
// carried through XLIFF 1.2 and XLIFF 2.1 by kesto-xliff, read and translated by translate-toolkit
// or changed as translators change them (xliff_edit.py), merged and imported; each import is
// compared with the import of the untouched exchange file.
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <stdlib.h>
#include <sys/wait.h>

#include <algorithm>  // before TestSupport.h, which uses it
#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <sstream>

#include "Plugin/Exchange/DWX_Import.h"
#include "examples/pseudo-translate/PseudoTranslate.h"
#include "platform/host/Utf8.h"
#include "platform/host/documents/DocumentFile.h"
#include "platform/host/documents/Model.h"
#include "tests/Foundation/TestSupport.h"
#include "tests/examples/ExampleRuns.h"
#include "tests/examples/StoryCompare.h"

namespace fs = std::filesystem;
using nlohmann::json;
using namespace kesto_test;

namespace {

struct Ran {
    int status = -1;
    std::string out;  // both outputs
};

Ran Shell(const fs::path& work, const std::string& command)
{
    int waited = -1;
    Ran ran;
    ran.out = RunShell("cd '" + work.string() + "' && " + command + " 2>&1", &waited);
    ran.status = WIFEXITED(waited) ? WEXITSTATUS(waited) : -1;
    return ran;
}

Ran Xliff(const fs::path& work, const std::string& arguments) { return Shell(work, "'" KESTO_XLIFF "' " + arguments); }

// xliff_edit.py on `in`, written to `out`; its output is the JSON that says what it changed.
Ran Edit(const fs::path& work, const std::string& in, const std::string& out, const std::string& operations,
         const std::string& environment = "")
{
    return Shell(work, environment + " /usr/bin/python3 '" KESTO_SOURCE_DIR "/tests/examples/xliff/xliff_edit.py' '" + in +
                         "' '" + out + "' " + operations);
}

// podebug's "unicode" rewrite, asked of translate-toolkit: each letter it writes, with the letter it
// stands for.
const std::map<char16_t, char16_t>& Rewritten()
{
    static const std::map<char16_t, char16_t> back = [] {
        std::u16string letters;
        for (char16_t c = u'A'; c <= u'z'; ++c)
            letters += c;
        std::string said = RunShell("/usr/bin/python3 -c 'import sys; from translate.tools.podebug import podebug; "
                                    "print(podebug(rewritestyle=\"unicode\").rewrite_unicode(sys.argv[1]), end=\"\")' '" +
                                    xthost::Utf16ToUtf8(letters) + "'");
        const std::u16string written = xthost::Utf8ToUtf16(said);
        EXPECT_EQ(written.size(), letters.size()) << "podebug (translate-toolkit) must be installed: " << said;
        std::map<char16_t, char16_t> map;
        for (size_t i = 0; i < letters.size() && i < written.size(); ++i)
            if (written[i] != letters[i])
                map[written[i]] = letters[i];
        return map;
    }();
    return back;
}

std::u16string StoryText(const json& story)
{
    if (story.contains("text"))
        return xthost::Utf8ToUtf16(story["text"].get<std::string>());
    std::u16string text;
    const std::string hex = story.value("utf16", "");
    for (size_t i = 0; i + 4 <= hex.size(); i += 4)
        text += static_cast<char16_t>(std::stoul(hex.substr(i, 4), nullptr, 16));
    return text;
}

// A canonical form with each story's rewritten letters read back.
std::string ReadBack(const std::string& canon)
{
    json root = json::parse(canon);
    for (json& layout : root["layouts"])
        for (json& story : layout["stories"]) {
            std::u16string text = StoryText(story);
            for (char16_t& c : text)
                if (const auto letter = Rewritten().find(c); letter != Rewritten().end())
                    c = letter->second;
            story["text"] = xthost::Utf16ToUtf8(text);
            story.erase("utf16");
        }
    return root.dump();
}

// The paragraphs of each story by layout and uid, the characters of its markers left out.
std::map<std::pair<size_t, int64_t>, std::vector<std::u16string>> ParagraphsOf(const std::string& canon)
{
    std::map<std::pair<size_t, int64_t>, std::vector<std::u16string>> out;
    const json root = json::parse(canon);
    for (size_t k = 0; k < root["layouts"].size(); ++k)
        for (const json& story : root["layouts"][k]["stories"]) {
            std::u16string text = StoryText(story);
            for (const json& o : story.value("objects", json::array()))
                for (int64_t i = o.value("at", 0); i < o.value("at", 0) + o.value("len", 0); ++i)
                    if (i >= 0 && static_cast<size_t>(i) < text.size())
                        text[i] = 0xFFFF;
            auto& paragraphs = out[{k, story.value("uid", int64_t{0})}];
            paragraphs.emplace_back();
            for (char16_t c : text)
                if (c == u'\r')
                    paragraphs.emplace_back();
                else if (c != 0xFFFF)
                    paragraphs.back() += c;
        }
    return out;
}

// The letters of a text that podebug rewrites.
std::u16string Letters(const std::u16string& text)
{
    std::u16string out;
    for (char16_t c : text)
        for (const auto& [written, letter] : Rewritten())
            if (letter == c) {
                out += c;
                break;
            }
    return out;
}

bool SomeLineHolds(const std::string& text, const std::vector<std::string>& parts)
{
    std::istringstream lines(text);
    for (std::string line; std::getline(lines, line);)
        if (std::all_of(parts.begin(), parts.end(), [&](const std::string& part) { return line.find(part) != line.npos; }))
            return true;
    return false;
}

// A shipped document exported into a working folder of its own (a copy of examples/app), with the
// canonical forms of the imports of its untouched exchange file and of its stand-in translation.
struct Export {
    fs::path work;
    std::string name, untouched, pseudo;

    std::string Dwq() const { return name + ".dwq"; }

    // The canonical form of the import of `dwq`; nothing, with a failure, unless it ends "Import done".
    std::string Imported(const std::string& dwq, const std::string& qxp) const
    {
        const std::string transcript = ImportIn(work, dwq, qxp);
        if (transcript.find("dialog 103 \"Result\" opens") != std::string::npos)
            return Canon(work / qxp, work);
        ADD_FAILURE() << "the import of " << dwq << " did not end \"Import done\":\n" << transcript;
        return "";
    }

    // The failures of a translated import: a difference but in the rewritten letters, or a paragraph
    // that the stand-in translation rewrites but that does not come back rewritten (or, when its
    // letters are those of a `kept` text, does not come back as it was).
    void CheckTranslated(const std::string& canon, const std::set<std::string>& kept = {}) const
    {
        for (const std::string& difference : StoryDifferences(ReadBack(untouched), ReadBack(canon), true))
            ADD_FAILURE() << difference;
        std::set<std::u16string> keptLetters;
        for (const std::string& text : kept)
            keptLetters.insert(Letters(xthost::Utf8ToUtf16(text)));
        const auto before = ParagraphsOf(untouched), rewritten = ParagraphsOf(pseudo), after = ParagraphsOf(canon);
        for (const auto& [story, paragraphs] : before) {
            const auto& p = rewritten.at(story);
            const auto& a = after.at(story);
            ASSERT_EQ(a.size(), paragraphs.size());
            for (size_t i = 0; i < paragraphs.size(); ++i) {
                const std::u16string& text = paragraphs[i];
                if (p[i] == text || Letters(text).empty())
                    continue;
                const bool keep = keptLetters.count(Letters(text)) > 0;
                EXPECT_EQ(keep, a[i] == text) << "story " << story.second << " paragraph " << i << " \""
                                              << xthost::Utf16ToUtf8(text) << "\" came back as \""
                                              << xthost::Utf16ToUtf8(a[i]) << "\"";
            }
        }
    }
};

Export ExportOf(const std::string& document)
{
    Export exported;
    std::string folder = (fs::temp_directory_path() / "kesto-xliff-test.XXXXXX").string();
    if (!::mkdtemp(folder.data()))
        return exported;
    fs::copy(fs::path(KESTO_SOURCE_DIR) / "examples" / "app", folder, fs::copy_options::recursive);
    fs::copy_file(ExampleDocument(document), fs::path(folder) / document);
    exported.name = fs::path(document).stem().string();
    const std::string transcript = RunHost(folder, "start\nopen-document " + document +
                                                       "\nmenu \"Export current document\"\nsave * default\n"
                                                       "dialog 101\n  press 1\nquit\n",
                                           "export.xts");
    if (!fs::exists(fs::path(folder) / exported.Dwq())) {
        ADD_FAILURE() << "the export of " << document << " wrote no " << exported.Dwq() << ":\n" << transcript;
        return exported;
    }
    exported.work = folder;
    exported.untouched = exported.Imported(exported.Dwq(), "untouched.qxp");
    std::string error;
    const std::string translated = exported.name + "-translated.dwq";
    EXPECT_TRUE(PseudoTranslateFile(folder + "/" + exported.Dwq(), folder + "/" + translated, error)) << error;
    exported.pseudo = exported.Imported(translated, exported.name + "-translated.qxp");
    if (exported.untouched.empty() || exported.pseudo.empty())
        exported.work.clear();
    return exported;
}

// The text of each paragraph of the exchange file that has text to translate, in the Book's order:
// its Unicode runs without the characters that XML cannot carry (those go out as codes).
std::vector<std::string> BookParagraphs(const fs::path& dwq)
{
    using namespace KS_DWX::Import;
    std::vector<std::string> out;
    RefPtr<IBook> book = OpenImportBook(dwq.string());
    EXPECT_TRUE(book) << dwq;
    for (int32_t d = 0; book && book->Document(d); ++d)
        for (int32_t s = 0; RefPtr<IStory> story = book->Document(d)->Story(s); ++s)
            for (int32_t p = 0; RefPtr<IPara> para = story->Paragraph(p); ++p) {
                std::u16string carried;  // (the shipped documents hold no lone surrogate)
                for (int32_t r = 0; RefPtr<IRun> run = para->Run(r); ++r)
                    for (char16_t c; run->Kind() == kRunUnicodes && run->Read(&c, sizeof c) == sizeof c;)
                        if ((c >= 0x20 || c == u'\t' || c == u'\n' || c == u'\r') && c < 0xFFFE)
                            carried += c;
                if (carried.find_first_not_of(u" \t\n\r") != std::u16string::npos)
                    out.push_back(xthost::Utf16ToUtf8(carried));
            }
    return out;
}

// The source texts without codes of the units that a reader finds: translate-toolkit's, or our own
// (ElementTree, which also reads XLIFF 2.1).
std::vector<std::string> Sources(const Export& e, const std::string& xlf, bool toolkit)
{
    const std::string said =
        toolkit ? RunShell("/usr/bin/python3 -c 'import json, sys; from translate.storage import xliff; "
                           "print(json.dumps([u.source for u in xliff.xlifffile.parsefile(sys.argv[1]).units "
                           "if u.istranslatable()]))' '" + (e.work / xlf).string() + "' 2>&1")
                : Edit(e.work, xlf, "-", "units").out;
    const json units = json::parse(said, nullptr, false);
    EXPECT_TRUE(units.is_array()) << said;
    std::vector<std::string> sources;
    for (const json& unit : units.is_array() ? units : json::array())
        sources.push_back(unit.is_array() ? unit[1] : unit);
    return sources;
}

class XliffShipped : public ::testing::TestWithParam<std::string> {};

// For each version: targets that copy their sources (set by an editor, or by --copy-source) import
// as the untouched exchange file does; two extractions are one; translate-toolkit and pocount see
// the exchange file's paragraphs; podebug's translation (XLIFF 1.2; translate-toolkit reads no
// XLIFF 2.1) or the same rewrite (XLIFF 2.1) imports with every paragraph rewritten and every format
// and marker in place.
TEST_P(XliffShipped, CopiedTargetsImportAsTheExchangeFileAndATranslationImportsRewritten)
{
    // The debug host checks its story after every change: the directory's 5,000 entries take it
    // the better part of an hour an import.
    if (GetParam() == "directory.qxp" && !kOptimisedHost)
        GTEST_SKIP() << "the directory's round trips run in the optimised builds";
    const Export e = ExportOf(GetParam());
    ASSERT_FALSE(e.work.empty());
    const std::vector<std::string> paragraphs = BookParagraphs(e.work / e.Dwq());
    for (const std::string version : {"1.2", "2.1"}) {
        SCOPED_TRACE("XLIFF " + version);
        const std::string v = "-" + version;
        auto extract = [&](const std::string& xlf, const std::string& options = "") {
            const Ran ran = Xliff(e.work, "extract " + e.Dwq() + " -o " + xlf + " --xliff " + version + options);
            EXPECT_EQ(ran.status, 0) << ran.out;
        };
        auto merge = [&](const std::string& xlf, const std::string& dwq) {
            const Ran ran = Xliff(e.work, "merge " + e.Dwq() + " " + xlf + " -o " + dwq);
            EXPECT_EQ(ran.status, 0) << ran.out;
        };
        extract("doc" + v + ".xlf");
        extract("again" + v + ".xlf");
        extract("copied" + v + ".xlf", " --copy-source");
        EXPECT_EQ(ReadFile(e.work / ("doc" + v + ".xlf")), ReadFile(e.work / ("again" + v + ".xlf"))) << "unit ids differ";
        EXPECT_EQ(Edit(e.work, "doc" + v + ".xlf", "edited" + v + ".xlf", "copy").status, 0);
        merge("edited" + v + ".xlf", "edited" + v + ".dwq");
        merge("copied" + v + ".xlf", "copied" + v + ".dwq");
        // Two merges that wrote the same bytes import alike: the slow host imports one.
        const bool same = ReadFile(e.work / ("edited" + v + ".dwq")) == ReadFile(e.work / ("copied" + v + ".dwq"));
        for (const std::string base : {"edited", "copied"}) {
            if (base == "copied" && same)
                break;
            const std::string canon = e.Imported(base + v + ".dwq", base + v + ".qxp");
            for (const std::string& difference : StoryDifferences(e.untouched, canon, true))
                ADD_FAILURE() << base << ": " << difference;
        }

        const fs::path xlf = e.work / ("doc" + v + ".xlf");
        EXPECT_EQ(RunShell("xmllint --noout '" + xlf.string() + "' 2>&1; echo $?"), "0\n");
        EXPECT_EQ(Sources(e, xlf.filename(), false), paragraphs);
        if (version == "1.2") {
            EXPECT_EQ(Sources(e, xlf.filename(), true), paragraphs);
            EXPECT_EQ(RunShell("pocount --csv '" + xlf.string() + "' | tail -n 1 | cut -d, -f9 | tr -d ' '"),
                      std::to_string(paragraphs.size()) + "\n");
        }
        if (paragraphs.empty())
            continue;  // podebug writes no file for a file without units
        const Ran translated =
            version == "1.2"
                ? Shell(e.work, "podebug --progress=none --rewrite=unicode " + xlf.filename().string() + " translated" + v + ".xlf")
                : Edit(e.work, xlf.filename(), "translated" + v + ".xlf", "translate");
        ASSERT_EQ(translated.status, 0) << translated.out;
        merge("translated" + v + ".xlf", "translated" + v + ".dwq");
        e.CheckTranslated(e.Imported("translated" + v + ".dwq", "translated" + v + ".qxp"));
    }
    if (!HasFailure())
        fs::remove_all(e.work);
}

INSTANTIATE_TEST_SUITE_P(Shipped, XliffShipped, ::testing::ValuesIn(ShippedDocuments()),
                         [](const auto& info) { return TestNameOf(info.param); });

// export.qxp exported once for the suite, with minimal.qxp exported beside it.
class XliffOnExport : public ::testing::TestWithParam<std::string> {
protected:
    static void SetUpTestSuite()
    {
        e = new Export(ExportOf("export.qxp"));
        if (e->work.empty())
            return;
        fs::copy_file(ExampleDocument("minimal.qxp"), e->work / "minimal.qxp");
        RunHost(e->work, "start\nopen-document minimal.qxp\nmenu \"Export current document\"\nsave * default\nquit\n",
                "minimal.xts");
    }

    static void TearDownTestSuite()
    {
        if (!failed && !e->work.empty())
            fs::remove_all(e->work);
        delete e;
    }

    void SetUp() override { ASSERT_FALSE(e->work.empty()); }
    void TearDown() override { failed = failed || HasFailure(); }

    // `dwq` extracted, translated, changed by `edit` (xliff_edit.py) and merged into `into`: answers
    // what the edit said, and the merge's exit status and report.
    static std::pair<json, Ran> Translated(const std::string& base, const std::string& version, const std::string& edit,
                                           const std::string& dwq = "", const std::string& into = "")
    {
        const Ran extracted =
            Xliff(e->work, "extract " + (dwq.empty() ? e->Dwq() : dwq) + " -o " + base + ".xlf --xliff " + version);
        EXPECT_EQ(extracted.status, 0) << extracted.out;
        std::ofstream(e->work / (base + ".outside")) << "kesto outside text\n";
        const Ran edited = Edit(e->work, base + ".xlf", base + ".xlf", "translate " + edit,
                                "XLIFF_EDIT_EXTERNAL='" + (e->work / (base + ".outside")).string() + "'");
        EXPECT_EQ(edited.status, 0) << edited.out;
        return {json::parse(edited.out, nullptr, false),
                Xliff(e->work, "merge " + (into.empty() ? e->Dwq() : into) + " " + base + ".xlf -o " + base + ".dwq")};
    }

    static Export* e;
    static bool failed;
};

Export* XliffOnExport::e = nullptr;
bool XliffOnExport::failed = false;

// The one character format of the first `length` characters of `phrase` (the last ones, when
// `length` is negative) where it first stands in a story of the document; nothing when they have
// several.
std::vector<xthost::doc::CharFormat> FormatOf(const fs::path& document, const std::string& phrase, int length)
{
    const auto project = xthost::doc::ReadDocumentFile(document.string());
    const std::u16string wanted = xthost::Utf8ToUtf16(phrase);
    for (const auto& layout : project->layouts)
        for (const auto& [uid, story] : layout->stories) {
            const size_t found = story.text.find(wanted);
            if (found == std::u16string::npos)
                continue;
            const size_t from = length >= 0 ? found : found + wanted.size() + length,
                         to = length >= 0 ? found + length : found + wanted.size();
            std::vector<xthost::doc::CharFormat> formats;
            size_t start = 0;
            for (const auto& run : story.charRuns) {
                const size_t end = start + static_cast<size_t>(run.length);
                const xthost::doc::CharFormat& format = *project->charFormats.Find(run.format);
                if (start < to && end > from && !formats.empty() && !(formats.front() == format))
                    return {};
                if (start < to && end > from)
                    formats = {format};
                start = end;
            }
            return formats;
        }
    ADD_FAILURE() << "\"" << phrase << "\" stands in no story of " << document;
    return {};
}

// A translator's mistake, as xliff_edit.py makes it in a translated XLIFF file, and its outcome.
struct Mistake {
    const char* name;
    const char* edit;
    int status;  // 0 every unit merged, 1 some kept their source, 2 nothing written
    // What one line of the report holds; "{unit}", "{code}" and "{line}" stand for what the edit
    // says it changed.
    std::vector<std::string> says;
    bool keeps = false;                // whether the units the edit names keep their source
    const char* version = nullptr;     // the only version the mistake can be made in
    const char* from = nullptr;        // extracted from another exchange file
    const char* into = nullptr;        // merged into another
};

const Mistake kMistakes[] = {
    {"removed marker", "remove-standalone", 1, {"unit {unit} ", "failed", "code {code} ", "removed"}, true},
    {"doubled marker", "double-standalone", 1, {"unit {unit} ", "failed", "code {code} ", "doubled"}, true},
    {"unknown code id", "unknown-id", 1, {"unit {unit} ", "failed", "code \"{code}\" is not in the source"}, true},
    {"crossed codes", "cross", 1, {"unit {unit} ", "failed", "code {code} ", "cross"}, true},
    {"removed unit", "remove-unit", 1, {"unit {unit} ", "kept its source", "no such unit"}, true},
    {"added unit", "add-unit", 1, {"unit {unit}:", "not merged"}},
    {"edited source", "edit-source", 1, {"unit {unit} ", "failed", "source was edited"}, true},
    {"untranslated units", "untranslated", 1, {"unit {unit} ", "kept its source"}, true},
    {"character reference XML cannot carry", "bad-char-ref", 2, {"line {line},", "invalid character"}},
    {"character XML cannot carry", "bad-char", 2, {"line {line},", "not well-formed"}},
    {"malformed XML", "malformed", 2, {"line {line},", "mismatched tag"}},
    {"entity bomb", "entity-bomb", 2, {"entity \"lol0\"", "no entity beyond XML's five is expanded"}},
    {"external entity", "external-entity", 2, {"external entity \"outside\"", "nothing is fetched"}},
    {"foreign XLIFF", "", 2, {"made from minimal.dwq", "not from export.dwq"}, false, nullptr, "minimal.dwq"},
    {"XLIFF of another version", "", 2, {"made from export.dwq", "not from export-translated.dwq"}, false, nullptr,
     nullptr, "export-translated.dwq"},
    // What tools write beside a translation merges whole.
    {"unit in several segments", "split", 0, {"0 kept their source, 0 failed"}, false, "2.1"},
    {"saved in UTF-16", "utf-16", 0, {"0 kept their source, 0 failed"}, false, "1.2"},
    // A translator of another word order puts a paired code on another word: the format goes with
    // it. A code the translator drops leaves its text in the format around it, with a warning.
    {"moved paired code", "move-paired", 0, {"0 kept their source, 0 failed"}},
    {"removed paired code", "remove-paired", 0, {"unit {unit} ", "code {code} ", "removed"}},
};

// Each mistake in each version ends with its exit status and its report line; nothing outside is
// read; a refused file leaves no file behind; else the import changes nothing of the document but
// the translation, and the units the mistake names keep their source; a paired code moved to
// another word carries its format there.
TEST_P(XliffOnExport, EachTranslatorMistakeEndsAsItShouldAndChangesNothingElse)
{
    const std::string version = GetParam();
    for (const Mistake& m : kMistakes) {
        if (m.version && version != m.version)
            continue;
        SCOPED_TRACE(m.name + (" XLIFF " + version));
        const std::string base = TestNameOf(std::string(m.name) + "-" + version);
        const auto [said, merged] = Translated(base, version, m.edit, m.from ? m.from : "", m.into ? m.into : "");
        EXPECT_EQ(merged.status, m.status) << merged.out;
        std::set<std::string> kept;
        for (const json& unit : said.contains("units") ? said["units"] : json::array({said})) {
            std::vector<std::string> says;
            for (std::string part : m.says) {
                for (const char* key : {"unit", "code", "line"})
                    if (const size_t at = part.find(std::string("{") + key + "}"); at != std::string::npos)
                        part.replace(at, strlen(key) + 2, unit[key].is_string() ? unit[key].get<std::string>()
                                                                                : unit[key].dump());
                says.push_back(part);
            }
            EXPECT_TRUE(SomeLineHolds(merged.out, says)) << json(says).dump() << "\n" << merged.out;
            if (m.keeps)
                kept.insert(unit.value("text", ""));
        }
        EXPECT_EQ(merged.out.find("kesto outside text"), std::string::npos) << merged.out;
        if (m.status == 2) {  // nothing written, no temporary left
            for (const auto& entry : fs::directory_iterator(e->work))
                EXPECT_TRUE(entry.path().filename().string().rfind(base + ".", 0) != 0 ||
                            entry.path().extension() == ".xlf" || entry.path().extension() == ".outside")
                    << entry.path();
            continue;
        }
        const std::string canon = e->Imported(base + ".dwq", base + ".qxp");
        if (!said.contains("word")) {
            e->CheckTranslated(canon, kept);
            continue;
        }
        // In the untouched import: the code's format on its word, the paragraph's on the next.
        const fs::path untouched = e->work / "untouched.qxp", imported = e->work / (base + ".qxp");
        const std::string word = said["word"], to = said["to"], gap = said["gap"];
        const std::string source = said["source_word"].get<std::string>() + gap + said["source_to"].get<std::string>();
        const int wordLength = int(xthost::Utf8ToUtf16(word).size()), toLength = int(xthost::Utf8ToUtf16(to).size());
        const auto code = FormatOf(untouched, source, wordLength), around = FormatOf(untouched, source, -toLength);
        ASSERT_EQ(code.size(), 1u);
        ASSERT_EQ(around.size(), 1u);
        ASSERT_FALSE(around[0] == code[0]) << "the code's word and the next have one format";
        EXPECT_EQ(FormatOf(imported, word + gap + to, wordLength), around) << "the code's old word keeps its format";
        EXPECT_EQ(FormatOf(imported, word + gap + to, -toLength), m.edit == std::string("move-paired") ? code : around);
    }
}

INSTANTIATE_TEST_SUITE_P(Versions, XliffOnExport, ::testing::Values("1.2", "2.1"),
                         [](const auto& info) { return TestNameOf(info.param); });

}  // namespace

#include "tests/examples/xliff/XliffRuns.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <stdlib.h>
#include <sys/wait.h>

#include <cstdio>
#include <map>

#include "examples/pseudo-translate/PseudoTranslate.h"
#include "platform/host/Utf8.h"
#include "tests/examples/ExampleRuns.h"
#include "tests/examples/StoryCompare.h"

namespace fs = std::filesystem;
using nlohmann::json;

namespace kesto_test {
namespace {

int ExitStatus(int waited)
{
    return WIFEXITED(waited) ? WEXITSTATUS(waited) : -1;
}

Ran Run(const std::string& command)
{
    Ran ran;
    int waited = -1;
    ran.out = RunShell(command + " 2>&1", &waited);
    ran.status = ExitStatus(waited);
    return ran;
}

// podebug's "unicode" rewrite, asked of translate-toolkit itself: each letter it replaces, with
// what it writes for it.
const std::map<char16_t, char16_t>& Rewritten()
{
    static const std::map<char16_t, char16_t> back = [] {
        std::u16string letters;
        for (char16_t c = u'A'; c <= u'z'; ++c)
            letters += c;
        std::string said = RunShell("/usr/bin/python3 -c 'import sys; from translate.tools.podebug import podebug; "
                                    "print(podebug(rewritestyle=\"unicode\").rewrite_unicode(sys.argv[1]))' '" +
                                    xthost::Utf16ToUtf8(letters) + "'");
        while (!said.empty() && said.back() == '\n')
            said.pop_back();
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

bool IsRewrittenLetter(char16_t c)
{
    for (const auto& [written, letter] : Rewritten())
        if (letter == c)
            return true;
    return false;
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

// The canonical form with each story's rewritten letters read back.
std::string ReadBack(const std::string& canon)
{
    json root = json::parse(canon);
    for (json& layout : root["layouts"])
        for (json& story : layout["stories"]) {
            std::string hex;
            for (char16_t c : StoryText(story)) {
                const auto letter = Rewritten().find(c);
                char unit[5];
                std::snprintf(unit, sizeof unit, "%04X", letter == Rewritten().end() ? c : letter->second);
                hex += unit;
            }
            story.erase("text");
            story["utf16"] = hex;
        }
    return root.dump();
}

// The paragraphs of each story by layout and uid, the characters of its markers left out.
using Paragraphs = std::map<std::pair<size_t, int64_t>, std::vector<std::u16string>>;

Paragraphs ParagraphsOf(const std::string& canon)
{
    Paragraphs out;
    const json root = json::parse(canon);
    for (size_t k = 0; k < root["layouts"].size(); ++k)
        for (const json& story : root["layouts"][k]["stories"]) {
            const std::u16string text = StoryText(story);
            std::vector<bool> marker(text.size(), false);
            for (const json& o : story.value("objects", json::array()))
                for (int64_t i = o.value("at", 0); i < o.value("at", 0) + o.value("len", 0); ++i)
                    if (i >= 0 && static_cast<size_t>(i) < text.size())
                        marker[i] = true;
            std::vector<std::u16string>& paragraphs = out[{k, story.value("uid", int64_t{0})}];
            paragraphs.emplace_back();
            for (size_t i = 0; i < text.size(); ++i) {
                if (marker[i])
                    continue;
                if (text[i] == u'\r')
                    paragraphs.emplace_back();
                else
                    paragraphs.back() += text[i];
            }
        }
    return out;
}

std::string Letters(const std::u16string& text)
{
    std::string out;
    for (char16_t c : text)
        if ((c >= u'A' && c <= u'Z') || (c >= u'a' && c <= u'z'))
            out += static_cast<char>(c);
    return out;
}

}  // namespace

XliffExport ExportForXliff(const std::string& document, bool pseudo)
{
    XliffExport exported;
    std::string folder = (fs::temp_directory_path() / "kesto-xliff-test.XXXXXX").string();
    if (!::mkdtemp(folder.data())) {
        ADD_FAILURE() << "no working folder in " << fs::temp_directory_path();
        return exported;
    }
    const fs::path work = folder;
    fs::copy(fs::path(KESTO_SOURCE_DIR) / "examples" / "app", work, fs::copy_options::recursive);
    fs::copy_file(ExampleDocument(document), work / document);
    exported.work = work;
    exported.name = fs::path(document).stem().string();
    const std::string transcript =
        RunHost(work, "start\nopen-document " + document +
                          "\nmenu \"Export current document\"\nsave * default\ndialog 101\n  press 1\nquit\n",
                "export.xts");
    if (!fs::exists(work / exported.Dwq())) {
        ADD_FAILURE() << "the export of " << document << " wrote no " << exported.Dwq() << ":\n" << transcript;
        exported.work.clear();
        return exported;
    }
    exported.untouched = ImportedCanon(exported, exported.Dwq(), "untouched.qxp");
    std::string error;
    const std::string translated = exported.name + "-translated.dwq";
    if (pseudo && !exported.untouched.empty()) {
        EXPECT_TRUE(PseudoTranslateFile((work / exported.Dwq()).string(), (work / translated).string(), error)) << error;
        exported.pseudo = ImportedCanon(exported, translated, exported.name + "-translated.qxp");
    }
    if (exported.untouched.empty() || (pseudo && exported.pseudo.empty()))
        exported.work.clear();
    return exported;
}

Ran RunXliff(const fs::path& work, const std::string& arguments)
{
    return Run("cd '" + work.string() + "' && '" KESTO_XLIFF "' " + arguments);
}

Ran EditXliff(const fs::path& work, const std::string& in, const std::string& out, const std::string& operations,
              const std::string& environment)
{
    return Run("cd '" + work.string() + "' && " + environment + " /usr/bin/python3 '" KESTO_SOURCE_DIR
               "/tests/examples/xliff/xliff_edit.py' '" + in + "' '" + out + "' " + operations);
}

std::string ImportedCanon(const XliffExport& exported, const std::string& dwq, const std::string& qxp)
{
    const std::string transcript = ImportIn(exported.work, dwq, qxp);
    if (transcript.find("dialog 103 \"Result\" opens") == std::string::npos) {
        ADD_FAILURE() << "the import of " << dwq << " did not end \"Import done\":\n" << transcript;
        return "";
    }
    return Canon(exported.work / qxp, exported.work);
}

std::vector<std::string> RewrittenDifferences(const std::string& untouched, const std::string& translated)
{
    return StoryDifferences(ReadBack(untouched), ReadBack(translated), true);
}

std::vector<std::string> ParagraphsNotAsTranslated(const XliffExport& exported, const std::string& translated,
                                                   const std::set<std::string>& kept)
{
    std::vector<std::string> out;
    std::set<std::string> keptLetters;
    for (const std::string& text : kept)
        keptLetters.insert(Letters(xthost::Utf8ToUtf16(text)));
    const Paragraphs before = ParagraphsOf(exported.untouched), pseudo = ParagraphsOf(exported.pseudo),
                     after = ParagraphsOf(translated);
    for (const auto& [story, paragraphs] : before) {
        const std::string where = "layout " + std::to_string(story.first) + " story " + std::to_string(story.second);
        const auto p = pseudo.find(story);
        const auto a = after.find(story);
        if (p == pseudo.end() || a == after.end() || p->second.size() != paragraphs.size() ||
            a->second.size() != paragraphs.size()) {
            out.push_back(where + ": its paragraphs do not line up");
            continue;
        }
        for (size_t i = 0; i < paragraphs.size(); ++i) {
            const std::u16string& text = paragraphs[i];
            bool letter = false;
            for (char16_t c : text)
                letter = letter || IsRewrittenLetter(c);
            if (!letter || p->second[i] == text)
                continue;
            const bool keep = keptLetters.count(Letters(text)) > 0;
            if (keep != (a->second[i] == text))
                out.push_back(where + " paragraph " + std::to_string(i) + " \"" + xthost::Utf16ToUtf8(text) + "\" " +
                              (keep ? "should keep its source, got \"" : "is not rewritten: \"") +
                              xthost::Utf16ToUtf8(a->second[i]) + "\"");
        }
    }
    return out;
}

std::set<std::string> FilesIn(const fs::path& folder)
{
    std::set<std::string> names;
    for (const auto& entry : fs::directory_iterator(folder))
        names.insert(entry.path().filename().string());
    return names;
}

bool SomeLineHolds(const std::string& text, const std::vector<std::string>& parts)
{
    for (size_t start = 0; start < text.size();) {
        const size_t end = std::min(text.find('\n', start), text.size());
        const std::string line = text.substr(start, end - start);
        bool all = true;
        for (const std::string& part : parts)
            all = all && line.find(part) != std::string::npos;
        if (all)
            return true;
        start = end + 1;
    }
    return false;
}

}  // namespace kesto_test

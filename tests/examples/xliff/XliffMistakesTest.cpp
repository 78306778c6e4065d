// What a translator or a translation tool does wrong to an XLIFF file of kesto-xliff, in both
// versions, on export.qxp (exported by xthost with Kesto.so): each mistake ends as it should (the
// merge's exit status and a line of its report), the merged exchange file imports, and nothing of
// the document changes but the translation of the units the mistake leaves untranslated. What
// tools rightly write beside a translation (segments, marks, another encoding) merges whole. And
// a paired code that a translator moves carries its format to its new word.
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <set>
#include <string>
#include <vector>

#include "platform/host/Utf8.h"
#include "platform/host/documents/DocumentFile.h"
#include "platform/host/documents/Model.h"
#include "tests/examples/ExampleRuns.h"
#include "tests/examples/xliff/XliffRuns.h"

namespace fs = std::filesystem;
using nlohmann::json;

namespace {

constexpr const char* kVersions[] = {"1.2", "2.1"};

// export.qxp exported once for the suite, with minimal.qxp beside it.
class XliffOnExport : public ::testing::TestWithParam<const char*> {
protected:
    static void SetUpTestSuite()
    {
        exported = new kesto_test::XliffExport(kesto_test::ExportForXliff("export.qxp"));
        if (exported->work.empty())
            return;
        fs::copy_file(kesto_test::ExampleDocument("minimal.qxp"), exported->work / "minimal.qxp");
        kesto_test::RunHost(exported->work,
                            "start\nopen-document minimal.qxp\nmenu \"Export current document\"\nsave * default\nquit\n",
                            "minimal.xts");
    }

    static void TearDownTestSuite()
    {
        if (!failed && !exported->work.empty())
            fs::remove_all(exported->work);
        delete exported;
        exported = nullptr;
    }

    void SetUp() override { ASSERT_FALSE(exported->work.empty()); }
    void TearDown() override { failed = failed || HasFailure(); }

    // A name of this test's own in the working folder, with `ending`.
    std::string Own(const std::string& ending) const
    {
        std::string name = ::testing::UnitTest::GetInstance()->current_test_info()->name();
        return kesto_test::TestNameOf(name) + ending;
    }

    // The export's exchange file (or `dwq`) extracted in this test's version into `xlf`.
    void Extract(const std::string& xlf, const std::string& dwq = "")
    {
        const kesto_test::Ran ran = kesto_test::RunXliff(
            exported->work, "extract " + (dwq.empty() ? exported->Dwq() : dwq) + " -o " + xlf + " --xliff " + GetParam());
        ASSERT_EQ(ran.status, 0) << ran.out;
    }

    // The answer of an edit of `xlf` in place; a failure fails the test.
    json Edit(const std::string& xlf, const std::string& operations, const std::string& environment = "")
    {
        const kesto_test::Ran ran = kesto_test::EditXliff(exported->work, xlf, xlf, operations, environment);
        EXPECT_EQ(ran.status, 0) << ran.out;
        return json::parse(ran.out, nullptr, false);
    }

    static kesto_test::XliffExport* exported;
    static bool failed;
};

kesto_test::XliffExport* XliffOnExport::exported = nullptr;
bool XliffOnExport::failed = false;

// A mistake, as xliff_edit.py makes it after it translated every unit, and its outcome.
struct Mistake {
    const char* name;
    const char* edit;
    // The merge's exit status: 0 every unit merged, 1 some kept their source, 2 nothing written.
    int status;
    // What one line of the report holds; "{unit}", "{code}" and "{line}" stand for what the edit
    // says it changed.
    std::vector<std::string> says;
    // Whether the unit the edit names keeps its source (the units, for "untranslated").
    bool keeps = false;
    // The only version the mistake can be made in, if any.
    const char* version = nullptr;
    // Merged into another exchange file of the working folder; extracted from another.
    const char* into = nullptr;
    const char* from = nullptr;
};

const Mistake kMistakes[] = {
    {"removed_marker", "remove-standalone", 1, {"unit {unit} ", "failed", "code {code} ", "removed"}, true},
    {"doubled_marker", "double-standalone", 1, {"unit {unit} ", "failed", "code {code} ", "doubled"}, true},
    {"unknown_code_id", "unknown-id", 1, {"unit {unit} ", "failed", "code \"{code}\" is not in the source"}, true},
    {"crossed_codes", "cross", 1, {"unit {unit} ", "failed", "code {code} ", "cross"}, true},
    {"removed_unit", "remove-unit", 1, {"unit {unit} ", "kept its source", "no such unit"}, true},
    {"added_unit", "add-unit", 1, {"unit {unit}:", "not merged"}, false},
    {"edited_source", "edit-source", 1, {"unit {unit} ", "failed", "source was edited"}, true},
    {"untranslated_units", "untranslated", 1, {"unit {unit} ", "kept its source"}, true},
    {"character_xml_cannot_carry_referenced", "bad-char-ref", 2, {"line {line},", "invalid character"}},
    {"character_xml_cannot_carry", "bad-char", 2, {"line {line},", "not well-formed"}},
    {"malformed_xml", "malformed", 2, {"line {line},", "mismatched tag"}},
    {"entity_bomb", "entity-bomb", 2, {"entity \"lol0\"", "no entity beyond XML's five is expanded"}},
    {"external_entity", "external-entity", 2, {"external entity \"outside\"", "nothing is fetched"}},
    // What tools write beside the translation: segments, and marks such as a term's.
    {"segments_joined", "split", 0, {"0 kept their source, 0 failed"}, false},
    {"segments_across_a_code", "split-code", 0, {"0 kept their source, 0 failed"}, false},
    {"term_marked", "term", 0, {"0 kept their source, 0 failed"}, false},
    {"saved_in_utf16", "utf-16", 0, {"0 kept their source, 0 failed"}, false},
    {"foreign_xliff", "", 2, {"made from minimal.dwq", "not from export.dwq"}, false, nullptr, nullptr, "minimal.dwq"},
    {"xliff_of_another_version", "", 2, {"made from export.dwq", "not from export-translated.dwq"}, false, nullptr,
     "export-translated.dwq"},
};

std::string Filled(std::string text, const json& said)
{
    for (const char* key : {"unit", "code", "line"}) {
        const std::string mark = std::string("{") + key + "}";
        const size_t at = text.find(mark);
        if (at != std::string::npos && said.contains(key))
            text.replace(at, mark.size(), said[key].is_string() ? said[key].get<std::string>() : said[key].dump());
    }
    return text;
}

class XliffMistakes : public XliffOnExport {
protected:
    // Makes each edit of the table whose merge ends with `status`, and checks its outcome.
    void Check(int status);
};

TEST_P(XliffMistakes, AMistakenUnitKeepsItsSourceAndTheRestIsMerged)
{
    Check(1);
}

TEST_P(XliffMistakes, AMistakenFileIsRefusedAndNothingIsWritten)
{
    Check(2);
}

TEST_P(XliffMistakes, WhatToolsWriteBesideTheTranslationMergesWhole)
{
    Check(0);
}

void XliffMistakes::Check(int status)
{
    for (const Mistake& mistake : kMistakes) {
        if ((mistake.version && std::string(mistake.version) != GetParam()) || mistake.status != status)
            continue;
        SCOPED_TRACE(mistake.name);
        const std::string base = Own(std::string("-") + mistake.name);
        ASSERT_NO_FATAL_FAILURE(Extract(base + ".xlf", mistake.from ? mistake.from : ""));
        const std::string external = (exported->work / (base + ".outside")).string();
        std::ofstream(external) << "kesto outside text\n";
        const json said = Edit(base + ".xlf", std::string("translate ") + mistake.edit,
                               "XLIFF_EDIT_EXTERNAL='" + external + "'");
        ASSERT_TRUE(said.is_object()) << said;

        const std::set<std::string> before = kesto_test::FilesIn(exported->work);
        const kesto_test::Ran merged = kesto_test::RunXliff(
            exported->work, std::string("merge ") + (mistake.into ? mistake.into : exported->Dwq().c_str()) + " " + base +
                                ".xlf -o " + base + ".dwq");
        EXPECT_EQ(merged.status, mistake.status) << merged.out;
        std::set<std::string> kept;
        const json units = said.contains("units") ? said["units"] : json::array({said});
        for (const json& unit : units) {
            std::vector<std::string> says;
            for (const std::string& part : mistake.says)
                says.push_back(Filled(part, unit));
            EXPECT_TRUE(kesto_test::SomeLineHolds(merged.out, says))
                << "no line of the report holds each of: " << json(says).dump() << "\n" << merged.out;
            if (mistake.keeps)
                kept.insert(unit.value("text", ""));
        }
        EXPECT_EQ(merged.out.find("kesto outside text"), std::string::npos) << merged.out;
        if (mistake.status == 2) {
            // Nothing written, no temporary left.
            EXPECT_EQ(kesto_test::FilesIn(exported->work), before) << merged.out;
            continue;
        }
        const std::string canon = kesto_test::ImportedCanon(*exported, base + ".dwq", base + ".qxp");
        ASSERT_FALSE(canon.empty());
        for (const std::string& difference : kesto_test::RewrittenDifferences(exported->untouched, canon))
            ADD_FAILURE() << difference;
        for (const std::string& difference : kesto_test::ParagraphsNotAsTranslated(*exported, canon, kept))
            ADD_FAILURE() << difference;
    }
}

INSTANTIATE_TEST_SUITE_P(Versions, XliffMistakes, ::testing::ValuesIn(kVersions),
                         [](const ::testing::TestParamInfo<const char*>& info) {
                             return kesto_test::TestNameOf(info.param);
                         });

// The character formats of the first `length` characters (or the last ones, when `length` is
// negative) of `phrase`, where it first stands in a story of the document, when they are one; else
// nothing.
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
                if (start < to && end > from) {
                    const xthost::doc::CharFormat& format = *project->charFormats.Find(run.format);
                    if (!formats.empty() && !(formats.front() == format))
                        return {};
                    formats = {format};
                }
                start = end;
            }
            return formats;
        }
    ADD_FAILURE() << "\"" << phrase << "\" stands in no story of " << document;
    return {};
}

class XliffMovedFormat : public XliffOnExport {};

// A translator of another word order puts the code on another word: the format goes with it. A
// code the translator drops leaves its text in the format around it, with a warning.
TEST_P(XliffMovedFormat, APairedCodeCarriesItsFormatToTheWordItMovesTo)
{
    for (const char* edit : {"move-paired", "remove-paired"}) {
        SCOPED_TRACE(edit);
        const bool moved = std::string(edit) == "move-paired";
        const std::string base = Own(std::string("-") + edit);
        ASSERT_NO_FATAL_FAILURE(Extract(base + ".xlf"));
        const json said = Edit(base + ".xlf", std::string("translate ") + edit);
        ASSERT_TRUE(said.is_object()) << said;
        const kesto_test::Ran merged =
            kesto_test::RunXliff(exported->work, "merge " + exported->Dwq() + " " + base + ".xlf -o " + base + ".dwq");
        EXPECT_EQ(merged.status, 0) << merged.out;
        if (!moved) {
            EXPECT_TRUE(kesto_test::SomeLineHolds(
                merged.out, {"unit " + said["unit"].get<std::string>() + " ", "code " + said["code"].get<std::string>() + " "}))
                << merged.out;
        }
        ASSERT_FALSE(kesto_test::ImportedCanon(*exported, base + ".dwq", base + ".qxp").empty());

        // In the untouched import: the code's format on its word, the paragraph's on the next.
        const fs::path untouched = exported->work / "untouched.qxp", imported = exported->work / (base + ".qxp");
        const std::string word = said["word"], to = said["to"], gap = said["gap"];
        const std::string sourceWord = said["source_word"], sourceTo = said["source_to"];
        const int wordLength = static_cast<int>(xthost::Utf8ToUtf16(word).size()),
                  toLength = static_cast<int>(xthost::Utf8ToUtf16(to).size());
        const auto codeFormat = FormatOf(untouched, sourceWord + gap + sourceTo, wordLength);
        const auto around = FormatOf(untouched, sourceWord + gap + sourceTo, -toLength);
        ASSERT_EQ(codeFormat.size(), 1u) << sourceWord << " has more than one format";
        ASSERT_EQ(around.size(), 1u) << sourceTo << " has more than one format";
        ASSERT_FALSE(around[0] == codeFormat[0]) << "the code's word and the next have one format";
        EXPECT_EQ(FormatOf(imported, word + gap + to, wordLength), around) << "the code's old word keeps its format";
        EXPECT_EQ(FormatOf(imported, word + gap + to, -toLength), moved ? codeFormat : around);
    }
}

INSTANTIATE_TEST_SUITE_P(Versions, XliffMovedFormat, ::testing::ValuesIn(kVersions),
                         [](const ::testing::TestParamInfo<const char*>& info) {
                             return kesto_test::TestNameOf(info.param);
                         });

}  // namespace

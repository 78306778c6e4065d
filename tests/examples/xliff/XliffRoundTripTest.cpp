// Every shipped document exported by xthost with Kesto.so and carried through XLIFF 1.2 and XLIFF 2.1
// by kesto-xliff: targets that copy their sources import as the untouched exchange file does;
// translate-toolkit reads each unit's source as the exchange file's paragraph; a translation by
// podebug (XLIFF 1.2; translate-toolkit reads no 2.x) or by the same rewrite (XLIFF 2.1) imports with every
// paragraph rewritten and every format and marker in place.
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "Plugin/Exchange/DWX_Import.h"
#include "platform/host/Utf8.h"
#include "tests/examples/ExampleRuns.h"
#include "tests/examples/StoryCompare.h"
#include "tests/examples/xliff/XliffRuns.h"

namespace fs = std::filesystem;
using nlohmann::json;

namespace {

struct Case {
    std::string document;
    std::string version;
};

void PrintTo(const Case& c, std::ostream* out) { *out << c.document << " XLIFF " << c.version; }

std::vector<Case> Cases()
{
    std::vector<Case> cases;
    for (const std::string& document : kesto_test::ShippedDocuments())
        for (const char* version : {"1.2", "2.1"})
            cases.push_back({document, version});
    return cases;
}

std::string CaseName(const ::testing::TestParamInfo<Case>& info)
{
    return kesto_test::TestNameOf(info.param.document + "_" + info.param.version);
}

class XliffTest : public ::testing::TestWithParam<Case> {
protected:
    void SetUp() override
    {
#ifndef NDEBUG
        // The debug host checks its story after every change: the directory's 5,000 entries take
        // it the better part of an hour an import; the optimised builds run it in seconds.
        if (GetParam().document == "directory.qxp")
            GTEST_SKIP() << "the directory's round trips run in the optimised builds";
#endif
        exported = kesto_test::ExportForXliff(GetParam().document, Pseudo());
        ASSERT_FALSE(exported.work.empty());
    }

    // Whether the test compares with the stand-in translation's import.
    virtual bool Pseudo() const { return true; }

    void TearDown() override
    {
        if (!HasFailure() && !exported.work.empty())
            fs::remove_all(exported.work);
    }

    // Extracts the export's exchange file into `xlf` with `options`; a failure fails the test.
    void Extract(const std::string& xlf, const std::string& options = "")
    {
        const kesto_test::Ran ran = kesto_test::RunXliff(
            exported.work, "extract " + exported.Dwq() + " -o " + xlf + " --xliff " + GetParam().version + " " + options);
        ASSERT_EQ(ran.status, 0) << ran.out;
    }

    // Merges `xlf` into the export's exchange file, written to `dwq`; answers the report.
    std::string Merge(const std::string& xlf, const std::string& dwq, int status = 0)
    {
        const kesto_test::Ran ran = kesto_test::RunXliff(exported.work, "merge " + exported.Dwq() + " " + xlf + " -o " + dwq);
        EXPECT_EQ(ran.status, status) << ran.out;
        return ran.out;
    }

    kesto_test::XliffExport exported;
};

class XliffIdentity : public XliffTest {
    bool Pseudo() const override { return false; }
};

std::string Bytes(const fs::path& file)
{
    std::ifstream in(file, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

TEST_P(XliffIdentity, TargetsThatCopyTheirSourcesImportAsTheUntouchedExchangeFile)
{
    // Every target set to its source by an editor, and every target copied by the extraction
    // itself and left alone.
    ASSERT_NO_FATAL_FAILURE(Extract("edited.xlf"));
    const kesto_test::Ran edit = kesto_test::EditXliff(exported.work, "edited.xlf", "edited.xlf", "copy");
    ASSERT_EQ(edit.status, 0) << edit.out;
    Merge("edited.xlf", "edited.dwq");
    ASSERT_NO_FATAL_FAILURE(Extract("copied.xlf", "--copy-source"));
    Merge("copied.xlf", "copied.dwq");
    // Two merges that wrote the same bytes import alike: the slow host imports one.
    const bool same = Bytes(exported.work / "edited.dwq") == Bytes(exported.work / "copied.dwq");
    for (const std::string base : {"edited", "copied"}) {
        if (base == "copied" && same)
            break;
        SCOPED_TRACE(base);
        const std::string canon = kesto_test::ImportedCanon(exported, base + ".dwq", base + ".qxp");
        ASSERT_FALSE(canon.empty());
        for (const std::string& difference : kesto_test::StoryDifferences(exported.untouched, canon, true))
            ADD_FAILURE() << difference;
    }
}

INSTANTIATE_TEST_SUITE_P(Shipped, XliffIdentity, ::testing::ValuesIn(Cases()), CaseName);

// Whether XML 1.0 can carry the UTF-16 unit at `i` of `text`.
bool XmlCarries(const std::u16string& text, size_t i)
{
    const char16_t c = text[i];
    if (c < 0x20)
        return c == u'\t' || c == u'\n' || c == u'\r';
    if (c == 0xFFFE || c == 0xFFFF)
        return false;
    if (c >= 0xD800 && c <= 0xDBFF)
        return i + 1 < text.size() && text[i + 1] >= 0xDC00 && text[i + 1] <= 0xDFFF;
    if (c >= 0xDC00 && c <= 0xDFFF)
        return i > 0 && text[i - 1] >= 0xD800 && text[i - 1] <= 0xDBFF;
    return true;
}

// The text of each paragraph of the exchange file that has text to translate (a character other
// than a space, tab or line end), in the Book's order: its Unicode runs, without the characters
// that XML cannot carry; those, and the runs of other kinds, go out as codes.
std::vector<std::string> BookParagraphs(const fs::path& dwq)
{
    using namespace KS_DWX::Import;
    std::vector<std::string> out;
    RefPtr<IBook> book = OpenImportBook(dwq.string());
    EXPECT_TRUE(book) << dwq;
    if (!book)
        return out;
    for (int32_t d = 0; RefPtr<IDoc> doc = book->Document(d); ++d)
        for (int32_t s = 0; RefPtr<IStory> story = doc->Story(s); ++s)
            for (int32_t p = 0; RefPtr<IPara> para = story->Paragraph(p); ++p) {
                std::u16string text;
                for (int32_t r = 0; RefPtr<IRun> run = para->Run(r); ++r) {
                    if (run->Kind() != kRunUnicodes)
                        continue;
                    char16_t unit;
                    while (run->Read(&unit, sizeof unit) == sizeof unit)
                        text += unit;
                }
                std::u16string carried;
                for (size_t i = 0; i < text.size(); ++i)
                    if (XmlCarries(text, i))
                        carried += text[i];
                if (carried.find_first_not_of(u" \t\n\r") != std::u16string::npos)
                    out.push_back(xthost::Utf16ToUtf8(carried));
            }
    return out;
}

// The [id, source text without codes] of each unit to translate of an XLIFF file, as
// translate-toolkit reads it.
json ToolkitUnits(const fs::path& xlf)
{
    const std::string said = kesto_test::RunShell(
        "/usr/bin/python3 -c 'import json, sys; from translate.storage import xliff; "
        "print(json.dumps([[u.getid(), u.source] for u in xliff.xlifffile.parsefile(sys.argv[1]).units "
        "if u.istranslatable()]))' '" +
        xlf.string() + "' 2>&1");
    return json::parse(said, nullptr, false);
}

// The same as our own reader of the tests (Python's ElementTree) reads it.
json OwnUnits(const fs::path& work, const std::string& xlf)
{
    const kesto_test::Ran ran = kesto_test::EditXliff(work, xlf, "-", "units");
    EXPECT_EQ(ran.status, 0) << ran.out;
    return json::parse(ran.out, nullptr, false);
}

std::vector<std::string> Sources(const json& units)
{
    std::vector<std::string> sources;
    if (units.is_array())
        for (const json& unit : units)
            sources.push_back(unit[1].get<std::string>());
    return sources;
}

// The units pocount counts in an XLIFF file ("Total Message" of its CSV line).
long PocountUnits(const fs::path& xlf)
{
    const std::string said = kesto_test::RunShell("pocount --csv '" + xlf.string() + "' 2>&1");
    const size_t line = said.find(xlf.filename().string() + ",");
    if (line == std::string::npos)
        return -1;
    std::vector<std::string> fields;
    for (size_t at = line; at < said.size() && said[at] != '\n';) {
        const size_t comma = std::min(said.find_first_of(",\n", at), said.size());
        fields.push_back(said.substr(at, comma - at));
        at = comma < said.size() && said[comma] == ',' ? comma + 1 : comma;
    }
    return fields.size() > 8 ? std::stol(fields[8]) : -1;
}

using XliffReader = XliffTest;

TEST_P(XliffReader, IndependentReadersSeeTheParagraphsAndATranslationImportsRewritten)
{
    const bool v12 = GetParam().version == "1.2";
    ASSERT_NO_FATAL_FAILURE(Extract("doc.xlf"));
    ASSERT_NO_FATAL_FAILURE(Extract("again.xlf"));
    const fs::path xlf = exported.work / "doc.xlf";
    EXPECT_EQ(kesto_test::RunShell("xmllint --noout '" + xlf.string() + "' 2>&1; echo $?"), "0\n");

    const std::vector<std::string> paragraphs = BookParagraphs(exported.work / exported.Dwq());
    const json toolkit = ToolkitUnits(xlf);
    ASSERT_TRUE(toolkit.is_array()) << toolkit;
    if (v12) {
        EXPECT_EQ(Sources(toolkit), paragraphs);
        EXPECT_EQ(PocountUnits(xlf), static_cast<long>(paragraphs.size()));
        EXPECT_EQ(toolkit, ToolkitUnits(exported.work / "again.xlf")) << "unit ids differ between two extractions";
    } else if (!toolkit.empty()) {
        // This translate-toolkit reads no XLIFF 2 and finds no unit in it; one that does must see
        // the paragraphs.
        EXPECT_EQ(Sources(toolkit), paragraphs);
    }
    const json own = OwnUnits(exported.work, "doc.xlf");
    EXPECT_EQ(Sources(own), paragraphs);
    EXPECT_EQ(own, OwnUnits(exported.work, "again.xlf")) << "unit ids differ between two extractions";

    // podebug writes a look-alike for every letter of every unit, codes left where they stand.
    const kesto_test::Ran translated =
        v12 ? kesto_test::Ran{0, kesto_test::RunShell("cd '" + exported.work.string() +
                                                      "' && podebug --progress=none --rewrite=unicode doc.xlf "
                                                      "translated.xlf 2>&1")}
            : kesto_test::EditXliff(exported.work, "doc.xlf", "translated.xlf", "translate");
    ASSERT_EQ(translated.status, 0) << translated.out;
    if (paragraphs.empty())
        return;  // podebug writes no file for a file without units
    Merge("translated.xlf", "translated.dwq");
    const std::string canon = kesto_test::ImportedCanon(exported, "translated.dwq", "translated.qxp");
    ASSERT_FALSE(canon.empty());
    for (const std::string& difference : kesto_test::RewrittenDifferences(exported.untouched, canon))
        ADD_FAILURE() << difference;
    for (const std::string& difference : kesto_test::ParagraphsNotAsTranslated(exported, canon))
        ADD_FAILURE() << difference;
}

INSTANTIATE_TEST_SUITE_P(Shipped, XliffReader, ::testing::ValuesIn(Cases()), CaseName);

}  // namespace

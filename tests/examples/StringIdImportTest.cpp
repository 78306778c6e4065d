// A string table that gives a text the id 2^31-1 and lacks a default text the reader interns
// (tools drop texts nothing names) imports through xthost and Kesto.so as the export's own does.
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <string>

#include "Plugin/Shell/AppFolderTest.h"
#include "examples/damage/DamagedContainer.h"
#include "tests/examples/ExampleRuns.h"

namespace fs = std::filesystem;
using namespace kesto_damage;

namespace {

// A text of the Book's string table: its id, and where its record stands in the two fields.
struct Stored {
    uint32_t id;
    std::u16string text;
    size_t record, begin, end;
};

// Gives the last text in table order that the Book names, behind `missing`, the id 2^31-1, and
// takes `missing` out of the table: a reader that gave `missing` the next id would give it that
// one too, and it would hide the other text.
void TakeOutBesideTheHighestId(CodeStreams& code, const std::u16string& missing)
{
    const std::string table = code.Folder({{"Book/", 0}, {"StringsMap{}", 0}});
    Bytes& ids = code.streams.at(table + "\x01m_Ref");
    Bytes& texts = code.streams.at(table + "\x01m_String");
    // Each field stream begins with its type code; a text is its length in units and its units.
    std::vector<Stored> stored;
    for (size_t record = 2, at = 2; record + 4 <= ids.size() && at + 2 <= texts.size(); record += 4) {
        const size_t length = texts[at] | texts[at + 1] << 8;
        Stored s{U32(ids, record), u"", record, at, at + 2 + 2 * length};
        for (size_t k = 0; k < length && at + 3 + 2 * k < texts.size(); ++k)
            s.text.push_back(static_cast<char16_t>(texts[at + 2 + 2 * k] | texts[at + 3 + 2 * k] << 8));
        stored.push_back(s);
        at = s.end;
    }
    std::vector<Bytes*> references;
    for (auto& [name, bytes] : code.streams)
        for (const char* field : {"\x01m_NameRef", "\x01m_ValueRef", "\x01m_DataRef", "\x01m_ObjectTypeRef", "\x01m_RefTypeRef"})
            if (name.size() > std::strlen(field) && name.compare(name.size() - std::strlen(field), std::string::npos, field) == 0)
                references.push_back(&bytes);
    const auto named = [&](uint32_t id) {
        for (const Bytes* bytes : references)
            for (size_t at = 2; at + 4 <= bytes->size(); at += 4)
                if (U32(*bytes, at) == id)
                    return true;
        return false;
    };
    const Stored* highest = nullptr;
    const Stored* gone = nullptr;
    for (const Stored& s : stored) {
        if (s.text == missing)
            gone = &s;
        else if (s.text > missing && named(s.id))
            highest = &s;
    }
    ASSERT_TRUE(highest && gone) << "the string table holds no such texts";
    for (Bytes* bytes : references)
        for (size_t at = 2; at + 4 <= bytes->size(); at += 4)
            if (U32(*bytes, at) == highest->id)
                PutU32(*bytes, at, 0x7FFFFFFF);
    PutU32(ids, highest->record, 0x7FFFFFFF);
    ids.erase(ids.begin() + static_cast<std::ptrdiff_t>(gone->record), ids.begin() + static_cast<std::ptrdiff_t>(gone->record + 4));
    texts.erase(texts.begin() + static_cast<std::ptrdiff_t>(gone->begin), texts.begin() + static_cast<std::ptrdiff_t>(gone->end));
}

TEST(StringIdImport, ATextOfTheHighestIdBesideAMissingDefaultImportsAsBefore)
{
    const fs::path translated = kesto_test::RoundTripOf("minimal.qxp");
    ASSERT_FALSE(translated.empty());
    const fs::path work = translated.parent_path();
    // The default of "source_data_type", which the export replaced, so that nothing names it.
    CodeStreams code = ReadCodeFile((work / "minimal-translated.dwq").string());
    TakeOutBesideTheHighestId(code, u"unknown");
    ASSERT_FALSE(HasFailure());
    WriteCopy((work / "minimal-translated.dwq").string(), (work / "highest-id.dwq").string(), &code);

    const std::string transcript = kesto_test::ImportIn(work, "highest-id.dwq", "highest-id.qxp");
    EXPECT_NE(transcript.find("dialog 103 \"Result\" opens"), std::string::npos) << transcript;
    EXPECT_EQ(kesto_test::Canon(work / "highest-id.qxp", work), kesto_test::Canon(work / "minimal-translated.qxp", work));
    if (!HasFailure())
        fs::remove_all(work);
}

} // namespace

// Containers that ask the import for more than a document can hold or more than their data can
// give, and containers damaged below the Book, through xthost and Kesto.so: each ends as a failed
// import whose general log names the real reason, and an earlier document at the target stays.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <string>

#include "Plugin/Shell/AppFolderTest.h"
#include "examples/damage/DamagedContainer.h"
#include "tests/examples/ExampleRuns.h"

namespace fs = std::filesystem;
using namespace kesto_damage;

namespace {

// The export of minimal.qxp, with `characters` (16-bit units) in place of its first text run.
void WithFirstRun(const fs::path& in, const fs::path& out, char16_t unit, size_t count)
{
    CodeStreams code = ReadCodeFile(in.string());
    for (auto& [name, bytes] : code.streams)
        if (name.find("!1:Unicodes") != std::string::npos) {
            bytes.assign({5, 0});  // the field type of 16-bit characters
            bytes.reserve(2 + 2 * count);
            for (size_t k = 0; k < count; ++k)
                bytes.insert(bytes.end(), {static_cast<uint8_t>(unit), static_cast<uint8_t>(unit >> 8)});
            break;
        }
    WriteCopy(in.string(), out.string(), &code);
}

// The container's bytes with one 32-bit word of its compound file changed: the allocation-table
// entry of the directory's first sector made to point back at that sector.
void WithDirectoryLoop(const fs::path& in, const fs::path& out)
{
    std::string file = kesto_test::ReadText(in);
    Bytes bytes(file.begin(), file.end());
    const uint32_t directory = U32(bytes, 48), firstFatSector = U32(bytes, 76);
    PutU32(bytes, (size_t(firstFatSector) + 1) * 512 + 4 * directory, directory);
    std::ofstream(out, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

struct Bounded {
    const char* name;
    std::function<void(const fs::path& in, const fs::path& out)> make;
    // What the general log says; "@" stands for the target's path.
    const char* logged;
    // A story of tens of millions of characters: the debug host, which checks a story whole after
    // every change, would take hours over it; the optimised builds take seconds.
    bool large = false;
};

const Bounded kBounded[] = {
    // The code file cut at the last sector boundary of its compound-file stream: its name table,
    // the last thing in it, loses its end.
    {"code-file-cut-at-a-sector",
     [](const fs::path& in, const fs::path& out) {
         WriteCopy(in.string(), out.string(), nullptr, {u"VerbantTextAndCode/VerbantCodeFile"},
                   [](const std::u16string&, Bytes& bytes) { bytes.resize((bytes.size() - 1) / 512 * 512); });
     },
     "damaged code file, cut short or with a wrong offset: its "},
    {"directory-chain-loop", WithDirectoryLoop,
     "Container Error<33016>:\tdamaged compound file: the directory's chain loops back to sector "},
    // The root folder's table naming a name of 0x7FFFFFF0 bytes, in a compressed stream of 1 MiB
    // of zeros: refused before anything is read for the name.
    {"folder-table-length-bomb",
     [](const fs::path& in, const fs::path& out) {
         CodeStreams code = ReadCodeFile(in.string());
         Bytes& table = code.streams.at("\x02");
         table.assign(size_t(1) << 20, 0);
         PutU32(table, 0, 0x7FFFFFF0u);
         WriteCopy(in.string(), out.string(), &code);
     },
     "damaged code file: record 0 of the table of the root folder names a name of 2147483632 bytes, more than the rest of "
     "the table can hold"},
    // One character more than a story can hold, which no document file could hold either.
    {"story-over-the-story-limit", [](const fs::path& in, const fs::path& out) { WithFirstRun(in, out, u'a', (64u << 20) + 1); },
     "####import of story 0 failed: DWX Error<1004>:\tthe story would be longer than the 67108864 characters a document holds", true},
    // 23 Mi characters of three UTF-8 bytes each: a story the host holds, a file it would refuse.
    {"result-over-the-document-limit", [](const fs::path& in, const fs::path& out) { WithFirstRun(in, out, u'\u4E2D', 23u << 20); },
     "Unable to save the imported document @: File too large", true},
};

TEST(BoundedImport, EachEndsAsAFailedImportNamingItsReasonAndKeepsTheEarlierDocument)
{
    const fs::path work = kesto_test::RoundTripOf("minimal.qxp").parent_path();
    ASSERT_FALSE(work.empty());
    const std::string earlier = kesto_test::ReadText(kesto_test::ExampleDocument("minimal.qxp"));
    for (const Bounded& b : kBounded) {
        SCOPED_TRACE(b.name);
        if (b.large && !kesto_test::kOptimisedHost)
            continue;
        const std::string name = b.name;
        b.make(work / "minimal.dwq", work / (name + ".dwq"));
        std::ofstream(work / (name + ".qxp"), std::ios::binary) << earlier;
        std::error_code ignored;
        fs::remove(work / "KestoLogfile.txt", ignored);
        const std::string transcript =
            kesto_test::RunHost(work, kesto_test::ImportScript(name + ".dwq", name + ".qxp", 104), name + ".xts");
        // The transcript of a long story runs to many thousand lines: its end tells the result.
        const std::string end = transcript.substr(transcript.size() > 4000 ? transcript.size() - 4000 : 0);
        EXPECT_NE(transcript.find("dialog 104"), std::string::npos) << end;
        EXPECT_EQ(transcript.find("dialog 103"), std::string::npos) << end;
        std::string logged = b.logged;
        if (const size_t at = logged.find('@'); at != std::string::npos)
            logged.replace(at, 1, (work / (name + ".qxp")).string());
        const std::string log = kesto_test::ReadText(work / "KestoLogfile.txt");
        EXPECT_NE(log.find(logged), std::string::npos) << log;
        EXPECT_TRUE(kesto_test::ReadText(work / (name + ".qxp")) == earlier) << "the earlier document changed";
        fs::remove(work / (name + ".dwq"), ignored);
    }
    fs::remove_all(work);
}

}  // namespace

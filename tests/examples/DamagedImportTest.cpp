// Damaged translations imported through xthost and Kesto.so: a container that lost part of a
// story, names what its Book does not hold, leaves out a marker or a paragraph end, holds runs the
// import does not write, moves a story or carries another document ends as a failed import, the
// log says which story lacks what, and no story ends with less than its translation or its source
// text, nor the document with fewer boxes. Also containers past a bound, and edits the host refuses.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iostream>
#include <iterator>
#include <map>
#include <memory>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include <unistd.h>

#include "Container/Storage/OLEStorage.h"
#include "Plugin/Shell/AppFolderTest.h"
#include "examples/damage/DamagedContainer.h"
#include "tests/examples/BookMutations.h"
#include "tests/examples/ExampleRuns.h"

namespace fs = std::filesystem;

using namespace kesto_damage;

namespace {

// ---- One import ---------------------------------------------------------------------------------

// A work folder of examples/app/roundtrip.sh on export.qxp: the export, its translation and the
// translation's import.
struct Work {
    fs::path dir;

    // The story texts of a document as `xthost doc canon` writes them, in its order.
    std::vector<std::string> Stories(const fs::path& document) const
    {
        const std::string text = kesto_test::Canon(document, dir);
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

    // Imports `dwq` into `name`.qxp, its result confirmed in `dialog` (104 "Import failed", 103
    // "Import done"), with the host's `faults`; answers the transcript, the general log of the run
    // in `log`.
    std::string Import(const fs::path& dwq, const std::string& name, std::string& log, int dialog = 104,
                       const std::string& faults = "") const
    {
        std::error_code ignored;
        fs::remove(dir / "KestoLogfile.txt", ignored);
        const std::string transcript =
            kesto_test::RunHost(dir, kesto_test::ImportScript(dwq.filename().string(), name + ".qxp", dialog, faults), name + ".xts");
        log = kesto_test::ReadText(dir / "KestoLogfile.txt");
        return transcript;
    }
};

// Each story imported is its source text `from` or its whole translation.
void ExpectEachStoryFrom(const std::vector<std::string>& imported, const std::vector<std::string>& from,
                         const std::vector<std::string>& translation)
{
    ASSERT_EQ(imported.size(), from.size());
    ASSERT_EQ(translation.size(), from.size());
    for (size_t s = 0; s < imported.size(); ++s)
        EXPECT_TRUE(imported[s] == from[s] || imported[s] == translation[s])
            << "story " << s << ": " << imported[s] << "\nsource: " << from[s] << "\ntranslation: " << translation[s];
}

Work* g_work = nullptr;

class DamagedImport : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        g_work = new Work;
        g_work->dir = kesto_test::ExportWorkWithMinimal();
        ASSERT_FALSE(g_work->dir.empty());
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
    std::string logged;
    // The document the container carries when it is not the source of its Book.
    const char* carried = nullptr;
    // The stored document, edited after the export, is what a story not imported keeps.
    bool storedEdited = false;
    // The import is done, with every story's whole translation.
    bool done = false;
    // The host's fault plan, on the undamaged translation: story 0 keeps its source, the others are translated.
    const char* faults = nullptr;
};

const std::string kLinking = "####stories 0 to 6 of the exchange file are not imported, their boxes keep their text: the "
                             "boxes of the master pages could not be linked to stories: the story is locked (the host "
                             "answered -3005 to ";

const std::string kUnapplied = "The exchange file asks for what the import does not apply, the document keeps its own: ";

const Damage kDamages[] = {
    {"paragraph-removed", "is missing (the story lists paragraph"},
    {"run-of-unknown-type", "has no readable content"},
    {"story-removed", "story 1 is missing (the exchange file lists story 2 behind it)"},
    {"last-story-removed", "links 1 boxes to stories, the exchange file holds none of them"},
    {"duplicate-story-numbers", "story 0 and the stories after it cannot be read: Container Error<34001>"},
    {"special-character-of-unknown-id", "names a special character the Book does not hold"},
    {"placeholder-of-unknown-id", "names an object type the Book does not hold"},
    {"reference-of-unknown-id", "names a reference the Book does not hold"},
    {"descriptor-tag-bit", "story 0 not imported, its text stays as it was: run 0 of paragraph 0 has no readable content"},
    {"descriptor-id-bit", "story 0 not imported, its text stays as it was: run 0 of paragraph 0 has no readable content"},
    {"descriptor-offset-bit", "story 0 not imported, its text stays as it was: run 0 of paragraph 0 cannot be read"},
    {"document-of-another-export", "do not belong to this document", "minimal.qxp"},
    // What a translation leaves out or moves, a stored document edited after the export.
    {"placeholder-run-removed", "story 2 not imported, its text stays as it was: it leaves out placeholder 8 at"},
    {"anchored-object-marker-removed",
     "story 2 not imported, its text stays as it was: it leaves out placeholder 1 (an anchored item)"},
    {"special-character-run-removed",
     "story 2 not imported, its text stays as it was: it leaves out the special character page_number (Next)"},
    {"paragraph-added", "story 2 not imported, its text stays as it was: the exchange file holds 36 paragraphs of it"},
    {"stored-story-shorter", "story 3 not imported, its text stays as it was: the exchange file holds 2 paragraphs of it", nullptr,
     true},
    {"multibyte-run", "story 0 not imported, its text stays as it was: run 0 of paragraph 0 holds 8-bit text (Multibytes)"},
    {"run-record-renamed", "story 0 not imported, its text stays as it was: record \"TextRux[]/\" 0 of paragraph 0 has a name"},
    {"stories-swapped", "story 1 not imported, its text stays as it was: the exchange file places its box on page 1"},
    // Records no reading reaches, values that do not read whole, a marker placed more than once.
    {"run-numbered-negative", "story 2 not imported, its text stays as it was: run -1 of paragraph 1 has a negative number"},
    {"text-of-odd-length",
     "story 0 not imported, its text stays as it was: run 0 of paragraph 0 cannot be read: Container Error<34001>"},
    {"unique-id-not-a-number", "story 2 not imported, its text stays as it was: paragraph 0 has the unique id \"4x2\", where"},
    {"unique-id-negative", "story 2 not imported, its text stays as it was: paragraph 0 has the unique id \"-12\", where"},
    {"unique-id-none", "story 2 not imported, its text stays as it was: paragraph 0 has the unique id \"-1\", where"},
    {"unique-id-with-nul", "story 2 not imported, its text stays as it was: paragraph 0 has the unique id \"17\", where"},
    {"placeholder-twice", "story 2 not imported, its text stays as it was: run 0 of paragraph 13 places placeholder 8 at "
                  "character 158 twice, where the document's story holds it once"},
    {"placeholder-100000-times", "story 2 not imported, its text stays as it was: run 0 of paragraph 13 places placeholder 8 at "
                  "character 158 twice, where the document's story holds it once"},
    // A page number placed twice; unique ids other than the document's; a record one field lacks;
    // a size that does not read whole; tables cut to nothing.
    {"page-number-twice", "story 2 not imported, its text stays as it was: it places the special character page_number"},
    {"unique-id-removed", "story 2 not imported, its text stays as it was: it leaves out the unique id"},
    {"unique-id-hexadecimal", "story 2 not imported, its text stays as it was: paragraph 0 has the unique id \"0x2A\", where"},
    {"unique-id-of-another-paragraph", "story 2 not imported, its text stays as it was: it leaves out the unique id 42 of"},
    {"attributes-cut-inside-a-record", "story 2 not imported, its text stays as it was: paragraph 0 cannot be read: Container"},
    {"run-size-with-plus-sign", "story 0 not imported, its text stays as it was: run 0 of paragraph 0 has the attribute size"},
    {"run-tracking-with-blank", "story 0 not imported, its text stays as it was: run 0 of paragraph 0 has the attribute "
                                "tracking \" 42\", where an export writes a whole decimal number"},
    {"run-kerning-with-nul", "story 0 not imported, its text stays as it was: run 0 of paragraph 0 has the attribute "
                             "kerning \"42\", where an export writes a whole decimal number"},
    {"paragraph-of-no-records", "story 0 not imported, its text stays as it was: paragraph 0 lists no record"},
    {"no-stories", "layout 0 links 7 boxes to stories, the exchange file holds no story"},
    // NUL characters, which the document's text cannot hold, are left out on purpose, and said so.
    {"nul-characters", "story 0: 2 NUL character(s) of its translation left out", nullptr, false, true},
    // Formatting samples that are not there: the run would take another run's formatting.
    {"sample-out-of-range", "story 0 not imported, its text stays as it was: run 0 of paragraph 0 names formatting sample "
                            "4096, which the stored document does not hold for layout 0 (it holds samples 0 to "},
    {"sample-negative", "story 0 not imported, its text stays as it was: run 0 of paragraph 0 names formatting sample -1, "},
    {"working-boxes-removed", "story 0 not imported, its text stays as it was: run 0 of paragraph 0 names formatting sample "
                              "0, which the stored document does not hold for layout 0 (its working boxes are gone)"},
    // An anchored item moved into another paragraph: moving it would replace its box and the box's
    // story by copies.
    {"anchored-item-moved", "story 2 not imported, its text stays as it was: it places placeholder 1 (an anchored item) at "
                            "character 222 elsewhere in the story"},
    // Two paragraphs merged in the story that holds the module's stray tag run: the story keeps
    // the tag run's text with the rest. A unique id moved to the next story: both fail, the one
    // named with the id it lost.
    {"paragraphs-merged", "story 2 not imported, its text stays as it was: the exchange file holds 34 paragraphs of it, "
                          "the document's story has text beyond them"},
    {"unique-id-moved-to-another-story",
     "story 2 not imported, its text stays as it was: it leaves out the unique id 42 of the document's story"},
    // The linking of the master pages' boxes, which writes a tag into their stories and takes it
    // out again, refused at the tag's insertion and at its removal: no story keeps the tag.
    {"linking-insert-refused", kLinking + "XTY_InsertText of the linking tag)", nullptr, false, false,
     "fail TXT-11 times 1 with -3005\n"},
    {"linking-cut-refused", kLinking + "XTY_DeleteText of the linking tag)", nullptr, false, false,
     "fail TXT-10 times 1 with -3005\n"},
    // A summary stream without the code file's format versions: read as the version of today's exports.
    {"summary-without-versions", "", nullptr, false, true},
    // What the import does not apply, said once: a run to be hidden, another style sheet name, a
    // largest unique id and a source the document does not have.
    {"run-hidden", kUnapplied + "1 run(s) to be hidden (hidden=on), the first run 0 of paragraph 0 of story 0", nullptr,
     false, true},
    {"paragraph-style-renamed", kUnapplied + "1 paragraph(s) of another style sheet (stylename), the first paragraph 0 of "
                                             "story 0 names \"Heading 9\", the document's paragraph has \"Normal\"",
     nullptr, false, true},
    {"maxuniqid-changed", kUnapplied + "maxuniqID \"99999\", where the document's largest unique id is 42", nullptr, false,
     true},
    {"source-data-type-changed",
     kUnapplied + "source_data_type \"QuarkXpress 3.3 Mac{MB=1}\", where this host writes \"QuarkXpress ", nullptr, false,
     true},
    // A formatting sample the host does not copy.
    {"sample-not-copied", "####import of story 0 failed: DWX Error<1004>:\tformatting sample 0 could not be copied", nullptr,
     false, false, "fail TXT-13 times 1 with -50\n"},
};

TEST_F(DamagedImport, EachEndsAsAFailedImportNamingItsGapAndNoStoryKeepsLessThanItsTranslationOrSource)
{
    ASSERT_NE(g_work, nullptr);
    const fs::path translated = g_work->dir / "export-translated.dwq";
    const std::vector<std::string> source = g_work->Stories(kesto_test::ExampleDocument("export.qxp"));
    const std::vector<std::string> translation = g_work->Stories(g_work->dir / "export-translated.qxp");
    ASSERT_EQ(source.size(), translation.size());
    ASSERT_FALSE(source.empty());
    const int boxes = kesto_test::CountOf(kesto_test::ReadText(g_work->dir / "export.qxp.canon"), "\"bounds\"");

    for (const Damage& damage : kDamages) {
        SCOPED_TRACE(damage.name);
        const fs::path dwq = g_work->dir / (std::string(damage.name) + ".dwq");
        std::string error;
        if (damage.faults)
            fs::copy_file(translated, dwq, fs::copy_options::overwrite_existing);
        else
            ASSERT_TRUE(DamageContainer(damage.name, translated.string(), dwq.string(), (g_work->dir / "minimal.dwq").string(), error))
                << error;
        std::string log;
        const std::string transcript = g_work->Import(dwq, damage.name, log, damage.done ? 103 : 104, damage.faults ? damage.faults : "");
        EXPECT_EQ(transcript.find("error:"), std::string::npos) << transcript;
        EXPECT_NE(transcript.find(damage.done ? "dialog 103" : "dialog 104"), std::string::npos) << transcript;
        EXPECT_EQ(transcript.find(damage.done ? "dialog 104" : "dialog 103"), std::string::npos) << transcript;
        // Said once per story, when there is something to say.
        EXPECT_EQ(damage.logged.empty() ? 1 : kesto_test::CountOf(log, damage.logged), 1) << log;

        const fs::path result = g_work->dir / (std::string(damage.name) + ".qxp");
        const std::vector<std::string> imported = g_work->Stories(result);
        if (damage.carried) {
            // A Book that is not the document's writes nothing into it.
            EXPECT_EQ(imported, g_work->Stories(kesto_test::ExampleDocument(damage.carried)));
            continue;
        }
        // No box goes with a story or an anchor that the translation left out.
        EXPECT_EQ(kesto_test::CountOf(kesto_test::ReadText(g_work->dir / (result.filename().string() + ".canon")), "\"bounds\""),
                  boxes);
        std::vector<std::string> from = source;
        if (damage.storedEdited) {
            // It also holds the export's working boxes, last, which the import removes.
            std::ofstream(g_work->dir / "stored.qxp", std::ios::binary) << StoredDocument(dwq.string());
            from = g_work->Stories(g_work->dir / "stored.qxp");
            from.resize(source.size());
        }
        if (damage.done) {
            EXPECT_EQ(imported, translation);
            continue;
        }
        ExpectEachStoryFrom(imported, from, translation);
        if (damage.faults) {
            EXPECT_EQ(imported.at(0), source[0]);
            EXPECT_NE(imported, source);
        }
    }
}

// A host that keeps refusing to take the linking tag out of the master stories: the document,
// which would hold text nobody wrote, is not saved, and the earlier one at the target stays.
TEST_F(DamagedImport, ALinkingTagTheHostKeepsInTheDocumentLeavesTheEarlierDocument)
{
    ASSERT_NE(g_work, nullptr);
    const std::string earlier = kesto_test::ReadText(kesto_test::ExampleDocument("minimal.qxp"));
    std::ofstream(g_work->dir / "linking-tag-kept.qxp", std::ios::binary) << earlier;
    std::string log;
    const std::string transcript =
        g_work->Import(g_work->dir / "export-translated.dwq", "linking-tag-kept", log, 104, "fail TXT-10 times 3 with -3005\n");
    EXPECT_NE(transcript.find("dialog 104"), std::string::npos) << transcript;
    EXPECT_NE(log.find("The host refused to take the module's linking text \"#$_@?&#\" out of the document's master "
                       "stories again: the document is not saved!"),
              std::string::npos)
        << log;
    EXPECT_EQ(kesto_test::ReadText(g_work->dir / "linking-tag-kept.qxp"), earlier);
}

// A story list reordered across layouts: the captions of anchored-layouts.qxp, made one size, are
// told apart by their stories' order alone, so the layouts whose stories moved keep their text.
TEST_F(DamagedImport, StoriesMovedAcrossLayoutsFailTheirLayoutsAndNoBoxTakesAnotherStorysText)
{
    ASSERT_NE(g_work, nullptr);
    const fs::path dir = g_work->dir;
    std::string document = kesto_test::ReadText(kesto_test::ExampleDocument("anchored-layouts.qxp"));
    for (const std::string wider : {"1572864, 8650752]", "1572864, 9437184]"})
        for (size_t at; (at = document.find(wider)) != std::string::npos;)
            document.replace(at, wider.size(), "1572864, 7864320]");
    std::ofstream(dir / "alike.qxp", std::ios::binary) << document;
    kesto_test::RunHost(dir, "start\nopen-document alike.qxp\nmenu \"Export current document\"\nsave * default\ndialog 101\n  press 1\nquit\n",
                        "alike.xts");
    kesto_test::RunShell("cd '" + dir.string() + "' && '" KESTO_BINARY_DIR
                         "/examples/pseudo-translate/kesto-pseudo-translate' alike.dwq alike-translated.dwq 2>&1");
    std::string error, log;
    const fs::path damaged = dir / "alike-swapped.dwq";
    ASSERT_TRUE(DamageContainer("stories-swapped-across-layouts", (dir / "alike-translated.dwq").string(),
                                damaged.string(), "", error))
        << error;
    ASSERT_NE(g_work->Import(dir / "alike-translated.dwq", "alike-translated", log, 103).find("dialog 103"), std::string::npos);
    EXPECT_NE(g_work->Import(damaged, "alike-swapped", log, 104).find("dialog 104"), std::string::npos);
    EXPECT_NE(log.find("####stories 1 to 5 of the exchange file, of layout 0, do not stand where the export writes "
                       "them: behind 0 stories of the layouts before it"),
              std::string::npos)
        << log;
    ExpectEachStoryFrom(g_work->Stories(dir / "alike-swapped.qxp"), g_work->Stories(dir / "alike.qxp"),
                        g_work->Stories(dir / "alike-translated.qxp"));
}

// A damage that finds nothing to damage fails instead of answering an undamaged copy.
TEST_F(DamagedImport, ADamageWithNothingToDamageFailsAndWritesNoCopy)
{
    ASSERT_NE(g_work, nullptr);
    CodeStreams code = ReadCodeFile((g_work->dir / "export-translated.dwq").string());
    for (auto at = code.streams.begin(); at != code.streams.end();)
        at = at->first.find("!1:Unicodes") != std::string::npos ? code.streams.erase(at) : std::next(at);
    const fs::path bare = g_work->dir / "no-characters.dwq";
    WriteCopy((g_work->dir / "export-translated.dwq").string(), bare.string(), &code);
    for (const char* name : {"run-of-unknown-type", "descriptor-id-bit"}) {
        SCOPED_TRACE(name);
        const fs::path out = g_work->dir / (std::string(name) + "-bare.dwq");
        std::string error;
        EXPECT_FALSE(DamageContainer(name, bare.string(), out.string(), "", error));
        EXPECT_NE(error.find("no text run with characters"), std::string::npos) << error;
        EXPECT_FALSE(fs::exists(out));
    }
}

// ---- Failures of the files around the import ---------------------------------------------------

// Where the target lies: in the work folder; in a folder whose file system has no inode left for
// the document beside it; or behind a link of the user's into a folder the user may not write,
// naming a file of the user's (the run is then the user's, uid 65534).
enum class Place { Beside, NoFreeInode, LinkIntoLockedFolder };

// A translation whose import cannot write its document where the user asked, or should not: the
// disk fills up (the host's fault plan makes its file writes meet the system's error 28) or the
// user's quota does (122), the target is the container itself, or a document nobody may write,
// or its document cannot be made beside the target.
struct FileFailure {
    const char* name;
    // Script lines before "start": the host's faults.
    const char* faults;
    // The output chosen in the save dialog; null: the container itself.
    const char* target;
    // The target holds an earlier document (export.qxp), with this mode.
    int earlierMode;
    // What the log says: the failure and the system's reason; "@" stands for the target's path,
    // "%" for the folder of the file it names.
    std::vector<std::string> logged;
    // Script lines answering what the import asks before its result.
    const char* answers = "";
    Place place = Place::Beside;
};

const FileFailure kFileFailures[] = {
    {"disk-full-restoring", "fail write:FIO-6 with 28", "disk-full-restoring.qxp", 0,
     {"Unable to write the document restored from DWQ to @!", "No space left on device"}},
    {"disk-full-saving", "fail write:DOC-11 with 28", "disk-full-saving.qxp", 0644,
     {"Unable to save the imported document @: No space left on device"}},
    // A full quota is no full disk: the log gives the system's own reason.
    {"quota-saving", "fail write:DOC-11 with 122", "quota-saving.qxp", 0644,
     {"Unable to save the imported document @: Disk quota exceeded"}},
    {"container-as-output", "", nullptr, 0, {"Unable to import @ into itself: the target is the DWQ being imported!"}},
    {"write-protected-target", "", "write-protected-target.qxp", 0444,
     {"Overwrite not allowed for @: Permission denied"}, "alert 22100 press 1\n"},
    // The document cannot be made beside the target: the earlier one stays, named and whole.
    {"no-free-inode", "", "full/no-free-inode.qxp", 0644,
     {"Unable to create a document beside the target!", "The folder % refused it: No space left on device"}, "",
     Place::NoFreeInode},
    {"link-into-locked-folder", "", "mine/link-into-locked-folder.qxp", 0644,
     {"Unable to create a document beside the target!", "The folder % refused it: Permission denied"}, "",
     Place::LinkIntoLockedFolder},
};

// The names of the folder's entries, logs and scripts left out.
std::set<std::string> Documents(const fs::path& folder)
{
    std::set<std::string> names;
    for (const auto& entry : fs::directory_iterator(folder)) {
        const std::string extension = entry.path().extension().string();
        if (extension != ".txt" && extension != ".xts")
            names.insert(entry.path().filename().string());
    }
    return names;
}

std::string Replaced(std::string text, char mark, const std::string& path)
{
    const size_t at = text.find(mark);
    return at == std::string::npos ? text : text.replace(at, 1, path);
}

// A tmpfs of a few inodes at a folder for the while of one case; not mounted where the system
// does not permit it.
struct SmallFileSystem {
    const fs::path folder;
    const bool mounted = fs::create_directories(folder) &&
                         std::system(("mount -t tmpfs -o size=4m,nr_inodes=16 kesto-test '" + folder.string() + "' >/dev/null 2>&1")
                                         .c_str()) == 0;
    ~SmallFileSystem()
    {
        if (mounted)
            std::system(("umount '" + folder.string() + "'").c_str());
        std::error_code ignored;
        fs::remove_all(folder, ignored);
    }
    // Takes every inode that is left.
    void Fill() const
    {
        for (int n = 0; std::ofstream(folder / ("fill-" + std::to_string(n))); ++n) {
        }
    }
};

TEST_F(DamagedImport, AFileThatCannotOrMayNotTakeTheImportEndsAsAFailedImportNamingItAndItsReason)
{
    ASSERT_NE(g_work, nullptr);
    const fs::path translated = g_work->dir / "export-translated.dwq";
    const fs::path source = kesto_test::ExampleDocument("export.qxp");
    for (const FileFailure& failure : kFileFailures) {
        SCOPED_TRACE(failure.name);
        const fs::path dwq = g_work->dir / (std::string(failure.name) + ".dwq");
        fs::copy_file(translated, dwq, fs::copy_options::overwrite_existing);
        const fs::path target = failure.target ? g_work->dir / failure.target : dwq;
        // The file the target names.
        fs::path named = target;
        std::unique_ptr<SmallFileSystem> full;
        std::string runAs;
        if (failure.place == Place::NoFreeInode) {
            full.reset(new SmallFileSystem{target.parent_path()});
            if (!full->mounted) {
                std::cout << "[ SKIPPED  ] " << failure.name << ": no tmpfs may be mounted here\n";
                continue;
            }
        } else if (failure.place == Place::LinkIntoLockedFolder) {
            if (::geteuid() != 0) {
                std::cout << "[ SKIPPED  ] " << failure.name << ": runs as another user only as root\n";
                continue;
            }
            named = g_work->dir / "locked" / target.filename();
            fs::create_directories(named.parent_path());
            fs::create_directories(target.parent_path());
            fs::create_symlink(named, target);
        }
        if (failure.earlierMode) {
            fs::copy_file(source, named, fs::copy_options::overwrite_existing);
            fs::permissions(named, static_cast<fs::perms>(failure.earlierMode));
        }
        if (full)
            full->Fill();
        if (failure.place == Place::LinkIntoLockedFolder) {
            // Everything is the user's but the folder of the file the link names.
            kesto_test::RunShell("chown -hR 65534:65534 '" + g_work->dir.string() + "' && chown 0:0 '" +
                                 named.parent_path().string() + "'");
            runAs = "setpriv --reuid=65534 --regid=65534 --clear-groups ";
        }
        const std::string before = kesto_test::ReadText(target);
        const std::set<std::string> documents = Documents(g_work->dir);

        std::error_code ignored;
        fs::remove(g_work->dir / "KestoLogfile.txt", ignored);
        const std::string transcript = kesto_test::RunHost(
            g_work->dir,
            kesto_test::ImportScript(dwq.filename().string(), target.lexically_relative(g_work->dir).string(), 104,
                                     failure.faults + std::string("\n"), failure.answers),
            "failure.xts", runAs);
        if (!runAs.empty())
            kesto_test::RunShell("chown -hR 0:0 '" + g_work->dir.string() + "'");
        const std::string log = kesto_test::ReadText(g_work->dir / "KestoLogfile.txt");
        EXPECT_NE(transcript.find("dialog 104"), std::string::npos) << transcript;
        EXPECT_EQ(transcript.find("dialog 103"), std::string::npos) << transcript;
        EXPECT_EQ(transcript.find("error:"), std::string::npos) << transcript;
        for (const std::string& text : failure.logged)
            EXPECT_NE(log.find(Replaced(Replaced(text, '@', target.string()), '%', named.parent_path().string())),
                      std::string::npos)
                << log;

        // Nothing is lost and nothing stays behind: the container and an earlier document are as
        // they were, a new target and the work file are gone, a link stays a link.
        EXPECT_EQ(kesto_test::ReadText(dwq), kesto_test::ReadText(translated));
        EXPECT_EQ(fs::is_symlink(target), named != target);
        if (failure.earlierMode || !failure.target) {
            EXPECT_EQ(kesto_test::ReadText(target), before);
            EXPECT_EQ(static_cast<int>(fs::status(target).permissions() & fs::perms::mask),
                      failure.earlierMode ? failure.earlierMode : static_cast<int>(fs::status(dwq).permissions() & fs::perms::mask));
        } else {
            EXPECT_FALSE(fs::exists(target));
        }
        EXPECT_EQ(Documents(g_work->dir), documents);
        if (failure.earlierMode)
            fs::permissions(named, fs::perms::owner_write, fs::perm_options::add, ignored);
    }
}

// With SetUniqueID off the import leaves the unique ids out, as it should, and says so once.
TEST_F(DamagedImport, UniqueIdsLeftOutByTheSettingAreSaidOnce)
{
    ASSERT_NE(g_work, nullptr);
    const fs::path settings = g_work->dir / "XTensions" / "kesto.ini";
    const std::string kept = kesto_test::ReadText(settings);
    std::string off = kept;
    off.replace(off.find("SetUniqueID=True"), 16, "SetUniqueID=False");
    std::ofstream(settings) << off;
    std::string log;
    EXPECT_NE(g_work->Import(g_work->dir / "export-translated.dwq", "ids-off", log, 103).find("dialog 103"), std::string::npos);
    std::ofstream(settings) << kept;
    EXPECT_EQ(kesto_test::CountOf(log, " paragraph(s) were left out of the document: the setting SetUniqueID is off"), 1)
        << log;
    for (const std::string& story : g_work->Stories(g_work->dir / "ids-off.qxp"))
        EXPECT_EQ(story.find("\\ue088"), std::string::npos) << story;
}

// A translation tool that writes the indent-here character into the text instead of as a special
// character loses nothing: the import counts it and brings every story's translation in.
TEST_F(DamagedImport, ASpecialCharacterWrittenAsTextIsNoLoss)
{
    ASSERT_NE(g_work, nullptr);
    const fs::path translated = g_work->dir / "export-translated.dwq", dwq = g_work->dir / "indent-as-text.dwq";
    CodeStreams code = ReadCodeFile(translated.string());
    std::vector<std::string> bundles;
    code.Find(code.Folder(kStories), "!1:SpecialChars{}", bundles);
    ASSERT_FALSE(bundles.empty());
    // In export.qxp the first special character is the indent-here character of story 2.
    const std::string run = bundles.front().substr(0, bundles.front().rfind('\x01'));
    auto table = code.Table(run);
    table.erase(std::remove_if(table.begin(), table.end(), [](const FolderEntry& e) { return e.name == "!1:SpecialChars{}"; }),
                table.end());
    code.SetTable(run, table);
    code.streams[run + "\x01!1:Unicodes"] = {5, 0, 0x1E, 0};  // 16-bit units: U+001E
    WriteCopy(translated.string(), dwq.string(), &code);
    std::string log;
    g_work->Import(dwq, "indent-as-text", log);
    EXPECT_EQ(g_work->Stories(g_work->dir / "indent-as-text.qxp"), g_work->Stories(g_work->dir / "export-translated.qxp")) << log;
}

// The round trip of a shipped document, then its translation with `damage` imported: the log says
// `logged` once; `done`, every story is translated (a flagged font's no-break space comes back as a
// space, so only its opening bracket is checked), else each keeps its whole source text, the
// longest longer than `longest`.
void ExpectStoriesOf(const std::string& document, const std::string& damage, const char* logged, size_t longest = 0,
                     bool done = false)
{
    const Work work{kesto_test::RoundTripOf(document).parent_path()};
    ASSERT_FALSE(work.dir.empty());
    const fs::path dwq = work.dir / (damage + ".dwq");
    std::string error, log;
    ASSERT_TRUE(DamageContainer(damage, (work.dir / (document.substr(0, document.rfind('.')) + "-translated.dwq")).string(),
                                dwq.string(), "", error))
        << error;
    const std::string transcript = work.Import(dwq, damage, log, done ? 103 : 104);
    EXPECT_NE(transcript.find(done ? "dialog 103" : "dialog 104"), std::string::npos) << transcript;
    EXPECT_EQ(kesto_test::CountOf(log, logged), 1) << log;
    const std::vector<std::string> source = work.Stories(kesto_test::ExampleDocument(document));
    const std::vector<std::string> imported = work.Stories(work.dir / (damage + ".qxp"));
    ASSERT_EQ(imported.size(), source.size());
    size_t longer = 0;
    for (size_t s = 0; s < source.size(); ++s) {
        if (done)
            EXPECT_EQ(imported[s].substr(0, 1), "[") << imported[s];
        else
            EXPECT_EQ(imported[s], source[s]) << "story " << s;
        longer = std::max(longer, source[s].size());
    }
    EXPECT_GT(longer, longest);
    fs::remove_all(work.dir);
}

// A story that ends in a paragraph mark has an empty place behind it, but no paragraph more: a
// paragraph added in front of the others would still run into the next one.
TEST(DamagedParagraphs, AParagraphAddedToAStoryEndingInAParagraphMarkFailsTheStory)
{
    ExpectStoriesOf("two-page-linked.qxp", "paragraph-added",
                    "story 0 not imported, its text stays as it was: the exchange file holds 7 paragraphs");
}

// A long document whose translation numbers the last run of every paragraph -1, where no reading of
// runs 0, 1, ... reaches it: none keeps only the runs in front of that one.
TEST(DamagedRuns, RunsNumberedNegativeInALongDocumentFailTheirStoriesWhole)
{
    if (!kesto_test::kOptimisedHost)
        GTEST_SKIP() << "the debug host takes the better part of an hour over its round trip";
    ExpectStoriesOf("directory.qxp", "runs-numbered-negative-everywhere",
                    "story 0 not imported, its text stays as it was: run -1 of paragraph 0 has a negative number", 10000);
}

// Exports of earlier builds stored the working boxes of the last layout only: such a container
// still imports every story, and the log says once for each other layout that it has no samples.
TEST(EarlierBuildSamples, AContainerWithSamplesInItsLastLayoutOnlyStillImportsEveryStory)
{
    ExpectStoriesOf("fidelity.qxp", "working-boxes-of-the-last-layout-only",
                    "layout 0 of the stored document holds no formatting samples", 0, true);
}

// The shipped example: a translation that lost a paragraph, imported as a user would run it.
TEST(DamagedExample, TheImportFailsAndTheLogNamesTheStoryAndItsMissingParagraph)
{
    const std::string out = kesto_test::RunShell("bash '" + std::string(KESTO_SOURCE_DIR) + "/examples/app/damaged.sh' '" +
                                     KESTO_BINARY_DIR + "' 2>&1");
    EXPECT_NE(out.find("not imported, its text stays as it was: paragraph 0 is missing"), std::string::npos) << out;
    const std::string key = "imported document: ";
    const size_t at = out.find(key);
    ASSERT_NE(at, std::string::npos) << out;
    std::error_code ignored;
    fs::remove_all(fs::path(out.substr(at + key.size(), out.find('\n', at) - at - key.size())).parent_path(), ignored);
}

// An export of `document` (its text), as `name`.qxp in an application folder of its own, with the
// host's `faults`: it ends as a failed export, and answers the folder.
fs::path FailedExport(const std::string& name, const std::string& document, const std::string& faults = "")
{
    const fs::path dir = fs::temp_directory_path() / ("kesto-" + name + "-" + std::to_string(::getpid()));
    fs::remove_all(dir);
    fs::copy(KESTO_SOURCE_DIR "/examples/app", dir, fs::copy_options::recursive);
    std::ofstream(dir / (name + ".qxp"), std::ios::binary) << document;
    const std::string transcript = kesto_test::RunHost(dir, faults + "start\nopen-document " + name +
                                                                ".qxp\nmenu \"Export current document\"\nsave * default\ndialog 112\n"
                                                                "  press 1\nquit\n");
    EXPECT_NE(transcript.find("dialog 112"), std::string::npos) << transcript;
    EXPECT_EQ(transcript.find("dialog 101"), std::string::npos) << transcript;
    EXPECT_EQ(transcript.find("error:"), std::string::npos) << transcript;
    return dir;
}

// A document that can number no further box: the export's working boxes are refused, the export
// fails, and the source is still a document the host opens.
TEST(UidLimit, AnExportThatCannotNumberItsWorkingBoxesFailsAndLeavesTheSourceReadable)
{
    std::string document = kesto_test::ReadText(kesto_test::ExampleDocument("export.qxp"));
    const size_t at = document.find("\"next_uid\": ");
    ASSERT_NE(at, std::string::npos);
    document.replace(at, document.find(',', at) - at, "\"next_uid\": 2147483647");
    const fs::path dir = FailedExport("limit", document);
    EXPECT_EQ(kesto_test::RunShell("'" KESTO_BINARY_DIR "/platform/host/xthost' doc check '" + (dir / "limit.qxp").string() +
                                   "' >/dev/null 2>&1 && echo opens"),
              "opens\n");
    fs::remove_all(dir);
}

// An export whose final save of the document fails (the disk answers every write of it with EIO)
// ends as a failed export that names the document and the reason; the document keeps its file.
TEST(FinalSave, AnExportWhoseFinalSaveFailsEndsAsAFailedExportNamingTheDocument)
{
    const std::string document = kesto_test::ReadText(kesto_test::ExampleDocument("export.qxp"));
    // The first save is the copy that the container stores, the second the document's own.
    const fs::path dir = FailedExport("export", document, "fail write:NEW-3 after 1 with 5\n");
    const std::string log = kesto_test::ReadText(dir / "KestoLogfile.txt");
    EXPECT_NE(log.find("Unable to save the document " + (dir / "export.qxp").string() + ": Input/output error"), std::string::npos)
        << log;
    EXPECT_EQ(kesto_test::ReadText(dir / "export.qxp"), document);
    fs::remove_all(dir);
}

// ---- Bounds of the container and of the document, refusals of the host --------------------------

// The export `in` with `count` 16-bit `unit`s in place of its first text run, or with each of its
// text runs made of as many as add up to `count` and more.
void WithFirstRun(const fs::path& in, const fs::path& out, char16_t unit, size_t count, bool every = false)
{
    CodeStreams code = ReadCodeFile(in.string());
    std::vector<Bytes*> runs;
    for (auto& [name, bytes] : code.streams)
        if (name.find("!1:Unicodes") != std::string::npos && (every || runs.empty()))
            runs.push_back(&bytes);
    for (Bytes* bytes : runs) {
        bytes->assign({5, 0});  // the field type of 16-bit characters
        for (size_t k = 0; k < (every ? count / runs.size() + 1 : count); ++k)
            bytes->insert(bytes->end(), {static_cast<uint8_t>(unit), static_cast<uint8_t>(unit >> 8)});
    }
    WriteCopy(in.string(), out.string(), &code);
}

// The allocation-table entry of the compound file's first directory sector made to point back at it.
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
    // Tens of millions of characters: hours for the debug host, seconds for the optimised builds.
    bool large = false;
};

const Bounded kBounded[] = {
    // Cut at the last sector boundary of its stream: the name table, last in it, loses its end.
    {"code-file-cut-at-a-sector",
     [](const fs::path& in, const fs::path& out) {
         WriteCopy(in.string(), out.string(), nullptr, {u"VerbantTextAndCode/VerbantCodeFile"},
                   [](const std::u16string&, Bytes& bytes) { bytes.resize((bytes.size() - 1) / 512 * 512); });
     },
     "damaged code file, cut short or with a wrong offset: its "},
    {"directory-chain-loop", WithDirectoryLoop,
     "Container Error<33016>:\tdamaged compound file: the directory's chain loops back to sector "},
    // A name of 0x7FFFFFF0 bytes in a compressed table of 1 MiB of zeros: refused before it is read.
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
    // Refused before any story is written: the document could not be saved.
    {"story-over-the-story-limit", [](const fs::path& in, const fs::path& out) { WithFirstRun(in, out, u'a', (64u << 20) + 1); },
     "####stories 0 to 0 of the exchange file add up to more than the 67108864 characters a document holds; no story is "
     "imported", true},
    {"text-spread-over-the-document-limit", [](const fs::path& in, const fs::path& out) {
         WithFirstRun(in.parent_path() / "export-translated.dwq", out, u'a', 72u << 20, true);
     },
     "####stories 0 to 8 of the exchange file add up to more than the 67108864 characters a document holds; no story is "
     "imported", true},
    // 23 Mi characters of three UTF-8 bytes each: a story the host holds, a file it would refuse.
    {"result-over-the-document-limit", [](const fs::path& in, const fs::path& out) { WithFirstRun(in, out, u'\u4E2D', 23u << 20); },
     "Unable to save the imported document @: File too large", true},
};

// Each ends as a failed import whose log names the real reason, and the earlier document at the target stays.
TEST_F(DamagedImport, EachBoundEndsAsAFailedImportNamingItsReasonAndKeepsTheEarlierDocument)
{
    ASSERT_NE(g_work, nullptr);
    const std::string earlier = kesto_test::ReadText(kesto_test::ExampleDocument("minimal.qxp"));
    for (const Bounded& b : kBounded) {
        SCOPED_TRACE(b.name);
        if (b.large && !kesto_test::kOptimisedHost)
            continue;
        const std::string name = b.name;
        const fs::path target = g_work->dir / (name + ".qxp");
        b.make(g_work->dir / "minimal.dwq", g_work->dir / (name + ".dwq"));
        std::ofstream(target, std::ios::binary) << earlier;
        std::string log;
        const std::string transcript = g_work->Import(g_work->dir / (name + ".dwq"), name, log);
        // The transcript of a long story runs to many thousand lines: its end tells the result.
        const std::string end = transcript.substr(transcript.size() > 4000 ? transcript.size() - 4000 : 0);
        EXPECT_NE(transcript.find("dialog 104"), std::string::npos) << end;
        EXPECT_EQ(transcript.find("dialog 103"), std::string::npos) << end;
        EXPECT_NE(log.find(Replaced(b.logged, '@', target.string())), std::string::npos) << log;
        EXPECT_TRUE(kesto_test::ReadText(target) == earlier) << "the earlier document changed";
        fs::remove(g_work->dir / (name + ".dwq"));
    }
}

// The failure of story 0 of hidden.qxp while it is written.
const std::string kFailed = "####import of story 0 failed: DWX Error<1004>:\t";
const std::string kBadArgument = "a handle, position or argument the host does not take (the host answered -50 to ";

struct Refusal {
    const char* name;
    // On a translation that moves a marker.
    bool moved;
    // The host's fault plan: the call refused and the host's answer.
    const char* faults;
    std::string logged;
};

// The story's calls in the import's order; with the marker moved, the carrier character, the tag and the copy.
const Refusal kRefusals[] = {
    // The copy of the first run's formatting sample, the story's first edit.
    {"sample", false, "fail TXT-13 times 1 with -50", kFailed + "formatting sample 0 could not be copied"},
    {"text", false, "fail TXT-11 times 1 with -3005",
     kFailed + "the story is locked (the host answered -3005 to XTY_InsertText of 12 character(s) at 2)"},
    {"special-item", false, "fail HID-1 times 1 with -50", kFailed + kBadArgument + "XHJ_InsertHidden of special item 6 at 228)"},
    {"unique-id", false, "fail HID-1 after 3 times 1 with -3002",
     kFailed + "the edit would cut a hidden or object run apart (the host answered -3002 to XHJ_InsertHidden of "
               "unique id 42 at 295)"},
    {"unique-id-closed", false, "fail HID-2 times 1 with -4",
     kFailed + "the host does not provide the call (the host answered -4 to XHJ_CloseHidden of unique id 42 at 295)"},
    {"style-sheet", false, "fail STY-3 times 1 with -50", kFailed + kBadArgument + "XSD_ApplyStyleSheet of style sheet 1 at 2)"},
    {"paragraph-attribute", false, "fail TXT-16 times 1 with -50",
     kFailed + kBadArgument + "XTY_SetAttribute of paragraph attribute 17 at 2)"},
    {"run-colour", false, "fail TXT-16 after 45 times 1 with -50",
     kFailed + kBadArgument + "XTY_SetAttribute of attribute 5 for the run's face, kerning, tracking or colour at 2)"},
    // The cut of the old text, refused at its first, fourth and tenth piece and at the copy of a
    // piece it keeps until the story is written whole: the pieces cut before come back.
    {"old-text-cut", false, "fail TXT-10 times 1 with -3005",
     kFailed + "the story is locked (the host answered -3005 to XTY_DeleteText of the old text)"},
    {"old-text-cut-fourth", false, "fail TXT-10 after 3 times 1 with -3005",
     kFailed + "the story is locked (the host answered -3005 to XTY_DeleteText of the old text)"},
    {"old-text-cut-tenth", false, "fail TXT-10 after 9 times 1 with -3005",
     kFailed + "the story is locked (the host answered -3005 to XTY_DeleteText of the old text)"},
    {"old-text-held", false, "fail TXT-13 after 40 times 1 with -50",
     kFailed + kBadArgument + "XTY_CopyText of the old text at 384 to the working box)"},
    {"carrier", true, "fail TXT-11 after 4 times 1 with -3005",
     kFailed + "the story is locked (the host answered -3005 to XTY_InsertText of a carrier character at 58)"},
    {"marker-tag", true, "fail TXT-16 after 185 times 1 with -50", kFailed + kBadArgument + "XTY_SetAttribute of the tag at 55)"},
    {"marker-copy", true, "fail TXT-13 after 4 times 1 with -3002",
     kFailed + "the host copied nothing (the host answered 0 to XTY_CopyBoxText of the marker at 55 to 59)"},
};

// Each refused edit fails its story, which keeps its source text, the module's stray tag run among
// it, exactly; the log names the story, the call and the host's reason.
TEST(HostRefusalImport, EachRefusalFailsItsStoryWhichKeepsItsText)
{
    const Work work{kesto_test::RoundTripOf("hidden.qxp").parent_path()};
    ASSERT_FALSE(work.dir.empty());
    // Paragraph 7, which opens with a hidden paren, trades places with 8: the import copies the marker.
    const std::string dwq = (work.dir / "hidden-translated.dwq").string();
    CodeStreams code = ReadCodeFile(dwq);
    int picks = 0;
    ASSERT_EQ(kesto_test::BookMutator(code).Apply(kesto_test::MutationClass::kEntriesSwapped, code,
                                                  [&](uint32_t) { return picks++ == 0 ? 15u : 0u; }),
              "story 0 paragraph 7 (Paragraph[]/ 7) swapped with 8");
    WriteCopy(dwq, (work.dir / "moved.dwq").string(), &code);
    std::string log;
    ASSERT_NE(work.Import(work.dir / "moved.dwq", "moved", log, 103).find("dialog 103 \"Result\" opens"), std::string::npos);
    const auto import = [&](const std::string& name, const std::string& faults, bool moved) {
        const std::string transcript =
            work.Import(work.dir / (moved ? "moved.dwq" : "hidden-translated.dwq"), name, log, 104, faults + "\n");
        EXPECT_NE(transcript.find("dialog 104 \"Result\" opens"), std::string::npos) << transcript;
        EXPECT_EQ(transcript.find("error:"), std::string::npos) << transcript;
        return kesto_test::Canon(work.dir / (name + ".qxp"), work.dir);
    };
    // The document as the import found it, less the module's data of its boxes, which every import takes out.
    std::string source = kesto_test::Canon(work.dir / "hidden.qxp", work.dir);
    const size_t data = source.find(", \"private\": [[");
    ASSERT_NE(data, std::string::npos);
    source.erase(data, source.find("]]", data) + 2 - data);
    for (const Refusal& r : kRefusals) {
        SCOPED_TRACE(r.name);
        const std::string document = import(r.name, r.faults, r.moved);
        EXPECT_NE(log.find(r.logged), std::string::npos) << log;
        EXPECT_EQ(document, source);
    }
    if (!HasFailure())
        fs::remove_all(work.dir);
}

} // namespace

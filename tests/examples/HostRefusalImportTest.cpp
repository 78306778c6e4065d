// A host that refuses an edit while the import writes a story, through xthost and Kesto.so: the
// story fails and keeps its text as it was, the import ends failed, and the general log names the
// story, the refused call and the host's reason.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "Plugin/Shell/AppFolderTest.h"
#include "examples/damage/DamagedContainer.h"
#include "tests/examples/BookMutations.h"
#include "tests/examples/ExampleRuns.h"

namespace fs = std::filesystem;

namespace {

// The story failed while it was written, and before: a refused removal of the module's stray tag
// runs leaves them in.
const std::string kFailed = "####import of story 0 failed: DWX Error<1004>:\t";
const std::string kRefused = "####story 0 not imported, its text stays as it was: ";

struct Refusal {
    const char* name;
    // The translation of hidden.qxp, or one that moves a marker of it.
    bool moved;
    // The host's fault plan: the call refused and the host's answer.
    const char* faults;
    // What the general log says.
    std::string logged;
};

// The calls of the story of hidden.qxp in the order the import makes them: its first text run,
// its special items (page numbers 6, 5 and 7), its unique id, the style sheet of its first
// paragraph, an attribute set back after it, the colour of the first run, the removal of a stray
// tag before the writing and the cut of its old text; with the marker moved, the character the
// copy is prepared with, the tag of the marker's first character and the copy.
const Refusal kRefusals[] = {
    {"text", false, "fail TXT-11 times 1 with -3005",
     kFailed + "the story is locked (the host answered -3005 to XTY_InsertText of 12 character(s) at 2)"},
    {"special-item", false, "fail HID-1 times 1 with -50",
     kFailed + "a handle, position or argument the host does not take (the host answered -50 to XHJ_InsertHidden of "
               "special item 6 at 228)"},
    {"unique-id", false, "fail HID-1 after 3 times 1 with -3002",
     kFailed + "the edit would cut a hidden or object run apart (the host answered -3002 to XHJ_InsertHidden of "
               "unique id 42 at 286)"},
    {"unique-id-closed", false, "fail HID-2 times 1 with -4",
     kFailed + "the host does not provide the call (the host answered -4 to XHJ_CloseHidden of unique id 42 at 286)"},
    {"style-sheet", false, "fail STY-3 times 1 with -50",
     kFailed + "a handle, position or argument the host does not take (the host answered -50 to XSD_ApplyStyleSheet of "
               "style sheet 1 at 2)"},
    {"paragraph-attribute", false, "fail TXT-16 times 1 with -50",
     kFailed + "a handle, position or argument the host does not take (the host answered -50 to XTY_SetAttribute of "
               "paragraph attribute 17 at 2)"},
    {"run-colour", false, "fail TXT-16 after 45 times 1 with -50",
     kFailed + "a handle, position or argument the host does not take (the host answered -50 to XTY_SetAttribute of "
               "attribute 5 for the run's face, kerning, tracking or colour at 2)"},
    {"stray-tags", false, "fail TXT-10 times 1 with -3005",
     kRefused + "the story is locked (the host answered -3005 to XTY_DeleteText of the module's stray tags)"},
    {"old-text-cut", false, "fail TXT-10 after 1 times 1 with -3005",
     kFailed + "the story is locked (the host answered -3005 to XTY_DeleteText of the old text)"},
    {"carrier", true, "fail TXT-11 after 4 times 1 with -3005",
     kFailed + "the story is locked (the host answered -3005 to XTY_InsertText of a carrier character at 58)"},
    {"marker-tag", true, "fail TXT-16 after 185 times 1 with -50",
     kFailed + "a handle, position or argument the host does not take (the host answered -50 to XTY_SetAttribute of "
               "the tag at 55)"},
    {"marker-copy", true, "fail TXT-13 after 4 times 1 with -3002",
     kFailed + "the host copied nothing (the host answered 0 to XTY_CopyBoxText of the marker at 55 to 59)"},
};

TEST(HostRefusalImport, EachRefusalFailsItsStoryWhichKeepsItsText)
{
    const fs::path translated = kesto_test::RoundTripOf("hidden.qxp");
    ASSERT_FALSE(translated.empty());
    const fs::path work = translated.parent_path();
    // Paragraph 7 of the Book's story, which opens with a hidden paren, trades places with
    // paragraph 8: the import copies the marker to its new place.
    const std::string dwq = (work / "hidden-translated.dwq").string();
    kesto_damage::CodeStreams code = kesto_damage::ReadCodeFile(dwq);
    int picks = 0;
    ASSERT_EQ(kesto_test::BookMutator(code).Apply(kesto_test::MutationClass::kEntriesSwapped, code,
                                                  [&](uint32_t) { return picks++ == 0 ? 15u : 0u; }),
              "story 0 paragraph 7 (Paragraph[]/ 7) swapped with 8");
    kesto_damage::WriteCopy(dwq, (work / "moved.dwq").string(), &code);
    ASSERT_NE(kesto_test::ImportIn(work, "moved.dwq", "moved.qxp").find("dialog 103 \"Result\" opens"), std::string::npos);

    const auto canon = [&](const std::string& document) {
        kesto_test::RunShell("'" KESTO_BINARY_DIR "/platform/host/xthost' doc canon '" + (work / document).string() + "' '" +
                             (work / (document + ".canon")).string() + "' 2>&1");
        return kesto_test::ReadText(work / (document + ".canon"));
    };
    // Imports a translation with the fault plan into `name`.qxp; answers the document in the
    // form `xthost doc canon` writes, the general log in `log`.
    const auto import = [&](const std::string& name, const std::string& faults, bool moved, std::string& log) {
        std::error_code ignored;
        fs::remove(work / "KestoLogfile.txt", ignored);
        std::ofstream(work / (name + ".xts")) << faults << "\nstart\nmenu \"Import Verbant file\"\nopen * "
                                              << (moved ? "moved" : "hidden-translated") << ".dwq\n"
                                              << "save * " << name << ".qxp\ndialog 104\n  press 1\nquit\n";
        const std::string transcript = kesto_test::RunShell("cd '" + work.string() + "' && '" KESTO_BINARY_DIR
                                                            "/platform/host/xthost' --app . --module '" KESTO_BINARY_DIR
                                                            "/Plugin/XTension/Kesto.so' --script '" + name + ".xts' 2>&1");
        EXPECT_NE(transcript.find("dialog 104 \"Result\" opens"), std::string::npos) << transcript;
        EXPECT_EQ(transcript.find("error:"), std::string::npos) << transcript;
        log = kesto_test::ReadText(work / "KestoLogfile.txt");
        return canon(name + ".qxp");
    };
    // The document as the import found it, less the module's data of its boxes, which every
    // import takes out.
    std::string source = canon("hidden.qxp");
    const size_t data = source.find(", \"private\": [[");
    ASSERT_NE(data, std::string::npos);
    source.erase(data, source.find("]]", data) + 2 - data);
    // The story as a failed story keeps it: the host refuses the copy of the first run's
    // formatting sample, the first edit of the story.
    std::string log;
    const std::string kept = import("kept", "fail TXT-13 times 1 with -50", false, log);
    ASSERT_FALSE(kept.empty());
    ASSERT_NE(log.find(kFailed + "formatting sample 0 could not be copied"), std::string::npos) << log;
    for (const Refusal& r : kRefusals) {
        SCOPED_TRACE(r.name);
        const std::string document = import(r.name, r.faults, r.moved, log);
        EXPECT_NE(log.find(r.logged), std::string::npos) << log;
        EXPECT_EQ(document, r.logged.find(kRefused) == 0 ? source : kept);
    }
    if (!HasFailure())
        fs::remove_all(work);
}

} // namespace

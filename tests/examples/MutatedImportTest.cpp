// Thousands of structurally mutated translations of export.qxp, and a share of as many of
// anchored-layouts.qxp (anchored boxes in three layouts), each imported through the module's
// importer into the document the container stores: every import either fails, names a story (or
// the file) and why in the general log, and leaves each story with its whole translation or its
// whole source text and every box as it was; or it is done, and every story holds every translated
// character and marker exactly once. The document is restored once and reopened for each import;
// the container is rewritten from the Book's streams kept in memory.
//
// KESTO_MUTATIONS sets the number of mutations of export.qxp (the sanitizer build runs fewer; the
// other document takes its share of them), KESTO_MUTATION_SEED
// the seed; the run prints its rate and, per class, what it found. Each mutation draws from its own
// seed and number, so KESTO_MUTATION_ONLY=<number> repeats one of them alone.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <random>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include <unistd.h>

#include "Foundation/Settings.h"
#include "Plugin/Exchange/DWX_Import.h"
#include "Plugin/Filter/ImportProto.h"
#include "Plugin/Filter/Importer.h"
#include "Plugin/Mixer/HostCalls.h"
#include "Plugin/ModuleHostFixture.h"
#include "Plugin/QAPI/CurDocAPI.h"
#include "Plugin/UnattendedRuns.h"
#include "examples/damage/DamagedContainer.h"
#include "examples/pseudo-translate/PseudoTranslate.h"
#include "platform/host/Utf8.h"
#include "platform/host/documents/DocumentFile.h"
#include "tests/examples/BookMutations.h"

namespace fs = std::filesystem;
using nlohmann::json;

namespace {

using kesto_test::MutationClass;

#ifdef KESTO_SANITIZED_BUILD
constexpr int kDefaultMutations = 24;
#else
constexpr int kDefaultMutations = 2000;
#endif

int FromEnvironment(const char* name, int fallback)
{
    const char* value = std::getenv(name);
    return value && *value ? std::atoi(value) : fallback;
}

// A story as the invariant sees it: exactly as it stands, and as what it holds regardless of order.
struct StoryState {
    json whole;
    std::multiset<char16_t> characters;
    std::multiset<std::string> markers;  // kind, box, value and the marker's own text
    size_t paragraphs = 0;

    bool HoldsTheSame(const StoryState& o) const
    {
        return characters == o.characters && markers == o.markers && paragraphs == o.paragraphs;
    }
};

struct DocState {
    std::map<std::pair<size_t, int64_t>, StoryState> stories;  // by layout and uid
    std::map<std::pair<size_t, int64_t>, json> boxes;
};

std::u16string StoryText(const json& story)
{
    if (story.contains("text"))
        return xthost::Utf8ToUtf16(story["text"].get<std::string>());
    std::u16string text;
    if (story.contains("utf16")) {
        const std::string hex = story["utf16"].get<std::string>();
        for (size_t i = 0; i + 4 <= hex.size(); i += 4)
            text += static_cast<char16_t>(std::stoul(hex.substr(i, 4), nullptr, 16));
    }
    return text;
}

DocState StateOf(const std::string& canon)
{
    DocState state;
    const json root = json::parse(canon);
    const json layouts = root.value("layouts", json::array());
    for (size_t k = 0; k < layouts.size(); ++k) {
        for (const json& box : layouts[k].value("boxes", json::array()))
            state.boxes[{k, box.value("uid", int64_t{0})}] = box;
        for (const json& s : layouts[k].value("stories", json::array())) {
            StoryState story;
            story.whole = s;
            const std::u16string text = StoryText(s);
            std::vector<bool> marker(text.size(), false);
            for (const json& o : s.value("objects", json::array())) {
                const size_t at = o.value("at", size_t{0}), len = o.value("len", size_t{0});
                std::ostringstream key;
                key << o.value("kind", 0) << "/" << o.value("box", 0) << "/" << o.value("value", 0) << "/";
                for (size_t i = at; i < at + len && i < text.size(); ++i) {
                    key << std::hex << static_cast<int>(text[i]) << " ";
                    marker[i] = true;
                }
                story.markers.insert(key.str());
            }
            for (size_t i = 0; i < text.size(); ++i)
                if (!marker[i])
                    story.characters.insert(text[i]);
            story.paragraphs = s.value("paras", json::array()).size();
            state.stories[{k, s.value("uid", int64_t{0})}] = story;
        }
    }
    return state;
}

// What `got` holds that `want` does not ("+") and what it lacks ("-").
template <class T, class Show>
std::string Difference(const std::multiset<T>& want, const std::multiset<T>& got, const char* what, Show show)
{
    std::vector<T> missing, extra;
    std::set_difference(want.begin(), want.end(), got.begin(), got.end(), std::back_inserter(missing));
    std::set_difference(got.begin(), got.end(), want.begin(), want.end(), std::back_inserter(extra));
    std::string out;
    for (const auto& [sign, list] : {std::pair{"-", &missing}, std::pair{"+", &extra}}) {
        if (list->empty())
            continue;
        out += std::string(" ") + sign + std::to_string(list->size()) + " " + what + " ";
        for (size_t i = 0; i < list->size() && i < 12; ++i)
            out += show((*list)[i]);
    }
    return out;
}

std::string Described(const StoryState& want, const StoryState& got)
{
    std::string out = Difference(want.characters, got.characters, "characters", [](char16_t c) {
        return c >= 0x20 && c < 0x7F ? std::string(1, static_cast<char>(c)) : "\\u" + std::to_string(c) + " ";
    });
    out += Difference(want.markers, got.markers, "markers", [](const std::string& m) { return "{" + m + "}"; });
    if (want.paragraphs != got.paragraphs)
        out += " paragraphs " + std::to_string(want.paragraphs) + " -> " + std::to_string(got.paragraphs);
    return out;
}

std::string Key(const std::pair<size_t, int64_t>& key)
{
    return "layout " + std::to_string(key.first) + " uid " + std::to_string(key.second);
}

struct Outcome {
    bool opened = true;   // the container gave a Book with a document
    bool stopped = false;  // an error escaped the importer: the command gives the document up
    bool failed = false;
    std::string log;      // what the import added to the general log
    std::string error;    // what escaped the importer
    std::string canon;    // the document after the import
};

// A shipped document and its share of the mutations.
struct Mutated {
    const char* document;
    int share;  // the mutations it runs: the count divided by this
};

class MutatedImport : public kesto_test::ModuleHostTest, public ::testing::WithParamInterface<Mutated> {
protected:
    // A folder of this run's own: two runs of one build (two seeds side by side) never share one.
    MutatedImport() : ModuleHostTest("mutated-import/" + std::to_string(getpid())) {}

    void TearDown() override
    {
        ModuleHostTest::TearDown();
        if (!HasFailure()) {
            std::error_code ignored;
            fs::remove_all(app.parent_path(), ignored);
        }
    }

    void Prepare()
    {
        Start(kesto_test::ReadText(fs::path(KESTO_SOURCE_DIR) / "examples/app/XTensions/kesto.ini"));
        const std::string source = OpenExample(GetParam().document);
        sourceState = StateOf(xthost::doc::PrintDocument(*xthost::doc::ReadDocumentFile(source)));
        const fs::path dwq = app / "source.dwq";
        kesto_test::ExportFrontDocumentUnattended(source, dwq.string());
        translated = (app / "translated.dwq").string();
        std::string error;
        ASSERT_TRUE(PseudoTranslateFile(dwq.string(), translated, error)) << error;
        // The stored document, restored once; each import opens it anew.
        restored = (app / "restored.qxp").string();
        {
            RefPtr<KS_DWX::Import::IBook> book = KS_DWX::Import::OpenImportBook(translated);
            ASSERT_TRUE(book);
            std::ofstream(restored) << "";
            Reader reader(kesto_test::HostSpecOf(restored));
            book->LoadQXP(0, &reader);
        }
        mutated = (app / "mutated.dwq").string();
        base = kesto_damage::ReadCodeFile(translated);
    }

    std::string NewLog()
    {
        std::ifstream in(app / "KestoLogfile.txt", std::ios::binary);
        in.seekg(static_cast<std::streamoff>(logSeen));
        std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        logSeen += text.size();
        return text;
    }

    // Writes the Book into a copy of the container and imports it into the restored document, as
    // the import command does once the document is open.
    Outcome Import(const kesto_damage::CodeStreams& code)
    {
        Outcome out;
        // The host's transcript of the earlier imports is of no more use: a long run keeps none.
        host->Log().Clear();
        Lap lap{phases};
        kesto_damage::WriteCopy(translated, mutated, &code, {}, nullptr, false);
        NewLog();
        lap.Next();
        EXPECT_EQ(Docs().Open(restored, 31), XT_OK) << host->Log().Text();
        lap.Next();
        HostPrefs prefs;
        SuspendHostPrefs(prefs);
        try {
            RefPtr<KS_DWX::Import::IBook> book = KS_DWX::Import::OpenImportBook(mutated);
            RefPtr<KS_DWX::Import::IDoc> doc = book ? book->Document(0) : RefPtr<KS_DWX::Import::IDoc>();
            if (!doc) {
                out.opened = false;
            } else {
                const uint8_t decision = MasterPageDecision(book->GetText(u"source_data_type"));
                SettingsFile* settings = Settings.GetIf();
                RefPtr<QuarkDoc> quark(new QuarkDoc);
                std::unique_ptr<Importer> importer =
                    CreateImporter(quark.Get(), doc.Get(), settings && settings->GetAutomaticResizeOfFrames(),
                                   settings && settings->GetTestStyleOfParagraph(),
                                   settings && settings->GetSetUniqueID(), decision != 0);
                importer->Run();
                out.failed = importer->Failed();
            }
        } catch (...) {
            out.stopped = true;
            out.error = CaughtErrorText();
        }
        RestoreHostPrefs(prefs);
        lap.Next();
        if (xthost::doc::Project* project = Docs().FrontProject())
            out.canon = xthost::doc::PrintDocument(*project);
        CloseProject(-1, 1);
        out.log = NewLog();
        lap.Next();
        return out;
    }

    // What breaks the invariant in the outcome; empty when it holds.
    std::string Broken(const Outcome& out) const
    {
        if (!out.opened || out.stopped)
            return "";  // the command writes no document: nothing of it changes
        static const std::regex named("####[^\n]*(story|stories|layout) -?[0-9]+[^\n]*");
        if (out.failed && !std::regex_search(out.log, named))
            return "failed without a log line naming a story: " + out.log.substr(0, 300);
        if (!out.failed && out.log.find("not imported") != std::string::npos)
            return "done, but the log says a story was not imported";
        const DocState got = StateOf(out.canon);
        std::ostringstream broken;
        for (const auto& [key, story] : translationState.stories) {
            const auto at = got.stories.find(key);
            if (at == got.stories.end()) {
                broken << Key(key) << " is gone; ";
                continue;
            }
            const bool whole = at->second.HoldsTheSame(story);
            const auto before = sourceState.stories.find(key);
            const bool kept = before != sourceState.stories.end() && at->second.whole == before->second.whole;
            if (out.failed ? !(whole || kept) : !whole)
                broken << Key(key) << (out.failed ? " holds neither its translation nor its source:"
                                                  : " does not hold its translation once:")
                       << Described(story, at->second) << "; ";
        }
        for (const auto& [key, story] : got.stories)
            if (!translationState.stories.count(key))
                broken << "a new story " << Key(key) << " " << story.whole.dump().substr(0, 120) << "; ";
        for (const auto& [key, box] : got.boxes) {
            const auto t = translationState.boxes.find(key);
            const auto s = sourceState.boxes.find(key);
            if (t == translationState.boxes.end())
                broken << "a new box " << Key(key) << "; ";
            else if (box != t->second && (s == sourceState.boxes.end() || box != s->second) &&
                     !(!out.failed && s != sourceState.boxes.end() && Refitted(got, key, box, s->second)))
                broken << "box " << Key(key) << " changed: " << box.dump().substr(0, 200) << "; ";
        }
        for (const auto& [key, box] : translationState.boxes)
            if (!got.boxes.count(key))
                broken << "box " << Key(key) << " is gone; ";
        return broken.str();
    }

    // Whether `box` is the source's box enlarged to its text, as the import enlarges a box its
    // text overflows: in place, no smaller, only its bounds changed, and its story formatted
    // otherwise than the translation (a translator's tracking, say), so no other size is the
    // right one.
    bool Refitted(const DocState& got, const std::pair<size_t, int64_t>& key, const json& box, const json& source) const
    {
        json same = box;
        same["bounds"] = source["bounds"];
        const json& b = box["bounds"];
        const json& o = source["bounds"];
        if (same != source || b[0] != o[0] || b[1] != o[1] || b[2] < o[2] || b[3] < o[3])
            return false;
        for (const auto& [storyKey, story] : got.stories) {
            const json boxes = story.whole.value("boxes", json::array());
            if (storyKey.first != key.first || std::find(boxes.begin(), boxes.end(), key.second) == boxes.end())
                continue;
            const auto t = translationState.stories.find(storyKey);
            return t != translationState.stories.end() && story.HoldsTheSame(t->second) &&
                   story.whole != t->second.whole;
        }
        return false;
    }

    // Where the time of the imports went: the container written, the document opened, the
    // import, the document printed and closed.
    std::array<double, 4> phases{};
    struct Lap {
        std::array<double, 4>& phases;
        size_t phase = 0;
        std::chrono::steady_clock::time_point at = std::chrono::steady_clock::now();
        void Next()
        {
            const auto now = std::chrono::steady_clock::now();
            phases[phase++] += std::chrono::duration<double>(now - at).count();
            at = now;
        }
    };

    DocState sourceState, translationState;
    std::string translated, restored, mutated;
    kesto_damage::CodeStreams base;
    size_t logSeen = 0;
};

struct ClassTally {
    int tried = 0, done = 0, failed = 0, unopened = 0, stopped = 0, broken = 0;
    std::vector<std::pair<std::string, std::string>> examples;  // the mutation, what it broke
    std::vector<std::string> stoppedBy;
};

TEST_P(MutatedImport, EveryMutationFailsNamingItsStoryOrImportsEveryCharacterAndMarkerOnce)
{
    Prepare();
    ASSERT_FALSE(HasFatalFailure());

    // The undamaged translation is done, and is the translation every story is measured against.
    const Outcome whole = Import(base);
    ASSERT_TRUE(whole.opened && !whole.stopped && !whole.failed) << whole.log;
    translationState = StateOf(whole.canon);
    for (const auto& [key, story] : sourceState.stories)
        ASSERT_TRUE(translationState.stories.count(key)) << Key(key);

    const kesto_test::BookMutator mutator(base);
    const int count = std::max(1, FromEnvironment("KESTO_MUTATIONS", kDefaultMutations) / GetParam().share);
    const unsigned seed = static_cast<unsigned>(FromEnvironment("KESTO_MUTATION_SEED", 47));
    const int only = FromEnvironment("KESTO_MUTATION_ONLY", -1);
    std::mt19937 random;
    const kesto_test::Pick pick = [&random](uint32_t bound) {
        return static_cast<uint32_t>(std::uniform_int_distribution<uint64_t>(0, bound - 1)(random));
    };

    std::map<kesto_test::MutationClass, ClassTally> tally;
    const auto start = std::chrono::steady_clock::now();
    int imported = 0;
    std::pair<double, std::string> slowest{0, ""};
    for (int i = only < 0 ? 0 : only; i < (only < 0 ? count : only + 1); ++i) {
        std::seed_seq mutationSeed{seed, static_cast<unsigned>(i)};
        random.seed(mutationSeed);
        const auto kind = static_cast<kesto_test::MutationClass>(i % kesto_test::kMutationClasses);
        kesto_damage::CodeStreams code = base;
        std::string what;
        for (int attempt = 0; attempt < 8 && what.empty(); ++attempt) {
            code = base;
            what = mutator.Apply(kind, code, pick);
        }
        if (what.empty())
            continue;
        const auto began = std::chrono::steady_clock::now();
        const Outcome out = Import(code);
        const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - began).count();
        ++imported;
        ClassTally& t = tally[kind];
        ++t.tried;
        t.unopened += !out.opened;
        t.stopped += out.stopped;
        t.failed += out.opened && !out.stopped && out.failed;
        t.done += out.opened && !out.stopped && !out.failed;
        const std::string broken = Broken(out);
        if (out.stopped && t.stoppedBy.size() < 2)
            t.stoppedBy.push_back("mutation " + std::to_string(i) + ": " + what + ": " + out.error);
        if (seconds > slowest.first)
            slowest = {seconds, what};
        if (!broken.empty()) {
            ++t.broken;
            t.examples.emplace_back("mutation " + std::to_string(i) + ": " + what,
                                        (out.failed ? "Import failed: " : "Import done: ") + broken);
        }
    }
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    std::printf("%d mutations imported in %.1f s: %.0f a minute (seed %u); writing %.1f s, opening %.1f s, "
                "importing %.1f s, printing %.1f s\n",
                imported, seconds, seconds > 0 ? imported * 60.0 / seconds : 0.0, seed, phases[0], phases[1],
                phases[2], phases[3]);
    std::printf("the slowest: %.2f s, %s\n", slowest.first, slowest.second.c_str());
    for (const auto& [kind, t] : tally) {
        std::printf("%-18s tried %4d  done %4d  failed %4d  unopened %3d  stopped %3d  broken %4d\n",
                    kesto_test::ClassName(kind), t.tried, t.done, t.failed, t.unopened, t.stopped, t.broken);
        for (const std::string& stop : t.stoppedBy)
            std::printf("    stopped: %s\n", stop.c_str());
        for (const auto& [mutation, finding] : t.examples)
            ADD_FAILURE() << kesto_test::ClassName(kind) << ": " << mutation << " -> " << finding;
    }
}

INSTANTIATE_TEST_SUITE_P(Shipped, MutatedImport,
                         ::testing::Values(Mutated{"export.qxp", 1}, Mutated{"anchored-layouts.qxp", 4}),
                         [](const ::testing::TestParamInfo<Mutated>& info) {
                             std::string name = fs::path(info.param.document).stem().string();
                             std::replace(name.begin(), name.end(), '-', '_');
                             return name;
                         });

} // namespace

// Paragraph ends and unique ids in the Book that an export of the shipped documents "menu" and
// "unique-ids" writes, with xthost and Kesto.so as examples/app/roundtrip.sh runs them; the round
// trip test compares the imported documents with their sources story by story.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "Plugin/Exchange/DWX_Import.h"
#include "platform/host/documents/DocumentFile.h"
#include "platform/host/documents/testing/ParagraphExamples.h"
#include "tests/examples/ExampleRuns.h"

namespace fs = std::filesystem;
using namespace KS_DWX::Import;

namespace {

constexpr uint32_t kUniqueIdKind = 0x88;

// The round trip of one shipped document: its working folder and the imported document.
struct Trip {
    fs::path work, imported;
};

Trip RoundTrip(const std::string& document)
{
    const fs::path imported = kesto_test::RoundTripOf(document);
    return {imported.parent_path(), imported};
}

const xthost::doc::Layout& FirstLayout(const xthost::doc::Project& project)
{
    return *project.layouts.at(0);
}

bool IsBreak(char16_t c)
{
    return c == u'\r' || c == u'\x0B' || c == u'\x0C';
}

// The unique ids of a story in their order, each with the index of the paragraph it opens; -1
// for an id that does not stand at its paragraph's start.
std::vector<std::pair<int32_t, std::string>> UniqueIds(const xthost::doc::Story& story)
{
    std::vector<std::pair<int32_t, std::string>> ids;
    for (const xthost::doc::ObjectRun& object : story.objects) {
        if (object.kind != kUniqueIdKind)
            continue;
        const auto at = static_cast<size_t>(object.at);
        int32_t paragraph = 0;
        for (size_t i = 0; i < at; ++i)
            paragraph += story.text[i] == u'\r';
        const bool atStart = at == 0 || IsBreak(story.text[at - 1]);
        const std::u16string digits = story.text.substr(at + 1, static_cast<size_t>(object.len) - 1);
        ids.emplace_back(atStart ? paragraph : -1, std::string(digits.begin(), digits.end()));
    }
    return ids;
}

// Each story of the first exchange document: its paragraphs' unique ids (-1 for none) and the
// text of its text runs, paragraph by paragraph.
struct BookStory {
    std::vector<int32_t> ids;
    std::vector<std::u16string> texts;
};

std::vector<BookStory> ReadBook(const fs::path& dwq)
{
    std::vector<BookStory> stories;
    RefPtr<IBook> book = OpenImportBook(dwq.string());
    RefPtr<IDoc> doc = book ? book->Document(0) : RefPtr<IDoc>();
    EXPECT_TRUE(doc) << dwq;
    if (!doc)
        return stories;
    for (int32_t s = 0; RefPtr<IStory> story = doc->Story(s); ++s) {
        BookStory view;
        for (int32_t p = 0; RefPtr<IPara> para = story->Paragraph(p); ++p) {
            int32_t id = -1;
            para->GetNumber(u"uniqID", id);
            view.ids.push_back(id);
            std::u16string text;
            for (int32_t r = 0; RefPtr<IRun> run = para->Run(r); ++r) {
                if (run->Kind() != kRunUnicodes && run->Kind() != kRunWideMultibytes)
                    continue;
                char16_t unit = 0;
                while (run->Read(&unit, sizeof unit) == sizeof unit)
                    text += unit;
            }
            view.texts.push_back(text);
        }
        stories.push_back(view);
    }
    return stories;
}

// The menu's paragraph ends, column break and box break were typed in a font with the high
// flag: each ends its paragraph in the Book, none stands inside a text run.
TEST(ParagraphRoundTrip, BreaksTypedInAHighFlagFontEndTheirParagraphsInTheBook)
{
    const Trip trip = RoundTrip("menu.qxp");
    ASSERT_FALSE(trip.imported.empty());
    const auto source = xthost::doc::ReadDocumentFile(kesto_test::ExampleDocument("menu.qxp"));
    const std::vector<BookStory> book = ReadBook(trip.work / "menu.dwq");
    ASSERT_EQ(book.size(), FirstLayout(*source).stories.size());
    size_t s = 0;
    for (const auto& [uid, story] : FirstLayout(*source).stories) {
        size_t breaks = 0;
        for (size_t i = 0; i + 1 < story.text.size(); ++i)
            breaks += IsBreak(story.text[i]);
        EXPECT_EQ(book[s].texts.size(), breaks + 1) << "story " << uid;
        for (const std::u16string& text : book[s].texts)
            for (char16_t c : text)
                EXPECT_FALSE(IsBreak(c)) << "story " << uid << ": a break inside a text run";
        ++s;
    }
    std::error_code ignored;
    fs::remove_all(trip.work, ignored);
}

// Every unique id goes out once, on the paragraph it opens, with no paragraph of its own: after
// one text run, three style runs, none at all, and on each of many paragraphs.
TEST(ParagraphRoundTrip, EachUniqueIdGoesOutOnceOnTheParagraphItOpens)
{
    const Trip trip = RoundTrip("unique-ids.qxp");
    ASSERT_FALSE(trip.imported.empty());
    const auto source = xthost::doc::ReadDocumentFile(kesto_test::ExampleDocument("unique-ids.qxp"));
    const std::vector<BookStory> book = ReadBook(trip.work / "unique-ids.dwq");
    ASSERT_EQ(book.size(), FirstLayout(*source).stories.size());
    size_t s = 0;
    for (const auto& [uid, story] : FirstLayout(*source).stories) {
        ASSERT_EQ(book[s].ids.size(), story.paras.size()) << "story " << uid;
        std::vector<std::pair<int32_t, std::string>> written;
        for (size_t p = 0; p < book[s].ids.size(); ++p) {
            if (book[s].ids[p] == -1)
                continue;
            char digits[16];
            std::snprintf(digits, sizeof digits, "%8d", book[s].ids[p]);
            written.emplace_back(static_cast<int32_t>(p), digits);
        }
        EXPECT_EQ(written, UniqueIds(story)) << "story " << uid;
        ++s;
    }
    EXPECT_EQ(book.back().ids.size(), size_t(xthost::doc::unique_ids::kManyParagraphs));
    std::error_code ignored;
    fs::remove_all(trip.work, ignored);
}

}  // namespace

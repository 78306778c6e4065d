// Round trips through xthost and Kesto.so of a catalogue whose texts sit in groups, and of a
// document whose current layout is not its last one (examples/app/roundtrip.sh).
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "Plugin/Exchange/DWX_Import.h"
#include "Plugin/Shell/AppFolderTest.h"
#include "platform/host/documents/testing/GroupExamples.h"
#include "tests/examples/ExampleRuns.h"

namespace fs = std::filesystem;

namespace {

const std::string kBuild = KESTO_BINARY_DIR;

// The canonical form of a host document (`xthost doc canon`).
std::string Canon(const fs::path& document)
{
    int status = 0;
    const std::string canon =
        kesto_test::RunShell("'" + kBuild + "/platform/host/xthost' doc canon '" + document.string() + "'", &status);
    EXPECT_EQ(status, 0) << canon;
    return canon;
}

// The text of each story of a container, paragraphs ended by "|", other runs left out.
std::vector<std::string> BookStories(const fs::path& container)
{
    using namespace KS_DWX::Import;
    std::vector<std::string> stories;
    RefPtr<IBook> book = OpenImportBook(container.string());
    if (!book)
        return stories;
    for (int32_t d = 0; RefPtr<IDoc> doc = book->Document(d); ++d)
        for (int32_t s = 0; RefPtr<IStory> story = doc->Story(s); ++s) {
            std::string text;
            for (int32_t p = 0; RefPtr<IPara> para = story->Paragraph(p); ++p) {
                text += p ? "|" : "";
                for (int32_t r = 0; RefPtr<IRun> run = para->Run(r); ++r) {
                    uint16_t unit = 0;
                    while (run->Kind() == kRunUnicodes && run->Read(&unit, sizeof unit) == sizeof unit)
                        text += unit < 0x80 ? static_cast<char>(unit) : '?';
                }
            }
            stories.push_back(text);
        }
    return stories;
}

// The host document stored in a container, written to `to`.
void StoredCopy(const fs::path& container, const fs::path& to)
{
    struct Out : KS_DWX::KSOutStream {
        std::ofstream file;
        void write(const void* data, uint32_t count) override
        {
            file.write(static_cast<const char*>(data), count);
        }
    } out;
    out.file.open(to, std::ios::binary);
    RefPtr<KS_DWX::Import::IBook> book = KS_DWX::Import::OpenImportBook(container.string());
    ASSERT_TRUE(book);
    book->LoadQXP(0, &out);
}

// The private working boxes carry the link ids -1 and -2.
bool HasPrivateBoxes(const std::string& canon)
{
    return canon.find("\"ffffffff\"") != std::string::npos || canon.find("\"fffffffe\"") != std::string::npos;
}

// The boxes of a canonical document.
int Boxes(const std::string& canon) { return kesto_test::CountOf(canon, "\"kind\": \""); }

TEST(GroupsRoundTrip, EveryTextOfAGroupGoesOutAndComesBackTranslated)
{
    const fs::path work = kesto_test::RoundTripOf("groups.qxp").parent_path();
    ASSERT_FALSE(work.empty());
    // Walk order: the members of each group after it, depth first; the anchored group's
    // members before the story holding them, where the group stands as a paragraph of its
    // own; the story from a member on into a loose box is one story; each page's copy of
    // master A's group with the page; the group on the unused master page last.
    const std::vector<std::string> stories = {
        "Catalogue header", "Footer in a group", "Product catalogue", "Espresso machine", "Price: 249 EUR",
        "Coffee grinder", "Price: 89 EUR", "Burr grinder with forty settings",
        "A story that starts in a group member|and goes on in a loose box on the next page.",
        "Anchored caption two", "Anchored caption one", "Before the anchored group || and after it.",
        "Catalogue header", "Footer in a group", "Milk frother", "Price: 39 EUR",
        "Text of a group on an unused master", "Text of a nested group on it"};
    EXPECT_EQ(BookStories(work / "groups.dwq"), stories);

    const std::string source = Canon(kesto_test::ExampleDocument("groups.qxp"));
    const std::string imported = Canon(work / "groups-translated.qxp");
    for (const char* text : {"Footer in a group", "Product catalogue", "Espresso machine", "Price: 249 EUR", "Coffee grinder",
                             "Price: 89 EUR", "Burr grinder with forty settings", "Anchored caption one",
                             "Anchored caption two", "Milk frother", "Price: 39 EUR",
                             "Text of a group on an unused master", "Text of a nested group on it"})
        EXPECT_NE(imported.find("\"text\": \"" + kesto_test::Translation(text) + "\""), std::string::npos) << text;
    const xthost::doc::GroupsLayout layout = xthost::doc::GroupsExampleLayout();
    const std::string chain = "\"boxes\": [" + std::to_string(layout.chainStart) + ", " +
                              std::to_string(layout.chainEnd) + "], \"text\": \"" +
                              kesto_test::Translation("A story that starts in a group member") + "\\r" +
                              kesto_test::Translation("and goes on in a loose box on the next page.") + "\"";
    EXPECT_NE(imported.find(chain), std::string::npos) << imported;
    EXPECT_EQ(Boxes(imported), Boxes(source));
    EXPECT_EQ(imported.find("08414b42"), std::string::npos);
    EXPECT_EQ(imported.find("09414b42"), std::string::npos);
    std::error_code ignored;
    fs::remove_all(work, ignored);
}

TEST(GroupsRoundTrip, TheLayoutCurrentBeforeTheExportStaysCurrent)
{
    const std::string current = "\"current_layout\": 1,";
    const std::string source = Canon(kesto_test::ExampleDocument("current-layout.qxp"));
    ASSERT_NE(source.find(current), std::string::npos) << source;
    const fs::path work = kesto_test::RoundTripOf("current-layout.qxp").parent_path();
    ASSERT_FALSE(work.empty());

    // The saved source keeps its links but not the private working boxes; its stored copy
    // keeps both, in the last layout.
    const std::string saved = Canon(work / "current-layout.qxp");
    EXPECT_NE(saved.find(current), std::string::npos) << saved;
    EXPECT_FALSE(HasPrivateBoxes(saved)) << saved;
    StoredCopy(work / "current-layout.dwq", work / "stored.qxp");
    const std::string stored = Canon(work / "stored.qxp");
    EXPECT_NE(stored.find(current), std::string::npos) << stored;
    const size_t back = stored.find("\"name\": \"Back\"");
    ASSERT_NE(back, std::string::npos) << stored;
    EXPECT_TRUE(HasPrivateBoxes(stored.substr(back))) << stored;

    // The last layout brought no story back, and still loses the private boxes.
    const std::string imported = Canon(work / "current-layout-translated.qxp");
    EXPECT_NE(imported.find(current), std::string::npos) << imported;
    EXPECT_FALSE(HasPrivateBoxes(imported)) << imported;
    EXPECT_EQ(imported.find("08414b42"), std::string::npos);
    EXPECT_EQ(Boxes(imported), Boxes(source));
    for (const char* text : {"Text of the layout Cover", "Text of the layout Catalogue"})
        EXPECT_NE(imported.find("\"text\": \"" + kesto_test::Translation(text) + "\""), std::string::npos) << text;
    std::error_code ignored;
    fs::remove_all(work, ignored);
}

}  // namespace

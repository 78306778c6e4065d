// The PDF of every shipped document, every layout of it, gives back through pdftotext every
// character that its pages show, in whatever script: a character drawn as a box (no face
// has it) or as outlines is missing from the text.
#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "PdfTools.h"
#include "platform/host/Utf8.h"
#include "platform/host/documents/DocumentFile.h"
#include "platform/host/documents/OutputStyles.h"
#include "platform/host/documents/PdfExport.h"

namespace xthost::doc {
namespace {

namespace fs = std::filesystem;

// Characters that mark no glyph of their own: blanks and line ends (pdftotext spaces words by
// their positions), and the direction marks pdftotext adds around right-to-left text.
bool Unseen(char32_t c)
{
    return c <= 0x20 || c == 0xA0 || c == 0xAD || (c >= 0x2000 && c <= 0x200F) || (c >= 0x2028 && c <= 0x202F) ||
           c == 0x3000 || c == 0xFEFF || c == 0x0C;
}

// How often each character that takes ink occurs in the text.
std::map<char32_t, int> Inked(const std::string& utf8)
{
    std::map<char32_t, int> counts;
    for (size_t at = 0; at < utf8.size();) {
        size_t length = 1;
        bool valid = true;
        const char32_t c = DecodeUtf8(utf8, at, length, valid);
        at += length;
        if (!Unseen(c))
            ++counts[c];
    }
    return counts;
}

// The characters of `shown` that `read` lacks, each as often as it lacks it.
std::string Missing(const std::string& shown, const std::string& read)
{
    const std::map<char32_t, int> have = Inked(read);
    std::string missing;
    for (const auto& [c, n] : Inked(shown)) {
        const auto it = have.find(c);
        for (int k = it == have.end() ? 0 : it->second; k < n; ++k)
            AppendUtf8(missing, c);
    }
    return missing;
}

std::vector<fs::path> ShippedDocuments()
{
    std::vector<fs::path> documents;
    for (const auto& entry : fs::directory_iterator(fs::path(KESTO_SOURCE_DIR) / "examples" / "documents"))
        if (entry.is_regular_file() && (entry.path().extension() == ".qxp" || entry.path().extension() == ".qxd"))
            documents.push_back(entry.path());
    std::sort(documents.begin(), documents.end());
    return documents;
}

TEST(PdfTextTest, EveryShippedDocumentGivesBackTheTextItsPagesShow)
{
    const fs::path dir = fs::path(KESTO_BINARY_DIR) / "test-tmp" / "host-pdf-text";
    fs::remove_all(dir);
    fs::create_directories(dir);
    UseHostFonts(dir.string());
    OutputStyles styles;
    const OutputStyle& style = *styles.Get(styles.Default("XPDF"));
    const std::vector<fs::path> documents = ShippedDocuments();
    ASSERT_GE(documents.size(), 20u);
    bool sawScripts = false;
    for (const fs::path& document : documents) {
        const std::unique_ptr<Project> project = ReadDocumentFile(document.string());
        for (size_t l = 0; l < project->layouts.size(); ++l) {
            const std::string name = document.stem().string() + "-" + std::to_string(l + 1);
            SCOPED_TRACE(name);
            const std::string pdf = (dir / (name + ".pdf")).string();
            PdfReport report;
            ASSERT_EQ(WritePdf(*project, *project->layouts[l], style, pdf, name, 0, &report), HostErr::Ok) << report.error;
            ASSERT_EQ(report.pageText.size(), size_t(report.pages));
            // pdftotext ends each page with a form feed.
            std::istringstream pages(kesto_test::ShellOutput("pdftotext -enc UTF-8 '" + pdf + "' -"));
            std::vector<std::string> read;
            for (std::string page; std::getline(pages, page, '\f');)
                read.push_back(page);
            ASSERT_GE(read.size(), report.pageText.size());
            for (size_t p = 0; p < report.pageText.size(); ++p)
                EXPECT_EQ(Missing(report.pageText[p], read[p]), "") << "page " << p + 1 << " shows\n"
                                                                    << report.pageText[p] << "\npdftotext reads\n"
                                                                    << read[p];
            sawScripts = sawScripts || Inked(report.pageText.empty() ? "" : report.pageText.back()).count(0x0928);
        }
        fs::remove(dir / (document.stem().string() + "-1.pdf"));
    }
    // The document with a story in each script is among them.
    EXPECT_TRUE(sawScripts);
}

} // namespace
} // namespace xthost::doc

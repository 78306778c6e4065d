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
#include "tests/examples/ExampleRuns.h"
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

// The characters that take ink in `shown` and that `read` lacks, each as often as it lacks it.
std::string Missing(const std::string& shown, const std::string& read)
{
    std::map<char32_t, int> lacking;
    for (const auto& [text, step] : {std::pair{&shown, 1}, std::pair{&read, -1}})
        for (size_t at = 0, length = 1; at < text->size(); at += length) {
            bool valid = true;
            const char32_t c = DecodeUtf8(*text, at, length, valid);
            if (!Unseen(c))
                lacking[c] += step;
        }
    std::string missing;
    for (const auto& [c, n] : lacking)
        for (int k = 0; k < n; ++k)
            AppendUtf8(missing, c);
    return missing;
}

TEST(PdfTextTest, EveryShippedDocumentGivesBackTheTextItsPagesShow)
{
    // The fonts' configuration outlives the test: the process keeps using it.
    const fs::path dir = fs::path(KESTO_BINARY_DIR) / "test-tmp" / "host-pdf-text";
    fs::create_directories(dir);
    UseHostFonts(dir.string());
    OutputStyles styles;
    const OutputStyle& style = *styles.Get(styles.Default("XPDF"));
    const std::vector<std::string> documents = kesto_test::ShippedDocuments();
    ASSERT_GE(documents.size(), 20u);
    bool sawScripts = false;
    for (const std::string& document : documents) {
        const std::unique_ptr<Project> project = ReadDocumentFile(kesto_test::ExampleDocument(document).string());
        for (size_t l = 0; l < project->layouts.size(); ++l) {
            const std::string name = fs::path(document).stem().string() + "-" + std::to_string(l + 1);
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
            sawScripts = sawScripts || (!report.pageText.empty() && report.pageText.back().find("\u0928") != std::string::npos);
            fs::remove(pdf);
        }
    }
    // The document with a story in each script is among them.
    EXPECT_TRUE(sawScripts);
}

} // namespace
} // namespace xthost::doc

// The module's PDF output styles and its PDF hook against the emulated host: the style files
// byte for byte, their registration, the choice of style during an export and the hook staying
// out of exports that are not the module's.
#include <gtest/gtest.h>

#include <array>
#include <filesystem>
#include <string>

#include "Plugin/Batch/ConversionJob.h"
#include "Plugin/Batch/PdfCreation.h"
#include "Plugin/Mixer/HostCalls.h"
#include "Plugin/Mixer/HostHooks.h"
#include "Plugin/Mixer/PdfComponent.h"
#include "Plugin/Mixer/PdfOutput.h"
#include "Plugin/ModuleHostFixture.h"
#include "PdfTools.h"
#include "Plugin/Shell/KestoInterface.h"
#include "platform/host/documents/FlowSuites.h"
#include "platform/host/documents/OutputStyles.h"

namespace {

namespace fs = std::filesystem;

std::string Golden(const std::string& style)
{
    return kesto_test::ReadText(fs::path(KESTO_SOURCE_DIR) / "tests/Plugin/Mixer/golden" /
                                ("KS_PdfStyle_" + style + ".xml"));
}

// Replaces every occurrence of from in text.
std::string Replaced(std::string text, const std::string& from, const std::string& to)
{
    for (auto at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size()))
        text.replace(at, from.size(), to);
    return text;
}

TEST(PdfOutputTemplates, TheHighStyleFileIsTheGoldenFile)
{
    const std::string high = PdfOutputStyleTemplate(PdfStyleHigh);
    EXPECT_EQ(high, Golden("High"));
    EXPECT_GT(high.size(), 3300u);
    EXPECT_LT(high.size(), 3400u);
    EXPECT_EQ(high.rfind("<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"no\" ?><OutputStyle ", 0), 0u);
    EXPECT_EQ(high.find('\n'), std::string::npos);
    EXPECT_EQ(high.find('\r'), std::string::npos);
    EXPECT_EQ(PdfOutputStyleTemplate(PdfStyleMedium), Golden("Medium"));
    EXPECT_EQ(PdfOutputStyleTemplate(PdfStyleLow), Golden("Low"));
}

TEST(PdfOutputTemplates, MediumAndLowDifferFromHighOnlyInTheirValues)
{
    std::string high = PdfOutputStyleTemplate(PdfStyleHigh);
    high = Replaced(high, "Name=\"Kesto High\"", "Name=\"Kesto Medium\"");
    high = Replaced(high, "better resolution", "normal resolution");
    high = Replaced(high, "CompressionAlgorithm=\"20.000000\"", "CompressionAlgorithm=\"18.000000\"");
    EXPECT_EQ(high, PdfOutputStyleTemplate(PdfStyleMedium));

    high = Replaced(high, "Name=\"Kesto Medium\"", "Name=\"Kesto Low\"");
    high = Replaced(high, "normal resolution", "lower resolution");
    high = Replaced(high, "CompressionAlgorithm=\"18.000000\"", "CompressionAlgorithm=\"16.000000\"");
    high = Replaced(high, "ManualCompression=\"true\" ResolutionValue=\"9437184.000000\"",
                    "ManualCompression=\"true\" ResolutionValue=\"4718592.000000\"");
    EXPECT_EQ(high, PdfOutputStyleTemplate(PdfStyleLow));

    EXPECT_EQ(PdfOutputStyleTemplate(PdfStyleDefault), "");
    EXPECT_EQ(PdfOutputStyleTemplate(4), "");
    EXPECT_EQ(PdfOutputStyleTemplate(-1), "");
}

TEST(PdfOutputTemplates, TheHostReadsWhatEachStyleSays)
{
    const std::array<const char*, 3> titles = {"Kesto Output - better resolution", "Kesto Output - normal resolution",
                                               "Kesto Output - lower resolution"};
    const std::array<int32_t, 3> mono = {144 << 16, 144 << 16, 72 << 16};
    for (int32_t n = 1; n <= 3; ++n) {
        xthost::doc::OutputStyle style;
        std::string error;
        ASSERT_TRUE(xthost::doc::ParseOutputStyle(PdfOutputStyleTemplate(n), &style, &error)) << error;
        EXPECT_EQ(style.name, std::string("Kesto ") + PdfOutputStyleNames[n]);
        EXPECT_EQ(style.media, "XPDF");
        EXPECT_EQ(style.title, titles[static_cast<size_t>(n - 1)]);
        EXPECT_EQ(style.monoResolution, mono[static_cast<size_t>(n - 1)]);
        EXPECT_EQ(style.colourResolution, 72 << 16);
        EXPECT_EQ(style.grayResolution, 72 << 16);
        EXPECT_FALSE(style.includeBlankPages);
        EXPECT_FALSE(style.spreads);
    }
}

class PdfOutputTest : public kesto_test::ModuleHostTest {
protected:
    PdfOutputTest() : ModuleHostTest("mixer") {}

    void TearDown() override
    {
        PdfHookActive = 0;
        ModuleHostTest::TearDown();
    }

    std::string Transcript() { return host->Log().Text(); }

    // The PDF export of the front layout, as the host runs it for the module.
    int32_t Export()
    {
        return CallXpdf<XTPdfExportFn>(XT_PDF_EXPORT, xt_getdocref(), static_cast<uint32_t>(XT_COMPONENT_XPDF),
                                       0xFFFF);
    }
};

TEST_F(PdfOutputTest, InstallingWritesTheFileAndRegistersItOnce)
{
    Start();
    const fs::path temp = host->TempFolder();
    for (int32_t n = 1; n <= 3; ++n) {
        EXPECT_TRUE(InstallPdfOutputStyle(n));
        EXPECT_EQ(kesto_test::ReadText(temp / PdfOutputStyleFileName(n)), PdfOutputStyleTemplate(n));
        EXPECT_TRUE(PdfOutputStyleExists(std::string("Kesto ") + PdfOutputStyleNames[n]));
    }
    EXPECT_EQ(PdfOutputStyleFileName(PdfStyleHigh), "KS_PdfStyle_High.xml");
    const auto names = xthost::PdfOf(*host).styles.Names();

    // A second installation rewrites the file and changes nothing in the host.
    EXPECT_TRUE(InstallPdfOutputStyle(PdfStyleLow));
    EXPECT_EQ(xthost::PdfOf(*host).styles.Names(), names);
    EXPECT_EQ(ImportPdfOutputStyle((temp / "KS_PdfStyle_Low.xml").string(), "Kesto Low"), XT_OK);
    EXPECT_EQ(xthost::PdfOf(*host).styles.Names(), names);

    // "Default" has no file of its own: the empty file is no style the host could take.
    EXPECT_FALSE(InstallPdfOutputStyle(PdfStyleDefault));
    EXPECT_TRUE(fs::exists(temp / "KS_PdfStyle_Default.xml"));
    EXPECT_EQ(fs::file_size(temp / "KS_PdfStyle_Default.xml"), 0u);
    EXPECT_FALSE(InstallPdfOutputStyle(4));
    EXPECT_FALSE(PdfOutputStyleExists("Kesto Default"));
    EXPECT_EQ(xthost::PdfOf(*host).styles.Names(), names);
}

TEST_F(PdfOutputTest, AFileThatCannotBeWrittenIsToldAndNotRegistered)
{
    Start();
    // A folder in the file's place; a server run only logs the message box.
    const fs::path path = fs::path(host->TempFolder()) / "KS_PdfStyle_Medium.xml";
    fs::create_directories(path);
    KestoInterface::Instance()->m_serverMode = true;
    const std::string before = GeneralLog();
    EXPECT_FALSE(InstallPdfOutputStyle(PdfStyleMedium));
    KestoInterface::Instance()->m_serverMode = false;
    EXPECT_FALSE(PdfOutputStyleExists("Kesto Medium"));
    EXPECT_EQ(GeneralLog().substr(before.size()),
              "\nSUPPRESSED MESSAGE BOX:\tError writing file: \t" + path.string() + "\t\t\n");
}

TEST_F(PdfOutputTest, OutsideAnExportNoStyleCanBeSelected)
{
    Start();
    EXPECT_EQ(SelectPdfOutputStyle(4), kHostLayerFailure);
    EXPECT_EQ(SelectPdfOutputStyle(-1), kHostLayerFailure);
    EXPECT_NE(SelectPdfOutputStyle(PdfStyleDefault), XT_OK);
}

TEST_F(PdfOutputTest, TheHookDoesNothingOutsideACreationOrForAnotherRequest)
{
    Start();
    OpenExample("minimal.qxp");
    CurrentJob->target.SetPath((app / "out.pdf").string());
    const size_t setFile = CountCalls("XPDF/7");
    const size_t select = CountCalls("XPDF/6");

    // Inactive: the host's own naming, beside the project, with its default style.
    PdfHookActive = 0;
    EXPECT_EQ(Export(), XT_OK) << Transcript();
    EXPECT_EQ(Calls(setFile), 0);
    EXPECT_EQ(Calls(select), 0);
    EXPECT_TRUE(fs::exists(app / "minimal.pdf"));
    EXPECT_FALSE(fs::exists(app / "out.pdf"));

    // Another request kind, while active.
    xtpdfoutputrec other{XT_CB_PDFOUTPUT, 0, 2};
    PdfHookActive = 1;
    EXPECT_EQ(PdfOutputHook(&other), 0);
    EXPECT_EQ(PdfOutputHook(nullptr), 0);
    EXPECT_EQ(Calls(setFile), 0);
    EXPECT_EQ(Calls(select), 0);
    EXPECT_EQ(CurrentJob->GetTarget().GetPath(), (app / "out.pdf").string());
}

TEST_F(PdfOutputTest, ATargetTheHostCannotNameHandsAnEmptyFileAndWritesNothing)
{
    Start();
    OpenExample("minimal.qxp");
    CurrentJob->target.SetPath((app / "out.pdf").string());
    xthost::FaultRule rule;
    rule.key = "XFJ12/63";  // no file object from a path
    rule.value = XT_ERR_PARAM;
    host->Faults().Add(rule);
    PdfHookActive = 1;
    EXPECT_NE(Export(), XT_OK);
    EXPECT_NE(Transcript().find("pdf.file \"\""), std::string::npos) << Transcript();
    EXPECT_EQ(Transcript().find("pdf.style "), std::string::npos);
    for (const auto& entry : fs::directory_iterator(app))
        EXPECT_NE(entry.path().extension(), ".pdf") << entry.path();
}

TEST_F(PdfOutputTest, ARemovedStyleFallsBackToTheDefault)
{
    Start("[Options]\npdfOutputStyle=3\n");
    for (int32_t style : {1, 2, 3})
        ASSERT_TRUE(InstallPdfOutputStyle(style));
    ASSERT_TRUE(xthost::PdfOf(*host).styles.Remove("Kesto Low"));
    OpenExample("geometry.qxp");
    CurrentJob->target.SetPath((app / "out.pdf").string());
    PdfHookActive = 1;
    ASSERT_EQ(Export(), XT_OK) << Transcript();
    EXPECT_EQ(kesto_test::PdfInfoField((app / "out.pdf").string(), "Title"), "geometry.qxp");
    EXPECT_NE(Transcript().find(std::string("pdf.style \"") + xthost::doc::kDefaultPdfStyleName + "\""),
              std::string::npos);
}

} // namespace

// Output styles as the host reads them: the fields the PDF uses, the registry's names, and
// the refusals of files that are not output styles.
#include <gtest/gtest.h>

#include "platform/host/documents/Model.h"
#include "platform/host/documents/OutputStyles.h"

namespace xthost::doc {
namespace {

std::string Style(const std::string& name, const std::string& inner)
{
    return "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"no\" ?><OutputStyle Name=\"" + name +
           "\" OutputMedia=\"XPDF\">" + inner + "</OutputStyle>";
}

TEST(OutputStylesTest, ReadsTheFieldsThePdfUsesFromTheXpdfSettingsOnly)
{
    OutputStyle s;
    std::string error;
    ASSERT_TRUE(ParseOutputStyle(
        Style("Kesto High",
              "\t<OutputSettings XTid=\"XABL\"><DocInfo Title=\"not this\"/></OutputSettings>"
              "\t<OutputSettings XTid=\"XPDF\"><DocInfo Author=\"A\" Keywords=\"k\" Subject=\"s\" "
              "Title=\"Kesto Output - better resolution\"/><JobOptions><ColorImage ResolutionValue=\"4718592.000000\"/>"
              "<MonochromeImage ResolutionValue=\"9437184.000000\"/></JobOptions>"
              "<PageOptions IncludeBlankPages=\"0.000000\" Spreads=\"1.000000\"/></OutputSettings>"),
        &s, &error))
        << error;
    EXPECT_EQ(s.name, "Kesto High");
    EXPECT_EQ(s.media, "XPDF");
    EXPECT_EQ(s.title, "Kesto Output - better resolution");
    EXPECT_EQ(s.author, "A");
    EXPECT_EQ(s.subject, "s");
    EXPECT_EQ(s.keywords, "k");
    EXPECT_EQ(s.colourResolution, 72 << 16);
    EXPECT_EQ(s.grayResolution, 72 << 16);  // not given: 72 dpi
    EXPECT_EQ(s.monoResolution, 144 << 16);
    EXPECT_TRUE(s.spreads);
    EXPECT_FALSE(s.includeBlankPages);
}

TEST(OutputStylesTest, RefusesWhatIsNotAnOutputStyle)
{
    const std::string mono = "<OutputSettings XTid=\"XPDF\"><JobOptions><MonochromeImage ResolutionValue=\"";
    const std::string end = "\"/></JobOptions></OutputSettings>";
    std::string deep;
    for (int i = 0; i < 70; ++i)
        deep += "<a>";
    for (int i = 0; i < 70; ++i)
        deep += "</a>";
    const std::pair<std::string, std::string> cases[] = {
        {"", "no element found at line 1"},
        {"<Other Name=\"a\" OutputMedia=\"XPDF\"/>", "the root element is Other, not OutputStyle"},
        {"<OutputStyle OutputMedia=\"XPDF\"/>", "OutputStyle needs Name and OutputMedia"},
        {"<OutputStyle Name=\"a\" OutputMedia=\"\"/>", "OutputStyle needs Name and OutputMedia"},
        {"<!DOCTYPE x [<!ENTITY e \"e\">]><OutputStyle Name=\"&e;\" OutputMedia=\"XPDF\"/>",
         "a document type declaration is not allowed"},
        {Style("a", mono + "abc" + end), "MonochromeImage has the resolution \"abc\""},
        {Style("a", mono + "0.000000" + end), "MonochromeImage has the resolution \"0.000000\""},
        {Style("a", mono + "1e999" + end), "MonochromeImage has the resolution \"1e999\""},
        {Style("a", deep), "nested deeper than 64 elements"},
        {"<OutputStyle Name=\"a\" OutputMedia=\"XPDF\">", "no element found at line 1"},
        {std::string(kMaxOutputStyleBytes + 1, ' '), "larger than 1 MiB"},
    };
    for (const auto& [xml, reason] : cases) {
        OutputStyle s;
        std::string error;
        EXPECT_FALSE(ParseOutputStyle(xml, &s, &error)) << xml;
        EXPECT_EQ(error, reason) << xml;
    }
}

TEST(OutputStylesTest, TheRegistryKeepsOneStylePerNameAndItsBuiltInDefault)
{
    OutputStyles styles;
    std::string error;
    const int32_t builtIn = styles.Default("XPDF");
    ASSERT_NE(builtIn, 0);
    EXPECT_EQ(styles.Get(builtIn)->name, kDefaultPdfStyleName);
    EXPECT_EQ(styles.Default("XHTM"), 0);
    EXPECT_EQ(styles.Import(Style("Kesto Low", ""), &error), HostErr::Ok);
    EXPECT_EQ(styles.Import(Style("Kesto Low", ""), &error), HostErr::DuplicateName);
    EXPECT_EQ(styles.Import("<x/>", &error), HostErr::NotADocument);
    const int32_t low = styles.Find("Kesto Low");
    EXPECT_EQ(static_cast<uint32_t>(low) >> 24, OutputStyles::kTag);
    EXPECT_EQ(styles.Find("kesto low"), 0);  // names match exactly
    EXPECT_TRUE(styles.Remove("Kesto Low"));
    EXPECT_EQ(styles.Get(low), nullptr);
    EXPECT_FALSE(styles.Remove(kDefaultPdfStyleName));
    // A style added again gets a new handle: handles are never reused.
    ASSERT_EQ(styles.Import(Style("Kesto Low", ""), &error), HostErr::Ok);
    EXPECT_NE(styles.Find("Kesto Low"), low);
    EXPECT_EQ(styles.Names(), (std::vector<std::string>{kDefaultPdfStyleName, "Kesto Low"}));
}

}  // namespace
}  // namespace xthost::doc

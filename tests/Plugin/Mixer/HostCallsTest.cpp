// The named host wrappers against the emulated host: the failure block, documents and views,
// boxes, the marker search over nested hidden-content pairs, bounded strings and host strings.
#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <string>

#include "Plugin/ModuleHostFixture.h"
#include "Plugin/Mixer/HostCalls.h"
#include "platform/host/documents/testing/HiddenExample.h"

namespace {

const std::string kRule(80, ':');

// The line of the xt_getdocref check in the wrappers' source.
int CheckLine(const std::string& marker)
{
    std::ifstream in(std::string(KESTO_SOURCE_DIR) + "/Plugin/Mixer/HostCalls.cpp");
    std::string line;
    for (int n = 1; std::getline(in, line); ++n)
        if (line.find(marker) != std::string::npos)
            return n;
    return -1;
}

class HostCallsTest : public kesto_test::ModuleHostTest {
protected:
    HostCallsTest() : ModuleHostTest("mixer") {}
};

TEST_F(HostCallsTest, NoDocumentWritesTheFailureBlockOnlyInTestMode)
{
    Start("[Options]\ntestMode=1\n");
    const std::string before = GeneralLog();
    EXPECT_EQ(xt_getdocref(), -1);
    const int line = CheckLine("KS_API_FAILURE(FailureMode::ReturnValue, \"xt_getdocref\")");
    ASSERT_GT(line, 0);
    const std::string block = "\n" + kRule + "\nAPI_FAILURE<RETURN_VALUE>:\tHostCalls.cpp[" + std::to_string(line) +
                              "]:xt_getdocref()\n" + kRule + "\n";
    EXPECT_EQ(GeneralLog(), before + block);

    // The view wrapper reports its own failure after the document's, and leaves docRef alone.
    XTHandle doc = 77;
    EXPECT_EQ(xt_getdocviewref(&doc), 0);
    EXPECT_EQ(doc, 77);
    EXPECT_NE(GeneralLog().find("API_FAILURE<RETURN_VALUE>:\tHostCalls.cpp["), std::string::npos);
    EXPECT_NE(GeneralLog().find("]:xt_getdocviewref()\n"), std::string::npos);
}

TEST_F(HostCallsTest, NoDocumentWritesNothingWithoutTestMode)
{
    Start("[Options]\ntestMode=0\n");
    const std::string before = GeneralLog();
    EXPECT_EQ(xt_getdocref(), -1);
    EXPECT_EQ(xt_getdocviewref(nullptr), 0);
    EXPECT_EQ(GeneralLog(), before);
}

TEST_F(HostCallsTest, DocumentViewLocationAndProjectClose)
{
    Start();
    // No project: closing the current one fails and closes nothing.
    EXPECT_NE(CloseProject(-1, 1), 0);
    const std::string path = OpenExample("two-page-linked.qxp");
    XTHandle doc = 0;
    const XTHandle view = xt_getdocviewref(&doc);
    EXPECT_NE(view, 0);
    EXPECT_EQ(doc, xt_getdocref());

    std::string name;
    int16_t volume = -1;
    int32_t folder = 0;
    uint8_t flag = 9;
    EXPECT_EQ(GetDocumentLocation(&name, &volume, &folder, nullptr), kHostLayerFailure);
    ASSERT_EQ(GetDocumentLocation(&name, &volume, &folder, &flag), 0);
    EXPECT_EQ(name, "two-page-linked.qxp");
    EXPECT_NE(folder, 0);
    EXPECT_EQ(flag, 0);

    EXPECT_EQ(CloseProject(-1, 1), 0);
    EXPECT_EQ(xt_getdocref(), -1);
}

TEST_F(HostCallsTest, BoxesCurrentBoxWorkBoxAndBounds)
{
    Start();
    OpenExample("two-page-linked.qxp");
    int32_t l = 1, t = 2, r = 3, b = 4;
    EXPECT_EQ(GetBoxBounds(0, &l, &t, &r, &b), kHostLayerFailure);
    EXPECT_EQ(GetBoxPageBounds(0, &l, &t, &r, &b), kHostLayerFailure);
    EXPECT_EQ(l + t + r + b, 10);

    // The current box: tool mode 1, the host's further mode flag cleared for the box.
    host->application.modeFlag = true;
    const XTHandle first = Box(3);
    ASSERT_NE(first, 0);
    const XTHandle before = SetCurrentBox(first);
    EXPECT_NE(before, first);
    EXPECT_EQ(host->application.toolMode, 1);
    EXPECT_FALSE(host->application.modeFlag);
    EXPECT_EQ(SetCurrentBox(first), first);

    const XTHandle work = CreateWorkBox();
    ASSERT_NE(work, 0);
    ASSERT_EQ(GetBoxBounds(work, &l, &t, &r, &b), 0);
    EXPECT_EQ(l, 0);
    EXPECT_EQ(t, 0);
    EXPECT_EQ(r, 0x280000);
    EXPECT_EQ(b, 0x280000);
    int32_t pl = 0, pt = 0, pr = 0, pb = 0;
    ASSERT_EQ(GetBoxPageBounds(first, &pl, &pt, &pr, &pb), 0);
    EXPECT_EQ(pl, 0);
    EXPECT_GT(pr, pl);
    EXPECT_GT(pb, pt);
}

TEST_F(HostCallsTest, UpdateSwitchAndChangeCounter)
{
    Start();
    const uint32_t before = ChangeCounter;
    EXPECT_EQ(SetHostUpdate(0), 0);
    EXPECT_EQ(host->application.textUpdate, 0);
    EXPECT_TRUE(BumpChangeCounter(1));
    EXPECT_EQ(host->application.textUpdate, 1);
    EXPECT_EQ(ChangeCounter, before + 1);
    ChangeCounter = 0xFFFFFFFFu;
    EXPECT_FALSE(BumpChangeCounter(0));
    EXPECT_EQ(ChangeCounter, 0u);
}

TEST_F(HostCallsTest, NestedMarkersPairAcrossNestedAndSiblingPairs)
{
    Start();
    OpenExample("hidden.qxp");
    const auto at = xthost::doc::HiddenExampleLayout();
    XTHandle text = 0;
    int32_t length = 0;
    ASSERT_EQ(Docs().StoryOfBox(Box(at.storyBox), &text, &length), XT_OK);

    // The outer pair of ( ( ) ): forward from behind the opening paren to its partner.
    int32_t pos = at.nestedOuterOpen + 1;
    EXPECT_TRUE(FindNestedMarker(text, pos, 1, 0x25, 0, length));
    EXPECT_EQ(pos, at.nestedOuterClose);
    pos = at.nestedOuterClose;
    EXPECT_TRUE(FindNestedMarker(text, pos, 0, 0x45, 0, 0));
    EXPECT_EQ(pos, at.nestedOuterOpen);
    pos = at.nestedInnerOpen + 1;
    EXPECT_TRUE(FindNestedMarker(text, pos, 1, 0x25, 0, length));
    EXPECT_EQ(pos, at.nestedInnerClose);

    // ( ( ) ( ) ): two sibling pairs inside the outer one, both ways.
    pos = at.siblingOpen[0] + 1;
    EXPECT_TRUE(FindNestedMarker(text, pos, 1, 0x26, 0, length));
    EXPECT_EQ(pos, at.siblingClose[0]);
    pos = at.siblingClose[0];
    EXPECT_TRUE(FindNestedMarker(text, pos, 0, 0x46, 0, 0));
    EXPECT_EQ(pos, at.siblingOpen[0]);
    pos = at.siblingOpen[2] + 1;
    EXPECT_TRUE(FindNestedMarker(text, pos, 1, 0x26, 0, length));
    EXPECT_EQ(pos, at.siblingClose[2]);

    // A closing paren without an opening one, and a pair whose partner lies beyond the limit.
    pos = at.unmatchedClose;
    EXPECT_FALSE(FindNestedMarker(text, pos, 0, 0x47, 0, 0));
    pos = at.siblingOpen[0] + 1;
    EXPECT_FALSE(FindNestedMarker(text, pos, 1, 0x26, 0, at.siblingClose[0]));
    pos = at.siblingClose[0] + 1;
    EXPECT_FALSE(FindNestedMarker(text, pos, 1, 0x26, 0, length));
}

TEST_F(HostCallsTest, FixedStringKeepsItsBound)
{
    FixedString<8> s;
    s = "1234567";
    EXPECT_EQ(s.Length(), 7u);
    EXPECT_STREQ(s.c_str(), "1234567");
    ::testing::internal::CaptureStderr();
    s = "12345678";
    const std::string err = ::testing::internal::GetCapturedStderr();
    EXPECT_NE(err.find("theLen < mMaxLen"), std::string::npos);
    EXPECT_EQ(s.Length(), 7u);
    EXPECT_STREQ(s.c_str(), "1234567");
    s = nullptr;
    EXPECT_EQ(s.Length(), 0u);
}

TEST_F(HostCallsTest, HostStrings)
{
    Start();
    EXPECT_EQ(WCharsToWString(nullptr), u"");
    EXPECT_EQ(WCharsToWString(u"Ab\u00e9"), u"Ab\u00e9");
    const char16_t chars[] = u"Colour name";
    EXPECT_EQ(HostStringToWString(chars, 11, 0), u"Colour name");
    EXPECT_EQ(HostStringToWString(chars, 11, 6), u"Colour");
    EXPECT_EQ(HostStringToWString(chars, 6, 11), u"Colour");
    EXPECT_EQ(HostUnicodeToWString(0), u"");
}

} // namespace

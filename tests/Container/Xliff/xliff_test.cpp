// The XLIFF bridge on a small Book: what extraction writes, that an untouched translation gives
// the same Book back, how each translator mistake ends, and that bad input is refused whole.
#include "XliffBook.h"

#include "Container/Xliff/Xliff.h"
#include "Container/Xliff/XliffReader.h"
#include "ModelDump.h"
#include "TempDir.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <sys/wait.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace {

using namespace kesto::xliff;
using xliff_test::RunsOf;

std::string Read(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

void Write(const std::string& path, const std::string& text) { std::ofstream(path, std::ios::binary) << text; }

// The inner text of the first element `tag` after the unit `id`, replaced by `with`.
std::string Replace(std::string xlf, const std::string& id, const std::string& tag, const std::string& with) {
  const size_t unit = xlf.find("id=\"" + id + "\"");
  const size_t open = xlf.find("<" + tag + ">", unit);
  const size_t close = xlf.find("</" + tag + ">", open);
  if (unit == std::string::npos || open == std::string::npos || close == std::string::npos) return "not found";
  const size_t from = open + tag.size() + 2;
  return xlf.replace(from, close - from, with);
}

std::string ReplaceAll(std::string text, const std::string& what, const std::string& with) {
  for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + with.size()))
    text.replace(at, what.size(), with);
  return text;
}

class XliffTest : public ::testing::Test {
 protected:
  void SetUp() override {
    using xliff_test::RunSpec;
    // Story 1: a bold word; markers and a character XML cannot carry; white space only; a
    // placeholder only; a marked range. Story 2: one plain paragraph; two bold stretches; a
    // space held as U+00A0 in another code page, as a font with the high flag holds it.
    xliff_test::WriteBook(m_dwq, {{{{'u', u"Hello "}, {'u', u"bold", u"B"}, {'u', u" world"}},
                                   {{'u', u"Page "}, {'s', u"page_number/Curr"}, {'u', u" of\x11"}, {'r', u"start"},
                                    {'u', u"x"}},
                                   {{'u', u" "}},
                                   {{'p', u""}},
                                   {{'u', u"range "}, {'r', u"start"}, {'u', u"inside"}, {'r', u"end"}, {'u', u" after"}}},
                                  {{{'u', u"Second story"}},
                                   {{'u', u"a "}, {'u', u"b", u"B"}, {'u', u" c "}, {'u', u"d", u"B"}, {'u', u" e"}},
                                   {{'u', u"one", u"A", u"1200"},
                                    {'u', u"\u00A0", u"A", u"1252"},
                                    {'u', u"two", u"A", u"1200"}}}});
  }

  // Extracts with options into name; answers the XLIFF's text.
  std::string Extracted(Version version, bool copy, const std::string& name = "doc.xlf") {
    ExtractOptions options;
    options.version = version;
    options.copySource = copy;
    options.targetLanguage = "de";
    std::ostringstream report;
    EXPECT_EQ(Extract(m_dwq, m_dir / name, options, report), kAllMerged) << report.str();
    return Read(m_dir / name);
  }

  // Merges the XLIFF text; answers the exit code, the report in `report`.
  int Merged(const std::string& xlf, std::string& report) {
    Write(m_dir / "in.xlf", xlf);
    std::ostringstream out;
    const int code = Merge(m_dwq, m_dir / "in.xlf", m_out, out);
    report = out.str();
    return code;
  }

  TempDir m_dir{"kesto-xliff"};
  std::string m_dwq = m_dir / "doc.dwq";
  std::string m_out = m_dir / "out.dwq";
};

TEST_F(XliffTest, ExtractionMapsParagraphsToUnitsAndFormatsToCodes) {
  const std::string v12 = Extracted(Version::V12, false);
  for (const char* expected :
       {"<file original=\"doc.dwq\" datatype=\"x-kesto-dwq\" source-language=\"en\" target-language=\"de\" "
        "kesto:book=\"dwq:",
        "<group id=\"d0s0\" resname=\"document 1, story 1\">",
        "<trans-unit id=\"d0s0p0\" resname=\"story 1, paragraph 1\" xml:space=\"preserve\">",
        "<source>Hello <g id=\"1\" equiv-text=\"Arial; bold; 12 pt\">bold</g> world</source>",
        "<source>Page <x id=\"1\" clone=\"no\" equiv-text=\"page number (Curr)\"/> of<x id=\"2\" clone=\"no\" "
        "equiv-text=\"U+0011\"/><x id=\"3\" clone=\"no\" equiv-text=\"reference point start 7\"/>x</source>",
        "<source>Second story</source>",
        "<source>a <g id=\"1\" equiv-text=\"Arial; bold; 12 pt\">b</g> c <g id=\"2\"",
        "<source>one<g id=\"1\" equiv-text=\"Arial; plain; 12 pt; code page 1252\">\xC2\xA0</g>two</source>"})
    EXPECT_NE(v12.find(expected), std::string::npos) << expected << "\n" << v12;
  // White space only and a placeholder only: no units; no target without --copy-source.
  EXPECT_EQ(v12.find("d0s0p2"), std::string::npos);
  EXPECT_EQ(v12.find("d0s0p3"), std::string::npos);
  EXPECT_EQ(v12.find("<target"), std::string::npos);
  // Stable ids: a second extraction is the same file.
  EXPECT_EQ(Extracted(Version::V12, false, "again.xlf"), v12);

  const std::string v21 = Extracted(Version::V21, true);
  for (const char* expected :
       {"<xliff version=\"2.1\" xmlns=\"urn:oasis:names:tc:xliff:document:2.0\" xmlns:kesto=\"urn:kesto:xliff:1\" "
        "srcLang=\"en\" trgLang=\"de\">",
        "<unit id=\"d0s0p0\" name=\"story 1, paragraph 1\" xml:space=\"preserve\">",
        "<source>Hello <pc id=\"1\" dispStart=\"Arial; bold; 12 pt\">bold</pc> world</source>",
        "<target>Hello <pc id=\"1\" dispStart=\"Arial; bold; 12 pt\">bold</pc> world</target>",
        "<ph id=\"1\" canCopy=\"no\" canDelete=\"no\" disp=\"page number (Curr)\"/>"})
    EXPECT_NE(v21.find(expected), std::string::npos) << expected << "\n" << v21;
}

TEST_F(XliffTest, AnUntouchedTranslationGivesTheSameBookBack) {
  auto dump = [](const std::string& path) {
    OLEStorage root(path.c_str(), CD_OpenRead);
    OLEStorage code(root, kDWX_TextAndCodeName, CD_OpenRead);
    return model_test::DumpCodeFile(code);
  };
  const std::string before = dump(m_dwq);
  for (const Version version : {Version::V12, Version::V21}) {
    std::string report;
    ASSERT_EQ(Merged(Extracted(version, true), report), kAllMerged) << report;
    EXPECT_NE(report.find("6 units translated, 0 kept"), std::string::npos) << report;
    EXPECT_EQ(dump(m_out), before);
  }
}

struct Mistake {
  const char* name;
  Version version;
  std::string unit;
  std::string target;  // the new inner text of the unit's target (or source, with `source`)
  int code;
  const char* report;
  std::vector<std::string> runs;  // the merged paragraph's runs (story of the unit)
  bool source = false;
};

TEST_F(XliffTest, EachTranslatorMistakeEndsAsItShould) {
  const std::vector<std::string> page = {"A:Page ", "s1", "A: of\x11", "r1", "A:x"};
  const std::vector<std::string> second = {"A:a ", "B:b", "A: c ", "B:d", "A: e"};
  const std::vector<Mistake> mistakes = {
      {"moved paired code", Version::V12, "d0s0p0", "<g id=\"1\">Hallo</g> sch\xC3\xB6ne Welt", kAllMerged,
       "6 units translated", {"B:Hallo", "A: sch\xC3\xB6ne Welt"}},
      {"removed paired code", Version::V12, "d0s0p0", "Hallo fette Welt", kAllMerged,
       "warning: paired code 1 (Arial; bold; 12 pt) was removed", {"A:Hallo fette Welt"}},
      {"moved markers", Version::V12, "d0s0p1", "<x id=\"3\"/>Seite <x id=\"1\"/> von<x id=\"2\"/>x", kAllMerged,
       "0 failed", {"r1", "A:Seite ", "s1", "A: von", "A:\x11", "A:x"}},
      {"removed marker", Version::V12, "d0s0p1", "Seite  von<x id=\"2\"/><x id=\"3\"/>x", kSomeKept,
       "failed, kept its source: code 1 (page number (Curr)) was removed", page},
      {"doubled marker", Version::V12, "d0s0p1", "<x id=\"1\"/>Seite <x id=\"1\"/> von<x id=\"2\"/><x id=\"3\"/>x",
       kSomeKept, "code 1 (page number (Curr)) is doubled", page},
      {"unknown code id", Version::V12, "d0s0p1", "Seite <x id=\"1\"/> von<x id=\"2\"/><x id=\"3\"/><x id=\"9\"/>x",
       kSomeKept, "code \"9\" is not in the source", page},
      {"marker made paired", Version::V12, "d0s0p1", "<g id=\"1\">Seite</g> von<x id=\"2\"/><x id=\"3\"/>x", kSomeKept,
       "is a standalone code in the source and a paired one in the target", page},
      {"character XML cannot carry removed", Version::V12, "d0s0p1", "Seite <x id=\"1\"/> von<x id=\"3\"/>x",
       kSomeKept, "code 2 (U+0011) was removed", page},
      {"crossed codes 2.1", Version::V21, "d0s1p1", "<sc id=\"1\"/>x <sc id=\"2\"/>y<ec startRef=\"1\"/> z<ec startRef=\"2\"/>",
       kSomeKept, "code 1 (Arial; bold; 12 pt) and code 2 (Arial; bold; 12 pt) cross", second},
      {"crossed codes 1.2", Version::V12, "d0s1p1",
       "<bx id=\"1\" rid=\"1\"/>x <bx id=\"2\" rid=\"2\"/>y<ex id=\"3\" rid=\"1\"/> z<ex id=\"4\" rid=\"2\"/>", kSomeKept,
       "code 1 (Arial; bold; 12 pt) and code 2 (Arial; bold; 12 pt) cross", second},
      {"paired code split across 1.2 segments", Version::V12, "d0s1p1",
       "<mrk mtype=\"seg\" mid=\"1\">A <bx id=\"1\" rid=\"7\"/>B</mrk> <mrk mtype=\"seg\" mid=\"2\">b<ex id=\"5\" "
       "rid=\"7\"/> C <g id=\"2\">D</g> E</mrk>",
       kAllMerged, "0 failed", {"A:A ", "B:B b", "A: C ", "B:D", "A: E"}},
      {"1.2 bx and ex linked by id", Version::V12, "d0s1p1", "A <bx id=\"1\"/>B<ex id=\"1\"/> C <g id=\"2\">D</g> E",
       kAllMerged, "0 failed", {"A:A ", "B:B", "A: C ", "B:D", "A: E"}},
      {"1.2 ex of another bx", Version::V12, "d0s1p1", "A <bx id=\"1\" rid=\"1\"/>B<ex id=\"2\" rid=\"2\"/> C <g id=\"2\">D</g>",
       kSomeKept, "code 2 (Arial; bold; 12 pt) closes where it is not open", second},
      {"1.2 bx never ended", Version::V12, "d0s1p1", "A <bx id=\"1\" rid=\"1\"/>B C <g id=\"2\">D</g>", kSomeKept,
       "code 1 (Arial; bold; 12 pt) opens and never closes", second},
      {"range end before its start", Version::V12, "d0s0p4",
       "<x id=\"2\"/>Bereich <x id=\"1\"/>innen danach", kSomeKept,
       "code 2 (reference point end 7) comes before its start, code 1 (reference point start 7)",
       {"A:range ", "r1", "A:inside", "r1", "A: after"}},
      {"range moved", Version::V12, "d0s0p4", "Bereich <x id=\"1\"/>innen<x id=\"2\"/> danach", kAllMerged,
       "0 failed", {"A:Bereich ", "r1", "A:innen", "r1", "A: danach"}},
      {"codes in another order", Version::V21, "d0s1p1", "<pc id=\"2\">D</pc> C <pc id=\"1\">B</pc> A", kAllMerged,
       "0 failed", {"B:D", "A: C ", "B:B", "A: A"}},
      {"run in another code page kept", Version::V12, "d0s1p2", "eins<g id=\"1\">\xC2\xA0</g>zwei", kAllMerged,
       "0 failed", {"A/1200:eins", "A/1252:\xC2\xA0", "A/1200:zwei"}},
      {"run in another code page moved", Version::V21, "d0s1p2", "<pc id=\"1\">\xC2\xA0</pc>eins zwei", kAllMerged,
       "0 failed", {"A/1252:\xC2\xA0", "A/1200:eins zwei"}},
      {"edited source", Version::V12, "d0s0p0", "Hi <g id=\"1\">bold</g> world", kSomeKept,
       "its source is not the exchange file's paragraph", {"A:Hello ", "B:bold", "A: world"}, true},
      {"paragraph break", Version::V12, "d0s0p0", "Hallo&#13;<g id=\"1\">fett</g>", kSomeKept,
       "the target holds a paragraph break (U+000D)", {"A:Hello ", "B:bold", "A: world"}},
      {"NUL", Version::V21, "d0s0p0", "Hallo<cp hex=\"0\"/><pc id=\"1\">fett</pc>", kSomeKept,
       "the target holds U+0000", {"A:Hello ", "B:bold", "A: world"}},
      {"empty target", Version::V12, "d0s0p0", "", kSomeKept, "kept its source: its target has no text",
       {"A:Hello ", "B:bold", "A: world"}},
      {"unknown inline element", Version::V12, "d0s0p0", "Hallo <bpt id=\"5\">[</bpt>Welt", kSomeKept,
       "it holds the element <bpt>", {"A:Hello ", "B:bold", "A: world"}},
  };
  for (const Mistake& m : mistakes) {
    SCOPED_TRACE(m.name);
    const std::string xlf = Replace(Extracted(m.version, true), m.unit, m.source ? "source" : "target", m.target);
    std::string report;
    EXPECT_EQ(Merged(xlf, report), m.code) << report;
    EXPECT_NE(report.find(m.report), std::string::npos) << report;
    const dwx_long story = m.unit[3] - '0', paragraph = m.unit[5] - '0';
    EXPECT_EQ(RunsOf(m_out, story, paragraph), m.runs);
    // Nothing else changed.
    const dwx_long other = m.unit == "d0s1p0" ? 1 : 0;
    EXPECT_EQ(RunsOf(m_out, 1, other), RunsOf(m_dwq, 1, other));
  }
}

TEST_F(XliffTest, UnitsThatAreNotTranslatedOrDoNotMatchAreListed) {
  const std::string copy = Extracted(Version::V12, true);
  struct Case {
    const char* name;
    std::string xlf;
    const char* report;
  } cases[] = {
      {"state new", ReplaceAll(copy, "<target>Second story", "<target state=\"new\">Zweite"),
       "unit d0s1p0 (story 2, paragraph 1): kept its source: its target is in state \"new\""},
      {"needs translation", ReplaceAll(copy, "<target>Second story", "<target state=\"needs-translation\">Zweite"),
       "its target is in state \"needs-translation\""},
      {"no target", ReplaceAll(copy, "<target>Second story</target>", ""), "kept its source: it has no target"},
      {"removed unit", Replace(copy, "d0s1p0", "source", "x").replace(copy.find("<trans-unit id=\"d0s1p0\""), 0, ""),
       ""},
      {"2.1 initial", ReplaceAll(Extracted(Version::V21, true), "<segment>\n     <source>Second",
                                 "<segment state=\"initial\">\n     <source>Second"),
       "segment 1 is in state \"initial\""},
  };
  // A removed unit: the whole trans-unit goes.
  {
    std::string& xlf = cases[3].xlf;
    xlf = copy;
    const size_t from = xlf.find("   <trans-unit id=\"d0s1p0\"");
    xlf.erase(from, xlf.find("</trans-unit>", from) + 14 - from);
    cases[3].report = "unit d0s1p0 (story 2, paragraph 1): kept its source: the XLIFF has no such unit";
  }
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::string report;
    EXPECT_EQ(Merged(c.xlf, report), kSomeKept) << report;
    EXPECT_NE(report.find(c.report), std::string::npos) << report;
    EXPECT_EQ(RunsOf(m_out, 1, 0), std::vector<std::string>{"A:Second story"});
  }
  // An added unit is not merged, and says so.
  std::string report;
  const std::string added = ReplaceAll(copy, "</body>",
                                       "<trans-unit id=\"d0s7p7\"><source>New</source><target>Neu</target>"
                                       "</trans-unit></body>");
  EXPECT_EQ(Merged(added, report), kSomeKept);
  EXPECT_NE(report.find("unit d0s7p7: not merged: no paragraph with text of the exchange file has this id"),
            std::string::npos)
      << report;
}

TEST_F(XliffTest, SegmentsAreJoinedInOrder) {
  std::string v21 = Extracted(Version::V21, true);
  v21 = ReplaceAll(v21,
                   "<segment>\n     <source>Second story</source>\n     <target>Second story</target>\n    </segment>",
                   "<segment><source>Second</source><target>Zweite</target></segment><ignorable><source> "
                   "</source></ignorable><segment><source>story</source><target>Geschichte</target></segment>");
  std::string report;
  EXPECT_EQ(Merged(v21, report), kAllMerged) << report;
  EXPECT_EQ(RunsOf(m_out, 1, 0), std::vector<std::string>{"A:Zweite Geschichte"});

  std::string v12 = Replace(Extracted(Version::V12, true), "d0s1p0", "target",
                            "<mrk mtype=\"seg\" mid=\"1\">Zweite</mrk> <mrk mtype=\"seg\" mid=\"2\">Geschichte</mrk>");
  v12 = ReplaceAll(v12, "<target><mrk",
                   "<seg-source><mrk mtype=\"seg\" mid=\"1\">Second</mrk> <mrk mtype=\"seg\" mid=\"2\">story</mrk>"
                   "</seg-source><target><mrk");
  EXPECT_EQ(Merged(v12, report), kAllMerged) << report;
  EXPECT_EQ(RunsOf(m_out, 1, 0), std::vector<std::string>{"A:Zweite Geschichte"});
}

TEST_F(XliffTest, UnusableInputIsRefusedWholeAndLeavesNoOutput) {
  const std::string copy = Extracted(Version::V12, true);
  const std::string head = "<?xml version=\"1.0\"?>\n";
  struct Case {
    const char* name;
    std::string xlf;
    const char* reason;
  } cases[] = {
      {"malformed XML", copy.substr(0, copy.size() / 2), "line "},
      {"mismatched tag", ReplaceAll(copy, "</source>", "</target>"), "mismatched tag"},
      {"entity bomb",
       head + "<!DOCTYPE xliff [<!ENTITY a \"aaaaaaaaaa\"><!ENTITY b \"&a;&a;&a;&a;&a;&a;&a;&a;&a;&a;\">]>" +
           copy.substr(copy.find("<xliff")),
       "declares the entity \"a\"; no entity beyond XML's five is expanded (this is how an entity bomb starts)"},
      {"external entity",
       head + "<!DOCTYPE xliff [<!ENTITY e SYSTEM \"file:///etc/passwd\">]>" + copy.substr(copy.find("<xliff")),
       "declares the external entity \"e\" (file:///etc/passwd); nothing is fetched"},
      {"external DTD", head + "<!DOCTYPE xliff SYSTEM \"http://example.com/x.dtd\">" + copy.substr(copy.find("<xliff")),
       "document type declaration (DOCTYPE); no DTD is read"},
      {"undeclared entity", ReplaceAll(copy, "Second story</target>", "&nbsp;</target>"), "undefined entity"},
      {"unknown version", ReplaceAll(copy, "version=\"1.2\"", "version=\"3.0\""), "unknown XLIFF version \"3.0\""},
      {"not XLIFF", head + "<html/>", "not an XLIFF file"},
      {"foreign XLIFF", ReplaceAll(copy, "kesto:book=\"dwq:", "kesto:book=\"dwq:1"),
       "was made from doc.dwq (dwq:1"},
      {"no fingerprint", ReplaceAll(copy, "kesto:book=", "kesto:other="), "does not name the exchange file"},
      {"deep nesting", ReplaceAll(copy, "Second story", std::string(1100 * 7, ' ')), ""},
  };
  {
    std::string deep;
    for (int i = 0; i < 1100; ++i) deep += "<g id=\"1\">";
    for (int i = 0; i < 1100; ++i) deep += "</g>";
    cases[10].xlf = Replace(copy, "d0s1p0", "target", deep);
    cases[10].reason = "elements nest deeper than 1024 levels";
  }
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::string report;
    EXPECT_EQ(Merged(c.xlf, report), kUnusable) << report;
    EXPECT_NE(report.find(c.reason), std::string::npos) << report;
    EXPECT_FALSE(std::filesystem::exists(m_out));
    for (const auto& entry : std::filesystem::directory_iterator(m_dir.Path()))
      EXPECT_EQ(entry.path().filename().string().find(".tmp"), std::string::npos) << entry.path();
  }
  // Malformed XML names its line and column.
  std::string report;
  Merged(ReplaceAll(copy, "<body>", "<body><<"), report);
  EXPECT_NE(report.find("line 4, column 10: not well-formed (invalid token)"), std::string::npos) << report;
}

TEST_F(XliffTest, AWriteProtectedTargetIsNeverReplaced) {
  const std::string copy = Extracted(Version::V12, true);
  Write(m_out, "kept");
  ASSERT_EQ(::chmod(m_out.c_str(), 0444), 0);
  std::string report;
  EXPECT_EQ(Merged(copy, report), kUnusable);
  EXPECT_NE(report.find("cannot write " + m_out), std::string::npos) << report;
  EXPECT_EQ(Read(m_out), "kept");
  ExtractOptions options;
  std::ostringstream out;
  EXPECT_EQ(Extract(m_dwq, m_out, options, out), kUnusable);
  EXPECT_EQ(Read(m_out), "kept");
}

TEST(XliffReader, ReadsUnitsOfBothVersions) {
  const std::string v21 =
      "<xliff xmlns=\"urn:oasis:names:tc:xliff:document:2.0\" version=\"2.1\" srcLang=\"en\">"
      "<file id=\"f\" original=\"a.dwq\" xmlns:k=\"urn:kesto:xliff:1\" k:book=\"B\"><unit id=\"u\"><notes><note>"
      "n</note></notes><segment state=\"final\"><source>a<ph id=\"1\"/>b</source><target>c<cp hex=\"0013\"/>"
      "<ph id=\"1\"/>&amp;</target></segment></unit></file></xliff>";
  XliffDocument doc;
  std::string error;
  ASSERT_TRUE(ReadXliff(v21.data(), v21.size(), doc, error)) << error;
  ASSERT_EQ(doc.units.size(), 1u);
  EXPECT_EQ(doc.files.at(0).book, "B");
  const XliffUnit& unit = doc.units[0];
  EXPECT_TRUE(unit.hasTarget);
  EXPECT_TRUE(unit.untranslated.empty());
  ASSERT_EQ(unit.target.size(), 3u);
  EXPECT_EQ(unit.target[0].text, u"c\x13");
  EXPECT_EQ(unit.target[1].type, Token::Single);
  EXPECT_EQ(unit.target[2].text, u"&");
}

}  // namespace

namespace {

int Program(const std::string& arguments) {
  const int status = std::system(("'" KESTO_BINARY_DIR "/Container/Xliff/kesto-xliff' " + arguments + " 2>/dev/null >/dev/null").c_str());
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

TEST_F(XliffTest, TheProgramNamesItsOutputsAndAnswersExitCodesAScriptCanTrust) {
  EXPECT_EQ(Program("--help"), kAllMerged);
  EXPECT_EQ(Program(""), kUnusable);
  EXPECT_EQ(Program("extract"), kUnusable);
  EXPECT_EQ(Program("extract '" + m_dwq + "' --xliff 3.0"), kUnusable);
  EXPECT_EQ(Program("merge '" + m_dwq + "'"), kUnusable);
  EXPECT_EQ(Program("translate '" + m_dwq + "'"), kUnusable);
  // Beside the exchange file: DOC.xlf, then DOC-translated.dwq.
  EXPECT_EQ(Program("extract '" + m_dwq + "' --xliff 2.1 --source-language en-US --target-language fr"), kAllMerged);
  EXPECT_NE(Read(m_dir / "doc.xlf").find("srcLang=\"en-US\" trgLang=\"fr\""), std::string::npos);
  EXPECT_EQ(Program("merge '" + m_dwq + "' '" + (m_dir / "doc.xlf") + "'"), kSomeKept);
  EXPECT_TRUE(std::filesystem::exists(m_dir / "doc-translated.dwq"));
  // An extraction never replaces the exchange file it reads.
  EXPECT_EQ(Program("extract '" + m_dwq + "' -o '" + m_dwq + "'"), kUnusable);
  EXPECT_EQ(RunsOf(m_dwq, 1, 0), std::vector<std::string>{"A:Second story"});
}

}  // namespace

namespace {

TEST(XliffEmpty, ABookWithoutTextGivesAnXliffThatNamesItAndMergesToTheSameBook) {
  TempDir dir("kesto-xliff");
  xliff_test::WriteBook(dir / "empty.dwq", {{{{'u', u" \t"}}, {{'p', u""}}}});
  for (const Version version : {Version::V12, Version::V21}) {
    ExtractOptions options;
    options.version = version;
    std::ostringstream report;
    ASSERT_EQ(Extract(dir / "empty.dwq", dir / "empty.xlf", options, report), kAllMerged) << report.str();
    const std::string xlf = Read(dir / "empty.xlf");
    EXPECT_NE(xlf.find("original=\"empty.dwq\""), std::string::npos) << xlf;
    // XLIFF 2.1 wants a unit or a group in every file.
    EXPECT_EQ(xlf.find("<group id=\"none\"/>") != std::string::npos, version == Version::V21) << xlf;
    EXPECT_EQ(Merge(dir / "empty.dwq", dir / "empty.xlf", dir / "out.dwq", report), kAllMerged) << report.str();
    EXPECT_EQ(RunsOf(dir / "out.dwq", 0, 0), std::vector<std::string>{"A: \t"});
  }
}

}  // namespace

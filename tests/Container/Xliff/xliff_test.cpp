// The XLIFF bridge on a small Book: what extraction writes, that an untouched translation gives
// the same Book back, how the translator mistakes that the end-to-end tests cannot reach cheaply
// end (code page runs, XLIFF 1.2 bx and ex, segments, bounds), and that bad input is refused whole.
#include "XliffBook.h"

#include "Container/Xliff/Xliff.h"
#include "ModelDump.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <sys/wait.h>

#include <algorithm>  // before TestSupport.h, which uses it
#include <cstdlib>
#include <filesystem>
#include <sstream>

#include "Foundation/TestSupport.h"

namespace {

using namespace kesto::xliff;
using xliff_test::RunsOf;

// The inner text of the first element `tag` (without attributes) after the unit `id`, replaced by `with`.
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
    return ReadFile(m_dir / name);
  }

  // Merges the XLIFF text; answers the exit code, the report in `report`.
  int Merged(const std::string& xlf, std::string& report) {
    WriteFile(m_dir / "in.xlf", xlf);
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
        "<source>one<g id=\"1\" equiv-text=\"Arial; plain; 12 pt; code page 1252\">\xC2\xA0</g>two</source>"})
    EXPECT_NE(v12.find(expected), std::string::npos) << expected << "\n" << v12;
  // White space only and a placeholder only: no units; no target without --copy-source.
  EXPECT_EQ(v12.find("d0s0p2"), std::string::npos);
  EXPECT_EQ(v12.find("d0s0p3"), std::string::npos);
  EXPECT_EQ(v12.find("<target"), std::string::npos);

  const std::string v21 = Extracted(Version::V21, true);
  for (const char* expected :
       {"<xliff version=\"2.1\" xmlns=\"urn:oasis:names:tc:xliff:document:2.0\" xmlns:kesto=\"urn:kesto:xliff:1\" "
        "srcLang=\"en\" trgLang=\"de\">",
        "<unit id=\"d0s0p0\" name=\"story 1, paragraph 1\" xml:space=\"preserve\">",
        "<target>Hello <pc id=\"1\" dispStart=\"Arial; bold; 12 pt\">bold</pc> world</target>",
        "<ph id=\"1\" canCopy=\"no\" canDelete=\"no\" disp=\"page number (Curr)\"/>"})
    EXPECT_NE(v21.find(expected), std::string::npos) << expected << "\n" << v21;
}

// This Book, and one without text (whose XLIFF 2.1 file needs a group to be valid).
TEST_F(XliffTest, AnUntouchedTranslationGivesTheSameBookBack) {
  auto dump = [](const std::string& path) {
    OLEStorage root(path.c_str(), CD_OpenRead);
    OLEStorage code(root, kDWX_TextAndCodeName, CD_OpenRead);
    return model_test::DumpCodeFile(code);
  };
  for (const bool empty : {false, true}) {
    if (empty) xliff_test::WriteBook(m_dwq, {{{{'u', u" \t"}}, {{'p', u""}}}});
    const std::string before = dump(m_dwq);
    for (const Version version : {Version::V12, Version::V21}) {
      SCOPED_TRACE(empty ? "without text" : "with text");
      const std::string xlf = Extracted(version, true);
      EXPECT_EQ(xlf.find("<group id=\"none\"/>") != std::string::npos, empty && version == Version::V21) << xlf;
      std::string report;
      ASSERT_EQ(Merged(xlf, report), kAllMerged) << report;
      EXPECT_NE(report.find(empty ? "0 units translated, 0 kept" : "6 units translated, 0 kept"), std::string::npos)
          << report;
      EXPECT_EQ(dump(m_out), before);
    }
  }
}

struct Mistake {
  const char* name;
  Version version;
  std::string unit;
  std::string target;  // the new inner text of the unit's `tag`
  int code;
  const char* report;
  std::vector<std::string> runs;  // the merged paragraph's runs
  const char* tag = "target";
  std::pair<std::string, std::string> also = {};  // then replaced in the whole file
};

TEST_F(XliffTest, EachTranslatorMistakeEndsAsItShould) {
  const std::vector<std::string> hello = {"A:Hello ", "B:bold", "A: world"}, page = {"A:Page ", "s1", "A: of\x11", "r1", "A:x"};
  const std::vector<std::string> second = {"A:a ", "B:b", "A: c ", "B:d", "A: e"};
  const std::string segments = "<mrk mtype=\"seg\" mid=\"1\">Zweite</mrk> <mrk mtype=\"seg\" mid=\"2\">Geschichte</mrk>";
  const std::vector<Mistake> mistakes = {
      {"moved markers", Version::V12, "d0s0p1", "<x id=\"3\"/>Seite <x id=\"1\"/> von<x id=\"2\"/>x", kAllMerged,
       "0 failed", {"r1", "A:Seite ", "s1", "A: von", "A:\x11", "A:x"}},
      {"marker made paired", Version::V12, "d0s0p1", "<g id=\"1\">Seite</g> von<x id=\"2\"/><x id=\"3\"/>x", kSomeKept,
       "is a standalone code in the source and a paired one in the target", page},
      {"paired code split across XLIFF 1.2 segments", Version::V12, "d0s1p1",
       "<mrk mtype=\"seg\" mid=\"1\">A <bx id=\"1\" rid=\"7\"/>B</mrk> <mrk mtype=\"seg\" mid=\"2\">b<ex id=\"5\" "
       "rid=\"7\"/> C <g id=\"2\">D</g> E</mrk>",
       kAllMerged, "0 failed", {"A:A ", "B:B b", "A: C ", "B:D", "A: E"}},
      {"XLIFF 1.2 bx and ex linked by id", Version::V12, "d0s1p1", "A <bx id=\"1\"/>B<ex id=\"1\"/> C <g id=\"2\">D</g> E",
       kAllMerged, "0 failed", {"A:A ", "B:B", "A: C ", "B:D", "A: E"}},
      {"XLIFF 1.2 ex of another bx", Version::V12, "d0s1p1",
       "A <bx id=\"1\" rid=\"1\"/>B<ex id=\"2\" rid=\"2\"/> C <g id=\"2\">D</g>", kSomeKept,
       "code 2 (Arial; bold; 12 pt) closes where it is not open", second},
      {"XLIFF 1.2 bx never ended", Version::V12, "d0s1p1", "A <bx id=\"1\" rid=\"1\"/>B C <g id=\"2\">D</g>", kSomeKept,
       "code 1 (Arial; bold; 12 pt) opens and never closes", second},
      {"range end before its start", Version::V12, "d0s0p4", "<x id=\"2\"/>Bereich <x id=\"1\"/>innen danach", kSomeKept,
       "code 2 (reference point end 7) comes before its start, code 1 (reference point start 7)",
       {"A:range ", "r1", "A:inside", "r1", "A: after"}},
      {"range moved", Version::V12, "d0s0p4", "Bereich <x id=\"1\"/>innen<x id=\"2\"/> danach", kAllMerged, "0 failed",
       {"A:Bereich ", "r1", "A:innen", "r1", "A: danach"}},
      {"codes in another order", Version::V21, "d0s1p1", "<pc id=\"2\">D</pc> C <pc id=\"1\">B</pc> A", kAllMerged,
       "0 failed", {"B:D", "A: C ", "B:B", "A: A"}},
      {"run in another code page kept", Version::V12, "d0s1p2", "eins<g id=\"1\">\xC2\xA0</g>zwei", kAllMerged,
       "0 failed", {"A/1200:eins", "A/1252:\xC2\xA0", "A/1200:zwei"}},
      {"run in another code page moved", Version::V21, "d0s1p2", "<pc id=\"1\">\xC2\xA0</pc>eins zwei", kAllMerged,
       "0 failed", {"A/1252:\xC2\xA0", "A/1200:eins zwei"}},
      {"term marked in XLIFF 1.2", Version::V12, "d0s0p0", "<mrk mtype=\"term\">Hal</mrk>lo <g id=\"1\">fett</g> Welt", kAllMerged,
       "0 failed", {"A:Hallo ", "B:fett", "A: Welt"}},
      {"term marked in XLIFF 2.1", Version::V21, "d0s0p0", "<mrk id=\"m\" type=\"term\">Hal</mrk>lo <pc id=\"1\">fett</pc> Welt",
       kAllMerged, "0 failed", {"A:Hallo ", "B:fett", "A: Welt"}},
      {"paragraph break", Version::V12, "d0s0p0", "Hallo&#13;<g id=\"1\">fett</g>", kSomeKept,
       "the target holds a paragraph break (U+000D)", hello},
      {"NUL", Version::V21, "d0s0p0", "Hallo<cp hex=\"0\"/><pc id=\"1\">fett</pc>", kSomeKept, "the target holds U+0000",
       hello},
      {"unknown inline element", Version::V12, "d0s0p0", "Hallo <bpt id=\"5\">[</bpt>Welt", kSomeKept,
       "it holds the element <bpt>", hello},
      {"state new", Version::V12, "d0s1p0", "Zweite", kSomeKept,
       "unit d0s1p0 (story 2, paragraph 1): kept its source: its target is in state \"new\"", {"A:Second story"},
       "target", {"<target>Zweite", "<target state=\"new\">Zweite"}},
      {"XLIFF 1.2 segments joined", Version::V12, "d0s1p0", segments, kAllMerged, "0 failed", {"A:Zweite Geschichte"},
       "target", {"<target><mrk", "<seg-source>" + segments + "</seg-source><target><mrk"}},
      {"paired code split across XLIFF 2.1 segments", Version::V21, "d0s1p1",
       "<source>a <sc id=\"1\"/>b</source><target>A <sc id=\"1\"/>B</target></segment><segment><source><ec "
       "startRef=\"1\"/> c <pc id=\"2\">d</pc> e</source><target><ec startRef=\"1\"/> C <pc id=\"2\">D</pc> E</target>",
       kAllMerged, "0 failed", {"A:A ", "B:B", "A: C ", "B:D", "A: E"}, "segment"},
  };
  for (const Mistake& m : mistakes) {
    SCOPED_TRACE(m.name);
    std::string xlf = Replace(Extracted(m.version, true), m.unit, m.tag, m.target);
    if (!m.also.first.empty()) xlf = ReplaceAll(xlf, m.also.first, m.also.second);
    std::string report;
    EXPECT_EQ(Merged(xlf, report), m.code) << report;
    EXPECT_NE(report.find(m.report), std::string::npos) << report;
    const dwx_long story = m.unit[3] - '0', paragraph = m.unit[5] - '0';
    EXPECT_EQ(RunsOf(m_out, story, paragraph), m.runs);
    const dwx_long other = m.unit == "d0s1p0" ? 1 : 0;  // nothing else changed
    EXPECT_EQ(RunsOf(m_out, 1, other), RunsOf(m_dwq, 1, other));
  }
}

TEST_F(XliffTest, UnusableInputIsRefusedWholeAndLeavesNoOutput) {
  const std::string copy = Extracted(Version::V12, true);
  const std::string head = "<?xml version=\"1.0\"?>\n";
  std::string deep;
  for (int i = 0; i < 1100; ++i) deep = "<g id=\"1\">" + deep + "</g>";
  const std::pair<std::string, const char*> cases[] = {
      {ReplaceAll(copy, "<body>", "<body><<"), "line 4, column 10: not well-formed (invalid token)"},
      {head + "<!DOCTYPE xliff SYSTEM \"http://example.com/x.dtd\">" + copy.substr(copy.find("<xliff")),
       "document type declaration (DOCTYPE); no DTD is read"},
      {ReplaceAll(copy, "Second story</target>", "&nbsp;</target>"), "undefined entity"},
      {ReplaceAll(copy, "version=\"1.2\"", "version=\"3.0\""), "unknown XLIFF version \"3.0\""},
      {head + "<html/>", "not an XLIFF file"},
      {ReplaceAll(copy, "kesto:book=", "kesto:other="), "does not name the exchange file"},
      {Replace(copy, "d0s1p0", "target", deep), "elements nest deeper than 1024 levels"},
  };
  for (const auto& [xlf, reason] : cases) {
    SCOPED_TRACE(reason);
    std::string report;
    EXPECT_EQ(Merged(xlf, report), kUnusable) << report;
    EXPECT_NE(report.find(reason), std::string::npos) << report;
    EXPECT_FALSE(std::filesystem::exists(m_out));
    for (const auto& entry : std::filesystem::directory_iterator(m_dir.Path()))
      EXPECT_EQ(entry.path().filename().string().find(".tmp"), std::string::npos) << entry.path();
  }
}

TEST_F(XliffTest, AWriteProtectedTargetIsNeverReplaced) {
  const std::string copy = Extracted(Version::V12, true);
  WriteFile(m_out, "kept");
  ASSERT_EQ(::chmod(m_out.c_str(), 0444), 0);
  std::string report;
  EXPECT_EQ(Merged(copy, report), kUnusable);
  EXPECT_NE(report.find("cannot write " + m_out), std::string::npos) << report;
  EXPECT_EQ(ReadFile(m_out), "kept");
  ExtractOptions options;
  std::ostringstream out;
  EXPECT_EQ(Extract(m_dwq, m_out, options, out), kUnusable);
  EXPECT_EQ(ReadFile(m_out), "kept");
}

int Program(const std::string& arguments) {
  const int status = std::system(("'" KESTO_BINARY_DIR "/Container/Xliff/kesto-xliff' " + arguments + " >/dev/null 2>&1").c_str());
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

TEST_F(XliffTest, TheProgramNamesItsOutputsAndAnswersExitCodesAScriptCanTrust) {
  EXPECT_EQ(Program("--help"), kAllMerged);
  for (const std::string& bad : std::vector<std::string>{"", "extract", "extract '" + m_dwq + "' --xliff 3.0", "merge '" + m_dwq + "'",
                                "translate '" + m_dwq + "'"})
    EXPECT_EQ(Program(bad), kUnusable) << bad;
  // Beside the exchange file: DOC.xlf, then DOC-translated.dwq.
  EXPECT_EQ(Program("extract '" + m_dwq + "' --xliff 2.1 --source-language en-US --target-language fr"), kAllMerged);
  EXPECT_NE(ReadFile(m_dir / "doc.xlf").find("srcLang=\"en-US\" trgLang=\"fr\""), std::string::npos);
  EXPECT_EQ(Program("merge '" + m_dwq + "' '" + (m_dir / "doc.xlf") + "'"), kSomeKept);
  EXPECT_TRUE(std::filesystem::exists(m_dir / "doc-translated.dwq"));
  // An extraction never replaces the exchange file it reads.
  EXPECT_EQ(Program("extract '" + m_dwq + "' -o '" + m_dwq + "'"), kUnusable);
  EXPECT_EQ(RunsOf(m_dwq, 1, 0), std::vector<std::string>{"A:Second story"});
}

}  // namespace

// A bridge between an exchange container (".dwq") and XLIFF, the file that translation tools
// read and write: extraction gives a translator every paragraph that has text, the merge puts
// the translation back into a copy of the container. The container is read and written only
// through the exchange library; no host takes part.
//
// What the XLIFF holds (XLIFF 1.2 and XLIFF 2.1 carry the same mapping):
//
//   <file>     one per document of the Book, in Book order. original = the container's file
//              name; kesto:book (namespace urn:kesto:xliff:1) = the container's fingerprint,
//              "dwq:" + its size in bytes + ":" + CRC-32 + ":" + Adler-32 of its bytes (hex), so
//              that any other version of the file is told apart; kesto:document = the
//              document's index. XLIFF 2.1: id = "d" + document index.
//   <group>    one per story that has a unit: id "d<D>s<S>", resname (XLIFF 1.2) / name
//              (XLIFF 2.1) "document D+1, story S+1".
//   unit       XLIFF 1.2 <trans-unit>, XLIFF 2.1 <unit> with one <segment>: one per paragraph
//              that has text (a character other than white space), xml:space="preserve"; id
//              "d<D>s<S>p<P>" from the element indices, so two extractions of one container give
//              the same ids; resname / name "story S+1, paragraph P+1". Paragraphs without text
//              have no unit and are carried over unchanged.
//   codes      numbered "1", "2", ... in the order they open in the source, unique in the unit.
//     paired:     XLIFF 1.2 <g>, XLIFF 2.1 <pc>: a stretch of runs whose format is not the
//                 paragraph's main one (the format that holds the most text). A run's format is
//                 all its attributes, "codepage" included (the import reads a run's characters
//                 by its code page: a font with the high flag holds its spaces as U+00A0 in runs
//                 of their own), and its style reference. equiv-text (XLIFF 1.2) / dispStart
//                 (XLIFF 2.1) reads, for instance, "Helvetica; bold italic; 12 pt", and names a
//                 code page or typeface code page that is not the main one's ("...; code page
//                 1252"). A paragraph in one format has no paired code.
//     standalone: XLIFF 1.2 <x clone="no">, XLIFF 2.1 <ph canCopy="no" canDelete="no">: one per
//                 special character, reference point and placeholder record, one per run of
//                 8-bit or wide multibyte text (kept as they are), and one per character that
//                 XML 1.0 cannot carry (controls other than tab, LF and CR, U+FFFE, U+FFFF, a
//                 lone surrogate). equiv-text / disp names it: "page number (Curr)", "reference
//                 point start 12", "placeholder 3", "U+0013". What a code stands for is taken
//                 from the container at the merge, never from the XLIFF.
//
// The merge matches units by id. A unit whose target is missing, empty (no text where the
// source has some) or in an untranslated state (XLIFF 1.2 state "new" or "needs-translation",
// XLIFF 2.1 state "initial" written out) keeps its source. A translated unit rebuilds its
// paragraph's runs: text inside a paired code copies the run record (attributes, formatting
// sample, style reference) of that code's format, text outside codes copies the paragraph's main
// run, a standalone code brings back its own run record; a target equal to its source leaves the
// paragraph as it was. A paired code may move or go (its text then takes the format around it: a
// warning); a standalone code removed or doubled, a code the source lacks, codes that cross
// (XLIFF 2.1 sc/ec, XLIFF 1.2 bx/ex), the end of a marked range placed before its start (the
// import would drop it), a paragraph break (U+000D) or NUL in the target that its source lacks,
// or a source that is not the container's paragraph fail the unit, which keeps its source. An
// XLIFF 2.1 segment's state counts only when it is written out: a target without state is
// translated (--copy-source writes none). Units of other ids are listed and left out; a unit the
// XLIFF lacks keeps its source. Segments (XLIFF 2.1 <segment> and <ignorable>, XLIFF 1.2
// <mrk mtype="seg">) are joined in order. A paired code may also come as a start and an end,
// which is how a tool writes one that crosses another or a segment's end: XLIFF 2.1 <sc>/<ec>
// (startRef), XLIFF 1.2 <bx>/<ex> (the <ex> ends the <bx> of its rid, else of its id); the code
// is the start's id.
#pragma once

#include <cstdint>
#include <iosfwd>
#include <string>

namespace kesto::xliff {

enum class Version { V12, V21 };

// Exit codes of the program, which scripts rely on.
enum ExitCode : int {
  kAllMerged = 0,      // every unit was extracted or merged
  kSomeKept = 1,       // some units kept their source text or failed; each is reported
  kUnusable = 2,       // unusable input or arguments; no output was written
};

// Characters a story may hold; no length or count is taken beyond it.
constexpr uint32_t kMaxStoryCharacters = 64u * 1024u * 1024u;

struct ExtractOptions {
  Version version = Version::V12;
  std::string sourceLanguage = "en";
  std::string targetLanguage;  // none when empty
  // Every unit gets a target that copies its source, with no state.
  bool copySource = false;
};

// The fingerprint of the container at path as the XLIFF's kesto:book holds it. Raises
// std::runtime_error when the file cannot be read.
std::string Fingerprint(const std::string& path);

// Writes the XLIFF of the container `dwq` to `xlf` (a private temporary, synced, renamed into
// place). Reports on `report`; answers an exit code.
int Extract(const std::string& dwq, const std::string& xlf, const ExtractOptions& options, std::ostream& report);

// Writes to `out` the container `dwq` with the translation of `xlf` merged. Reports each unit
// that kept its source, failed or warned, then the counts, on `report`; answers an exit code.
int Merge(const std::string& dwq, const std::string& xlf, const std::string& out, std::ostream& report);

}  // namespace kesto::xliff

// Structural mutations of a translated Book, as a damaged or careless translation tool could leave
// it: element records renumbered (negative, beyond the end, twice), repeated, removed and swapped;
// run content of another kind; run records repeated, removed, swapped and cut at and inside a
// record; streams cut short or of an odd length; values that do not read whole. Free of
// GoogleTest: a fuzz target may drive the same mutations from its input.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "examples/damage/DamagedContainer.h"

namespace kesto_test {

enum class MutationClass {
    kIndexNegative,      // an element record numbered below 0
    kIndexBeyond,        // an element record numbered past the last one
    kIndexTwice,         // an element record numbered like a sibling
    kEntryRepeated,      // an element listed once more as the next element, its folder shared
    kElementCopied,      // an element copied in front of a sibling, the siblings behind moved back
    kEntryRemoved,       // an element record taken out of its table
    kEntriesSwapped,     // two sibling elements trade their numbers
    kRunKindChanged,     // a run's content item renamed to another kind, or its stream's type code changed
    kRecordValue,        // a field of a run record set to an id the Book does not hold, or another one
    kRecordRepeated,     // a run record, or an attribute record, written twice
    kRecordRemoved,      // a run record, or an attribute record, taken out of every field
    kRecordsSwapped,     // two records of a bundle trade places
    kCutAtRecord,        // every field of a bundle cut at a record boundary
    kCutInsideRecord,    // one field of a bundle cut inside a value or at another record than the rest
    kTextOddLength,      // a text stream one byte shorter or longer, or cut inside its type code
    kStreamCut,          // a folder table or a one-value stream cut short
    kValueNotWhole,      // an attribute value, a "uniqID" first, that does not read whole
    kStringRemoved,      // a string the Book's records name taken out of its string table
};

constexpr int kMutationClasses = static_cast<int>(MutationClass::kStringRemoved) + 1;

const char* ClassName(MutationClass kind);

// A source of choices: a number below `bound` (bound > 0).
using Pick = std::function<uint32_t(uint32_t bound)>;

// The records of a Book's stories, found once; each mutation works on a copy of the streams.
class BookMutator {
public:
    explicit BookMutator(const kesto_damage::CodeStreams& code);

    // Applies one mutation of the class to `code` (a copy of the Book the mutator was made
    // from) and answers what it did, in words that repeat it; empty when there was nothing of
    // that kind to mutate.
    std::string Apply(MutationClass kind, kesto_damage::CodeStreams& code, const Pick& pick) const;

    size_t Elements() const { return m_elements.size(); }
    size_t Bundles() const { return m_bundles.size(); }

private:
    struct Element {
        std::string table;  // the prefix of the folder whose table lists it
        size_t position;    // its entry there
        std::string name;   // "Story[]/", "Paragraph[]/", "TextRun[]/"
        std::string where;  // "story 2 paragraph 0 run 3"
        // It holds a marker (a record bundle): a copy of it places the marker twice, and without it
        // the story leaves the marker out.
        bool markers = false;
    };
    struct Bundle {
        std::string prefix;
        std::vector<std::string> fields;  // the field streams, 32-bit values after the type code
        std::string where;
        // Run content that stands for markers: placeholders, reference points, page numbers. A
        // tabulator or a break is a character, which a translation may add or leave out.
        bool markers = false;
        bool characters = false;
    };
    struct Attribute {
        std::string bundle;  // the "Attrs{}" bundle
        size_t record;
        std::u16string name, value;
        std::string where;
    };

    void Walk(const kesto_damage::CodeStreams& code, const std::string& prefix, const std::string& where);

    std::string ChangeIndex(MutationClass kind, kesto_damage::CodeStreams& code, const Pick& pick) const;
    std::string ChangeEntries(MutationClass kind, kesto_damage::CodeStreams& code, const Pick& pick) const;
    std::string ChangeRunKind(kesto_damage::CodeStreams& code, const Pick& pick) const;
    std::string ChangeRecords(MutationClass kind, kesto_damage::CodeStreams& code, const Pick& pick) const;
    std::string ChangeText(kesto_damage::CodeStreams& code, const Pick& pick) const;
    std::string CutStream(kesto_damage::CodeStreams& code, const Pick& pick) const;
    std::string ChangeValue(kesto_damage::CodeStreams& code, const Pick& pick) const;
    std::string RemoveString(kesto_damage::CodeStreams& code, const Pick& pick) const;

    std::vector<Element> m_elements;
    std::vector<size_t> m_markerElements;
    std::vector<Bundle> m_bundles;      // run records and attribute records below the stories
    std::vector<std::string> m_texts;   // the text streams of runs
    std::vector<std::string> m_where;   // of each text stream
    std::vector<std::string> m_contents;  // the content items of runs, as flattened names of their folder entry or stream
    std::vector<std::string> m_cuttable;  // folder tables and one-value streams below the stories
    std::vector<Attribute> m_attributes;  // those whose value reads as a number
    std::string m_strings;                // the prefix of "StringsMap{}"
    std::vector<int32_t> m_namedIds;      // string ids that records below the stories name
};

} // namespace kesto_test

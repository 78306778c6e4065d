// The import side of the exchange bridge: a read-only view of an exchange Book (documents,
// stories, paragraphs and runs, each with named attributes) over the document model's readers,
// and the host document the export stored in the container.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "Container/Model/Records.h"
#include "Plugin/Exchange/KSStreams.h"
#include "Plugin/Shell/RefObject.h"
#include "platform/host/HostServices.h"

namespace KS_DWX::Import {

// Run records are handed out as their fields: 32-bit little-endian integers, no padding.
static_assert(sizeof(CF_SpecialChar) == 8, "special-character record: two 32-bit fields");
static_assert(sizeof(CF_RefPoint) == 12, "reference-point record: three 32-bit fields");
static_assert(sizeof(CF_PlaceHolder) == 8, "placeholder record: two 32-bit fields");

// The attributes of an object, read from its "Attrs{}" on first use.
struct ICommon : RefObject {
    virtual void Reserved() {}
    // The value of the attribute; null when absent. Valid while the object lives.
    virtual const char16_t* GetText(const char16_t* name) = 0;
    // The number of the attribute ("0x" + hexadecimal or decimal, kept to 32 bits); false, and
    // `value` untouched, when it is absent or holds no number.
    virtual bool GetNumber(const char16_t* name, int32_t& value) = 0;
    // The id of `name` in the Book's string table, -1 when the table lacks it; `kind` is not
    // used. Reference-point records name their kind ("point", "start", "end") by such ids.
    virtual int32_t GetTable(const char16_t* name, int32_t kind) = 0;
    // Whether the Book's string table holds `id`: run records name their strings by id.
    virtual bool HasString(int32_t id) { return id >= 0; }
};

// The children of an object by index.
template <class Parent, class Child>
struct TCommon : virtual ICommon {
    // Null after the last child.
    virtual RefPtr<Child> GetChild(int32_t index) = 0;
    // The indices of the children the stored set lists, ascending, each as often as it is listed.
    // Children are read 0, 1, ... up to the first missing one; an index listed behind it, a
    // negative one or one listed twice is a child the reading would lose.
    virtual std::vector<int32_t> StoredChildren() { return {}; }
    // The (name, index) pairs of the records the stored set lists under a name that is neither
    // its children's nor its attributes': what a reading would pass over without a word.
    virtual std::vector<std::pair<std::string, int32_t>> UnknownRecords() { return {}; }
    // Whether the stored set lists no record at all, not even its attributes: an export writes
    // one for each paragraph, a table cut to nothing leaves none.
    virtual bool ListsNothing() { return false; }
};

// Kinds of run content.
enum RunKind : int32_t {
    kRunNone = 0,
    kRunUnicodes = 1,
    kRunMultibytes = 2,
    kRunWideMultibytes = 3,
    kRunSpecialChars = 4,
    kRunRefPoints = 5,
    kRunPlaceHolders = 6,
};

struct IRun : virtual ICommon {
    // Delivers the next unit of the content into the buffer and answers its size in bytes: 2 for
    // a character of kinds 1 and 3, 1 for kind 2, the record's fields for kinds 4 (8), 5 (12) and
    // 6 (8). 0 at the end, for a run without content, and when `size` cannot hold one unit.
    virtual uint32_t Read(void* buffer, uint32_t size) = 0;
    virtual int32_t Kind() = 0;
};

struct IPara : TCommon<IPara, IRun> {
    RefPtr<IRun> Run(int32_t index) { return GetChild(index); }
};

struct IStory : TCommon<IStory, IPara> {
    RefPtr<IPara> Paragraph(int32_t index) { return GetChild(index); }
};

struct IDoc : TCommon<IDoc, IStory> {
    RefPtr<IStory> Story(int32_t index) { return GetChild(index); }
};

struct IBook : TCommon<IBook, IDoc> {
    RefPtr<IDoc> Document(int32_t index) { return GetChild(index); }
    // Inflates the stored host document `id` into `out`, block by block. A missing document,
    // damaged data or a document larger than the host opens raise the container library's error.
    virtual void LoadQXP(int32_t id, KSOutStream* out) = 0;
};

// The Book of the container at `path`; null when the file is a structured storage but not an
// exchange container with a stored document area, and then, when `lacking` is given, what it
// lacks in words a user can act on. Other failures are raised.
RefPtr<IBook> OpenImportBook(const std::string& path, std::string* lacking = nullptr);
// The same for a host file spec; every failure gives a null Book.
RefPtr<IBook> OpenImportBookFromSpec(const HostFileSpec& spec);

} // namespace KS_DWX::Import

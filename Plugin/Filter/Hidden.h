// Hidden content of stories: runs whose paragraph-run kind is not 0 and whose characters are
// not ordinary text, some of them in pairs of an opening and a closing paren around other
// text. A HiddenItem keys the hidden run under a story cursor (both parens of a pair get the
// same key); a HiddenTable numbers the distinct items of a document and keeps the link id of
// the story in which each was first seen.
#pragma once

#include <cstdint>
#include <deque>
#include <map>
#include <string>

class QStoryCursor;

// The partner's opcode for a closing paren (type bits 0x20), else the opcode itself.
uint32_t OpenParenOpcode(uint32_t opcode);

// True for the module's own tag runs (kind 0x414B42xx).
inline bool IsModuleTagKind(uint32_t kind)
{
    return (kind & 0xFFFFFF00u) == 0x414B4200u;
}

// The paragraph-run kind of a unique-id marker.
constexpr uint32_t kUniqueIdRunKind = 0x88;

// True when the paragraph run just passed, of kind `kind`, is a unique-id marker and the cursor
// stands on a paragraph run behind it that is not one: the marker opens that run, and the
// export writes both as one paragraph.
bool OpensNextParagraphRun(uint32_t kind, const QStoryCursor& cursor);

struct HiddenKey {
    std::string text1;
    std::string text2;

    bool operator<(const HiddenKey& other) const
    {
        return text1 != other.text1 ? text1 < other.text1 : text2 < other.text2;
    }
};

struct HiddenItem {
    HiddenItem() = default;
    // The item of the hidden run under the cursor; the cursor ends past that run's text.
    explicit HiddenItem(QStoryCursor& cursor);

    bool operator<(const HiddenItem& other) const;

    uint32_t mOpcode = 0;  // 0: the run gives no item
    uint32_t value = 0;    // the host's value of an item of kind 1
    HiddenKey key;
};

// 1 for a closing paren, 0 for an opening one, 1000 for any other item.
int32_t ParenDirection(const HiddenItem& item);

// Steps the cursor until it stands at position or has no more runs; answers whether it has more.
bool AdvanceCursorTo(QStoryCursor& cursor, int32_t position);
// The text of the hidden run at the cursor (its characters after the marker); the cursor then
// stands at the end of that run.
std::string RunTextAtCursor(QStoryCursor& cursor);
// Steps over the run at the cursor; the item gives nothing.
void SkipRunAtCursor(HiddenItem& item, QStoryCursor& cursor);

// An item looked up, with the link id of the story where it was first seen (-1 for none).
struct HiddenRecord {
    HiddenItem item;
    int32_t id = -1;
};

class HiddenTable {
public:
    // Enters the item at the cursor under linkId; false when the run gives no item or an equal
    // one is in already.
    bool Add(QStoryCursor& cursor, int32_t linkId);
    // The item at the cursor and its link id (-1 when it gives no item or is not entered).
    HiddenRecord Lookup(QStoryCursor& cursor) const;

    std::size_t Count() const { return mEntries.size(); }

private:
    std::deque<int32_t> mEntries;            // item id -> link id
    std::map<int32_t, int32_t> mByLink;      // link id -> first item id
    std::map<HiddenItem, int32_t> mByItem;   // item -> item id
};

#include "Plugin/Filter/Hidden.h"

#include <ostream>
#include <tuple>

#include "Foundation/Log.h"
#include "Plugin/Mixer/HostCalls.h"
#include "Plugin/QAPI/QStory.h"
#include "Plugin/Shell/BreakPoint.h"
#include "Plugin/Shell/HostSuites.h"
#include "platform/host/documents/XTTextSuites.h"

namespace {

constexpr uint32_t kTypeBits = 0x60;
constexpr uint32_t kOpening = 0x40;
constexpr uint32_t kClosing = 0x20;
constexpr uint32_t kAnchoredItem = 1;
// The mark that opens the hidden-content diagnostics: byte 0xA5 of the Windows code page they
// were written in, the yen sign, in the UTF-8 the general log is written in.
constexpr const char* kYenSign = "\u00A5";

// The text of the hidden run whose marker is at offset: its characters in the story's private
// copy from offset + 1 to the run's end.
std::string RunTextAt(QStoryText& text, int32_t offset)
{
    int32_t end = offset + 1;
    CallHost<XHJ_RunEnd>(text.GetTextHandle(true), offset + 1, 1, 8, &end);
    const int32_t length = static_cast<int32_t>(text.mInitLen);
    if (end > length)
        end = length;
    if (end <= offset + 1)
        return std::string();
    const uint8_t* copy = text.Copy();
    return std::string(reinterpret_cast<const char*>(copy) + offset + 1,
                       static_cast<std::size_t>(end - offset - 1));
}

// The end of the hidden run at offset.
int32_t RunEndAt(QStoryText& text, int32_t offset)
{
    int32_t end = offset + 1;
    CallHost<XHJ_RunEnd>(text.GetTextHandle(true), offset + 1, 1, 8, &end);
    return end < offset + 1 ? offset + 1 : end;
}

} // namespace

bool OpensNextParagraphRun(uint32_t kind, const QStoryCursor& cursor)
{
    return kind == kUniqueIdRunKind && cursor.HasMore() && cursor.GetRunKind() != kUniqueIdRunKind;
}

uint32_t OpenParenOpcode(uint32_t opcode)
{
    return (opcode & kTypeBits) == kClosing ? opcode ^ kTypeBits : opcode;
}

int32_t ParenDirection(const HiddenItem& item)
{
    switch (item.mOpcode & kTypeBits) {
    case kClosing:
        return 1;
    case kOpening:
        return 0;
    default:
        return 1000;
    }
}

bool AdvanceCursorTo(QStoryCursor& cursor, int32_t position)
{
    while (cursor.HasMore() && cursor.GetPosition() != position) {
        // A run that ends beyond the position would step over it for ever otherwise.
        if (cursor.GetPosition() > position)
            break;
        cursor.Next();
    }
    return cursor.HasMore();
}

std::string RunTextAtCursor(QStoryCursor& cursor)
{
    QStoryText& text = cursor.GetText();
    const int32_t offset = cursor.GetPosition();
    std::string runText = RunTextAt(text, offset);
    AdvanceCursorTo(cursor, RunEndAt(text, offset));
    return runText;
}

void SkipRunAtCursor(HiddenItem& item, QStoryCursor& cursor)
{
    RunTextAtCursor(cursor);
    item.mOpcode = 0;
}

HiddenItem::HiddenItem(QStoryCursor& cursor)
{
    mOpcode = value = cursor.GetRunKind();
    QStoryText& text = cursor.GetText();
    const int32_t position = cursor.GetPosition();

    if (IsModuleTagKind(mOpcode)) {
        SkipRunAtCursor(*this, cursor);
        return;
    }
    if (mOpcode == kAnchoredItem) {
        value = 0;
        CallHost<XHJ_ItemValue>(text.GetTextHandle(true), position, static_cast<XTHandle>(text.GetBox()), &value);
    } else {
        value = 0;
        if ((mOpcode & 0xE0u) > 0x80u)
            GeneralLogStream() << std::endl
                               << "non-usual optype=" << std::hex << (mOpcode & 0xE0u) << "  opcode=" << mOpcode
                               << std::dec << std::endl;
    }

    if ((OpenParenOpcode(mOpcode) & kTypeBits) != kOpening) {
        key.text1 = RunTextAtCursor(cursor);
        return;
    }

    const int32_t length = static_cast<int32_t>(text.mInitLen);
    const bool closing = (mOpcode & kTypeBits) == kClosing;
    int32_t partner = closing ? position : position + 1;
    const bool found = FindNestedMarker(text.GetTextHandle(true), partner, closing ? 0 : 1, mOpcode ^ kTypeBits, 0,
                                        closing ? 0 : length);
    if (!found) {
        GeneralLogStream() << kYenSign << "Unable to find paren:" << "  mOpcode=" << std::hex << mOpcode << std::dec
                           << "  myOffset=" << position << "  story->mTextLen=" << length << std::endl;
        BreakPoint_KS(nullptr);
        SkipRunAtCursor(*this, cursor);
        return;
    }
    const int32_t openOffset = closing ? partner : position;
    const int32_t closeOffset = closing ? position : partner;
    if (partner == -1) {
        GeneralLogStream() << kYenSign << "opfound=" << 1 << "  mOpcode=" << std::hex << mOpcode << std::dec
                           << "  srchStart=" << -1 << "  openOffset=" << openOffset
                           << "  closeOffset=" << closeOffset << "  myOffset=" << position
                           << "  story->mTextLen=" << length << std::endl;
        BreakPoint_KS(__FILE__);
    }
    if (openOffset >= 0)
        key.text1 = RunTextAt(text, openOffset);
    if (closeOffset >= 0)
        key.text2 = RunTextAt(text, closeOffset);
    AdvanceCursorTo(cursor, RunEndAt(text, position));
}

bool HiddenItem::operator<(const HiddenItem& other) const
{
    const auto lhs = std::make_tuple(static_cast<int32_t>(OpenParenOpcode(mOpcode)), static_cast<int32_t>(value));
    const auto rhs =
        std::make_tuple(static_cast<int32_t>(OpenParenOpcode(other.mOpcode)), static_cast<int32_t>(other.value));
    if (lhs != rhs)
        return lhs < rhs;
    return key < other.key;
}

bool HiddenTable::Add(QStoryCursor& cursor, int32_t linkId)
{
    const HiddenItem item(cursor);
    if (item.mOpcode == 0 || mByItem.count(item))
        return false;
    const int32_t itemId = static_cast<int32_t>(mEntries.size());
    mEntries.push_back(linkId);
    mByLink.emplace(linkId, itemId);
    mByItem.emplace(item, itemId);
    return true;
}

HiddenRecord HiddenTable::Lookup(QStoryCursor& cursor) const
{
    HiddenRecord record;
    record.item = HiddenItem(cursor);
    if (record.item.mOpcode == 0)
        return record;
    const auto found = mByItem.find(record.item);
    if (found != mByItem.end())
        record.id = mEntries[static_cast<std::size_t>(found->second)];
    return record;
}

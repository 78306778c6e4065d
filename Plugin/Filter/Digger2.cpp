#include "Plugin/Filter/Digger2.h"

#include <cstdio>
#include <cstring>
#include <vector>

#include "Foundation/Settings.h"
#include "Foundation/TraceHooks.h"
#include "Plugin/Filter/Attrib_KS.h"
#include "Plugin/Filter/CodePage_KS.h"
#include "Plugin/Filter/Filter_KS.h"
#include "Plugin/Filter/KestoBox.h"
#include "Plugin/Mixer/HostCalls.h"
#include "Plugin/Shell/HostSuites.h"
#include "Plugin/Shell/KestoException.h"

using KS_DWX::Import::IRun;

namespace {

constexpr uint16_t kStackCorrupt = 1003;
constexpr uint16_t kDwxError = 1004;
// The module's tag on the first character of a marker while it is copied.
constexpr int32_t kTagAttribute = -111;
constexpr int32_t kMarkerTag = 0x00414B42;
constexpr uint32_t kUniqueIdOpcode = 0x88;

// What a refusal of the host means, as far as its answer tells.
std::string HostReason(int32_t result)
{
    switch (result) {
    case XT_ERR_STORY_TOO_LONG:
        return "the story would be longer than the " + std::to_string(XT_MAX_STORY_CHARACTERS) +
               " characters a document holds";
    case XT_ERR_STORY_LOCKED:
        return "the story is locked";
    case XT_ERR_SPLITS_RUN:
        return "the edit would cut a hidden or object run apart";
    case XT_ERR_PARAM:
        return "a handle, position or argument the host does not take";
    case XT_ERR_NOT_EMULATED:
        return "the host does not provide the call";
    default:
        return "the host gives no reason";
    }
}

// A story edit the host refused fails the story.
void CheckEdit(int32_t result, const std::string& call)
{
    if (result != XT_OK)
        throw KestoException(kDwxError, MsgString(HostRefusalText(result, call)));
}

std::string At(int32_t position) { return " at " + std::to_string(position); }

bool UseObsoleteCopyText()
{
    SettingsFile* settings = Settings.GetIf();
    return settings ? settings->GetUseObsoleteCopyText() : true;
}

// The named attributes of an exchange run as the character mapping reads them.
class RunAttributes final : public RunAttrReader {
public:
    explicit RunAttributes(IRun& run) : mRun(run) {}
    bool GetAttr(const std::u16string& name, std::u16string& value) const override
    {
        const char16_t* text = mRun.GetText(name.c_str());
        if (!text)
            return false;
        value = text;
        return true;
    }
    bool GetNumber(const std::u16string& name, int32_t& value) const override
    {
        return mRun.GetNumber(name.c_str(), value);
    }

private:
    IRun& mRun;
};

bool SameFormat(const XTCharFormat& a, const XTCharFormat& b)
{
    return a.font == b.font && a.high == b.high && a.face == b.face && a.size == b.size && a.kern == b.kern &&
           a.track == b.track && a.colour == b.colour && a.shift == b.shift && a.scriptLang == b.scriptLang &&
           a.tag == b.tag;
}

int32_t LittleEndian32(const uint8_t* bytes)
{
    return static_cast<int32_t>(uint32_t(bytes[0]) | uint32_t(bytes[1]) << 8 | uint32_t(bytes[2]) << 16 |
                                uint32_t(bytes[3]) << 24);
}

// The rows of the special-character table in their search order.
constexpr uint16_t kSpecialRowChars[] = {0x0B, 0x0C, 0x09, 0x1E, 0x02, 0x03, 0x01};

// The row that a special-character record names by the Book's string-table ids of the row's
// name and qualifier (-1 for none); null when no row matches.
const SpecialCharRow* SpecialRowOf(IRun& run, int32_t nameRef, int32_t qualifierRef)
{
    for (uint16_t hostChar : kSpecialRowChars) {
        const SpecialCharRow* row = FindSpecialCharRow(hostChar);
        if (!row)
            continue;
        const std::u16string name(row->name, row->name + std::strlen(row->name));
        const int32_t nameId = run.GetTable(name.c_str(), 0);
        if (nameId < 0 || nameId != nameRef)
            continue;
        int32_t qualifierId = -1;
        if (row->qualifier) {
            const std::u16string qualifier(row->qualifier, row->qualifier + std::strlen(row->qualifier));
            qualifierId = run.GetTable(qualifier.c_str(), 0);
            if (qualifierId < 0)
                continue;
        }
        if (qualifierId == qualifierRef)
            return row;
    }
    return nullptr;
}

} // namespace

std::string HostRefusalText(int32_t result, const std::string& call)
{
    return HostReason(result) + " (the host answered " + std::to_string(result) + " to " + call + ")";
}

Digger::Digger(XTHandle box, Mapper& owner, XAttribs& converter, const FixedStory& segments, bool styleTest)
    : mOwner(owner), mConverter(converter), mCutter(box, true), mInserted(box, true), mStory(box), mSegments(segments),
      mStyleTest(styleTest)
{
    mTextEnd = static_cast<int32_t>(mStory.GetLength(true));
    mConverter.NoteCharacterSets(mStory.GetTextHandle(true));
    for (const StorySegment& segment : mSegments) {
        if (segment.id < 0)
            continue;
        const Key key(segment.id, segment.direction);
        auto found = mPositions.find(key);
        if (found != mPositions.end()) {
            ++found->second.pending;
            continue;
        }
        Position position;
        position.id = segment.id;
        position.direction = segment.direction;
        position.start = segment.start;
        position.end = segment.end;
        position.pending = 1;
        mPositions.emplace(key, position);
    }
}

int32_t Digger::CurrentPos() const
{
    return mShift + (mCurrent < mSegments.size() ? mSegments[mCurrent].start : mTextEnd);
}

int32_t Digger::Length()
{
    return static_cast<int32_t>(mStory.GetLength(true));
}

void Digger::Note(Position& position, int32_t at, bool placed)
{
    if (position.placement < 0 && position.start + mShift <= at)
        position.placement = mShift;
    if (placed)
        --position.pending;
}

Digger::Position& Digger::PositionOf(const StorySegment& segment)
{
    auto found = mPositions.find(Key(segment.id, segment.direction));
    if (found == mPositions.end())
        throw KestoException(kStackCorrupt, MsgString("Digger: no position for hidden id " + std::to_string(segment.id) +
                                                      " direction " + std::to_string(segment.direction)));
    return found->second;
}

bool Digger::EndsParagraph(const StorySegment& segment, bool markerParagraphs)
{
    const bool markerEnd = segment.end == segment.start && segment.direction == kMarkerEnd && !markerParagraphs;
    return segment.id == kBreakSegment && !markerEnd;
}

void Digger::Step(bool runEnd)
{
    while (mCurrent < mSegments.size()) {
        const StorySegment& segment = mSegments[mCurrent];
        if (EndsParagraph(segment) && (runEnd || segment.end > segment.start))
            break;
        if (segment.id == kBreakSegment) {
            ++mCurrent;
            continue;
        }
        if (segment.id >= 0) {
            auto found = mPositions.find(Key(segment.id, segment.direction));
            if (found != mPositions.end())
                Note(found->second, mShift + segment.start, false);
        }
        const int32_t next = mCurrent + 1 < mSegments.size() ? mSegments[mCurrent + 1].start : mTextEnd;
        mCutter.Add(mShift + segment.start, mShift + next);
        ++mCurrent;
    }
    // The break stays in the story.
    if (mCurrent < mSegments.size())
        ++mCurrent;
}

bool Digger::Seek(int32_t id, int32_t direction, bool retry)
{
    const Key key(id, direction);
    auto wanted = mPositions.find(key);
    if (wanted == mPositions.end())
        return false;
    for (;;) {
        // The end of a paragraph run without a break character holds no text: a marker is sought across it.
        while (mCurrent < mSegments.size() && mSegments[mCurrent].id == kBreakSegment &&
               mSegments[mCurrent].end == mSegments[mCurrent].start)
            ++mCurrent;
        if (mCurrent < mSegments.size() && Key(mSegments[mCurrent].id, mSegments[mCurrent].direction) == key) {
            Note(wanted->second, CurrentPos(), true);
            ++mCurrent;
            return true;
        }
        if (retry) {
            const int32_t from = CurrentPos();
            while (mCurrent < mSegments.size() &&
                   (mSegments[mCurrent].id == kTextSegment ||
                    (mSegments[mCurrent].id == kBreakSegment && mSegments[mCurrent].end == mSegments[mCurrent].start)))
                ++mCurrent;
            const int32_t to = CurrentPos();
            mCutter.Add(from, to);
            if (to > from) {
                retry = false;
                continue;
            }
        }
        if (mCurrent >= mSegments.size() || mSegments[mCurrent].id < 0)
            break;
        // Another marker in the way: one that still waits for its own place stops the search.
        Position& other = PositionOf(mSegments[mCurrent]);
        if (other.pending > 0)
            break;
        const int32_t from = CurrentPos();
        Note(other, from, false);
        ++mCurrent;
        mCutter.Add(from, CurrentPos());
        retry = true;
    }
    MoveMarker(wanted->second);
    return true;
}

std::vector<Digger::Position> Digger::MarkersMoved(const std::function<void()>& walk)
{
    std::vector<Position> moved;
    struct Restore {
        Digger& digger;
        const std::map<Key, Position> positions;
        const QStoryCutter cutter;
        const std::size_t current;
        const int32_t shift;
        ~Restore()
        {
            digger.mPositions = positions;
            digger.mCutter = cutter;
            digger.mCurrent = current;
            digger.mShift = shift;
            digger.mMoved = nullptr;
        }
    } restore{*this, mPositions, mCutter, mCurrent, mShift};
    mMoved = &moved;
    walk();
    return moved;
}

void Digger::MoveMarker(Position& position)
{
    if (mMoved) {
        // The space the copy is prepared with.
        ++mShift;
    } else {
        SetCurrentBox(mStory.GetBox());
        CheckEdit(CallHost<XTY_SetInsertionPoint>(CurrentPos()), "XTY_SetInsertionPoint" + At(CurrentPos()));
        InsertCarrier(CurrentPos(), u' ');
    }
    const int32_t cursor = CurrentPos();
    Note(position, cursor, true);
    const int32_t present = position.start + (position.placement >= 0 ? position.placement : mShift);
    const int32_t length = position.end - position.start;
    if (present == cursor || length <= 0)
        return;
    if (mMoved) {
        mMoved->push_back(position);
        mShift += length;
        return;
    }

    // The host keeps a hidden run whole, so the marker goes over in one copy; the tag marks
    // its first character on the way and is taken off the copy again.
    SetHostUpdate(0);
    Tag(present, present + 1, kMarkerTag);
    const int32_t growth = CopyMarker(present, length, cursor);
    Inserted(cursor, growth, false);
    // The old marker may stay (a second search can place it where it stands), so it loses the
    // tag as well as the copy.
    const int32_t old = present < cursor ? present : present + growth;
    Tag(old, old + 1, 0);
    Tag(cursor, cursor + growth, 0);
}

int32_t Digger::CopyMarker(int32_t present, int32_t length, int32_t cursor)
{
    const int32_t before = Length();
    const XTHandle box = mStory.GetBox();
    const std::string copy = " of the marker at " + std::to_string(present) + " to " + std::to_string(cursor);
    try {
        if (UseObsoleteCopyText()) {
            const XTHandle document = xt_getdocref();
            // This copy answers only whether it copied.
            if (CopyHostText(document, box, present, present + length, document, box, cursor) != 0)
                throw KestoException(kDwxError, MsgString("the host copied nothing (the host answered 0 to XTY_CopyBoxText" +
                                                          copy + ")"));
            BumpChangeCounter(0);
        } else {
            const XTHandle text = mStory.GetTextHandle(true);
            const int32_t result = CopyStoryText(text, present, present + length, text, cursor);
            CheckEdit(result < 0 ? result : XT_OK, "XTY_CopyText" + copy);
        }
        if (Length() <= before)
            throw KestoException(kDwxError,
                                 MsgString("the host copied nothing of the marker at " + std::to_string(present)));
    } catch (...) {
        // The old marker stays where it is, as it was.
        try {
            Tag(present, present + 1, 0);
        } catch (...) {
        }
        throw;
    }
    return Length() - before;
}

void Digger::Tag(int32_t start, int32_t end, int32_t value)
{
    CheckEdit(CallHost<XTY_SelectRange>(start, end), "XTY_SelectRange" + At(start));
    CheckEdit(SetTextAttribute(0, kTagAttribute, value), "XTY_SetAttribute of the tag" + At(start));
    BumpChangeCounter(0);
}

void Digger::Inserted(int32_t position, int32_t growth, bool carrier)
{
    if (growth <= 0)
        return;
    mShift += growth;
    mInserted.Add(position, position + growth);
    if (carrier)
        mCutter.Add(position, position + growth);
}

void Digger::Flush()
{
    while (mCurrent < mSegments.size())
        Step();
    mPositions.clear();
    // The old text goes in one removal per piece between the breaks and markers that stay. Each
    // piece is first copied to the end of the working box's story, which goes with the box when
    // the import ends: when the host refuses a step half-way, the pieces removed so far come back
    // from there, the last one first, and the story is again its old text with the translation
    // in front of it, which Withdraw takes out.
    const KestoBox* working = mOwner.PrivateBox();
    QStory holder(working ? working->box : 0);
    const int32_t heldFrom = static_cast<int32_t>(holder.GetLength(true));
    std::vector<int32_t> held;
    std::string call = "XTY_DeleteText of the old text";
    const auto hold = [&](int32_t start, int32_t end) {
        const int32_t at = static_cast<int32_t>(holder.GetLength(true));
        const int32_t copied = CopyStoryText(mStory.GetTextHandle(true), start, end, holder.GetTextHandle(true), at);
        if (copied < 0) {
            call = "XTY_CopyText of the old text" + At(start) + " to the working box";
            return copied;
        }
        held.push_back(at);
        return static_cast<int32_t>(XT_OK);
    };
    const int32_t result = holder.GetBox() > 0 ? mCutter.Apply(hold) : mCutter.Apply();
    const std::vector<std::pair<int32_t, int32_t>>& cut = mCutter.Applied();
    int32_t back = holder.GetBox() > 0 ? XT_OK : XT_ERR_NOT_EMULATED;
    for (std::size_t k = cut.size(); result != XT_OK && k-- > 0 && back == XT_OK;) {
        const int32_t copied = CopyStoryText(holder.GetTextHandle(true), held[k], held[k] + cut[k].second - cut[k].first,
                                             mStory.GetTextHandle(true), cut[k].first);
        back = copied < 0 ? copied : XT_OK;
    }
    // What the working box holds is of no use any more; a refused removal leaves it to the box's.
    if (!held.empty() && CallHost<XTY_DeleteText>(holder.GetTextHandle(true), heldFrom,
                                                  static_cast<int32_t>(holder.GetLength(true))) == XT_OK)
        BumpChangeCounter(0);
    // Old text cut and not put back: taking the translation out would not bring it back.
    mCut = result == XT_OK || (!cut.empty() && back != XT_OK);
    CheckEdit(result, mCut ? call + ", which stays in part beside the translation" : call);
}

int32_t Digger::Withdraw()
{
    return mCut ? XT_OK : mInserted.Apply();
}

void Digger::InsertCarrier(int32_t position, char16_t character)
{
    if (mStory.IsStale())
        mStory.Refresh();
    CheckEdit(SetTextAttribute(0, kTagAttribute, 0), "XTY_SetAttribute of the tag" + At(position));
    const int32_t before = Length();
    CheckEdit(InsertHostText(mStory.GetTextHandle(true), position, 1, &character, 0),
              "XTY_InsertText of a carrier character" + At(position));
    BumpChangeCounter(0);
    Inserted(position, Length() - before, true);
}

void Digger::WriteText(const std::u16string& chars, bool special)
{
    if (chars.empty())
        return;
    SetCurrentBox(mStory.GetBox());
    BumpChangeCounter(0);
    const int32_t before = Length(), position = CurrentPos();
    CheckEdit(InsertHostText(mStory.GetTextHandle(true), position, static_cast<int32_t>(chars.size()), chars.data(),
                             special ? 1 : 0),
              "XTY_InsertText of " + std::to_string(chars.size()) + " character(s)" + At(position));
    BumpChangeCounter(0);
    Inserted(position, Length() - before, false);
}

void Digger::InsertSpecialItem(uint32_t opcode)
{
    SetCurrentBox(mStory.GetBox());
    const int32_t before = Length(), position = CurrentPos();
    CheckEdit(CallHost<XHJ_InsertHidden>(mStory.GetTextHandle(true), position, opcode, 0, nullptr, 0),
              "XHJ_InsertHidden of special item " + std::to_string(opcode) + At(position));
    BumpChangeCounter(0);
    Inserted(position, Length() - before, false);
}

void Digger::InsertHidden(int32_t uniqueId, int32_t oldMarker)
{
    const XTHandle box = mStory.GetBox();
    SetCurrentBox(box);
    // A run inserted here would take the format of the character in front of it, the end of the
    // paragraph before or a probe's sample, not its own: a copy of the old marker, still ahead of
    // the cursor, goes in front of it as a carrier and is cut at the flush.
    for (size_t k = mCurrent; oldMarker >= 0 && k < mSegments.size(); ++k) {
        const StorySegment& segment = mSegments[k];
        if (segment.start != oldMarker || segment.id < 0 || segment.end <= segment.start)
            continue;
        const int32_t cursor = CurrentPos(), before = Length();
        const int32_t copied = CopyStoryText(mStory.GetTextHandle(true), oldMarker + mShift, segment.end + mShift,
                                             mStory.GetTextHandle(true), cursor);
        CheckEdit(copied < 0 ? copied : XT_OK, "XTY_CopyText of the old marker of unique id " +
                                                   std::to_string(uniqueId) + At(oldMarker + mShift));
        BumpChangeCounter(0);
        Inserted(cursor, Length() - before, true);
        break;
    }
    const int32_t position = CurrentPos();
    CheckEdit(CallHost<XTY_SetInsertionPoint>(position), "XTY_SetInsertionPoint" + At(position));
    char digits[16] = {};
    const int count = std::snprintf(digits, sizeof digits, "%8d", uniqueId);
    const int32_t before = Length();
    const std::string call = " of unique id " + std::to_string(uniqueId) + At(position);
    CheckEdit(CallHost<XHJ_InsertHidden>(mStory.GetTextHandle(true), position, kUniqueIdOpcode, count,
                                         reinterpret_cast<const uint8_t*>(digits), 0),
              "XHJ_InsertHidden" + call);
    BumpChangeCounter(0);
    // The run is its marker and a character per byte: the growth measured, not assumed.
    Inserted(position, Length() - before, false);
    CheckEdit(CallHost<XHJ_CloseHidden>(position), "XHJ_CloseHidden" + call);
    CheckEdit(CallHost<XTY_SetInsertionPoint>(CurrentPos()), "XTY_SetInsertionPoint" + At(CurrentPos()));
    BumpChangeCounter(0);
}

void Digger::InsertRun(IRun& run, bool /*last*/)
{
    RefPtr<IRun> hold = RefPtr<IRun>::Share(&run);
    AttributeStep(run);
    switch (run.Kind()) {
    case KS_DWX::Import::kRunUnicodes:
        InsertUnicodes(run, false);
        break;
    case KS_DWX::Import::kRunMultibytes:
        // Multibyte text is not written.
        ReportError(kDwxError);
        break;
    case KS_DWX::Import::kRunWideMultibytes:
        InsertUnicodes(run, true);
        break;
    case KS_DWX::Import::kRunSpecialChars:
        InsertSpecialChars(run);
        break;
    default:
        break;
    }
}

void Digger::InsertUnicodes(IRun& run, bool wide)
{
    std::vector<uint8_t> chunk(kTextChunk);
    std::u16string buffer;
    bool special = false;
    int32_t codePage = 0;
    const bool asItStands = run.GetNumber(u"codepage", codePage) && codePage == kUnicodeCodePage;
    auto flush = [&] {
        WriteText(buffer, special);
        buffer.clear();
        special = false;
    };
    for (;;) {
        const uint32_t got = run.Read(chunk.data(), kTextChunk);
        if (got == 0)
            break;
        if (got > kTextChunk)
            throw KestoException(kStackCorrupt, MsgString("Digger::InsertRun: text chunk of " + std::to_string(got) + " bytes"));
        const char16_t read = static_cast<char16_t>(chunk[0] | chunk[1] << 8);
        if (got != 2 || read == 0) {
            // A malformed unit is traced and left out: no NUL reaches the story, whose text
            // cannot hold one; the caller says how many were left out.
            ReportError(kDwxError);
            mDroppedNuls += got == 2 ? 1 : 0;
            continue;
        }
        const CharRecord* record = FindRecordByUnicode(read);
        const bool opensBuffer = record && (record->flags & 1) != 0;
        if (wide) {
            // The export writes the host's control special characters here as they stand, so
            // they go back as they came, never through a record.
            WriteText(std::u16string(1, read), opensBuffer);
            continue;
        }
        const char16_t character = ImportHostChar(read, mHighFlag, asItStands);
        if (opensBuffer) {
            flush();
            special = true;
        } else if (buffer.size() >= kTextBuffer) {
            flush();
        }
        buffer.push_back(character);
    }
    flush();
}

void Digger::InsertSpecialChars(IRun& run)
{
    std::vector<uint8_t> chunk(kRecordChunk);
    for (;;) {
        const uint32_t got = run.Read(chunk.data(), kRecordChunk);
        if (got == 0)
            break;
        if (got > kRecordChunk)
            throw KestoException(kStackCorrupt, MsgString("Digger::InsertRun: record chunk of " + std::to_string(got) + " bytes"));
        const SpecialCharRow* row =
            got == 8 ? SpecialRowOf(run, LittleEndian32(chunk.data()), LittleEndian32(chunk.data() + 4)) : nullptr;
        if (!row) {
            ReportError(kDwxError);
            continue;
        }
        if (row->value >= 5 && row->value <= 7)
            InsertSpecialItem(row->value);
        else
            WriteText(std::u16string(1, static_cast<char16_t>(row->hostChar)), false);
    }
}

bool Digger::KnowsSpecialChar(IRun& run, int32_t nameRef, int32_t qualifierRef)
{
    return SpecialRowOf(run, nameRef, qualifierRef) != nullptr;
}

const SpecialCharRow* Digger::SpecialCharRowOf(IRun& run, int32_t nameRef, int32_t qualifierRef)
{
    return SpecialRowOf(run, nameRef, qualifierRef);
}

void Digger::AttributeStep(IRun& run)
{
    const XTHandle box = mStory.GetBox();
    const RunAttributes attributes(run);
    int32_t probe = -1;
    bool sampled = false;
    if (run.GetNumber(u"private", probe) && probe >= 0) {
        int32_t sheet = -1;
        XTParaAttribs paragraph{};
        if (mStyleTest)
            ReadParagraphStyle(sheet, paragraph);
        const int32_t position = CurrentPos();
        const int32_t before = Length();
        const int32_t copied = mOwner.CopyProbe(probe, box, position);
        sampled = copied > 0;
        BumpChangeCounter(0);
        // The probe only carries formatting: whatever the copy answered, what it added goes
        // again at the flush.
        const int32_t growth = Length() - before;
        Inserted(position, growth, true);
        if (growth > 0)
            BumpChangeCounter(0);
        // A sample the working boxes hold and the host did not copy would leave the run with
        // another run's formatting. (A layout that holds none, as exports of earlier builds
        // left all but the last, was accepted without them.)
        if (copied <= 0 && probe < mOwner.ProbeCount())
            throw KestoException(kDwxError, MsgString("formatting sample " + std::to_string(probe) +
                                                      " could not be copied"));
        if (mStyleTest && sheet != -1)
            SetBackParagraph(sheet, paragraph);
    }

    SetCurrentBox(box);
    CheckEdit(CallHost<XTY_SetInsertionPoint>(CurrentPos()), "XTY_SetInsertionPoint" + At(CurrentPos()));
    XTCharFormat was{}, now{};
    uint16_t extra = 0;
    CallHost<XTY_InsertionAttributes>(&was, &extra);
    mConverter.ReadTypeface(attributes, 0);
    CheckAttributes("typeface");
    CallHost<XTY_InsertionAttributes>(&now, &extra);
    mHighFlag = now.high >= 128;
    if (!SameFormat(was, now)) {
        const int32_t position = CurrentPos();
        const int32_t shift = mShift;
        InsertCarrier(position, u' ');
        CheckEdit(CallHost<XTY_SelectRange>(position, position + (mShift - shift)), "XTY_SelectRange" + At(position));
    }
    mConverter.SetSampleApplied(sampled);
    mConverter.ReadSelf(attributes, 0);
    CheckAttributes("face, kerning, tracking or colour");
    SetHostUpdate(0);
    BumpChangeCounter(0);
}

void Digger::CheckAttributes(const char* what)
{
    int32_t code = 0;
    const int32_t refused = mConverter.TakeRefusal(code);
    CheckEdit(refused,
              "XTY_SetAttribute of attribute " + std::to_string(code) + " for the run's " + what + At(CurrentPos()));
}

void Digger::ReadParagraphStyle(int32_t& sheet, XTParaAttribs& attributes)
{
    sheet = -1;
    const XTHandle text = mStory.GetTextHandle(true);
    int32_t count = 0;
    StyleTable& table = mStyleTable;
    if (CallHost<XTY_ParagraphStyleRuns>(text, nullptr, &count) != XT_OK || count <= 0) {
        table.runs.clear();
        return;
    }
    if (static_cast<std::size_t>(count) == table.runs.size() && ReadParagraphStyleAgain(sheet, attributes))
        return;
    table.runs.assign(static_cast<std::size_t>(count), XTRunEntry{});
    if (CallHost<XTY_ParagraphStyleRuns>(text, table.runs.data(), &count) != XT_OK) {
        table.runs.clear();
        return;
    }
    table.runs.resize(static_cast<std::size_t>(count));
    if (table.runs.empty())
        return;
    // The paragraph that holds the cursor, the last one at the end of the story.
    const int64_t cursor = CurrentPos();
    int64_t start = 0;
    std::size_t n = 0;
    for (; n < table.runs.size(); ++n) {
        if (start + table.runs[n].length > cursor || n + 1 == table.runs.size())
            break;
        start += table.runs[n].length;
    }
    table.shift = mShift;
    table.at = n;
    table.atStart = start;
    table.answered = false;
    const uint32_t style = table.runs[n].value;
    // A paragraph style value names the paragraph's attributes, so those read once for a value
    // hold for every paragraph of it; only a new value asks for the paragraph runs, and only
    // the run that starts the paragraph is read.
    auto known = mParagraphStyles.find(style);
    if (known == mParagraphStyles.end()) {
        XTParaAttribs read{};
        if (!ReadParagraphRun(start, read))
            return;
        known = mParagraphStyles.emplace(style, read).first;
    }
    AnswerParagraphStyle(known->second, sheet, attributes);
}

void Digger::AnswerParagraphStyle(const XTParaAttribs& read, int32_t& sheet, XTParaAttribs& attributes)
{
    attributes = read;
    XTStyleSheetRec record{};
    if (GetStyleSheet(attributes.style, true, &record))
        sheet = attributes.style;
    mStyleTable.answered = true;
    mStyleTable.sheet = sheet;
    mStyleTable.attributes = attributes;
}

bool Digger::ReadParagraphStyleAgain(int32_t& sheet, XTParaAttribs& attributes)
{
    StyleTable& table = mStyleTable;
    const int64_t cursor = CurrentPos() - static_cast<int64_t>(mShift) + table.shift;
    if (cursor < table.atStart)
        return false;
    std::size_t n = table.at;
    int64_t start = table.atStart;
    while (n + 1 < table.runs.size() && start + table.runs[n].length <= cursor)
        start += table.runs[n++].length;
    if (n == table.at) {
        // The paragraph of the last answer: applying its style sheet replaced its format, and
        // every attribute read was set back, so a read now would set back the same.
        if (!table.answered)
            return false;
        sheet = table.sheet;
        attributes = table.attributes;
        return true;
    }
    // A paragraph the cursor has not been in yet keeps the value the table read; only a value
    // without attributes yet needs the host's runs, which the full read finds.
    const auto known = mParagraphStyles.find(table.runs[n].value);
    if (known == mParagraphStyles.end())
        return false;
    table.at = n;
    table.atStart = start;
    AnswerParagraphStyle(known->second, sheet, attributes);
    return true;
}

bool Digger::ReadParagraphRun(int64_t start, XTParaAttribs& attributes)
{
    const XTHandle text = mStory.GetTextHandle(true);
    int32_t count = 0;
    if (CallHost<XTY_ParagraphRuns>(text, nullptr, &count) != XT_OK || count <= 0)
        return false;
    std::vector<XTRunEntry> runs(static_cast<std::size_t>(count));
    if (CallHost<XTY_ParagraphRuns>(text, runs.data(), &count) != XT_OK)
        return false;
    int64_t at = 0;
    for (int32_t n = 0; n < count; at += runs[static_cast<std::size_t>(n++)].length) {
        if (at + runs[static_cast<std::size_t>(n)].length <= start)
            continue;
        XTHandle store = 0;
        CallHost<XTY_AttributeStore>(text, &store);
        uint16_t extra = 0;
        return CallHost<XTY_ParaAttributes>(store, runs[static_cast<std::size_t>(n)].value, &attributes, &extra) == XT_OK;
    }
    return false;
}

void Digger::SetBackParagraph(int32_t sheet, const XTParaAttribs& attributes)
{
    SetCurrentBox(mStory.GetBox());
    CheckEdit(CallHost<XTY_SetInsertionPoint>(CurrentPos()), "XTY_SetInsertionPoint" + At(CurrentPos()));
    CheckEdit(CallHost<XSD_ApplyStyleSheet>(sheet, 1, mStory.GetTextHandle(true)),
              "XSD_ApplyStyleSheet of style sheet " + std::to_string(sheet) + At(CurrentPos()));
    BumpChangeCounter(0);
    auto setBack = [&](int32_t from, int32_t to) {
        for (int32_t code = from; code <= to; ++code)
            CheckEdit(SetTextAttribute(0, code, attributes.values[code]),
                      "XTY_SetAttribute of paragraph attribute " + std::to_string(code) + At(CurrentPos()));
    };
    setBack(0x11, 0x16);
    setBack(0x18, 0x1F);
    // Code 5 is the colour, not a paragraph attribute.
    setBack(1, 4);
    setBack(6, 12);
    setBack(0x20, 0x2D);
    setBack(0x3A, 0x3D);
    XTStyleSheetRec second{};
    if (attributes.style2 >= 0 && GetStyleSheet(attributes.style2, false, &second))
        setBack(0x36, 0x36);
    BumpChangeCounter(0);
}

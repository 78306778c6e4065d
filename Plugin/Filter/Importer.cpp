#include "Plugin/Filter/Importer.h"

#include <algorithm>
#include <exception>
#include <functional>
#include <initializer_list>
#include <map>
#include <new>
#include <ostream>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "Container/Storage/Errors.h"
#include "Foundation/ErrorCodes.h"
#include "Foundation/Log.h"
#include "Foundation/Settings.h"
#include "Foundation/TraceHooks.h"
#include "Plugin/Filter/Attrib_KS.h"
#include "Plugin/Filter/CodePage_KS.h"
#include "Plugin/Filter/Digger2.h"
#include "Plugin/Filter/Exporter.h"
#include "Plugin/Filter/FixedStory.h"
#include "Plugin/Filter/KestoBox.h"
#include "Plugin/Mixer/BoxRecords.h"
#include "Plugin/Mixer/HostCalls.h"
#include "Plugin/Mixer/MasterPages.h"
#include "Plugin/Mixer/Progress.h"
#include "Plugin/QAPI/CurDocAPI.h"
#include "Plugin/QAPI/QStory.h"
#include "Plugin/Shell/Commands.h"
#include "Plugin/Shell/HostSuites.h"
#include "Plugin/Shell/KestoException.h"
#include "Plugin/Shell/KestoInterface.h"
#include "platform/host/Utf8.h"
#include "platform/host/documents/XTDocSuites.h"
#include "platform/host/documents/XTFlowSuites.h"
#include "platform/host/documents/XTTextSuites.h"
#include "platform/host/documents/XTValueSuites.h"

using namespace KS_DWX::Import;

namespace {

constexpr char kImporterFile[] = "Importer.cpp";
constexpr int32_t kStepPoints = 0x00120000;  // 18 pt
constexpr int kEnlargeTries = 20;
constexpr uint32_t kOverflowHeight = 0x7CCCCCCC;
constexpr size_t kLineRecordSize = 64;
constexpr size_t kHeightWord = 5;
constexpr uint32_t kTagRunMask = 0xFFFFFF00;
constexpr uint32_t kTagRunKind = 0x414B4200;
constexpr int32_t kPointDirection = 1000;
constexpr uint32_t kAnchoredItem = 1;
constexpr uint32_t kUniqueIdRun = 0x88;
constexpr uint32_t kFirstPageItem = 5;
constexpr uint32_t kLastPageItem = 7;

// Documents imported in one multi-document run: the total of its progress window.
uint32_t g_importedDocuments = 0;

bool MultiDocRun()
{
    return KestoInterface::Instance()->m_multiDocMode;
}

std::ostream& Log()
{
    return GeneralLogStream();
}

int32_t Word(const uint8_t* bytes)
{
    return static_cast<int32_t>(bytes[0] | bytes[1] << 8 | bytes[2] << 16 | uint32_t(bytes[3]) << 24);
}

std::vector<int32_t> RunRecords(IRun& run, uint32_t size)
{
    std::vector<int32_t> words;
    uint8_t record[16];
    while (run.Read(record, sizeof record) == size)
        for (uint32_t i = 0; i < size; i += 4)
            words.push_back(Word(record + i));
    return words;
}

// A further counted reference of an object somebody else holds.
template <class T>
RefPtr<T> Shared(T& object)
{
    object.AddRef();
    return RefPtr<T>(&object);
}

// The layout number an exchange story names: its "story_type" is "layout_cur" and a decimal.
bool StoryLayout(IStory& story, int32_t& n)
{
    const char16_t* type = story.GetText(u"story_type");
    if (!type)
        return false;
    const std::u16string text(type);
    if (text.size() <= 10)
        return false;
    int64_t value = 0;
    for (size_t i = 10; i < text.size(); ++i) {
        if (text[i] < u'0' || text[i] > u'9')
            return false;
        value = value * 10 + (text[i] - u'0');
        if (value > 0x7FFF)
            return false;
    }
    n = static_cast<int32_t>(value);
    return true;
}

void UpdateModeOne()
{
    int32_t mode = 0;
    if (CallHost<XSZ_GetUpdateMode>(&mode) != XT_OK || mode != 1)
        CallHost<XSZ_SetUpdateMode>(1);
}

int16_t LayoutCount()
{
    XTHandle project = 0;
    int16_t count = 0;
    if (CallHost<XPK_CurrentProject>(&project) != XT_OK || CallHost<XPK_LayoutCount>(project, &count) != XT_OK)
        return 0;
    return count;
}

// Guards the editing of one host story: the box is made current, its selection collapsed,
// screen updates stopped and stray copies of the module's tag run found. `view` receives the
// import's fixed view of the story, taken as the export walked it: a tag run was a paragraph run
// of its own there, so the view keeps its paragraph-run ends where the run stood. A tag run lies
// inside a text piece of the view, so the cursor cuts it with the old text at its flush: it goes
// only with a story that is written whole, and a story that fails keeps it.
class ImpSentry {
public:
    ImpSentry(Mapper& mapper, XTHandle box, FixedStory& view) : mBox(box)
    {
        const XTHandle previous = SetCurrentBox(box);
        QStoryText text(box);
        CallHost<XTY_SetSelection>(text.GetTextHandle(), 0, 0, 0);
        SetHostUpdate(0);
        view = FixedStory(text, mapper);
        QStoryCursor cursor(text);
        while (cursor.HasMore()) {
            const uint32_t kind = cursor.GetRunKind();
            if (kind == 0 || (kind >= 5 && kind <= 7)) {
                cursor.Next();
                continue;
            }
            // The lookup leaves the cursor behind the run: the run's own range is taken around it.
            const int32_t start = cursor.GetPosition();
            HiddenRecord record;
            mapper.FindHidden(record, cursor);
            if (cursor.HasMore() && cursor.GetPosition() <= start)
                cursor.Next();
            const int32_t end =
                cursor.HasMore() ? cursor.GetPosition() : static_cast<int32_t>(text.ConstructionLength());
            if (record.id < 0 && (kind & kTagRunMask) == kTagRunKind && end > start)
                mStrayTags.emplace_back(start, end);
        }
        SetCurrentBox(previous);
    }
    // The ranges of the stray tag runs, ascending.
    const std::vector<std::pair<int32_t, int32_t>>& StrayTags() const { return mStrayTags; }
    virtual ~ImpSentry()
    {
        const XTHandle previous = SetCurrentBox(mBox);
        QStory story(mBox);
        story.Refresh();
        CallHost<XTY_SetSelection>(story.GetTextHandle(), 0, 0, 0);
        SetCurrentBox(previous);
    }
    virtual void Unused() {}

private:
    XTHandle mBox;
    // The ranges of the module's stray tag runs, ascending.
    std::vector<std::pair<int32_t, int32_t>> mStrayTags;
};

} // namespace

// ---- Failure texts ----------------------------------------------------------------------------

std::string CaughtErrorText()
{
    const auto form = [](int32_t code, const char* name, const std::string& text) {
        return std::string(name) + "<" + std::to_string(code) + ">:\t" + text;
    };
    try {
        throw;
    } catch (const KestoException& e) {
        return form(e.GetCode(), ErrorCodeNameOrUnknown(e.GetCode()), e.GetText().Text());
    } catch (const FilterException& e) {
        return form(e.Code(), "Container Error", e.Text() ? e.Text() : FilterErrorText(e.Code()));
    } catch (const std::bad_alloc&) {
        return form(ErrorCode::LowMemory, ErrorCodeNameOrUnknown(ErrorCode::LowMemory), "");
    } catch (const std::exception& e) {
        return form(ErrorCode::Unexpected, ErrorCodeNameOrUnknown(ErrorCode::Unexpected), e.what());
    } catch (int code) {
        return form(code, ErrorCodeNameOrUnknown(static_cast<uint16_t>(code)), "");
    } catch (...) {
        return form(ErrorCode::Unexpected, ErrorCodeNameOrUnknown(ErrorCode::Unexpected), "");
    }
}

// ---- Story points ------------------------------------------------------------------------------

namespace {

// The string ids by which reference-point records name their kind: 1 a point, 2 the start of a
// range, 3 its end.
std::map<int32_t, int32_t> ReferenceKinds(IStory& story)
{
    std::map<int32_t, int32_t> kinds;
    const char16_t* names[3] = {u"point", u"start", u"end"};
    for (int32_t kind = 1; kind <= 3; ++kind) {
        const int32_t id = story.GetTable(names[kind - 1], kind);
        if (id >= 0)
            kinds.emplace(id, kind);
    }
    return kinds;
}

// Visits the runs of the story's paragraphs in order, visitRun(p, r, IRun&), and the end of each
// paragraph behind its runs, visitEnd(p).
template <class RunVisit, class EndVisit>
void WalkRuns(IStory& story, RunVisit visitRun, EndVisit visitEnd)
{
    for (int32_t p = 0;; ++p) {
        RefPtr<IPara> para = story.Paragraph(p);
        if (!para)
            break;
        for (int32_t r = 0;; ++r) {
            RefPtr<IRun> run = para->Run(r);
            if (!run)
                break;
            visitRun(p, r, *run);
        }
        visitEnd(p);
    }
}

} // namespace

StoryPoints ReadStoryPoints(IStory& story)
{
    const std::map<int32_t, int32_t> kinds = ReferenceKinds(story);
    std::map<int32_t, int32_t> openStarts;
    StoryPoints points;
    const auto visitRun = [&](int32_t p, int32_t r, IRun& run) {
        const int32_t kind = run.Kind();
        if (kind >= kRunUnicodes && kind <= kRunSpecialChars) {
            points.push_back({kPointText, -1, p, r});
        } else if (kind == kRunRefPoints) {
            const std::vector<int32_t> words = RunRecords(run, 12);
            for (size_t i = 0; i + 2 < words.size(); i += 3) {
                const int32_t a = words[i];
                const auto found = kinds.find(words[i + 2]);
                if (found == kinds.end())
                    continue;
                if (found->second == 1) {
                    points.push_back({a, kPointDirection, p, r});
                } else if (found->second == 2) {
                    points.push_back({a, 0, p, r});
                    ++openStarts[a];
                } else if (found->second == 3) {
                    auto open = openStarts.find(a);
                    if (open == openStarts.end() || open->second == 0)
                        continue;
                    --open->second;
                    points.push_back({a, 1, p, r});
                }
            }
        } else if (kind == kRunPlaceHolders) {
            const std::vector<int32_t> words = RunRecords(run, 8);
            for (size_t i = 0; i + 1 < words.size(); i += 2)
                points.push_back({words[i], kPointDirection, p, r});
        }
    };
    WalkRuns(story, visitRun, [&](int32_t p) { points.push_back({kPointParagraphEnd, -1, p, -1}); });
    return points;
}

bool HasStoryPoints(IStory& story)
{
    for (const StoryPoint& point : ReadStoryPoints(story))
        if (point.id >= 0)
            return true;
    return false;
}

// ---- Gaps in a story's Book data --------------------------------------------------------------

namespace {

// What a reading of the children 0, 1, ... up to the first missing one (`count` of them) would
// lose of the stored set's `stored` indices: one listed with a negative number, listed twice, or
// listed behind that first gap. `child` names the child of an index, `noun` its kind and `lister`
// the set. Empty when the set holds exactly the children 0 to count - 1.
std::string LostChild(const std::vector<int32_t>& stored, int32_t count, const char* noun, const char* lister,
                      const std::function<std::string(int32_t)>& child)
{
    for (size_t i = 0; i < stored.size(); ++i) {
        const int32_t index = stored[i];
        if (index < 0)
            return child(index) + " has a negative number: " + lister + " lists it, but " + noun +
                   "s are read from 0 on";
        if (i > 0 && stored[i - 1] == index)
            return child(index) + " is listed twice in " + lister;
        if (index >= count)
            return child(count) + " is missing (" + lister + " lists " + noun + " " + std::to_string(index) +
                   " behind it)";
    }
    return std::string();
}

std::string Where(int32_t paragraph, int32_t run)
{
    return "run " + std::to_string(run) + " of paragraph " + std::to_string(paragraph);
}

// The reason an attribute's value is refused: what it holds and what an export writes there.
std::string RefusedValue(const std::string& what, const char16_t* value, const std::string& written)
{
    return " has the " + what + " \"" + xthost::Utf16ToUtf8(value) + "\", where an export writes " + written;
}

// The first of the object's numeric attributes `names` whose value does not read whole ("4x2"):
// the import would take another value, or none, for it. Empty when each is absent or whole.
std::string NumberGap(ICommon& object, std::initializer_list<const char16_t*> names)
{
    for (const char16_t* name : names) {
        const char16_t* text = object.GetText(name);
        int32_t value = 0;
        if (text && !object.GetNumber(name, value))
            return RefusedValue("attribute " + xthost::Utf16ToUtf8(name), text, "a whole number");
    }
    return std::string();
}

// Whether `text` is written as the export writes a decimal number: digits with a minus sign at
// most, no blank, plus sign or "0x" the general number reader would also take.
bool DecimalText(const char16_t* text)
{
    const char16_t* at = text && *text == u'-' ? text + 1 : text;
    if (!at || !*at)
        return false;
    for (; *at; ++at)
        if (*at < u'0' || *at > u'9')
            return false;
    return true;
}

// Like NumberGap, for attributes the export writes in decimal only: a run's "size" of "+42" or
// "0x2A", a "tracking" of " 42", would be read as another value or passed over. A "shift" may
// also name a position.
std::string DecimalGap(ICommon& object, std::initializer_list<const char16_t*> names)
{
    for (const char16_t* name : names) {
        const char16_t* text = object.GetText(name);
        int32_t value = 0;
        const bool position = std::u16string_view(name) == u"shift" && text &&
                              (std::u16string_view(text) == u"top" || std::u16string_view(text) == u"bottom");
        if (text && !position && !(DecimalText(text) && object.GetNumber(name, value)))
            return RefusedValue("attribute " + xthost::Utf16ToUtf8(name), text, "a whole decimal number");
    }
    return std::string();
}

// The paragraph's unique id, read as the export writes it: in decimal, from 0 to the largest id.
bool ReadUniqueId(IPara& paragraph, int32_t& id)
{
    return DecimalText(paragraph.GetText(u"uniqID")) && paragraph.GetNumber(u"uniqID", id) && IsWrittenUniqueId(id);
}

// What is wrong with the paragraph's unique id: it is put back in place of the marker the export
// read it from, so a value that does not read whole, or one no export writes (-1, none, among
// them), would put another marker there or take it away. Empty when it has none or a sound one.
std::string UniqueIdGap(IPara& paragraph)
{
    const char16_t* text = paragraph.GetText(u"uniqID");
    int32_t id = 0;
    if (!text || ReadUniqueId(paragraph, id))
        return std::string();
    return RefusedValue("unique id", text, "a decimal number from 0 to " + std::to_string(kLargestUniqueId));
}

// What the records of one run lack; empty when each names only what the Book holds.
std::string RecordGap(IStory& story, IRun& run, const std::map<int32_t, int32_t>& kinds, const std::string& where)
{
    const auto unknown = [&](int32_t ref) { return ref != -1 && !story.HasString(ref); };
    const int32_t kind = run.Kind();
    const uint32_t size = kind == kRunRefPoints ? 12 : 8;
    const std::vector<int32_t> words = RunRecords(run, size);
    const size_t fields = size / 4;
    for (size_t i = 0; i + fields <= words.size(); i += fields) {
        const std::string record = "record " + std::to_string(i / fields) + " of " + where;
        if (kind == kRunSpecialChars) {
            if (unknown(words[i]) || unknown(words[i + 1]) || !Digger::KnowsSpecialChar(run, words[i], words[i + 1]))
                return record + " names a special character the Book does not hold";
        } else if (kind == kRunRefPoints) {
            if (unknown(words[i + 1]) || kinds.find(words[i + 2]) == kinds.end())
                return record + " names a reference the Book does not hold";
        } else if (unknown(words[i + 1])) {
            return record + " names an object type the Book does not hold";
        }
    }
    return std::string();
}

// The first record of `owner` stored under a name the model does not read (a run record named
// "TextRux[]/" for "TextRun[]/"): its content would go unwritten and its old text be cut.
template <class Owner>
std::string UnknownRecord(Owner& owner, const std::string& where)
{
    const auto unknown = owner.UnknownRecords();
    if (unknown.empty())
        return std::string();
    return "record \"" + unknown.front().first + "\" " + std::to_string(unknown.front().second) + " of " + where +
           " has a name the import does not read";
}

// The old text the exchange story's paragraphs do not reach: the cursor passes one host
// paragraph run per exchange paragraph, and what lies behind the last one would be cut with
// nothing written for it. The stray tag runs of the story's `view` do not count: the export
// wrote none of their text. Empty when the exchange story's `paragraphs` reach the story's end.
std::string OldTextBeyond(int32_t paragraphs, FixedStory view, const std::vector<std::pair<int32_t, int32_t>>& strayTags,
                          bool markerParagraphs)
{
    view.Cut(strayTags);
    int32_t breaks = 0;
    for (const StorySegment& segment : view) {
        if (segment.id == kBreakSegment) {
            breaks += Digger::EndsParagraph(segment, markerParagraphs) ? 1 : 0;
            continue;
        }
        if (breaks >= paragraphs && (segment.id >= 0 || segment.end > segment.start))
            return "the exchange file holds " + std::to_string(paragraphs) +
                   " paragraphs of it, the document's story has text beyond them";
    }
    return std::string();
}

// The first exchange paragraph that lists no record whose paragraph of the document's story holds
// text: its table was cut to nothing, and the cursor would cut that text with nothing written for
// it. (A paragraph with its attributes and no run is one an export may write where the story holds
// text it does not carry.) Its markers are left to the marker checks. Empty when there is none.
std::string RunsLeftOut(IStory& story, const FixedStory& segments, bool markerParagraphs)
{
    int32_t breaks = 0;
    std::set<int32_t> checked;
    for (const StorySegment& segment : segments) {
        if (segment.id == kBreakSegment) {
            breaks += Digger::EndsParagraph(segment, markerParagraphs) ? 1 : 0;
            continue;
        }
        if (segment.id != kTextSegment || segment.end <= segment.start || !checked.insert(breaks).second)
            continue;
        RefPtr<IPara> paragraph = story.Paragraph(breaks);
        if (paragraph && paragraph->ListsNothing())
            return "paragraph " + std::to_string(breaks) + " lists no record, not even its attributes, where the "
                   "document's story holds text";
    }
    return std::string();
}

int32_t ParagraphCount(const StoryPoints& points)
{
    int32_t paragraphs = 0;
    for (const StoryPoint& point : points)
        paragraphs += point.id == kPointParagraphEnd;
    return paragraphs;
}

// Whether each paragraph that ends where a unique-id marker ends, counting every paragraph run
// of the story as a paragraph, is empty in the exchange story: so an export gave a marker a
// paragraph of its own.
bool MarkerParagraphsEmpty(const StoryPoints& points, const FixedStory& segments)
{
    std::set<int32_t> written;
    for (const StoryPoint& point : points)
        if (point.id != kPointParagraphEnd)
            written.insert(point.paragraph);
    int32_t paragraph = 0;
    for (const StorySegment& segment : segments) {
        if (segment.id != kBreakSegment)
            continue;
        if (segment.direction == kMarkerEnd && segment.end == segment.start && written.count(paragraph))
            return false;
        ++paragraph;
    }
    return true;
}

// Whether the exchange story gave each unique-id marker a paragraph of its own, as exports did
// before a marker shared the paragraph it opens: it then has as many paragraphs as the story of
// `length` characters has paragraph runs, and one whose markers share, fewer. The markers' own
// paragraphs are empty: a count that only matches with text in them is a story with a paragraph more.
bool MarkersHaveParagraphs(int32_t paragraphs, const StoryPoints& points, const FixedStory& segments, int32_t length)
{
    return paragraphs != segments.ExportedParagraphs(false, length) &&
           paragraphs == segments.ExportedParagraphs(true, length) && MarkerParagraphsEmpty(points, segments);
}

// The exchange paragraphs the document's story of `length` characters has no place for. The
// cursor steps to the end of one host paragraph run per exchange paragraph and writes no paragraph
// end of its own (the story's paragraphs keep their formats and style sheets, which the exchange
// file does not carry back, and an exchange paragraph need not be a paragraph of the story: a
// marker is one of its own), so a paragraph more than the export wrote puts its text, or the text
// of the paragraphs behind it, into a paragraph of the story that already has its own: the two
// would run together. Empty when the exchange story has no more paragraphs than the export wrote.
std::string ParagraphsBeyond(int32_t paragraphs, const FixedStory& segments, bool markerParagraphs, int32_t length)
{
    const int32_t exported = segments.ExportedParagraphs(markerParagraphs, length);
    if (paragraphs <= exported)
        return std::string();
    return "the exchange file holds " + std::to_string(paragraphs) + " paragraphs of it, the document's story has " +
           std::to_string(exported) + ": a paragraph it does not have would run into another one";
}

// The host run kinds at the starts of the markers of the document's story.
std::map<int32_t, uint32_t> MarkerKinds(QStoryText& text, const FixedStory& segments)
{
    std::map<int32_t, uint32_t> kinds;
    for (const StorySegment& segment : segments)
        if (segment.id >= 0)
            kinds.emplace(segment.start, 0);
    QStoryCursor cursor(text);
    for (auto at = kinds.begin(); cursor.HasMore() && at != kinds.end(); cursor.Next()) {
        while (at != kinds.end() && at->first < cursor.GetPosition())
            ++at;
        if (at != kinds.end() && at->first == cursor.GetPosition())
            at->second = cursor.GetRunKind();
    }
    return kinds;
}

// What the exchange file names a marker of the document's story by: a placeholder (an object or
// an anchored item) or a reference point, with its id and where the story holds it.
std::string MarkerName(const StorySegment& marker, uint32_t kind)
{
    const std::string id = std::to_string(marker.id);
    std::string name;
    if (kind == kAnchoredItem)
        name = "placeholder " + id + " (an anchored item)";
    else if (marker.direction == 0)
        name = "the start of reference " + id;
    else if (marker.direction == 1)
        name = "the end of reference " + id;
    else if ((kind & 0xE0) == 0)
        name = "placeholder " + id;
    else
        name = "reference point " + id;
    return name + " at character " + std::to_string(marker.start);
}

// The markers of the document's story that the exchange story places fewer times than the story
// holds them: the cursor cuts every marker that no run places. A unique id is no such marker: a
// paragraph carries it and the import writes it anew. Empty when the exchange story places each one.
std::string MarkersLeftOut(const StoryPoints& points, const FixedStory& segments, QStoryText& text)
{
    std::map<Digger::Key, int32_t> placed;
    for (const StoryPoint& point : points)
        if (point.id >= 0)
            ++placed[Digger::Key(point.id, point.direction)];
    std::map<int32_t, uint32_t> kinds;
    std::string first;
    int32_t missing = 0;
    for (const StorySegment& marker : segments) {
        if (marker.id < 0)
            continue;
        // Each marker of the story uses up one placing of its key.
        int32_t& left = placed[Digger::Key(marker.id, marker.direction)];
        if (left-- > 0)
            continue;
        if (kinds.empty())
            kinds = MarkerKinds(text, segments);
        const uint32_t kind = kinds[marker.start];
        if (kind == kUniqueIdRun)
            continue;
        if (first.empty())
            first = MarkerName(marker, kind);
        ++missing;
    }
    if (first.empty())
        return std::string();
    return "it leaves out " + first +
           (missing > 1 ? " and " + std::to_string(missing - 1) + " more marker(s)" : std::string()) +
           " of the document's story";
}

// The first record of the exchange story that places a marker more often than the document's
// story holds it: the cursor would copy the marker's object (an anchored box with its caption and
// story) once more for each further record, and seek it anew each time. A marker the story does
// not hold at all is left to the cursor's own check. Linear in the records; empty when no marker
// is placed too often.
std::string MarkerPlacedTooOften(const StoryPoints& points, const FixedStory& segments, QStoryText& text)
{
    std::map<Digger::Key, std::pair<int32_t, const StorySegment*>> held;
    for (const StorySegment& marker : segments)
        if (marker.id >= 0) {
            auto& entry = held[Digger::Key(marker.id, marker.direction)];
            if (entry.first++ == 0)
                entry.second = &marker;
        }
    std::map<Digger::Key, int32_t> placed;
    for (const StoryPoint& point : points) {
        if (point.id < 0)
            continue;
        const Digger::Key key(point.id, point.direction);
        const auto found = held.find(key);
        const int32_t times = ++placed[key];
        if (found == held.end() || times <= found->second.first)
            continue;
        const StorySegment& marker = *found->second.second;
        const auto count = [](int32_t n) {
            return n == 1 ? std::string("once") : n == 2 ? std::string("twice") : std::to_string(n) + " times";
        };
        return "run " + std::to_string(point.run) + " of paragraph " + std::to_string(point.paragraph) + " places " +
               MarkerName(marker, MarkerKinds(text, segments)[marker.start]) + " " + count(times) +
               ", where the document's story holds it " + count(found->second.first);
    }
    return std::string();
}

// The first anchored item of the document's story that the exchange story places elsewhere than
// it stands, as a cursor over the story's view `segments` finds it walking the story's points:
// the cursor moves a marker by a copy, and the copy of an anchored item is a new box with a new
// story, while the old ones go with the old text. Read before the story is touched; empty when
// every anchored item stays where it is.
std::string AnchoredItemMoved(const StoryPoints& points, XTHandle box, const FixedStory& segments, Mapper& owner,
                              XAttribs& converter)
{
    QStoryText text(box);
    Digger digger(box, owner, converter, segments, false);
    digger.SetMarkerParagraphs(MarkersHaveParagraphs(ParagraphCount(points), points, segments, digger.TextEnd()));
    const std::vector<Digger::Position> moved = digger.MarkersMoved([&] {
        for (const StoryPoint& point : points) {
            if (point.id == kPointParagraphEnd)
                digger.Step(true);
            else if (point.id != kPointText)
                digger.Seek(point.id, point.direction, true);
        }
    });
    if (moved.empty())
        return std::string();
    std::map<int32_t, uint32_t> kinds = MarkerKinds(text, segments);
    for (const Digger::Position& position : moved) {
        if (kinds[position.start] != kAnchoredItem)
            continue;
        const StorySegment marker{position.id, position.direction, position.start, position.end};
        return "it places " + MarkerName(marker, kAnchoredItem) +
               " elsewhere in the story: moved there, its box and the box's story would come back as copies";
    }
    return std::string();
}

// Special characters by the row of the character table that names them.
using SpecialChars = std::map<const SpecialCharRow*, int32_t>;

// A character of the story's text that the export writes as a special-character record.
const SpecialCharRow* RecordCharRow(char16_t c)
{
    const CharRecord* record = c < 32 ? FindSpecialCharRecord(c, false) : nullptr;
    return record && record->flags == kCharSpecialByte ? FindSpecialCharRow(c) : nullptr;
}

// The row of the page numbers a host item of kind 5 to 7 stands for.
const SpecialCharRow* PageItemRow(uint32_t kind)
{
    for (char16_t c = 0; c < 32; ++c)
        if (const SpecialCharRow* row = FindSpecialCharRow(c); row && row->value == kind)
            return row;
    return nullptr;
}

// The special characters of the document's story: its page numbers and the characters the export
// writes as special-character records.
SpecialChars OldSpecialChars(QStoryText& text)
{
    SpecialChars found;
    const int32_t length = static_cast<int32_t>(text.ConstructionLength());
    if (length <= 0)
        return found;
    std::u16string chars(static_cast<std::size_t>(length), u'\0');
    if (CallHost<XTY_Chars>(text.GetTextHandle(true), 0, length, &chars[0]) != XT_OK)
        return found;
    QStoryCursor cursor(text);
    while (cursor.HasMore()) {
        const int32_t start = cursor.GetPosition();
        const int32_t end = std::min(cursor.NextBoundary(), length);
        const uint32_t kind = cursor.GetRunKind();
        if (kind >= kFirstPageItem && kind <= kLastPageItem) {
            if (const SpecialCharRow* row = PageItemRow(kind); row && end > start)
                found[row] += end - start;
        } else if (kind == 0) {
            for (int32_t at = std::max(start, 0); at < end; ++at)
                if (const SpecialCharRow* row = RecordCharRow(chars[static_cast<std::size_t>(at)]))
                    ++found[row];
        }
        cursor.Next();
    }
    return found;
}

// The special characters the exchange story writes: its special-character records, and the
// characters of its text that the export would have written as records.
SpecialChars NewSpecialChars(IStory& story, bool withText)
{
    SpecialChars found;
    const auto visitRun = [&](int32_t, int32_t, IRun& run) {
        const int32_t kind = run.Kind();
        if (kind == kRunSpecialChars) {
            const std::vector<int32_t> words = RunRecords(run, 8);
            for (size_t i = 0; i + 1 < words.size(); i += 2)
                if (const SpecialCharRow* row = Digger::SpecialCharRowOf(run, words[i], words[i + 1]))
                    ++found[row];
        } else if (withText && (kind == kRunUnicodes || kind == kRunWideMultibytes)) {
            uint8_t unit[2];
            while (run.Read(unit, sizeof unit) == sizeof unit)
                if (const SpecialCharRow* row = RecordCharRow(static_cast<char16_t>(unit[0] | unit[1] << 8)))
                    ++found[row];
        }
    };
    WalkRuns(story, visitRun, [](int32_t) {});
    return found;
}

// The special characters of the document's story that the exchange story writes fewer of: the
// cursor cuts the old text with them. Empty when it writes each one.
std::string SpecialCharsLeftOut(IStory& story, QStoryText& text)
{
    const SpecialChars old = OldSpecialChars(text);
    bool characters = false;
    for (const auto& entry : old)
        characters |= entry.first->value == 0;
    const SpecialChars written = NewSpecialChars(story, characters);
    const auto count = [](const SpecialChars& chars, const SpecialCharRow* row) {
        const auto found = chars.find(row);
        return found == chars.end() ? 0 : found->second;
    };
    const auto named = [](const SpecialCharRow* row) {
        return std::string(row->name) + (row->qualifier ? " (" + std::string(row->qualifier) + ")" : std::string());
    };
    for (const auto& [row, held] : old)
        if (const int32_t has = count(written, row); has < held)
            return "it leaves out the special character " + named(row) + ": the document's story holds " +
                   std::to_string(held) + ", the exchange file writes " + std::to_string(has);
    // A page number is a marker: one written more often than the story holds it would be placed
    // again for each further record. The other special characters are characters a translation
    // may add.
    for (const auto& [row, has] : written)
        if (const int32_t held = count(old, row); row->value != 0 && has > held)
            return "it places the special character " + named(row) + " " + std::to_string(has) +
                   " times, where the document's story holds it " + std::to_string(held) + " times";
    return std::string();
}

// The unique ids the document's story holds, in their order, each once with the position of its
// marker: those the export writes into the exchange paragraphs ("uniqID"), a later copy of one in
// the story is not written.
std::vector<std::pair<int32_t, int32_t>> OldUniqueIdMarkers(QStoryText& text)
{
    std::vector<std::pair<int32_t, int32_t>> markers;
    std::set<int32_t> seen;
    const XTHandle handle = text.GetTextHandle(true);
    QStoryCursor cursor(text);
    for (; cursor.HasMore(); cursor.Next()) {
        int32_t id = 0;
        if (cursor.GetRunKind() == kUniqueIdRun && ParseUniqueId(handle, cursor.GetPosition(), id) &&
            IsWrittenUniqueId(id) && seen.insert(id).second)
            markers.emplace_back(id, static_cast<int32_t>(cursor.GetPosition()));
    }
    return markers;
}

std::vector<int32_t> OldUniqueIds(QStoryText& text)
{
    std::vector<int32_t> ids;
    for (const auto& [id, position] : OldUniqueIdMarkers(text))
        ids.push_back(id);
    return ids;
}

// Each unique id the exchange story's paragraphs give, with its paragraph, in their order.
std::vector<std::pair<int32_t, int32_t>> GivenUniqueIds(IStory& story)
{
    std::vector<std::pair<int32_t, int32_t>> given;
    for (int32_t p = 0;; ++p) {
        RefPtr<IPara> paragraph = story.Paragraph(p);
        if (!paragraph)
            break;
        int32_t id = 0;
        if (ReadUniqueId(*paragraph, id))
            given.emplace_back(id, p);
    }
    return given;
}

// The first unique id that the exchange story's paragraphs give otherwise than the document's
// story holds it: the import writes each paragraph's id in place of the old marker, so an id left
// out would be lost, and one added, another paragraph's or a changed one would stand where the
// document has none or another. Each story answers for its own ids: one that `held` names for an
// earlier story was that story's, as the export gives it once, and any other the story holds must
// come back in it. Empty when the paragraphs give every id, in the story's order.
std::string UniqueIdsChanged(IStory& story, int32_t index, QStoryText& text, const std::map<int32_t, int32_t>& held)
{
    std::vector<int32_t> old;
    for (const int32_t id : OldUniqueIds(text)) {
        const auto found = held.find(id);
        if (found == held.end() || found->second >= index)
            old.push_back(id);
    }
    size_t k = 0;
    for (const auto& [id, p] : GivenUniqueIds(story)) {
        if (k < old.size() && old[k] == id) {
            ++k;
            continue;
        }
        if (std::find(old.begin() + static_cast<std::ptrdiff_t>(k), old.end(), id) != old.end())
            break;  // the ids in front of it are left out
        const std::string what = "paragraph " + std::to_string(p) + " has the unique id " + std::to_string(id);
        if (k == old.size())
            return what + ", the document's story holds no further one";
        return what + " where the document's story holds " + std::to_string(old[k]);
    }
    if (k == old.size())
        return std::string();
    return "it leaves out the unique id " + std::to_string(old[k]) + " of the document's story";
}

// Where the exchange story says its box stands, against the frame of the box linked to it; empty
// when they agree, and when the exchange story says nothing of it.
std::string PlacementGap(IStory& story, const BoxFrame& frame)
{
    int32_t x = 0, y = 0, width = 0, height = 0;
    if (!story.GetNumber(u"horizontal_pos", x) || !story.GetNumber(u"vertical_pos", y) ||
        !story.GetNumber(u"width", width) || !story.GetNumber(u"height", height))
        return std::string();
    int32_t angle = 0;
    story.GetNumber(u"angle", angle);
    // The export counts the page of a box of an unused master page from behind the master spreads.
    const char16_t* subType = story.GetText(u"story_sub_type");
    int32_t page = frame.page;
    const bool pageSaid = frame.onPage && !(subType && std::u16string(subType) == u"master_page_no_use") &&
                          story.GetNumber(u"sectional_pos", page);
    const bool agree = x == frame.Horizontal() && y == frame.Vertical() && width == frame.Width() &&
                       height == frame.Height() && angle == frame.Angle() && (!pageSaid || page == frame.page);
    if (agree)
        return std::string();
    const auto place = [&](int32_t onPage, int32_t left, int32_t top, int32_t w, int32_t h, int32_t turned) {
        return (pageSaid ? "on page " + std::to_string(onPage) + " " : std::string()) + "at " + std::to_string(left) +
               "," + std::to_string(top) + " pt, " + std::to_string(w) + " x " + std::to_string(h) + " pt" +
               (turned != 0 ? ", turned " + std::to_string(turned) + " degrees" : std::string());
    };
    return "the exchange file places its box " + place(page, x, y, width, height, angle) +
           ", the box linked to it stands " +
           place(frame.page, frame.Horizontal(), frame.Vertical(), frame.Width(), frame.Height(), frame.Angle());
}

// What the exchange story leaves out of the document's story in the box: a paragraph end, a
// marker (an object or a reference) or a special character, each of which the cursor would cut
// with the old text around it. Read before the story is touched, with its view `segments` and
// the exchange story's `points`; empty when nothing is left out.
std::string LeftOut(IStory& story, XTHandle box, const FixedStory& segments, const StoryPoints& points,
                    const std::function<std::string(QStoryText&)>& more)
{
    QStoryText text(box);
    const int32_t paragraphs = ParagraphCount(points);
    const auto length = static_cast<int32_t>(text.ConstructionLength());
    const bool own = MarkersHaveParagraphs(paragraphs, points, segments, length);
    for (const std::string& lost : {MarkerPlacedTooOften(points, segments, text),
                                    ParagraphsBeyond(paragraphs, segments, own, length),
                                    MarkersLeftOut(points, segments, text),
                                    SpecialCharsLeftOut(story, text), RunsLeftOut(story, segments, own)})
        if (!lost.empty())
            return lost;
    return more(text);
}

} // namespace

std::string FindStoryGap(IStory& story)
{
    std::string where = "the story's attributes";
    try {
        story.GetText(u"story_type");
        std::string gap =
            NumberGap(story, {u"horizontal_pos", u"vertical_pos", u"width", u"height", u"angle", u"sectional_pos"});
        if (!gap.empty())
            return "the story" + gap;
        const std::map<int32_t, int32_t> kinds = ReferenceKinds(story);
        int32_t p = 0;
        for (;; ++p) {
            where = "paragraph " + std::to_string(p);
            RefPtr<IPara> para = story.Paragraph(p);
            if (!para)
                break;
            if (!(gap = UniqueIdGap(*para)).empty())
                return where + gap;
            int32_t r = 0;
            for (;; ++r) {
                where = Where(p, r);
                RefPtr<IRun> run = para->Run(r);
                if (!run)
                    break;
                if (!(gap = NumberGap(*run, {u"private", u"codepage"})).empty() ||
                    !(gap = DecimalGap(*run, {u"size", u"shift", u"kerning", u"tracking", u"typeface_codepage"})).empty())
                    return where + gap;
                const int32_t kind = run->Kind();
                if (kind == kRunNone)
                    return where + " has no readable content";
                // The import writes no 8-bit text: its paragraph would lose the old text for nothing.
                if (kind == kRunMultibytes)
                    return where + " holds 8-bit text (Multibytes), which the import does not write";
                if (kind >= kRunSpecialChars && kind <= kRunPlaceHolders) {
                    gap = RecordGap(story, *run, kinds, where);
                    if (!gap.empty())
                        return gap;
                } else {
                    uint8_t unit[4];
                    while (run->Read(unit, sizeof unit) != 0) {
                    }
                }
            }
            where = "the run list of paragraph " + std::to_string(p);
            const std::string lost = LostChild(para->StoredChildren(), r, "run", "the paragraph",
                                               [p](int32_t index) { return Where(p, index); });
            if (!lost.empty())
                return lost;
            const std::string unknown = UnknownRecord(*para, "paragraph " + std::to_string(p));
            if (!unknown.empty())
                return unknown;
        }
        where = "the paragraph list";
        const std::string lost = LostChild(story.StoredChildren(), p, "paragraph", "the story",
                                           [](int32_t index) { return "paragraph " + std::to_string(index); });
        if (!lost.empty())
            return lost;
        const std::string unknown = UnknownRecord(story, "the story");
        if (!unknown.empty())
            return unknown;
    } catch (...) {
        return where + " cannot be read: " + CaughtErrorText();
    }
    return std::string();
}

// ---- Overflow and enlargement ------------------------------------------------------------------

bool TextOverflows(XTHandle box)
{
    int16_t index = -1;
    CallHost<XDD_CurrentDocIndex>(&index);
    XTHandle current = 0;
    CallHost<XBY_CurrentBox>(&current);
    uint8_t noReflow = 0;
    if (CallHost<XBG_BoxFlag>(box, &noReflow) == XT_OK && noReflow)
        return false;
    UpdateModeOne();
    XTRect bounds{}, obstacle{};
    CallHost<XBY_Bounds>(box, &bounds);
    CallHost<XBY_ObstacleBounds>(box, &obstacle);
    if ((bounds.top == obstacle.top && bounds.left == obstacle.left) ||
        (bounds.left == obstacle.left && bounds.right == obstacle.right))
        return false;
    int32_t size = 0;
    if (CallHost<XTY_LineRecords>(box, nullptr, &size) != XT_OK || size < 0)
        size = 0;
    std::vector<uint8_t> records(static_cast<size_t>(size));
    if (size > 0 && CallHost<XTY_LineRecords>(box, records.data(), &size) != XT_OK)
        size = 0;
    const size_t count = static_cast<size_t>(size) / kLineRecordSize;
    if (count == 0) {
        // A box that shows no line at all holds none of its text.
        QStory story(box);
        return story.GetLength(true) > 0;
    }
    const uint8_t* last = records.data() + (count - 1) * kLineRecordSize;
    return static_cast<uint32_t>(Word(last + 4 * kHeightWord)) == kOverflowHeight;
}

void EnlargeTextBox(XTHandle box, int32_t lastParagraph)
{
    UpdateModeOne();
    XTHandle doc = 0;
    const XTHandle view = xt_getdocviewref(&doc);
    XTRect limit{};
    XTHandle current = 0, spread = 0;
    int16_t page = -1;
    bool haveLimit = false;
    if (CallHost<XDD_ViewCurrentBox>(view, &current) == XT_OK && current == box &&
        CallHost<XDD_SpreadOfBox>(current, &spread) == XT_OK &&
        CallHost<XPH_PageIndexOfBox>(spread, current, &page) == XT_OK &&
        CallHost<XPH_PageBounds>(spread, page, &limit) == XT_OK)
        haveLimit = true;
    if (!haveLimit && CallHost<XFS_LimitRect>(box, &limit) != XT_OK && CallHost<XSQ_LimitRect>(box, &limit) != XT_OK)
        return;

    QStory story(box);
    CallHost<XTY_SetSelection>(story.GetTextHandle(), 0, 0, 1);
    for (int tries = 0; tries < kEnlargeTries; ++tries) {
        XTHandle record = 0;
        if (CallHost<XXC_GetRecord>(0, box, 0, &record) != XT_OK || record == 0)
            break;
        XTBoxRecord fields{};
        if (CallHost<XXC_ReadRecord>(record, &fields) != XT_OK) {
            CallHost<XXC_ReleaseRecord>(record, 1);
            break;
        }
        XTRect& b = fields.bounds;
        const int32_t bottom = lastParagraph > 0 ? b.bottom + kStepPoints : b.bottom;
        const int32_t right = b.right + kStepPoints;
        bool enlarge = false;
        if (b.top >= limit.top)
            enlarge = true;
        if (b.left >= limit.left)
            enlarge = true;
        if (bottom <= limit.bottom) {
            enlarge = true;
            b.bottom = bottom;
        }
        bool apply = enlarge;
        if (right <= limit.right) {
            b.right = right;
            apply = true;
        }
        if (!apply) {
            CallHost<XXC_ReleaseRecord>(record, 1);
            break;
        }
        CallHost<XDD_DocumentChanged>(doc, 3);
        CallHost<XXC_WriteRecord>(record, &fields);
        uint16_t violation = 0;
        CallHost<XXC_ApplyRecord>(record, box, 0, &violation);
        CallHost<XXC_ReleaseRecord>(record, 1);
        if (!TextOverflows(box))
            break;
    }
    if (SetHostUpdate(1) == 0)
        ++ChangeCounter;
}

// ---- Importer ----------------------------------------------------------------------------------

Importer::Importer(QuarkDoc& document, IDoc& importDoc, bool autoResize, bool testStyle, bool setUniqueID,
                   bool newMasterPages)
    : mDoc(Shared(document)), mImportDoc(Shared(importDoc)), mAutoResize(autoResize), mTestStyle(testStyle),
      mSetUniqueID(setUniqueID), mNewMasterPages(newMasterPages)
{
    mFailed = 0;
    mDoc->MakeCurrent();
    CurDocAPI::QueryPrefFlag();
    mLinkedStories = Connect() ? StoryCount() : 0;
    NoteFrames();
    mConverter = std::make_unique<XAttribs>();
}

Importer::~Importer()
{
    mConverter.reset();
    mImportDoc = nullptr;
    mDoc = nullptr;
}

void Importer::Reconnect()
{
    mPrivateBox.reset();
    mHidden = HiddenTable();
    mUnusedMasterMap.clear();
    mSkippedItems.clear();
    mLinkedStories = Connect() ? StoryCount() : 0;
    NoteFrames();
}

void Importer::NoteFrames()
{
    mFrames.clear();
    for (int32_t id = 0; id < mLinkedStories; ++id) {
        BoxFrame frame;
        if (const XTHandle box = FindBox(id); box && ReadBoxFrame(box, ViewOnMaster(), frame))
            mFrames.emplace(id, frame);
    }
}

bool Importer::SamplesLeftOutByEarlierBuild()
{
    const int32_t last = LayoutCount() - 1;
    if (mConnectedLayout < 0 || mConnectedLayout >= last)
        return false;
    if (mLastLayoutSamples < 0) {
        CallHost<LTY_SelectLayout>(static_cast<int16_t>(last));
        mLastLayoutSamples = FindBoxByPrivateData32(BoxLinkIdKey, -2) || FindBoxByPrivateData32(BoxLinkIdKey, -1);
        CallHost<LTY_SelectLayout>(static_cast<int16_t>(mConnectedLayout));
    }
    if (mLastLayoutSamples == 0)
        return false;
    if (mLayoutsWithoutSamples.insert(mConnectedLayout).second)
        Log() << "layout " << mConnectedLayout << " of the stored document holds no formatting samples, as exports of "
              << "earlier builds left every layout but the last: its runs take the formatting of the text they "
              << "replace" << std::endl;
    return true;
}

std::string Importer::SampleGap(IStory& story)
{
    const KestoBox* boxes = PrivateBox();
    const bool found = boxes && boxes->box != 0;
    if (!found && SamplesLeftOutByEarlierBuild())
        return std::string();
    const int32_t count = ProbeCount();
    const std::string held = count > 0 ? "it holds samples 0 to " + std::to_string(count - 1)
                             : found   ? "it holds none"
                                       : "its working boxes are gone";
    try {
        for (int32_t p = 0; RefPtr<IPara> para = story.Paragraph(p); ++p)
            for (int32_t r = 0; RefPtr<IRun> run = para->Run(r); ++r) {
                // A marker's run writes no text: it keeps the formatting of the item it moves,
                // and an export names no sample for it.
                const int32_t kind = run->Kind();
                if (kind == kRunRefPoints || kind == kRunPlaceHolders)
                    continue;
                int32_t sample = -1;
                if (!run->GetNumber(u"private", sample))
                    return Where(p, r) + " names no formatting sample";
                if (sample < 0 || sample >= count)
                    return Where(p, r) + " names formatting sample " + std::to_string(sample) +
                           ", which the stored document does not hold for layout " + std::to_string(mConnectedLayout) +
                           " (" + held + ")";
            }
    } catch (...) {
        // The story's own check names what cannot be read.
    }
    return std::string();
}

void Importer::NoteUniqueIds(int32_t story, XTHandle box)
{
    try {
        QStoryText text(box);
        const XTHandle handle = text.GetTextHandle(true);
        for (QStoryCursor cursor(text); cursor.HasMore(); cursor.Next()) {
            int32_t id = 0;
            if (cursor.GetRunKind() != kUniqueIdRun || !ParseUniqueId(handle, cursor.GetPosition(), id))
                continue;
            mLargestUniqueId = std::max(mLargestUniqueId, id);
            // The first story that holds an id keeps it.
            if (mSetUniqueID && IsWrittenUniqueId(id))
                mHeldUniqueIds.emplace(id, story);
        }
    } catch (const std::bad_alloc&) {
        // The story's own check reads them again.
    }
}

uint64_t Importer::BookCharacters(int32_t stories)
{
    uint64_t characters = 0;
    for (int32_t i = 0; i < stories && characters <= XT_MAX_STORY_CHARACTERS; ++i)
        try {
            RefPtr<IStory> story = mImportDoc->Story(i);
            if (!story)
                break;
            // Each unit of a text run but a NUL, which is left out, and each special-character
            // record writes a character at least.
            WalkRuns(
                *story,
                [&](int32_t, int32_t, IRun& run) {
                    const int32_t kind = run.Kind();
                    if (kind != kRunUnicodes && kind != kRunWideMultibytes && kind != kRunSpecialChars)
                        return;
                    uint8_t unit[8];
                    for (uint32_t got; characters <= XT_MAX_STORY_CHARACTERS && (got = run.Read(unit, sizeof unit)) != 0;)
                        characters += got != 2 || unit[0] != 0 || unit[1] != 0;
                },
                [](int32_t) {});
        } catch (...) {
            // The story's own check names what cannot be read.
        }
    return characters;
}

void Importer::NoteBookAttributes(const char16_t* sourceDataType, const char16_t* maxUniqueId)
{
    mSourceDataTypeGiven = sourceDataType != nullptr;
    mSourceDataType = sourceDataType ? sourceDataType : u"";
    mMaxUniqueIdGiven = maxUniqueId != nullptr;
    mMaxUniqueId = maxUniqueId ? maxUniqueId : u"";
}

void Importer::NoteUnapplied(IStory& story, XTHandle box, const FixedStory& segments, int32_t paragraphs,
                             bool markerParagraphs)
{
    // Where each exchange paragraph starts in the story: behind the break that ends the one before.
    QStoryText text(box);
    const auto length = static_cast<int32_t>(text.ConstructionLength());
    std::vector<int32_t> starts(1, 0);
    for (const StorySegment& segment : segments)
        if (Digger::EndsParagraph(segment, markerParagraphs))
            starts.push_back(segment.end);
    const std::string storyName = "story " + std::to_string(mStoryIndex);
    for (int32_t p = 0; p < paragraphs; ++p) {
        RefPtr<IPara> paragraph = story.Paragraph(p);
        if (!paragraph)
            break;
        for (int32_t r = 0; RefPtr<IRun> run = paragraph->Run(r); ++r)
            if (const char16_t* hidden = run->GetText(u"hidden"); hidden && std::u16string_view(hidden) == u"on")
                mHiddenRuns.Note(Where(p, r) + " of " + storyName);
        // The style sheet name the export writes for the paragraph's range, against the one given.
        const char16_t* given = paragraph->GetText(u"stylename");
        const size_t k = static_cast<size_t>(p);
        const int32_t start = k < starts.size() ? starts[k] : length;
        const int32_t end = k + 1 < starts.size() ? starts[k + 1] : length;
        if (!given || start >= end)
            continue;
        int32_t sheetId = -1;
        XTStyleSheetRec sheet{};
        const bool named = CallHost<XTY_RangeAttribute>(text.GetTextHandle(true), start, end,
                                                        XT_TEXT_ATTRIBUTE_STYLE_SHEET, &sheetId) == XT_OK &&
                           sheetId >= 0 && GetStyleSheet(sheetId, true, &sheet);
        std::u16string held;
        for (const char* c = sheet.name; named && *c; ++c)
            held.push_back(static_cast<char16_t>(static_cast<uint8_t>(*c)));
        if (named && held == given)
            continue;
        mStyleNames.Note("paragraph " + std::to_string(p) + " of " + storyName + " names \"" +
                         xthost::Utf16ToUtf8(given) + "\", the document's paragraph " +
                         (named ? "has \"" + xthost::Utf16ToUtf8(held) + "\"" : std::string("has none")));
    }
}

void Importer::SayUnapplied()
{
    std::vector<std::string> items;
    if (mHiddenRuns.count > 0)
        items.push_back(std::to_string(mHiddenRuns.count) + " run(s) to be hidden (hidden=on), the first " +
                        mHiddenRuns.first + ": their text is written as the document shows it");
    if (mStyleNames.count > 0)
        items.push_back(std::to_string(mStyleNames.count) + " paragraph(s) of another style sheet (stylename), the first " +
                        mStyleNames.first + ": the paragraphs keep the document's");
    const std::u16string current = HostVersionString();
    const auto withoutMode = [](const std::u16string& text) { return text.substr(0, text.rfind(u"{MB=")); };
    if (mMaxUniqueIdGiven && !(DecimalText(mMaxUniqueId.c_str()) && mMaxUniqueId.size() <= 10 &&
                               std::stoll(xthost::Utf16ToUtf8(mMaxUniqueId)) == mLargestUniqueId))
        items.push_back("maxuniqID \"" + xthost::Utf16ToUtf8(mMaxUniqueId) + "\", where the document's largest unique id is " +
                        std::to_string(mLargestUniqueId));
    if (mSourceDataTypeGiven && withoutMode(mSourceDataType) != withoutMode(current))
        items.push_back("source_data_type \"" + xthost::Utf16ToUtf8(mSourceDataType) + "\", where this host writes \"" +
                        xthost::Utf16ToUtf8(current) + "\": only its master-page mode is taken");
    if (items.empty())
        return;
    std::string line = "The exchange file asks for what the import does not apply, the document keeps its own: ";
    for (size_t i = 0; i < items.size(); ++i)
        line += (i ? "; " : "") + items[i];
    Log() << line << std::endl;
}

void Importer::RefuseStory(int32_t story, const std::string& reason)
{
    Log() << "####story " << story << " not imported, its text stays as it was: " << reason << std::endl;
    SignalBeep(nullptr);
    mFailed = 1;
}

bool Importer::GroupStories(std::vector<StoryGroup>& groups)
{
    groups.clear();
    int32_t i = 0;
    try {
        for (;; ++i) {
            RefPtr<IStory> story = mImportDoc->Story(i);
            if (!story)
                break;
            int32_t n = -1;
            const bool named = StoryLayout(*story, n);
            if (groups.empty())
                groups.push_back({named ? n : -1, i, 0});
            else if (named && n != groups.back().layout)
                groups.push_back({n, i, 0});
            ++groups.back().count;
        }
        const std::string lost = LostChild(mImportDoc->StoredChildren(), i, "story", "the exchange file",
                                           [](int32_t index) { return "story " + std::to_string(index); });
        if (lost.empty())
            return true;
        Log() << "####" << lost << std::endl;
    } catch (...) {
        Log() << "####story " << i << " and the stories after it cannot be read: " << CaughtErrorText() << std::endl;
    }
    // Without the whole story list no story can be matched to its box for sure.
    groups.clear();
    return false;
}

bool Importer::StoriesMatchLinks(const StoryGroup& group)
{
    const int32_t linked = mLinkedStories;
    if (group.count == linked)
        return true;
    if (!LinkRefusal().empty()) {
        Log() << "####stories " << group.first << " to " << group.first + group.count - 1
              << " of the exchange file are not imported, their boxes keep their text: the boxes of the master pages "
              << "could not be linked to stories: " << LinkRefusal() << std::endl;
        SignalBeep(nullptr);
        return false;
    }
    Log() << "####stories " << group.first << " to " << group.first + group.count - 1 << " of the exchange file do not "
          << "belong to this document: it links " << linked << " boxes to stories of layout "
          << (group.layout < 0 ? 0 : group.layout) << ", the exchange file holds " << group.count
          << " for it; their boxes keep their text" << std::endl;
    SignalBeep(nullptr);
    return false;
}

bool Importer::GroupInPlace(const std::vector<StoryGroup>& groups, size_t index)
{
    // The export writes the layouts in ascending order, each one's stories together. A story list
    // reordered across layouts splits a layout in two, or moves a layout's stories away from
    // behind those of the layouts before it: its stories may then stand in another order, and
    // boxes of one size would take each other's translations unnoticed.
    const StoryGroup& group = groups[index];
    int32_t before = 0;
    bool split = false;
    for (size_t k = 0; k < groups.size(); ++k) {
        before += groups[k].layout < group.layout ? groups[k].count : 0;
        split |= k != index && groups[k].layout == group.layout;
    }
    if (!split && before == group.first)
        return true;
    Log() << "####stories " << group.first << " to " << group.first + group.count - 1 << " of the exchange file, of layout "
          << (group.layout < 0 ? 0 : group.layout) << ", do not stand where the export writes them: "
          << (split ? "the layout's stories are not together" : "behind " + std::to_string(before) +
                                                                    " stories of the layouts before it")
          << "; their boxes keep their text" << std::endl;
    SignalBeep(nullptr);
    return false;
}

bool Importer::SelectExchangeLayout(int32_t n, int32_t& current, int32_t& linkCounter)
{
    if (n < 0 || n >= LayoutCount())
        return false;
    if (n == current)
        return true;
    CallHost<LTY_SelectLayout>(static_cast<int16_t>(n));
    linkCounter = 0;
    current = n;
    if (n != mConnectedLayout) {
        mConnectedLayout = n;
        mTouchedLayouts.push_back(static_cast<int16_t>(n));
        Reconnect();
    }
    return true;
}

void Importer::Close(int16_t baseLayout)
{
    if (!MultiDocRun())
        mProgress.reset();
    SayUnapplied();
    // Left out on purpose, and said once.
    if (mUniqueIdsLeftOut > 0)
        Log() << "The unique ids of " << mUniqueIdsLeftOut << " paragraph(s) were left out of the document: the "
              << "setting SetUniqueID is off" << std::endl;
    // Every layout loses its links, marks and private boxes: those the run connected, and any
    // other, since the export leaves formatting samples in every layout, also in one whose
    // stories did not come back.
    std::deque<int16_t> layouts = mTouchedLayouts;
    for (int16_t layout = 0; layout < LayoutCount(); ++layout)
        if (std::find(layouts.begin(), layouts.end(), layout) == layouts.end())
            layouts.push_back(layout);
    for (const int16_t layout : layouts) {
        if (layout == baseLayout)
            continue;
        CallHost<LTY_SelectLayout>(layout);
        UnInstall();
    }
    CallHost<LTY_SelectLayout>(baseLayout);
    UnInstall();
    XTHandle doc = 0;
    xt_getdocviewref(&doc);
    CallHost<XDD_DocumentChanged>(doc, 3);
    CallHost<XDD_ClosingCall>(doc, 1);
}

void Importer::Run()
{
    mFailed = 0;
    const uint32_t total = StoryCount() > 0 ? static_cast<uint32_t>(StoryCount()) : 1u;
    if (!MultiDocRun()) {
        mProgress = std::make_unique<ProgressBar>("Importing document", total);
    } else if (!mProgress) {
        mProgress = std::make_unique<ProgressBar>("Importing document", ++g_importedDocuments);
    } else {
        const uint32_t position = mProgress->Position();
        mProgress = std::make_unique<ProgressBar>("Importing next document", position);
    }
    mProgress->Show();

    XTHandle project = 0, layoutDoc = 0;
    int16_t base = 0;
    if (CallHost<XPK_CurrentProject>(&project) != XT_OK || CallHost<XPK_CurrentLayout>(project, &layoutDoc) != XT_OK ||
        CallHost<XDD_LayoutNumber>(layoutDoc, &base) != XT_OK)
        base = 0;
    CallHost<LTY_SelectLayout>(base);
    mConnectedLayout = base;
    mTouchedLayouts.assign(1, base);

    int32_t exchangeLayout = -1;
    int32_t linkCounter = 0;
    SettingsFile* settings = Settings.GetIf();
    const int32_t maximize = settings ? settings->GetTempBoxMaximizeMode() : 0;
    std::vector<StoryGroup> groups;
    bool grouped = GroupStories(groups);
    mHeldUniqueIds.clear();
    if (!grouped)
        mFailed = 1;
    // Stories that add up to more than a document holds could never be saved: refused before
    // one is written, instead of after the whole document is built.
    if (grouped && !groups.empty()) {
        const uint64_t characters = BookCharacters(groups.back().first + groups.back().count);
        if (characters > XT_MAX_STORY_CHARACTERS) {
            Log() << "####stories 0 to " << groups.back().first + groups.back().count - 1
                  << " of the exchange file add up to more than the " << XT_MAX_STORY_CHARACTERS
                  << " characters a document holds; no story is imported, their boxes keep their text" << std::endl;
            SignalBeep(nullptr);
            mFailed = 1;
            groups.clear();
            grouped = false;
        }
    }
    // A Book without a story leaves every linked box of the layout without its translation.
    if (grouped && groups.empty() && mLinkedStories > 0) {
        Log() << "####layout " << base << " links " << mLinkedStories
              << " boxes to stories, the exchange file holds no story; their boxes keep their text" << std::endl;
        mFailed = 1;
    }
    size_t group = 0;
    for (int32_t i = 0; group < groups.size(); ++i, ++linkCounter) {
        if (i == groups[group].first + groups[group].count)
            ++group;
        if (group == groups.size())
            break;
        if (i == groups[group].first) {
            if (!GroupInPlace(groups, group)) {
                mFailed = 1;
                i += groups[group].count - 1;
                continue;
            }
            const int32_t n = groups[group].layout;
            const bool selected = n < 0 || n == exchangeLayout || SelectExchangeLayout(n, exchangeLayout, linkCounter);
            if (!selected)
                Log() << "####stories " << i << " to " << i + groups[group].count - 1 << " of the exchange file name layout "
                      << n << ", which the document does not have; they are not imported" << std::endl;
            if (!selected || !StoriesMatchLinks(groups[group])) {
                mFailed = 1;
                i += groups[group].count - 1;
                continue;
            }
        }
        RefPtr<IStory> story = mImportDoc->Story(i);
        if (!story)
            break;

        const XTHandle box = FindBox(linkCounter);
        if (!box) {
            Log() << "####box for story " << i << " is not found. Trying to import into new created box" << std::endl;
            SignalBeep(nullptr);
            mFailed = 1;
            continue;
        }
        NoteUniqueIds(i, box);
        ct_Box record(static_cast<uint32_t>(box), 0);
        int16_t spread = -1;
        const BoxClass boxClass = mNewMasterPages ? ClassifyMasterBox(record, &spread) : BoxClassNone;
        if (boxClass == BoxClassLinkedAutotext) {
            LogMasterBox(record, "Import => skipping autotext box", -1);
            continue;
        }

        // A Book whose story lists were reordered puts a translation into another story's box.
        if (const auto frame = mFrames.find(linkCounter); frame != mFrames.end()) {
            const std::string misplaced = PlacementGap(*story, frame->second);
            if (!misplaced.empty()) {
                RefuseStory(i, misplaced);
                continue;
            }
        }
        std::string gap = FindStoryGap(*story);
        if (gap.empty())
            gap = SampleGap(*story);
        if (!gap.empty()) {
            // Writing what can be read would cut the old text that the missing part was to replace.
            RefuseStory(i, gap);
            continue;
        }
        bool shapeChanged = false;
        uint32_t savedWord = 0;
        XTHandle savedShape = 0;
        if (maximize != 0) {
            uint8_t isText = 0;
            CallHost<XIG_IsTextBox>(box, &isText);
            if (isText && (maximize == 2 || HasStoryPoints(*story))) {
                int32_t l = 0, t = 0, r = 0, b = 0, pl = 0, pt = 0, pr = 0, pb = 0;
                if (GetBoxBounds(box, &l, &t, &r, &b) == 0 && GetBoxPageBounds(box, &pl, &pt, &pr, &pb) == 0)
                    shapeChanged =
                        CheckBoxShape(static_cast<uint32_t>(box), l, t, r, b, &savedWord, &savedShape, false) == 0;
            }
        }
        const auto restoreShape = [&] {
            if (!shapeChanged)
                return;
            int32_t l = 0, t = 0, r = 0, b = 0;
            if (GetBoxBounds(box, &l, &t, &r, &b) == 0)
                CheckBoxShape(static_cast<uint32_t>(box), l, t, r, b, &savedWord, &savedShape, true);
        };
        if (!MultiDocRun() && mProgress)
            mProgress->Advance(1);

        mStoryIndex = i;
        if (boxClass != BoxClassMasterUsed) {
            ProcessStory(*story, box);
        } else {
            const XTHandle view = xt_getdocviewref(nullptr);
            bool switched = false;
            if (spread < 0) {
                LogMasterBox(record, "WARNING: Spread number invalid for masterpage box", spread);
            } else if (xt_viewgotomaster(view, spread) != XT_OK) {
                ReportApiFailure(FailureMode::ReturnEmpty, kImporterFile, 273, "Importer::Run");
                // The stories that follow are not imported: the run ends as a failure, with the
                // box's shape and the document's links put right.
                mFailed = 1;
                restoreShape();
                Close(base);
                return;
            } else {
                switched = true;
            }
            ProcessStory(*story, box);
            LogMasterBox(record, "SWITCH VIEW TO LAYOUT [BEFORE] => Masterpage box (used)", -1);
            if (xt_viewgotomaster(view, 0) != XT_OK) {
                ReportApiFailure(FailureMode::ReturnEmpty, kImporterFile, 309, "Importer::Run");
                mFailed = 1;
                restoreShape();
                Close(base);
                return;
            }
            (void)switched;
            LogMasterBox(record, "SWITCH VIEW TO LAYOUT [AFTER] => Masterpage box (used)", -1);
        }
        restoreShape();
    }
    // A layout whose links the Book names no story for lost all of them.
    bool namesLayouts = false;
    for (const StoryGroup& g : groups)
        namesLayouts |= g.layout >= 0;
    for (int32_t n = 0; namesLayouts && n < LayoutCount(); ++n) {
        bool named = false;
        for (const StoryGroup& g : groups)
            named |= g.layout == n;
        if (named || !SelectExchangeLayout(n, exchangeLayout, linkCounter) || mLinkedStories <= 0)
            continue;
        Log() << "####layout " << n << " links " << mLinkedStories
              << " boxes to stories, the exchange file holds none of them; their boxes keep their text" << std::endl;
        mFailed = 1;
    }
    Close(base);
}

void Importer::ProcessStory(IStory& story, XTHandle box)
{
    FixedStory segments;
    ImpSentry sentry(*this, box, segments);
    // A story whose translation leaves out what its text holds stays whole, as it is.
    StoryPoints points;
    std::string lost;
    try {
        points = ReadStoryPoints(story);
        lost = LeftOut(story, box, segments, points, [&](QStoryText& text) {
            return mSetUniqueID ? UniqueIdsChanged(story, mStoryIndex, text, mHeldUniqueIds) : std::string();
        });
        if (lost.empty())
            lost = AnchoredItemMoved(points, box, segments, *this, *mConverter);
    } catch (...) {
        lost = "it cannot be read: " + CaughtErrorText();
    }
    if (!lost.empty())
        return RefuseStory(mStoryIndex, lost);
    try {
        const int32_t length = static_cast<int32_t>(QStory(box).GetLength(true));
        const int32_t paragraphs = ParagraphCount(points);
        NoteUnapplied(story, box, segments, paragraphs, MarkersHaveParagraphs(paragraphs, points, segments, length));
    } catch (...) {
        // What cannot be read was named by the story's checks.
    }
    std::unique_ptr<Digger> digger;
    XTHandle textHandle = 0;
    bool unlocked = false;
    const auto relock = [&] {
        if (unlocked && CallHost<XSS_SetLocked>(textHandle, 1) != XT_OK)
            debug_check(1, "Importer::ProcessStory(): ERROR - Relocking temporary unlock of current story failed!");
        unlocked = false;
    };
    try {
        QStoryText text(box);
        std::map<int32_t, int32_t> oldMarkers;
        for (const auto& [id, position] : OldUniqueIdMarkers(text))
            oldMarkers.emplace(id, position);
        digger = std::make_unique<Digger>(box, *this, *mConverter, segments, mTestStyle != 0);
        const int32_t paragraphs = ParagraphCount(points);
        const bool markerParagraphs = MarkersHaveParagraphs(paragraphs, points, segments, digger->TextEnd());
        digger->SetMarkerParagraphs(markerParagraphs);
        textHandle = text.GetTextHandle();
        const std::string unplaced = OldTextBeyond(paragraphs, segments, sentry.StrayTags(), markerParagraphs);
        if (!unplaced.empty())
            return RefuseStory(mStoryIndex, unplaced);
        for (const StoryPoint& point : points) {
            if (point.id < 0 || digger->Positions().count(Digger::Key(point.id, point.direction)))
                continue;
            // The marker's place could not be found: the old text around it would go untranslated.
            return RefuseStory(mStoryIndex, "it places marker " + std::to_string(point.id) +
                                                " that the document's story does not hold");
        }

        uint8_t locked = 0;
        if (CallHost<XSS_IsLocked>(textHandle, &locked) == XT_OK && locked) {
            unlocked = CallHost<XSS_SetLocked>(textHandle, 0) == XT_OK;
            if (!unlocked)
                debug_check(1, "Importer::ProcessStory(): ERROR - Temporary unlock of current story failed!");
        }

        // A box grows only for a text that no longer fits: text that overflowed it already before
        // the import is the document's own layout (a header box shorter than its line), and
        // widening it would show none of that text more.
        const bool fittedBefore = mAutoResize && !TextOverflows(box);
        int32_t paragraphIndex = -1;
        RefPtr<IPara> paragraph;
        for (size_t k = 0; k < points.size(); ++k) {
            const StoryPoint& point = points[k];
            // A paragraph's unique id goes in once, in front of whatever the paragraph holds
            // first: a text run, a marker, or only its end.
            if (point.paragraph != paragraphIndex) {
                paragraph = story.Paragraph(point.paragraph);
                paragraphIndex = point.paragraph;
                int32_t uniqueId = -1;
                if (paragraph && ReadUniqueId(*paragraph, uniqueId)) {
                    if (mSetUniqueID) {
                        const auto old = oldMarkers.find(uniqueId);
                        digger->InsertHidden(uniqueId, old == oldMarkers.end() ? -1 : old->second);
                    }
                    else
                        ++mUniqueIdsLeftOut;
                }
            }
            if (point.id == kPointParagraphEnd) {
                digger->Step(true);
            } else if (point.id == kPointText) {
                if (!paragraph)
                    continue;
                RefPtr<IRun> run = paragraph->Run(point.run);
                if (!run)
                    continue;
                if (run->Kind() == kRunMultibytes)
                    Log() << "*** Multibyte run not imported: para=" << point.paragraph << "  run=" << point.run
                          << std::endl;
                const bool last = k + 1 < points.size() && points[k + 1].id == kPointParagraphEnd;
                digger->InsertRun(*run, last);
            } else if (!digger->Seek(point.id, point.direction, true)) {
                Log() << "*** Object(s) not been imported: para=" << point.id << "  ref=" << paragraphIndex
                      << std::endl;
            }
        }
        // The old text goes before the box is measured: a box grown while it still held both
        // texts would end up wider than its translation needs.
        digger->Flush();
        if (digger->DroppedNuls() > 0)
            Log() << "story " << mStoryIndex << ": " << digger->DroppedNuls()
                  << " NUL character(s) of its translation left out, the document's text cannot hold them" << std::endl;
        if (fittedBefore && TextOverflows(box))
            EnlargeTextBox(box, paragraphIndex);
        relock();
    } catch (...) {
        // The story keeps its old text: what the cursor wrote is taken out again; the other
        // stories are still imported.
        Log() << "####import of story " << mStoryIndex << " failed: " << CaughtErrorText() << std::endl;
        SignalBeep(nullptr);
        mFailed = 1;
        try {
            if (const int32_t refused = digger ? digger->Withdraw() : XT_OK; refused != XT_OK)
                Log() << "####story " << mStoryIndex << " keeps what was written of its translation in front of its text: "
                      << HostRefusalText(refused, "XTY_DeleteText of the translation") << std::endl;
        } catch (...) {
        }
        try {
            relock();
        } catch (...) {
        }
    }
}

std::unique_ptr<Importer> CreateImporter(QuarkDoc* document, IDoc* importDoc, bool autoResize, bool testStyle,
                                         bool setUniqueID, bool newMasterPages)
{
    if (!document || !importDoc)
        return nullptr;
    try {
        return std::make_unique<Importer>(*document, *importDoc, autoResize, testStyle, setUniqueID, newMasterPages);
    } catch (const std::bad_alloc&) {
        return nullptr;
    }
}

#include "platform/host/documents/StoryEdit.h"

#include "platform/host/documents/XTDocSuites.h"

#include <algorithm>
#include <climits>
#include <map>
#include <numeric>
#include <optional>

namespace xthost::doc {

namespace {

// ---- Fingers ----------------------------------------------------------------------------

// The finger, reset to the story's start when the story's sizes moved under it.
Story::Finger& FingerOf(const Story& story)
{
    Story::Finger& f = story.finger;
    if (f.chars != story.text.size() || f.runs != story.charRuns.size() || f.paras != story.paras.size()) {
        f = Story::Finger{};
        f.chars = story.text.size();
        f.runs = story.charRuns.size();
        f.paras = story.paras.size();
    }
    return f;
}

// After an edit: the sizes are the story's again; the finger's positions are the caller's.
void Restamp(const Story& story)
{
    Story::Finger& f = story.finger;
    f.chars = story.text.size();
    f.runs = story.charRuns.size();
    f.paras = story.paras.size();
}

// The length of each paragraph (the last may be 0), from the text when the edits have not
// kept them.
const GapBuffer<int32_t>& ParagraphLengths(const Story& story)
{
    Story::Finger& f = FingerOf(story);
    if (!f.lengthsKept) {
        f.lengths.assign(story.paras.size(), 0);
        size_t para = 0;
        for (size_t i = 0, n = story.text.size(); i < n; ++i) {
            ++f.lengths[para];
            if (story.text[i] == kParagraphEnd && para + 1 < f.lengths.size())
                ++para;
        }
        f.lengthsKept = true;
    }
    return f.lengths;
}

// Text inserted `offset` characters into paragraph para: the paragraph ends it brings split
// the paragraph's length.
void InsertLengths(Story& story, int32_t para, int32_t offset, const std::u16string& text)
{
    GapBuffer<int32_t>& lengths = story.finger.lengths;
    if (!story.finger.lengthsKept)
        return;
    const int32_t tail = lengths[static_cast<size_t>(para)] - offset;
    std::vector<int32_t> pieces;
    int32_t piece = offset;
    for (char16_t c : text) {
        ++piece;
        if (c == kParagraphEnd) {
            pieces.push_back(piece);
            piece = 0;
        }
    }
    pieces.push_back(piece + tail);
    lengths[static_cast<size_t>(para)] = pieces.front();
    lengths.insert(lengths.begin() + para + 1, pieces.begin() + 1, pieces.end());
}

// n characters holding `breaks` paragraph ends removed from paragraph first on: the
// paragraphs they joined become one.
void EraseLengths(Story& story, int32_t first, int32_t breaks, int32_t n)
{
    GapBuffer<int32_t>& lengths = story.finger.lengths;
    if (!story.finger.lengthsKept)
        return;
    const auto from = lengths.begin() + first;
    lengths[static_cast<size_t>(first)] = std::accumulate(from, from + breaks + 1, 0) - n;
    lengths.erase(from + 1, from + 1 + breaks);
}

// The paragraph that holds pos: the paragraph ends before it, counted from the finger. The
// paragraph's start moves along when the finger goes forward, so that text put piece by piece
// at the end of a long paragraph never walks back over the paragraph.
int32_t ParagraphAt(const Story& story, int32_t pos)
{
    Story::Finger& f = FingerOf(story);
    const auto text = story.text.begin();
    if (pos >= f.pos) {
        for (auto at = text + f.pos, end = text + pos; (at = std::find(at, end, kParagraphEnd)) != end; ++at) {
            ++f.para;
            f.paraStart = static_cast<int32_t>(at - text) + 1;
        }
    } else if (pos > f.pos / 2) {
        const auto ends = static_cast<int32_t>(std::count(text + pos, text + f.pos, kParagraphEnd));
        f.para -= ends;
        if (ends > 0)
            f.paraStart = -1;
    } else {
        f.para = static_cast<int32_t>(std::count(text, text + pos, kParagraphEnd));
        f.paraStart = -1;
    }
    f.pos = pos;
    return f.para;
}

// Where the paragraph that holds pos starts.
int32_t ParagraphStart(const Story& story, int32_t pos)
{
    ParagraphAt(story, pos);
    Story::Finger& f = story.finger;
    if (f.paraStart < 0) {
        int32_t start = pos;
        while (start > 0 && story.text[static_cast<size_t>(start - 1)] != kParagraphEnd)
            --start;
        f.paraStart = start;
    }
    return f.paraStart;
}

// The character run that holds pos (its index and start); at the end of the text, the
// number of runs and the length.
std::pair<size_t, int32_t> RunAt(const Story& story, int32_t pos)
{
    Story::Finger& f = FingerOf(story);
    if (pos < f.runStart / 2) {
        f.run = 0;
        f.runStart = 0;
    }
    while (f.run > 0 && f.runStart > pos)
        f.runStart -= story.charRuns[--f.run].length;
    while (f.run < story.charRuns.size() && f.runStart + story.charRuns[f.run].length <= pos)
        f.runStart += story.charRuns[f.run++].length;
    return {f.run, f.runStart};
}

// Splits the run that holds pos so that a run starts there; answers that run's index.
size_t SplitRunAt(Story& story, int32_t pos)
{
    const auto [run, start] = RunAt(story, pos);
    if (run == story.charRuns.size() || start == pos)
        return run;
    const Run whole = story.charRuns[run];
    story.charRuns[run].length = pos - start;
    story.charRuns.insert(story.charRuns.begin() + static_cast<std::ptrdiff_t>(run) + 1, Run{whole.format, whole.length - (pos - start)});
    Restamp(story);
    return run + 1;
}

// Joins equal neighbours among runs [first, last] (indices clamped to the table); the
// finger is left at a run before them.
void MergeRuns(Story& story, size_t first, size_t last)
{
    GapBuffer<Run>& runs = story.charRuns;
    first = first > 0 ? first - 1 : 0;
    last = std::min(last + 1, runs.size());
    size_t out = first;
    for (size_t k = first + 1; k < last; ++k) {
        if (runs[k].format == runs[out].format)
            runs[out].length += runs[k].length;
        else
            runs[++out] = runs[k];
    }
    if (last > first)
        runs.erase(runs.begin() + static_cast<std::ptrdiff_t>(out + 1), runs.begin() + static_cast<std::ptrdiff_t>(last));
    // Callers leave the finger at or before the first merged run, whose start holds.
    Story::Finger& f = story.finger;
    if (f.run > first) {
        f.run = 0;
        f.runStart = 0;
    }
    Restamp(story);
}

// Puts the runs into the character runs at pos (zero lengths are dropped).
void InsertRuns(Story& story, int32_t pos, const std::vector<Run>& pieces)
{
    const size_t at = SplitRunAt(story, pos);
    std::vector<Run> kept;
    kept.reserve(pieces.size());
    for (const Run& r : pieces)
        if (r.length > 0)
            kept.push_back(r);
    story.charRuns.insert(story.charRuns.begin() + static_cast<std::ptrdiff_t>(at), kept.begin(), kept.end());
    // The finger's run may now lie behind the inserted ones.
    story.finger.run = at > 0 ? at - 1 : 0;
    story.finger.runStart = pos - (at > 0 ? story.charRuns[at - 1].length : 0);
    Restamp(story);
    MergeRuns(story, at, at + kept.size());
}

// Removes [start, end) from the character runs.
void EraseRuns(Story& story, int32_t start, int32_t end)
{
    const size_t first = SplitRunAt(story, start);
    const size_t last = SplitRunAt(story, end);
    story.charRuns.erase(story.charRuns.begin() + static_cast<std::ptrdiff_t>(first),
                         story.charRuns.begin() + static_cast<std::ptrdiff_t>(last));
    story.finger.run = first > 0 ? first - 1 : 0;
    story.finger.runStart = start - (first > 0 ? story.charRuns[first - 1].length : 0);
    Restamp(story);
    MergeRuns(story, first, first);
}

// The character runs of [start, end).
std::vector<Run> SliceRuns(const Story& story, int32_t start, int32_t end)
{
    std::vector<Run> slice;
    auto [run, at] = RunAt(story, start);
    for (; run < story.charRuns.size() && at < end; at += story.charRuns[run++].length) {
        const int32_t from = std::max(at, start), to = std::min(at + story.charRuns[run].length, end);
        slice.push_back(Run{story.charRuns[run].format, to - from});
    }
    return slice;
}

// Gives every run of [start, end) the format change(format) answers.
template <class Change>
void ChangeRuns(Story& story, int32_t start, int32_t end, Change change)
{
    const size_t first = SplitRunAt(story, start);
    const size_t last = SplitRunAt(story, end);
    for (size_t k = first; k < last; ++k)
        story.charRuns[k].format = change(story.charRuns[k].format);
    story.finger.run = first > 0 ? first - 1 : 0;
    story.finger.runStart = start - (first > 0 ? story.charRuns[first - 1].length : 0);
    Restamp(story);
    MergeRuns(story, first, last);
}

bool Breaks(char16_t c) { return c == kParagraphEnd || c == kColumnBreak || c == kBoxBreak; }

bool IsHidden(uint32_t kind) { return kind != 1 && (kind < 5 || kind > 7); }

// pos lies strictly inside an object run: the one that starts last before it.
bool InsideObject(const Story& story, int32_t pos)
{
    const auto next = ObjectFrom(story, pos);
    return next != story.objects.begin() && std::prev(next)->at + std::prev(next)->len > pos;
}

// Moves the object runs from pos on by n characters.
void ShiftObjects(Story& story, int32_t pos, int32_t n)
{
    story.objects.Shift(ObjectFrom(story, pos).Index(), n);
}

static_assert(HostErr::TooLong == XT_ERR_STORY_TOO_LONG && HostErr::SplitsRun == XT_ERR_SPLITS_RUN &&
              HostErr::Locked == XT_ERR_STORY_LOCKED);

// Room for n more characters: a longer story could not be saved.
bool Fits(const Story& story, size_t n) { return n <= XT_MAX_STORY_CHARACTERS - story.text.size(); }

// Puts text into the story at pos in one character format; paragraph ends split the
// paragraph at pos under its format. Object runs from pos on move along.
void Splice(Story& story, int32_t pos, const std::u16string& text, int32_t format)
{
    // The runs change first, while the finger still matches the text.
    const int32_t para = ParagraphAt(story, pos);
    const int32_t offset = story.finger.lengthsKept ? pos - ParagraphStart(story, pos) : 0;
    InsertRuns(story, pos, {Run{format, static_cast<int32_t>(text.size())}});
    const auto breaks = std::count(text.begin(), text.end(), kParagraphEnd);
    story.paras.insert(story.paras.begin() + para + 1, static_cast<size_t>(breaks), story.paras[para]);
    InsertLengths(story, para, offset, text);
    story.text.insert(static_cast<size_t>(pos), text);
    ShiftObjects(story, pos, static_cast<int32_t>(text.size()));
    story.finger.pos = pos;
    story.finger.para = para;
    Restamp(story);
}

// Carries formats, boxes and stories from one project and layout into another: the same
// ids within one project, by value between projects.
class Carrier {
public:
    Carrier(const StoryPlace& from, const StoryPlace& to) : from_(from), to_(to) {}

    int32_t Char(int32_t id)
    {
        return from_.project == to_.project ? id : Map(chars_, id, from_.project->charFormats, to_.project->charFormats);
    }
    int32_t Para(int32_t id)
    {
        return from_.project == to_.project ? id : Map(paras_, id, from_.project->paraFormats, to_.project->paraFormats);
    }

    // The uids CloneBox takes for the box: its own, its members', its story's and those of the
    // boxes anchored in that story.
    uint32_t UidsOfClone(uint32_t uid) const
    {
        const Box& source = *from_.layout->FindBox(uid);
        uint32_t count = 1;
        for (uint32_t member : source.members)
            count += UidsOfClone(member);
        if (source.kind == BoxKind::Text) {
            ++count;
            for (const ObjectRun& o : from_.layout->FindStory(source.story)->objects)
                if (o.kind == 1)
                    count += UidsOfClone(o.box);
        }
        return count;
    }

    // A new box like the given one (a text box with a copy of its story, a group with copies
    // of its members), not yet placed; answers its uid.
    uint32_t CloneBox(uint32_t uid)
    {
        const Box& source = *from_.layout->FindBox(uid);
        Box box = source;
        box.uid = to_.project->NewUid();
        box.privateData.clear();  // the copy is a new box, not another home of the original's links
        box.derivedFrom = 0;
        box.autotext = box.autoText = false;
        box.owner = Owner{};
        for (uint32_t& member : box.members)
            member = CloneBox(member);
        if (source.kind == BoxKind::Text) {
            const Story& text = *from_.layout->FindStory(source.story);
            Story story;
            story.uid = to_.project->NewUid();
            story.boxes = {box.uid};
            story.text = text.text;
            for (const Run& run : text.charRuns)
                story.charRuns.push_back(Run{Char(run.format), run.length});
            for (int32_t para : text.paras)
                story.paras.push_back(Para(para));
            story.objects = text.objects;
            for (size_t k = 0; k < story.objects.size(); ++k) {
                ObjectRun o = story.objects[k];
                if (o.kind == 1) {
                    o.box = CloneBox(o.box);
                    story.objects.Set(k, o);
                }
            }
            story.locked = text.locked;
            story.flag0 = text.flag0;
            box.story = story.uid;
            to_.layout->stories.emplace(story.uid, std::move(story));
        }
        to_.layout->boxes.emplace(box.uid, box);
        return box.uid;
    }

private:
    template <class F>
    static int32_t Map(std::map<int32_t, int32_t>& cache, int32_t id, const FormatTable<F>& a, FormatTable<F>& b)
    {
        auto [it, added] = cache.emplace(id, 0);
        if (added)
            it->second = b.Intern(*a.Find(id));
        return it->second;
    }

    StoryPlace from_, to_;
    std::map<int32_t, int32_t> chars_, paras_;
};

template <class F, class Change>
int32_t Changed(FormatTable<F>& table, std::map<int32_t, int32_t>& cache, int32_t id, Change change)
{
    auto [it, added] = cache.emplace(id, 0);
    if (added) {
        F format = *table.Find(id);
        change(format);
        it->second = table.Intern(format);
    }
    return it->second;
}

}  // namespace

ObjectRuns::const_iterator ObjectFrom(const Story& story, int32_t pos)
{
    return std::lower_bound(story.objects.begin(), story.objects.end(), pos,
                            [](const ObjectRun& o, int32_t at) { return o.at < at; });
}

bool CutsObject(const Story& story, int32_t start, int32_t end)
{
    // Only a run that holds start or end can be cut; the runs between lie whole inside.
    return InsideObject(story, start) || InsideObject(story, end);
}

int32_t NeighbourFormat(Project& project, const Story& story, int32_t pos)
{
    if (!story.text.empty()) {
        const auto run = RunAt(story, std::min(pos > 0 ? pos - 1 : 0, static_cast<int32_t>(story.text.size()) - 1)).first;
        if (run < story.charRuns.size())
            return story.charRuns[run].format;
    }
    for (const StyleSheet& sheet : project.styleSheets)
        if (sheet.name == "Normal")
            return sheet.charFormat;
    return project.charFormats.Size() ? 1 : project.charFormats.Intern(CharFormat{});
}

int32_t InsertText(Project& project, Story& story, int32_t pos, const std::u16string& text, int32_t format)
{
    const auto length = static_cast<int32_t>(story.text.size());
    if (pos < 0 || pos > length || (format && !project.charFormats.Find(format)))
        return HostErr::BadRef;
    if (!Fits(story, text.size()))
        return HostErr::TooLong;
    if (InsideObject(story, pos))
        return HostErr::SplitsRun;
    if (!text.empty())
        Splice(story, pos, text, format ? format : NeighbourFormat(project, story, pos));
    return HostErr::Ok;
}

std::u16string HiddenRunChars(uint32_t kind, const std::vector<uint8_t>& data)
{
    std::u16string chars(1, static_cast<char16_t>(kHiddenMarker | (kind & 0xFF)));
    chars.insert(chars.end(), data.begin(), data.end());
    return chars;
}

int32_t InsertObject(Project& project, Story& story, int32_t pos, const std::u16string& chars, ObjectRun run,
                     int32_t format)
{
    bool fits = run.kind >= 1 && run.kind <= 0xFF && !chars.empty() &&
                chars.find(kParagraphEnd) == std::u16string::npos;
    if (fits && run.kind == 1)
        fits = chars == std::u16string(1, kAnchorChar) && run.box != 0;
    else if (fits && run.kind <= 7 && run.kind >= 5)
        fits = std::all_of(chars.begin(), chars.end(), [&](char16_t c) { return c == run.kind - 4; });
    else if (fits)
        fits = chars[0] == (kHiddenMarker | run.kind) &&
               std::all_of(chars.begin() + 1, chars.end(), [](char16_t c) { return c <= 0xFF; });
    if (!fits || (run.kind != 1 && run.box != 0))
        return HostErr::BadRef;
    const int32_t result = InsertText(project, story, pos, chars, format);
    if (result != HostErr::Ok)
        return result;
    run.at = pos;
    run.len = static_cast<int32_t>(chars.size());
    story.objects.insert(std::upper_bound(story.objects.begin(), story.objects.end(), run,
                                          [](const ObjectRun& a, const ObjectRun& b) { return a.at < b.at; }),
                         run);
    return HostErr::Ok;
}

int32_t DeleteText(Story& story, int32_t start, int32_t end)
{
    const auto length = static_cast<int32_t>(story.text.size());
    if (start < 0 || end < start || end > length)
        return HostErr::BadRef;
    const bool anchors = std::any_of(ObjectFrom(story, start), ObjectFrom(story, end), [](const ObjectRun& o) { return o.kind == 1; });
    if (anchors || CutsObject(story, start, end))
        return HostErr::SplitsRun;
    if (start == end)
        return HostErr::Ok;
    // Each deleted paragraph end joins the next paragraph to the one it ended.
    const int32_t first = ParagraphAt(story, start);
    const auto breaks = std::count(story.text.begin() + start, story.text.begin() + end, kParagraphEnd);
    EraseRuns(story, start, end);
    story.paras.erase(story.paras.begin() + first + 1, story.paras.begin() + first + 1 + breaks);
    EraseLengths(story, first, static_cast<int32_t>(breaks), end - start);
    story.text.erase(static_cast<size_t>(start), static_cast<size_t>(end - start));
    story.finger.pos = start;
    story.finger.para = first;
    Restamp(story);
    story.objects.erase(ObjectFrom(story, start), ObjectFrom(story, end));
    ShiftObjects(story, end, start - end);
    return HostErr::Ok;
}

int32_t CopyText(const StoryPlace& from, int32_t start, int32_t end, const StoryPlace& to, int32_t pos)
{
    const Story& src = *from.story;
    Story& dst = *to.story;
    if (start < 0 || end < start || end > static_cast<int32_t>(src.text.size()) || pos < 0 ||
        pos > static_cast<int32_t>(dst.text.size()))
        return HostErr::BadRef;
    if (!Fits(dst, static_cast<size_t>(end - start)))
        return HostErr::TooLong;
    if (CutsObject(src, start, end) || InsideObject(dst, pos))
        return HostErr::SplitsRun;
    if (start == end)
        return HostErr::Ok;

    // Take everything from the source first: it may be the destination.
    Carrier carry(from, to);
    const std::u16string text = src.text.substr(static_cast<size_t>(start), static_cast<size_t>(end - start));
    std::vector<Run> copied = SliceRuns(src, start, end);
    for (Run& r : copied)
        r.format = carry.Char(r.format);
    // The formats of the source paragraphs the copy touches, one per piece.
    std::vector<int32_t> pieces;
    for (int32_t p = ParagraphAt(src, start), last = ParagraphAt(src, end - 1) + (text.back() == kParagraphEnd);
         p <= last; ++p)
        pieces.push_back(carry.Para(src.paras[static_cast<size_t>(p)]));
    std::vector<ObjectRun> objects(ObjectFrom(src, start), ObjectFrom(src, end));
    uint64_t uids = 0;
    for (const ObjectRun& o : objects)
        if (o.kind == 1)
            uids += carry.UidsOfClone(o.box);
    if (uids > to.project->UidsLeft())
        return HostErr::NoUid;
    for (ObjectRun& o : objects) {
        o.at += pos - start;
        if (o.kind == 1)
            o.box = carry.CloneBox(o.box);
    }

    const int32_t para = ParagraphAt(dst, pos);
    const int32_t paraStart = ParagraphStart(dst, pos);
    const bool head = paraStart < pos;  // the paragraph already starts before the copy
    const bool tail = text.back() != kParagraphEnd;    // the copy's last piece starts a paragraph
    InsertRuns(dst, pos, copied);
    const int32_t own = dst.paras[static_cast<size_t>(para)];
    // A copy without a paragraph end brings no paragraph: text put at a paragraph's start
    // takes that paragraph's format as typing there would.
    if (head || pieces.size() == 1)
        pieces.front() = own;
    if (!tail)
        pieces.back() = own;
    dst.paras.erase(dst.paras.begin() + para);
    dst.paras.insert(dst.paras.begin() + para, pieces.begin(), pieces.end());
    InsertLengths(dst, para, pos - paraStart, text);
    dst.text.insert(static_cast<size_t>(pos), text);
    dst.finger.pos = pos;
    dst.finger.para = para;
    Restamp(dst);
    ShiftObjects(dst, pos, static_cast<int32_t>(text.size()));
    dst.objects.insert(std::upper_bound(dst.objects.begin(), dst.objects.end(), pos,
                                        [](int32_t at, const ObjectRun& o) { return at <= o.at; }),
                       objects.begin(), objects.end());
    // Only an anchored box changes who owns a box; hidden content and page numbers leave
    // the owners as they are, and reindexing walks every box of the layout.
    if (std::any_of(objects.begin(), objects.end(), [](const ObjectRun& o) { return o.kind == 1; }))
        to.layout->Index();
    return HostErr::Ok;
}

// ---- Attributes -------------------------------------------------------------------------

bool IsParaAttribute(int32_t code) { return code >= 1 && code < 0x40; }

namespace {

// A font of the font table, or one the document's text already uses without an entry there (a
// missing font keeps its id in the text, and text may take it again).
bool KnownFont(const Project& project, int16_t id)
{
    if (project.FindFont(id))
        return true;
    for (size_t n = 1; n <= project.charFormats.Size(); ++n)
        if (project.charFormats.Find(static_cast<int32_t>(n))->font == id)
            return true;
    return false;
}

}  // namespace

int32_t SetCharAttribute(Project& project, Story& story, int32_t start, int32_t end, int32_t code, int32_t value,
                         int32_t* insertFormat)
{
    const auto length = static_cast<int32_t>(story.text.size());
    if (start < 0 || end < start || end > length)
        return HostErr::BadRef;
    bool known = true;
    switch (code) {
    case -101: known = value >= INT16_MIN && value <= INT16_MAX && KnownFont(project, static_cast<int16_t>(value)); break;
    case -102: known = value >= 0 && value <= 0xFFFF; break;
    case -103: known = value > 0; break;
    case -112: known = value >= 0 && value <= 0xFF; break;
    case -108: case -109: case -110: case -111: break;
    case 5: known = project.FindColour(value) != nullptr; break;
    default: known = false;
    }
    if (!known)
        return HostErr::BadRef;
    auto change = [code, value](CharFormat& f) {
        switch (code) {
        case -101: f.font = static_cast<int16_t>(value); break;
        case -102: f.face = static_cast<uint16_t>(value); break;
        case -103: f.size = value; break;
        case -108: f.kern = value; break;
        case -109: f.track = value; break;
        case -110: f.shift = value; break;
        case -111: f.tag = static_cast<uint32_t>(value); break;
        case -112: f.high = static_cast<uint8_t>(value); break;
        default: f.colour = value; break;
        }
    };
    std::map<int32_t, int32_t> cache;
    if (start == end) {
        const int32_t base = *insertFormat ? *insertFormat : NeighbourFormat(project, story, start);
        *insertFormat = Changed(project.charFormats, cache, base, change);
        return HostErr::Ok;
    }
    ChangeRuns(story, start, end, [&](int32_t f) { return Changed(project.charFormats, cache, f, change); });
    return HostErr::Ok;
}

int32_t SetParaAttribute(Project& project, Story& story, int32_t start, int32_t end, int32_t code, int32_t value)
{
    const auto length = static_cast<int32_t>(story.text.size());
    if (start < 0 || end < start || end > length || !IsParaAttribute(code) ||
        (code == 0x18 && (value < 0 || value > 3)) || (code == 0x19 && (value < 0 || value > 2)) ||
        (code == kSecondStyleCode && value < -1))
        return HostErr::BadRef;
    auto change = [code, value](ParaFormat& f) {
        switch (code) {
        case 0x11: f.leftIndent = value; break;
        case 0x12: f.firstIndent = value; break;
        case 0x13: f.rightIndent = value; break;
        case 0x14: f.leading = value; break;
        case 0x15: f.spaceBefore = value; break;
        case 0x16: f.spaceAfter = value; break;
        case 0x18: f.align = static_cast<Align>(value); break;
        case 0x19: f.direction = static_cast<Direction>(value); break;
        case kSecondStyleCode: f.style2 = value; break;
        default: {
            // An absent code reads 0, so 0 removes the entry: a paragraph given back its own
            // values keeps its format.
            auto at = std::lower_bound(f.other.begin(), f.other.end(), std::make_pair(code, INT32_MIN));
            const bool present = at != f.other.end() && at->first == code;
            if (value == 0) {
                if (present)
                    f.other.erase(at);
            } else if (present) {
                at->second = value;
            } else {
                f.other.insert(at, {code, value});
            }
        }
        }
    };
    std::map<int32_t, int32_t> cache;
    for (int32_t para = ParagraphAt(story, start), last = ParagraphAt(story, end); para <= last; ++para)
        story.paras[static_cast<size_t>(para)] = Changed(project.paraFormats, cache, story.paras[static_cast<size_t>(para)], change);
    return HostErr::Ok;
}

void SetParagraphFormat(Story& story, int32_t start, int32_t end, int32_t format)
{
    for (int32_t para = ParagraphAt(story, start), last = ParagraphAt(story, end); para <= last; ++para)
        story.paras[static_cast<size_t>(para)] = format;
}

void ParaAttributeValues(const ParaFormat& format, int32_t values[0x40])
{
    std::fill(values, values + 0x40, 0);
    for (const auto& [code, value] : format.other)
        if (IsParaAttribute(code))
            values[code] = value;
    values[0x11] = format.leftIndent;
    values[0x12] = format.firstIndent;
    values[0x13] = format.rightIndent;
    values[0x14] = format.leading;
    values[0x15] = format.spaceBefore;
    values[0x16] = format.spaceAfter;
    values[0x18] = static_cast<int32_t>(format.align);
    values[0x19] = static_cast<int32_t>(format.direction);
    values[kSecondStyleCode] = format.style2;
}

// ---- Derived tables ---------------------------------------------------------------------

std::vector<RunEntry> StyleRuns(const Story& story)
{
    std::vector<RunEntry> runs;
    runs.reserve(story.charRuns.size());
    for (const Run& run : story.charRuns)
        runs.push_back(RunEntry{static_cast<uint32_t>(run.format), static_cast<uint32_t>(run.length)});
    return runs;
}

std::vector<RunEntry> ParagraphRuns(Project& project, const Story& story)
{
    const auto length = static_cast<int32_t>(story.text.size());
    std::vector<uint32_t> tags;  // the tag run kind of each character
    tags.reserve(story.text.size());
    for (const Run& run : story.charRuns)
        tags.insert(tags.end(), static_cast<size_t>(run.length), TagRunKind(project.charFormats.Find(run.format)->tag));

    std::vector<RunEntry> runs;
    size_t para = 0, object = 0;
    for (int32_t pos = 0; pos < length;) {
        const std::optional<ObjectRun> o = object < story.objects.size() && story.objects[object].at == pos
                                               ? std::optional<ObjectRun>(story.objects[object++])
                                               : std::nullopt;
        uint32_t kind = o ? o->kind : tags[static_cast<size_t>(pos)];
        int32_t end = o ? pos + o->len : pos + 1;
        if (!o)
            while (end < length && !Breaks(story.text[static_cast<size_t>(end - 1)]) && tags[static_cast<size_t>(end)] == kind &&
                   !(object < story.objects.size() && story.objects[object].at == end))
                ++end;
        const int32_t id = project.runFormats.Intern(RunFormat{story.paras[para], kind});
        runs.push_back(RunEntry{static_cast<uint32_t>(id), static_cast<uint32_t>(end - pos)});
        if (story.text[static_cast<size_t>(end - 1)] == kParagraphEnd)
            ++para;
        pos = end;
    }
    return runs;
}

std::vector<RunEntry> ParagraphStyleRuns(const Story& story)
{
    const GapBuffer<int32_t>& lengths = ParagraphLengths(story);
    std::vector<RunEntry> runs;
    runs.reserve(lengths.size());
    for (size_t para = 0; para < lengths.size() && lengths[para] > 0; ++para)
        runs.push_back(RunEntry{static_cast<uint32_t>(story.paras[para]), static_cast<uint32_t>(lengths[para])});
    return runs;
}

size_t ParagraphStyleRunCount(const Story& story)
{
    return story.paras.size() - (story.text.empty() || story.text.back() == kParagraphEnd ? 1 : 0);
}

// ---- Hidden content ---------------------------------------------------------------------

std::optional<ObjectRun> ObjectAt(const Story& story, int32_t pos)
{
    auto it = ObjectFrom(story, pos);
    return it != story.objects.end() && it->at == pos ? std::optional<ObjectRun>(*it) : std::nullopt;
}

bool FindMarker(const Story& story, int32_t from, int32_t limit, bool forward, uint32_t opcode, int32_t* at)
{
    *at = -1;
    auto family = [opcode](const ObjectRun& o) {
        return IsHidden(o.kind) && (o.kind & ~kParenBits) == (opcode & ~kParenBits);
    };
    auto meet = [&](const ObjectRun& o) {
        if (o.kind == opcode)
            *at = o.at;
        return *at >= 0;
    };
    if (forward) {
        for (auto o = ObjectFrom(story, from); o != story.objects.end() && o->at < limit; ++o)
            if (family(*o))
                return meet(*o);
    } else {
        for (auto o = ObjectFrom(story, from); o != story.objects.begin() && std::prev(o)->at >= limit;)
            if (family(*--o))
                return meet(*o);
    }
    return false;
}

int32_t HiddenRunEnd(const Story& story, int32_t pos)
{
    const std::optional<ObjectRun> o = pos > 0 ? ObjectAt(story, pos - 1) : std::nullopt;
    return o && IsHidden(o->kind) ? o->at + o->len : pos;
}

}  // namespace xthost::doc

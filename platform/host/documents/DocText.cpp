// The text calls of the emulated host: stories, their run tables and formats, edits, copies,
// selection, lock and hidden content.
#include <algorithm>

#include "platform/host/documents/DocHostState.h"
#include "platform/host/documents/XTDocSuites.h"

namespace xthost::doc {

namespace {

std::string Range(const char* a, int32_t x, const char* b, int32_t y)
{
    return std::string(" ") + a + "=" + std::to_string(x) + " " + b + "=" + std::to_string(y);
}

int32_t Length(const Story& story) { return static_cast<int32_t>(story.text.size()); }

// The selection follows an edit at pos that adds n characters (or, negative, removes -n);
// an insertion point where text goes in ends up after it.
void Follow(Story& story, int32_t pos, int32_t n)
{
    const bool point = story.selStart == story.selEnd;
    for (int32_t* at : {&story.selStart, &story.selEnd})
        if (*at > pos || (n > 0 && point && *at == pos))
            *at = std::max(pos, *at + n);
    story.insertFormat = 0;
}

// The reason a text edit was refused with TooLong.
const std::string kTooLong = "text.refused the story would be longer than the " + std::to_string(XT_MAX_STORY_CHARACTERS) +
                             " characters a document's file can hold";

}  // namespace

Story* DocHost::TextOrCurrent(int32_t handle, const char* role, Layoutx** layout)
{
    if (handle != 0)
        return TextRef(handle, role, layout);
    Layoutx* lx = Front();
    const Box* current = lx && lx->currentBox ? lx->layout->FindBox(lx->currentBox) : nullptr;
    if (!current || current->kind != BoxKind::Text) {
        Note(std::string("badref ") + role + " no current text box");
        return nullptr;
    }
    *layout = lx;
    return lx->layout->FindStory(current->story);
}

Story* DocHost::Editable(int32_t handle, const char* role, Layoutx** layout, int32_t* result)
{
    Story* story = TextOrCurrent(handle, role, layout);
    *result = !story ? HostErr::BadRef : story->locked ? HostErr::Locked : HostErr::Ok;
    return *result == HostErr::Ok ? story : nullptr;
}

// Boxes and stories a copy made get their handles, in uid order like the rest.
void DocHost::IssueNew(Layoutx& lx)
{
    for (const auto& [uid, box] : lx.layout->boxes)
        if (!lx.boxes.count(uid))
            IssueBox(lx, uid);
    for (const auto& [uid, story] : lx.layout->stories)
        if (!lx.texts.count(uid))
            IssueText(lx, uid);
}

// ---- Stories ------------------------------------------------------------------------------

int32_t DocHost::StoryOfBox(int32_t box, int32_t* text, int32_t* length)
{
    int32_t start = 0, end = 0;
    return StoryQuery(box, text, &start, &end, length);
}

int32_t DocHost::StoryQuery(int32_t box, int32_t* text, int32_t* selStart, int32_t* selEnd, int32_t* length)
{
    return Call("TXT-1", false, [&] { return "text.of box=" + HexHandle(box); }, [&] {
        Layoutx* lx = nullptr;
        const Box* b = BoxRef(box, "TXT-1", &lx);
        const Story* story = b && b->kind == BoxKind::Text ? lx->layout->FindStory(b->story) : nullptr;
        if (!story)
            return HostErr::BadRef;
        *text = lx->texts.at(story->uid);
        *selStart = story->selStart;
        *selEnd = story->selEnd;
        *length = Length(*story);
        return HostErr::Ok;
    });
}

int32_t DocHost::StyleRuns(int32_t text, std::vector<RunEntry>* runs)
{
    return Call("TXT-2", false, [&] { return "text.style-runs text=" + HexHandle(text); }, [&] {
        Layoutx* lx = nullptr;
        const Story* story = TextRef(text, "TXT-2", &lx);
        if (!story)
            return HostErr::BadRef;
        *runs = xthost::doc::StyleRuns(*story);
        return HostErr::Ok;
    });
}

int32_t DocHost::ParagraphRuns(int32_t text, std::vector<RunEntry>* runs)
{
    return Call("TXT-3", false, [&] { return "text.para-runs text=" + HexHandle(text); }, [&] {
        Layoutx* lx = nullptr;
        const Story* story = TextRef(text, "TXT-3", &lx);
        if (!story)
            return HostErr::BadRef;
        *runs = xthost::doc::ParagraphRuns(*lx->project->project, *story);
        return HostErr::Ok;
    });
}

// Formats are kept per project, so the project is the store.
int32_t DocHost::AttributeStore(int32_t text, int32_t* store)
{
    return Call("TXT-4", false, [&] { return "text.store text=" + HexHandle(text); }, [&] {
        Layoutx* lx = nullptr;
        if (!TextRef(text, "TXT-4", &lx))
            return HostErr::BadRef;
        *store = lx->project->handle;
        return HostErr::Ok;
    });
}

int32_t DocHost::CharAttributes(int32_t store, uint32_t value, CharFormat* format)
{
    return Call("TXT-5", false, [&] { return "text.char-format store=" + HexHandle(store) + " value=" + std::to_string(value); },
                [&] {
                    const Ref* ref = Resolve(store, Tag::Project, "TXT-5");
                    const CharFormat* f = ref ? ref->project->project->charFormats.Find(static_cast<int32_t>(value)) : nullptr;
                    if (!f)
                        return HostErr::BadRef;
                    *format = *f;
                    return HostErr::Ok;
                });
}

int32_t DocHost::ParaAttributes(int32_t store, uint32_t value, ParaFormat* format, uint32_t* kind)
{
    return Call("TXT-6", false, [&] { return "text.para-format store=" + HexHandle(store) + " value=" + std::to_string(value); },
                [&] {
                    const Ref* ref = Resolve(store, Tag::Project, "TXT-6");
                    if (!ref)
                        return HostErr::BadRef;
                    const Project& p = *ref->project->project;
                    const RunFormat* run = p.runFormats.Find(static_cast<int32_t>(value & 0xFFFF));
                    if (!run)
                        return HostErr::BadRef;
                    *format = *p.paraFormats.Find(run->para);
                    *kind = run->kind;
                    return HostErr::Ok;
                });
}

int32_t DocHost::StoryText(int32_t text, std::u16string* chars)
{
    return StoryChars(text, 0, INT32_MAX, chars);
}

int32_t DocHost::StoryChars(int32_t text, int32_t start, int32_t count, std::u16string* chars)
{
    return Call("TXT-7", false, [&] { return "text.chars text=" + HexHandle(text) + Range("from", start, "n", count); },
                [&] {
                    Layoutx* lx = nullptr;
                    const Story* story = TextRef(text, "TXT-7", &lx);
                    if (!story || start < 0 || start > Length(*story) || count < 0)
                        return HostErr::BadRef;
                    *chars = story->text.substr(static_cast<size_t>(start), static_cast<size_t>(count));
                    return HostErr::Ok;
                });
}

int32_t DocHost::StoryFlag(int32_t text, int32_t n, bool* set)
{
    return Call("TXT-8", false, [&] { return "text.flag? text=" + HexHandle(text) + " n=" + std::to_string(n); }, [&] {
        Layoutx* lx = nullptr;
        const Story* story = TextRef(text, "TXT-8", &lx);
        if (!story || n != 0)
            return HostErr::BadRef;
        *set = story->flag0;
        return HostErr::Ok;
    });
}

int32_t DocHost::SetStoryFlag(int32_t text, int32_t n, bool set)
{
    return Call("TXT-8", true,
                [&] { return "text.flag text=" + HexHandle(text) + " n=" + std::to_string(n) + " set=" + std::to_string(set); },
                [&] {
                    Layoutx* lx = nullptr;
                    Story* story = TextRef(text, "TXT-8", &lx);
                    if (!story || n != 0)
                        return HostErr::BadRef;
                    story->flag0 = set;
                    Touch(*lx);
                    return HostErr::Ok;
                });
}

int32_t DocHost::BeginEdit(int32_t text)
{
    return Call("TXT-9", true, [&] { return "text.begin-edit text=" + HexHandle(text); }, [&] {
        Layoutx* lx = nullptr;
        return text == 0 || TextRef(text, "TXT-9", &lx) ? HostErr::Ok : HostErr::BadRef;
    });
}

int32_t DocHost::EndEdit()
{
    return Call("TXT-9", true, [] { return std::string("text.end-edit"); }, [] { return HostErr::Ok; });
}

int32_t DocHost::DeleteText(int32_t text, int32_t start, int32_t end)
{
    return Call("TXT-10", true,
                [&] { return "text.delete story=" + HexHandle(text) + Range("from", start, "to", end); },
                [&] {
                    Layoutx* lx = nullptr;
                    int32_t result = 0;
                    Story* story = Editable(text, "TXT-10", &lx, &result);
                    if (!story)
                        return result;
                    if (start < 0 || end < start || end > Length(*story))
                        return HostErr::BadRef;
                    if (CutsObject(*story, start, end))
                        return HostErr::SplitsRun;
                    // Anchored items go with their boxes (and the boxes take their anchors).
                    std::vector<uint32_t> anchored;
                    for (auto o = ObjectFrom(*story, start); o != story->objects.end() && o->at < end; ++o)
                        if (o->kind == 1)
                            anchored.push_back(o->box);
                    for (uint32_t uid : anchored)
                        RemoveBox(*lx, uid);
                    const int32_t rest = end - static_cast<int32_t>(anchored.size());
                    if ((result = xthost::doc::DeleteText(*story, start, rest)) == HostErr::Ok) {
                        Follow(*story, start, start - end);
                        StoryChanged(*lx, *story);
                    }
                    return result;
                });
}

int32_t DocHost::InsertText(int32_t text, int32_t pos, const std::u16string& chars)
{
    return Call("TXT-11", true,
                [&] { return "text.insert story=" + HexHandle(text) + Range("at", pos, "n", static_cast<int32_t>(chars.size())); },
                [&] {
                    Layoutx* lx = nullptr;
                    int32_t result = 0;
                    Story* story = Editable(text, "TXT-11", &lx, &result);
                    if (!story)
                        return result;
                    // A format set at the empty selection is what text typed there takes.
                    const bool atPoint = story->selStart == pos && story->selEnd == pos;
                    result = xthost::doc::InsertText(*lx->project->project, *story, pos, chars,
                                                     atPoint ? story->insertFormat : 0);
                    if (result == HostErr::TooLong)
                        Note(kTooLong);
                    if (result == HostErr::Ok && !chars.empty()) {
                        Follow(*story, pos, static_cast<int32_t>(chars.size()));
                        StoryChanged(*lx, *story);
                    }
                    return result;
                });
}

int32_t DocHost::CopyBoxText(int32_t srcDoc, int32_t srcBox, int32_t start, int32_t end, int32_t dstDoc,
                             int32_t dstBox, int32_t pos)
{
    // The boxes name the stories; the documents only have to be open.
    Layoutx* lx = nullptr;
    int32_t src = 0, dst = 0;
    const Box* a = (LayoutOf(srcDoc, "TXT-12") && LayoutOf(dstDoc, "TXT-12")) ? BoxRef(srcBox, "TXT-12", &lx) : nullptr;
    if (a && a->kind == BoxKind::Text)
        src = lx->texts.at(a->story);
    const Box* b = BoxRef(dstBox, "TXT-12", &lx);
    if (b && b->kind == BoxKind::Text)
        dst = lx->texts.at(b->story);
    return CopyText(src, start, end, dst, pos);
}

int32_t DocHost::CopyText(int32_t src, int32_t start, int32_t end, int32_t dst, int32_t pos)
{
    return Call("TXT-13", true,
                [&] {
                    return "text.copy from=" + HexHandle(src) + Range("start", start, "end", end) + " to=" + HexHandle(dst) +
                           " at=" + std::to_string(pos);
                },
                [&] {
                    Layoutx *from = nullptr, *to = nullptr;
                    int32_t result = 0;
                    Story* source = TextRef(src, "TXT-13", &from);
                    Story* target = source ? Editable(dst, "TXT-13", &to, &result) : nullptr;
                    if (!source || !target)
                        return source ? result : HostErr::BadRef;
                    result = xthost::doc::CopyText(StoryPlace{from->project->project.get(), from->layout, source}, start, end,
                                                   StoryPlace{to->project->project.get(), to->layout, target}, pos);
                    if (result == HostErr::TooLong)
                        Note(kTooLong);
                    if (result == HostErr::Ok && end > start) {
                        // Handles go with their boxes and stories, so equal counts mean nothing
                        // new to number, and the walk over the whole layout is spared.
                        if (to->boxes.size() != to->layout->boxes.size() || to->texts.size() != to->layout->stories.size())
                            IssueNew(*to);
                        Follow(*target, pos, end - start);
                        StoryChanged(*to, *target);
                    }
                    return result;
                });
}

int32_t DocHost::SetSelection(int32_t text, int32_t start, int32_t end)
{
    return Call("TXT-14", false, [&] { return "text.select story=" + HexHandle(text) + Range("from", start, "to", end); },
                [&] {
                    Layoutx* lx = nullptr;
                    Story* story = TextOrCurrent(text, "TXT-14", &lx);
                    if (!story || start < 0 || end < start || end > Length(*story))
                        return HostErr::BadRef;
                    story->selStart = start;
                    story->selEnd = end;
                    story->insertFormat = 0;
                    return HostErr::Ok;
                });
}

int32_t DocHost::SetInsertionPoint(int32_t pos) { return SetSelection(0, pos, pos); }
int32_t DocHost::SelectRange(int32_t start, int32_t end) { return SetSelection(0, start, end); }

int32_t DocHost::SelectAll()
{
    Layoutx* lx = nullptr;
    const Story* story = TextOrCurrent(0, "TXT-15", &lx);
    return SetSelection(0, 0, story ? Length(*story) : -1);
}

int32_t DocHost::SetTextAttribute(int32_t text, int32_t code, int32_t value)
{
    return Call("TXT-16", true,
                [&] { return "text.attribute story=" + HexHandle(text) + Range("code", code, "value", value); },
                [&] {
                    Layoutx* lx = nullptr;
                    int32_t result = 0;
                    Story* story = Editable(text, "TXT-16", &lx, &result);
                    if (!story)
                        return result;
                    Project& p = *lx->project->project;
                    // Code 5 is the colour only: an unknown colour id is refused.
                    const bool paragraph = IsParaAttribute(code) && code != 5;
                    result = paragraph
                                 ? SetParaAttribute(p, *story, story->selStart, story->selEnd, code, value)
                                 : SetCharAttribute(p, *story, story->selStart, story->selEnd, code, value, &story->insertFormat);
                    // A character format set at the insertion point changes no text yet.
                    if (result == HostErr::Ok && (paragraph || story->selStart != story->selEnd))
                        StoryChanged(*lx, *story);
                    return result;
                });
}

int32_t DocHost::InsertionAttributes(CharFormat* format)
{
    return Call("TXT-17", false, [] { return std::string("text.insertion-format"); }, [&] {
        Layoutx* lx = nullptr;
        const Story* story = TextOrCurrent(0, "TXT-17", &lx);
        if (!story)
            return HostErr::BadRef;
        Project& p = *lx->project->project;
        const bool atPoint = story->selStart == story->selEnd && story->insertFormat;
        *format = *p.charFormats.Find(atPoint ? story->insertFormat : NeighbourFormat(p, *story, story->selStart));
        return HostErr::Ok;
    });
}

int32_t DocHost::CharacterUnit(int32_t text, int32_t pos, uint32_t* code, int32_t* width)
{
    return Call("TXT-18", false, [&] { return "text.unit text=" + HexHandle(text) + " at=" + std::to_string(pos); }, [&] {
        Layoutx* lx = nullptr;
        const Story* story = TextRef(text, "TXT-18", &lx);
        if (!story || pos < 0 || pos >= Length(*story))
            return HostErr::BadRef;
        const auto at = static_cast<size_t>(pos);
        const char16_t c = story->text[at];
        const bool pair = c >= 0xD800 && c < 0xDC00 && at + 1 < story->text.size() && story->text[at + 1] >= 0xDC00 &&
                          story->text[at + 1] < 0xE000;
        *code = pair ? 0x10000 + ((uint32_t(c) - 0xD800) << 10) + (story->text[at + 1] - 0xDC00) : c;
        *width = pair ? 2 : 1;
        return HostErr::Ok;
    });
}

int32_t DocHost::ParagraphStyleRuns(int32_t text, std::vector<RunEntry>* runs) { return ParagraphStyles(text, runs, nullptr); }
int32_t DocHost::ParagraphStyleRunCount(int32_t text, int32_t* count) { return ParagraphStyles(text, nullptr, count); }

// The table, or only its number of entries, which the host knows without building it.
int32_t DocHost::ParagraphStyles(int32_t text, std::vector<RunEntry>* runs, int32_t* count)
{
    return Call("TXT-19", false, [&] { return "text.para-styles text=" + HexHandle(text); }, [&] {
        Layoutx* lx = nullptr;
        const Story* story = TextRef(text, "TXT-19", &lx);
        if (!story)
            return HostErr::BadRef;
        if (runs)
            *runs = xthost::doc::ParagraphStyleRuns(*story);
        else
            *count = static_cast<int32_t>(xthost::doc::ParagraphStyleRunCount(*story));
        return HostErr::Ok;
    });
}

int32_t DocHost::IsLocked(int32_t text, bool* locked)
{
    return Call("XSS-2", false, [&] { return "text.locked? text=" + HexHandle(text); }, [&] {
        Layoutx* lx = nullptr;
        const Story* story = TextOrCurrent(text, "XSS-2", &lx);
        if (!story)
            return HostErr::BadRef;
        *locked = story->locked;
        return HostErr::Ok;
    });
}

int32_t DocHost::SetLocked(int32_t text, bool locked)
{
    return Call("XSS-3", true, [&] { return "text.lock text=" + HexHandle(text) + " on=" + std::to_string(locked); }, [&] {
        Layoutx* lx = nullptr;
        Story* story = TextOrCurrent(text, "XSS-3", &lx);
        if (!story)
            return HostErr::BadRef;
        if (story->locked != locked)
            Touch(*lx);
        story->locked = locked;
        return HostErr::Ok;
    });
}

// ---- Hidden content -----------------------------------------------------------------------

int32_t DocHost::InsertHidden(int32_t text, int32_t pos, uint32_t opcode, const std::vector<uint8_t>& data)
{
    return Call("HID-1", true,
                [&] {
                    return "hidden.insert story=" + HexHandle(text) + " at=" + std::to_string(pos) + " kind=" +
                           HexHandle(static_cast<int32_t>(opcode)) + " n=" + std::to_string(data.size());
                },
                [&] {
                    Layoutx* lx = nullptr;
                    int32_t result = 0;
                    Story* story = Editable(text, "HID-1", &lx, &result);
                    // An anchored item needs a box; a page number (kinds 5-7) lies over its own
                    // character, one for the marker and one per data byte, as long as a hidden run.
                    if (!story || opcode == 1)
                        return story ? HostErr::BadRef : result;
                    ObjectRun run;
                    run.kind = opcode;
                    const bool page = opcode >= 5 && opcode <= 7;
                    const std::u16string chars = page ? std::u16string(data.size() + 1, static_cast<char16_t>(opcode - 4))
                                                      : HiddenRunChars(opcode, data);
                    const bool atPoint = story->selStart == pos && story->selEnd == pos;
                    result = InsertObject(*lx->project->project, *story, pos, chars, run, atPoint ? story->insertFormat : 0);
                    if (result == HostErr::Ok) {
                        Follow(*story, pos, static_cast<int32_t>(data.size() + 1));
                        StoryChanged(*lx, *story);
                    }
                    return result;
                });
}

int32_t DocHost::CloseHidden(int32_t pos)
{
    return Call("HID-2", false, [&] { return "hidden.close at=" + std::to_string(pos); }, [] { return HostErr::Ok; });
}

int32_t DocHost::FindMarker(int32_t text, int32_t from, int32_t limit, int32_t direction, uint32_t opcode,
                            uint32_t data, bool* found, int32_t* position)
{
    return Call("HID-3", false,
                [&] {
                    return "hidden.find text=" + HexHandle(text) + Range("from", from, "limit", limit) + " dir=" +
                           std::to_string(direction) + " kind=" + HexHandle(static_cast<int32_t>(opcode)) + " data=" +
                           std::to_string(data);
                },
                [&] {
                    Layoutx* lx = nullptr;
                    const Story* story = TextRef(text, "HID-3", &lx);
                    if (!story || (direction != 0 && direction != 1))
                        return HostErr::BadRef;
                    *found = xthost::doc::FindMarker(*story, from, limit, direction == 1, opcode, position);
                    return HostErr::Ok;
                });
}

int32_t DocHost::RunEnd(int32_t text, int32_t pos, int32_t a, int32_t b, int32_t* end)
{
    return Call("HID-4", false,
                [&] { return "hidden.end text=" + HexHandle(text) + " at=" + std::to_string(pos) + Range("a", a, "b", b); },
                [&] {
                    Layoutx* lx = nullptr;
                    const Story* story = TextRef(text, "HID-4", &lx);
                    if (!story || pos < 0 || pos > Length(*story))
                        return HostErr::BadRef;
                    *end = HiddenRunEnd(*story, pos);
                    return HostErr::Ok;
                });
}

int32_t DocHost::ItemValue(int32_t text, int32_t pos, int32_t box, uint32_t* value)
{
    return Call("HID-5", false,
                [&] { return "hidden.value text=" + HexHandle(text) + " at=" + std::to_string(pos) + " box=" + HexHandle(box); },
                [&] {
                    Layoutx* lx = nullptr;
                    const Story* story = TextRef(text, "HID-5", &lx);
                    const std::optional<ObjectRun> o = story ? ObjectAt(*story, pos) : std::nullopt;
                    if (!o)
                        return HostErr::BadRef;
                    // An anchored item without a value of its own is known by its box.
                    *value = o->value || o->kind != 1 ? o->value : static_cast<uint32_t>(lx->boxes.at(o->box));
                    return HostErr::Ok;
                });
}

}  // namespace xthost::doc

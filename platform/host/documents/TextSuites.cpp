// The text, story-lock and hidden-content slots of the documents.
#include <algorithm>
#include <cstring>

#include "platform/host/Suites.h"
#include "platform/host/documents/DocSlots.h"
#include "platform/host/documents/XTTextSuites.h"

namespace xthost {

namespace {

using doc::CharFormat;
using doc::DocHost;
using doc::ParaFormat;
using doc::RunEntry;

DocHost& D() { return DocumentsOf(*Host::Current()); }  // slots run only with a current host

template <class T>
bool Null(const T* p) { return p == nullptr; }

// A snapshot into the caller's buffer: count is the room in, the number out; a null buffer
// asks for the number only. One that does not fit is refused whole.
int32_t Table(int32_t (DocHost::*call)(int32_t, std::vector<RunEntry>*), XTHandle text, XTRunEntry* entries,
              int32_t* count)
{
    if (Null(count))
        return XT_ERR_PARAM;
    std::vector<RunEntry> runs;
    const int32_t result = (D().*call)(text, &runs);
    if (result != XT_OK)
        return result;
    const auto n = static_cast<int32_t>(runs.size());
    if (entries && *count < n)
        return XT_ERR_PARAM;
    if (entries)
        std::transform(runs.begin(), runs.end(), entries, [](const RunEntry& r) { return XTRunEntry{r.value, r.length}; });
    *count = n;
    return XT_OK;
}

XTCharFormat ToRecord(const CharFormat& c)
{
    return XTCharFormat{c.font, c.high, c.face, c.size, c.kern, c.track, static_cast<uint16_t>(c.colour),
                        c.shift, c.scriptLang, c.tag, c.extra};
}

int32_t Chars(XTHandle text, int32_t start, int32_t count, std::u16string* chars)
{
    return count < 0 ? XT_ERR_PARAM : D().StoryChars(text, start, count, chars);
}

// ---- Slots ----------------------------------------------------------------------------------

int32_t StoryOfBox(XTHandle box, XTHandle* text, int32_t* selStart, int32_t* selEnd, int32_t* length)
{
    return Null(text) || Null(selStart) || Null(selEnd) || Null(length) ? XT_ERR_PARAM
                                                                        : D().StoryQuery(box, text, selStart, selEnd, length);
}
int32_t StyleRuns(XTHandle text, XTRunEntry* entries, int32_t* count) { return Table(&DocHost::StyleRuns, text, entries, count); }
int32_t ParagraphRuns(XTHandle text, XTRunEntry* entries, int32_t* count)
{
    return Table(&DocHost::ParagraphRuns, text, entries, count);
}
int32_t ParagraphStyleRuns(XTHandle text, XTRunEntry* entries, int32_t* count)
{
    // The number alone is known without the table.
    if (!entries && count)
        return D().ParagraphStyleRunCount(text, count);
    return Table(&DocHost::ParagraphStyleRuns, text, entries, count);
}
int32_t AttributeStore(XTHandle text, XTHandle* store) { return Null(store) ? XT_ERR_PARAM : D().AttributeStore(text, store); }
int32_t CharAttributes(XTHandle store, uint32_t value, XTCharFormat* format, uint16_t* extra)
{
    if (Null(format))
        return XT_ERR_PARAM;
    CharFormat c;
    const int32_t result = D().CharAttributes(store, value, &c);
    if (result == XT_OK) {
        *format = ToRecord(c);
        if (extra)
            *extra = c.extra;
    }
    return result;
}
int32_t ParaAttributes(XTHandle store, uint32_t value, XTParaAttribs* attribs, uint16_t*)
{
    if (Null(attribs))
        return XT_ERR_PARAM;
    ParaFormat p;
    uint32_t kind = 0;
    const int32_t result = D().ParaAttributes(store, value, &p, &kind);
    if (result == XT_OK) {
        *attribs = XTParaAttribs{};
        attribs->style = p.style;
        attribs->style2 = p.style2;
        attribs->kind = kind;
        doc::ParaAttributeValues(p, attribs->values);
    }
    return result;  // the extra word passes through unchanged
}
int32_t CharsOut(XTHandle text, int32_t start, int32_t count, char16_t* buffer)
{
    std::u16string chars;
    const int32_t result = Null(buffer) ? XT_ERR_PARAM : Chars(text, start, count, &chars);
    if (result == XT_OK)
        std::copy(chars.begin(), chars.end(), buffer);
    return result;
}
int32_t Bytes(XTHandle text, int32_t start, int32_t count, uint8_t* buffer)
{
    std::u16string chars;
    const int32_t result = Null(buffer) ? XT_ERR_PARAM : Chars(text, start, count, &chars);
    if (result == XT_OK)
        std::transform(chars.begin(), chars.end(), buffer, [](char16_t c) { return static_cast<uint8_t>(c); });
    return result;
}
int32_t CharsToString(XTHandle text, int32_t start, int32_t count, XTHandle* string)
{
    std::u16string chars;
    const int32_t result = Null(string) ? XT_ERR_PARAM : Chars(text, start, count, &chars);
    if (result == XT_OK)
        *string = Host::Current()->texts.Issue(std::move(chars));
    return result;
}
int32_t GetFlag(XTHandle text, int32_t n, uint8_t* set)
{
    bool on = false;
    const int32_t result = Null(set) ? XT_ERR_PARAM : D().StoryFlag(text, n, &on);
    if (result == XT_OK)
        *set = on;
    return result;
}
int32_t SetFlag(XTHandle text, int32_t n, int32_t set) { return D().SetStoryFlag(text, n, set != 0); }
int32_t BeginEdit(XTHandle text, int32_t, int32_t, int32_t) { return D().BeginEdit(text); }
int32_t EndEdit(int32_t, int32_t, int32_t) { return D().EndEdit(); }
int32_t DeleteText(XTHandle text, int32_t start, int32_t end) { return D().DeleteText(text, start, end); }
int32_t InsertText(XTHandle text, int32_t pos, int32_t count, const char16_t* chars, int32_t)
{
    if (count < 0 || (count > 0 && Null(chars)))
        return XT_ERR_PARAM;
    return D().InsertText(text, pos, std::u16string(chars ? chars : u"", static_cast<size_t>(count)));
}
int32_t CopyBoxText(XTHandle srcDoc, XTHandle srcBox, int32_t start, int32_t end, XTHandle dstDoc, XTHandle dstBox, int32_t pos)
{
    return D().CopyBoxText(srcDoc, srcBox, start, end, dstDoc, dstBox, pos) == XT_OK ? 1 : 0;
}
int32_t CopyText(XTHandle src, int32_t start, int32_t end, XTHandle dst, int32_t pos)
{
    return D().CopyText(src, start, end, dst, pos);
}
int32_t SetSelection(XTHandle text, int32_t start, int32_t end, int32_t) { return D().SetSelection(text, start, end); }
int32_t SetInsertionPoint(int32_t pos) { return D().SetInsertionPoint(pos); }
int32_t SelectRange(int32_t start, int32_t end) { return D().SelectRange(start, end); }
int32_t SelectAll() { return D().SelectAll(); }
int32_t SetAttribute(XTHandle text, int32_t code, int32_t value) { return D().SetTextAttribute(text, code, value); }
int32_t InsertionAttributes(XTCharFormat* format, uint16_t* extra)
{
    if (Null(format))
        return XT_ERR_PARAM;
    CharFormat c;
    const int32_t result = D().InsertionAttributes(&c);
    if (result == XT_OK) {
        *format = ToRecord(c);
        if (extra)
            *extra = c.extra;
    }
    return result;
}
int32_t CharacterUnit(XTHandle text, int32_t pos, uint32_t* code, int32_t* width)
{
    return Null(code) || Null(width) ? XT_ERR_PARAM : D().CharacterUnit(text, pos, code, width);
}
int32_t CompareStrings(XTHandle a, XTHandle b, uint8_t* equal)
{
    if (Null(equal))
        return XT_ERR_PARAM;
    Host& host = *Host::Current();
    const std::u16string* x = host.texts.Find(a);
    const std::u16string* y = host.texts.Find(b);
    if (!x || !y)
        return XT_ERR_PARAM;
    *equal = *x == *y;
    return XT_OK;
}
int32_t IsLocked(XTHandle text, uint8_t* locked)
{
    bool on = false;
    const int32_t result = Null(locked) ? XT_ERR_PARAM : D().IsLocked(text, &on);
    if (result == XT_OK)
        *locked = on;
    return result;
}
int32_t SetLocked(XTHandle text, int32_t locked) { return D().SetLocked(text, locked != 0); }
int32_t InsertHidden(XTHandle text, int32_t pos, uint32_t opcode, int32_t length, const uint8_t* data, int32_t)
{
    if (length < 0 || length > 0xFFFF || (length > 0 && Null(data)))
        return XT_ERR_PARAM;
    return D().InsertHidden(text, pos, opcode, std::vector<uint8_t>(data, data + length));
}
int32_t CloseHidden(int32_t pos) { return D().CloseHidden(pos); }
int32_t FindMarker(XTHandle text, int32_t from, int32_t limit, int32_t direction, uint32_t opcode, uint32_t data,
                   uint8_t* found, int32_t* position)
{
    if (Null(found) || Null(position))
        return XT_ERR_PARAM;
    bool hit = false;
    const int32_t result = D().FindMarker(text, from, limit, direction, opcode, data, &hit, position);
    if (result == XT_OK)
        *found = hit;
    return result;
}
int32_t RunEnd(XTHandle text, int32_t pos, int32_t a, int32_t b, int32_t* end)
{
    return Null(end) ? XT_ERR_PARAM : D().RunEnd(text, pos, a, b, end);
}
int32_t ItemValue(XTHandle text, int32_t pos, XTHandle box, uint32_t* value)
{
    return Null(value) ? XT_ERR_PARAM : D().ItemValue(text, pos, box, value);
}

}  // namespace

void DefineTextOperations()
{
    XTHOST_DEFINE_SLOT(XTY_StoryOfBox, StoryOfBox);
    XTHOST_DEFINE_SLOT(XTY_StyleRuns, StyleRuns);
    XTHOST_DEFINE_SLOT(XTY_ParagraphRuns, ParagraphRuns);
    XTHOST_DEFINE_SLOT(XTY_AttributeStore, AttributeStore);
    XTHOST_DEFINE_SLOT(XTY_CharAttributes, CharAttributes);
    XTHOST_DEFINE_SLOT(XTY_ParaAttributes, ParaAttributes);
    XTHOST_DEFINE_SLOT(XTY_Chars, CharsOut);
    XTHOST_DEFINE_SLOT(XTY_Bytes, Bytes);
    XTHOST_DEFINE_SLOT(XTY_CharsToString, CharsToString);
    XTHOST_DEFINE_SLOT(XTY_GetFlag, GetFlag);
    XTHOST_DEFINE_SLOT(XTY_SetFlag, SetFlag);
    XTHOST_DEFINE_SLOT(XTY_BeginEdit, BeginEdit);
    XTHOST_DEFINE_SLOT(XTY_EndEdit, EndEdit);
    XTHOST_DEFINE_SLOT(XTY_DeleteText, DeleteText);
    XTHOST_DEFINE_SLOT(XTY_InsertText, InsertText);
    XTHOST_DEFINE_SLOT(XTY_CopyBoxText, CopyBoxText);
    XTHOST_DEFINE_SLOT(XTY_CopyText, CopyText);
    XTHOST_DEFINE_SLOT(XTY_SetSelection, SetSelection);
    XTHOST_DEFINE_SLOT(XTY_SetInsertionPoint, SetInsertionPoint);
    XTHOST_DEFINE_SLOT(XTY_SelectRange, SelectRange);
    XTHOST_DEFINE_SLOT(XTY_SelectAll, SelectAll);
    XTHOST_DEFINE_SLOT(XTY_SetAttribute, SetAttribute);
    XTHOST_DEFINE_SLOT(XTY_InsertionAttributes, InsertionAttributes);
    XTHOST_DEFINE_SLOT(XTY_CharacterUnit, CharacterUnit);
    XTHOST_DEFINE_SLOT(XTY_ParagraphStyleRuns, ParagraphStyleRuns);
    XTHOST_DEFINE_SLOT(XTY_CompareStrings, CompareStrings);
    XTHOST_DEFINE_SLOT(XSS_IsLocked, IsLocked);
    XTHOST_DEFINE_SLOT(XSS_SetLocked, SetLocked);
    XTHOST_DEFINE_SLOT(XHJ_InsertHidden, InsertHidden);
    XTHOST_DEFINE_SLOT(XHJ_CloseHidden, CloseHidden);
    XTHOST_DEFINE_SLOT(XHJ_FindMarker, FindMarker);
    XTHOST_DEFINE_SLOT(XHJ_RunEnd, RunEnd);
    XTHOST_DEFINE_SLOT(XHJ_ItemValue, ItemValue);
}

}  // namespace xthost

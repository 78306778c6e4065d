// The text part of the host's extension interface: stories, their run tables and formats,
// edits, copies, selection, lock, hidden content and string comparison.
//
// Run tables and characters are copied into the caller's buffers (snapshots): count is the
// room in entries (or characters) in, the number out; with a null buffer only the number is
// answered. A null text handle names the current box's story where a slot says so.
#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/host/documents/XTDocSuites.h"

// The text suite is XT_SUITE_XTY; its slots 21 and 120-122 are the line records'.
enum : uint32_t {
    XT_SUITE_XSS = XT_SUITE('X','S','S',2),  // story lock
    XT_SUITE_XHJ = XT_SUITE('X','H','J',2),  // hidden content
};

// One entry of a run table: the run's value and its length in characters.
struct XTRunEntry {
    uint32_t value;
    uint32_t length;
};
static_assert(sizeof(XTRunEntry) == 8, "run entries are two 32-bit words");

// The attributes of a paragraph run. Word 7 (the eighth 32-bit word) is the run's kind: 0 for
// text, an object run's kind (1 anchored item, 5-7 page numbers, hidden-run opcodes) or a tag
// run's tag << 8. values[code] holds paragraph attribute `code` (0x11-0x16 indents, leading
// and spacing, 0x18 alignment, 0x19 direction, the others as they were set).
struct XTParaAttribs {
    int32_t style;
    int32_t style2;
    int32_t reserved[5];
    uint32_t kind;
    int32_t values[0x40];
};
static_assert(offsetof(XTParaAttribs, kind) == 7 * 4, "the kind is word 7");

// ---- Stories --------------------------------------------------------------------------------
// The story of a text box: its text handle, the selection (start, end) and the length.
XT_SLOT(XTY_StoryOfBox, XT_SUITE_XTY, 100, int32_t (*)(XTHandle box, XTHandle* text, int32_t* selStart, int32_t* selEnd, int32_t* length));
XT_SLOT(XTY_StyleRuns, XT_SUITE_XTY, 101, int32_t (*)(XTHandle text, XTRunEntry* entries, int32_t* count));
XT_SLOT(XTY_ParagraphRuns, XT_SUITE_XTY, 102, int32_t (*)(XTHandle text, XTRunEntry* entries, int32_t* count));
XT_SLOT(XTY_AttributeStore, XT_SUITE_XTY, 103, int32_t (*)(XTHandle text, XTHandle* store));
XT_SLOT(XTY_CharAttributes, XT_SUITE_XTY, 104, int32_t (*)(XTHandle store, uint32_t value, XTCharFormat* format, uint16_t* extra));
XT_SLOT(XTY_ParaAttributes, XT_SUITE_XTY, 105, int32_t (*)(XTHandle store, uint32_t value, XTParaAttribs* attribs, uint16_t* extra));
XT_SLOT(XTY_Chars, XT_SUITE_XTY, 106, int32_t (*)(XTHandle text, int32_t start, int32_t count, char16_t* buffer));
// One byte per character: the low byte of each UTF-16 unit.
XT_SLOT(XTY_Bytes, XT_SUITE_XTY, 107, int32_t (*)(XTHandle text, int32_t start, int32_t count, uint8_t* buffer));
// The characters as a host text object (released with the text objects' dispose call).
XT_SLOT(XTY_CharsToString, XT_SUITE_XTY, 108, int32_t (*)(XTHandle text, int32_t start, int32_t count, XTHandle* string));
XT_SLOT(XTY_GetFlag, XT_SUITE_XTY, 109, int32_t (*)(XTHandle text, int32_t n, uint8_t* set));
XT_SLOT(XTY_SetFlag, XT_SUITE_XTY, 110, int32_t (*)(XTHandle text, int32_t n, int32_t set));
XT_SLOT(XTY_BeginEdit, XT_SUITE_XTY, 111, int32_t (*)(XTHandle text, int32_t a, int32_t b, int32_t c));
XT_SLOT(XTY_EndEdit, XT_SUITE_XTY, 112, int32_t (*)(int32_t a, int32_t b, int32_t c));
XT_SLOT(XTY_DeleteText, XT_SUITE_XTY, 113, int32_t (*)(XTHandle text, int32_t start, int32_t end));
XT_SLOT(XTY_InsertText, XT_SUITE_XTY, 114, int32_t (*)(XTHandle text, int32_t pos, int32_t count, const char16_t* chars, int32_t extra));
// Answers 1 when the text was copied, 0 otherwise.
XT_SLOT(XTY_CopyBoxText, XT_SUITE_XTY, 115, int32_t (*)(XTHandle srcDoc, XTHandle srcBox, int32_t start, int32_t end, XTHandle dstDoc, XTHandle dstBox, int32_t pos));
XT_SLOT(XTY_CopyText, XT_SUITE_XTY, 116, int32_t (*)(XTHandle src, int32_t start, int32_t end, XTHandle dst, int32_t pos));
// A null text handle: the current box's story.
XT_SLOT(XTY_SetSelection, XT_SUITE_XTY, 10, int32_t (*)(XTHandle text, int32_t start, int32_t end, int32_t flag));
XT_SLOT(XTY_SetInsertionPoint, XT_SUITE_XTY, 117, int32_t (*)(int32_t pos));
XT_SLOT(XTY_SelectRange, XT_SUITE_XTY, 118, int32_t (*)(int32_t start, int32_t end));
XT_SLOT(XTY_SelectAll, XT_SUITE_XTY, 119, int32_t (*)());
// Sets attribute `code` on the selection (at an empty selection: for the next insertion
// there). A null text handle: the current box's story. Character codes: -101 font, -102 face
// bits, -103 size, -108 kerning, -109 tracking, -110 baseline shift (16.16), -111 the module's
// tag, -112 the character-set byte after the font id, 5 colour; 1 to 0x3F paragraph codes.
XT_SLOT(XTY_SetAttribute, XT_SUITE_XTY, 20, int32_t (*)(XTHandle text, int32_t code, int32_t value));
XT_SLOT(XTY_InsertionAttributes, XT_SUITE_XTY, 13, int32_t (*)(XTCharFormat* format, uint16_t* extra));
XT_SLOT(XTY_CharacterUnit, XT_SUITE_XTY, 123, int32_t (*)(XTHandle text, int32_t pos, uint32_t* code, int32_t* width));
XT_SLOT(XTY_ParagraphStyleRuns, XT_SUITE_XTY, 125, int32_t (*)(XTHandle text, XTRunEntry* entries, int32_t* count));
// Host text objects: equal is 1 when both hold the same UTF-16 text.
XT_SLOT(XTY_CompareStrings, XT_SUITE_XTY, 124, int32_t (*)(XTHandle a, XTHandle b, uint8_t* equal));

// ---- Story lock -----------------------------------------------------------------------------
XT_SLOT(XSS_IsLocked, XT_SUITE_XSS, 2, int32_t (*)(XTHandle text, uint8_t* locked));
XT_SLOT(XSS_SetLocked, XT_SUITE_XSS, 3, int32_t (*)(XTHandle text, int32_t locked));

// ---- Hidden content -------------------------------------------------------------------------
// A hidden run at pos: its marker, then one character per data byte; kind = opcode.
XT_SLOT(XHJ_InsertHidden, XT_SUITE_XHJ, 7, int32_t (*)(XTHandle text, int32_t pos, uint32_t opcode, int32_t length, const uint8_t* data, int32_t reserved));
XT_SLOT(XHJ_CloseHidden, XT_SUITE_XHJ, 9, int32_t (*)(int32_t pos));
// Direction 1 searches forward over [from, limit), 0 backward over [limit, from). Found only
// when the first marker of opcode's family met is opcode itself.
XT_SLOT(XHJ_FindMarker, XT_SUITE_XHJ, 100, int32_t (*)(XTHandle text, int32_t from, int32_t limit, int32_t direction, uint32_t opcode, uint32_t data, uint8_t* found, int32_t* position));
// The end of the hidden run whose marker is at pos - 1 (pos when there is none).
XT_SLOT(XHJ_RunEnd, XT_SUITE_XHJ, 101, int32_t (*)(XTHandle text, int32_t pos, int32_t a, int32_t b, int32_t* end));
XT_SLOT(XHJ_ItemValue, XT_SUITE_XHJ, 102, int32_t (*)(XTHandle text, int32_t pos, XTHandle box, uint32_t* value));

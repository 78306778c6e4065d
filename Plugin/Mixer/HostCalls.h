// The module's named wrappers of host calls and the one way they react to a failed call.
//
// Host calls answer 0 for success; the module's own host-layer functions answer 0 for success
// and kHostLayerFailure for a general failure. A wrapper never throws. A failed host call is
// either passed through debug_check (Foundation/TraceHooks.h), which writes nothing, or, at a
// guarded site, reported as an API-failure block in the general log while bit 0 of the setting
// testMode is set; the wrapper then acts by its failure mode.
#pragma once

#include <cstdint>
#include <string>

#include "platform/host/documents/XTTextSuites.h"

// The module's own answer for a host-layer failure.
constexpr int32_t kHostLayerFailure = 12;

// What a guarded wrapper does after a failed host call.
enum class FailureMode {
    ReturnValue,  // answers a fixed invalid value of its result type
    ReturnEmpty,  // leaves its object or result empty
    ReturnError,  // answers the host's result code
    CheckOnly,    // reports and goes on as if the call had succeeded
};
const char* FailureModeName(FailureMode mode);  // "RETURN_VALUE", ...

// Writes the API-failure block when bit 0 of testMode is set:
//   "\n", 80 ":", "API_FAILURE<mode>:\t<file>[<line>]:<function>()", 80 ":".
// sourceFile may be a path: only its last component is written. Sites whose file and line
// the logs must show unchanged pass them as constants ("Mixer.cpp", 3435).
void ReportApiFailure(FailureMode mode, const char* sourceFile, int line, const char* function);
#define KS_API_FAILURE(mode, function) ReportApiFailure((mode), __FILE__, __LINE__, (function))

// ---- Bounded strings -----------------------------------------------------------------------

// Copies src with its NUL into dst of maxLen bytes. A text that does not fit raises the
// assertion "theLen < mMaxLen" and keeps maxLen - 1 characters and the NUL.
void AssignBounded(char* dst, uint32_t maxLen, const char* src);

template <uint32_t N>
struct FixedString {
    static_assert(N > 0, "a bounded string holds at least its NUL");
    uint32_t mMaxLen = N;
    char mChars[N] = {};

    FixedString() = default;
    explicit FixedString(const char* text) { *this = text; }
    FixedString& operator=(const char* text)
    {
        AssignBounded(mChars, mMaxLen, text ? text : "");
        return *this;
    }
    uint32_t Length() const
    {
        uint32_t n = 0;
        while (n < mMaxLen && mChars[n])
            ++n;
        return n;
    }
    const char* c_str() const { return mChars; }
};

// ---- Documents and views -------------------------------------------------------------------

// The current document's reference; -1 when there is none (guarded: "xt_getdocref").
XTHandle xt_getdocref();
// The current document's view, and its reference into docRef (when given) on success; 0 when
// there is none (guarded: "xt_getdocviewref"), docRef then untouched.
XTHandle xt_getdocviewref(XTHandle* docRef);
// The current document's file: its name, volume, folder id and the host's flag byte. Answers
// the host's result, kHostLayerFailure when an output is missing.
int32_t GetDocumentLocation(std::string* name, int16_t* volume, int32_t* folder, uint8_t* flag);
// Closes a project (-1: the current one) with the flag; answers the host's result.
int32_t CloseProject(XTHandle project, int32_t flag);

// ---- Modes of the host -----------------------------------------------------------------------

int32_t GetToolMode();
void SetToolMode(int32_t mode);
int32_t GetTextMode();
void SetTextMode(int32_t mode);

// ---- Boxes -----------------------------------------------------------------------------------

// Makes box the host's current box (tool mode 1); answers the box that was current before.
XTHandle SetCurrentBox(XTHandle box);
// A 40 x 40 pt text box at the top left of the current spread; 0 when the host made none.
XTHandle CreateWorkBox();
// Bounds (16.16) of a box, and of the page that holds it. Answer the release of the host's
// record through debug_check; kHostLayerFailure (outputs untouched) when something is missing.
int32_t GetBoxBounds(XTHandle box, int32_t* left, int32_t* top, int32_t* right, int32_t* bottom);
int32_t GetBoxPageBounds(XTHandle box, int32_t* left, int32_t* top, int32_t* right, int32_t* bottom);

// ---- Story text ------------------------------------------------------------------------------

// The global count of applied story edits; story handles whose stamp differs are stale.
extern uint32_t ChangeCounter;

int32_t InsertHostText(XTHandle text, int32_t position, int32_t count, const char16_t* chars, int32_t extra);
// Copies [start, end) of a box's story to position of another box's story; 0 when copied,
// kHostLayerFailure otherwise.
int32_t CopyHostText(XTHandle sourceDoc, XTHandle sourceBox, int32_t start, int32_t end, XTHandle targetDoc,
                     XTHandle targetBox, int32_t position);
// The host's text-update switch; always 0.
int32_t SetHostUpdate(int32_t flag);
// SetHostUpdate(flag), then raises ChangeCounter; false when the counter wrapped to 0.
bool BumpChangeCounter(int32_t flag);
// A style sheet: kind 2 (paragraph) when kind2 is set, else kind 1; true when the host found it.
bool GetStyleSheet(int32_t id, bool kind2, XTStyleSheetRec* sheet);

// Finds the hidden-content marker opcode that closes (direction 1, forward) or opens
// (direction 0, backward) the pair whose other paren stands at position, skipping nested pairs
// of the same kind, however many. True with position moved to the marker; false when there is
// none before limit (position -1 when the search ran into limit).
bool FindNestedMarker(XTHandle text, int32_t& position, int32_t direction, uint32_t opcode, uint32_t data,
                      int32_t limit);

// ---- Host strings ----------------------------------------------------------------------------

std::u16string WCharsToWString(const char16_t* chars);
// The text of a host text object; empty for 0.
std::u16string HostUnicodeToWString(XTHandle text);
// count characters of host text through a host text object, cut to limit when limit is
// non-zero and not above count.
std::u16string HostStringToWString(const char16_t* text, int32_t count, int32_t limit);

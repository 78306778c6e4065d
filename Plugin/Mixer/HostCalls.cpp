#include "Plugin/Mixer/HostCalls.h"

#include <cstring>
#include <ostream>
#include <string>
#include <vector>

#include "Container/Storage/Errors.h"
#include "Foundation/Log.h"
#include "Foundation/Settings.h"
#include "Foundation/TraceHooks.h"
#include "Plugin/Shell/HostSuites.h"
#include "platform/host/HostServices.h"
#include "platform/host/documents/XTFlowSuites.h"

uint32_t ChangeCounter = 0;

namespace {

const std::string kFailureRule(80, ':');

// Nested pairs deeper than this are not followed: the marker search gives up instead.
constexpr int kMaxMarkerDepth = 256;

std::string BaseName(const char* path)
{
    const std::string text = path ? path : "";
    const std::size_t cut = text.find_last_of("/\\");
    return cut == std::string::npos ? text : text.substr(cut + 1);
}

bool TestModeOn()
{
    SettingsFile* settings = Settings.GetIf();
    return settings && (settings->GetTestMode() & 1) != 0;
}

} // namespace

const char* FailureModeName(FailureMode mode)
{
    switch (mode) {
    case FailureMode::ReturnValue: return "RETURN_VALUE";
    case FailureMode::ReturnEmpty: return "RETURN_EMPTY";
    case FailureMode::ReturnError: return "RETURN_ERROR";
    case FailureMode::CheckOnly: return "CHECK_ONLY";
    }
    return "CHECK_ONLY";
}

void ReportApiFailure(FailureMode mode, const char* sourceFile, int line, const char* function)
{
    if (!TestModeOn())
        return;
    std::ostream& log = GeneralLogStream();
    log << '\n' << std::flush;
    log << kFailureRule << '\n' << std::flush;
    log << "API_FAILURE<" << FailureModeName(mode) << ">:\t" << BaseName(sourceFile) << '[' << line
        << "]:" << (function ? function : "") << "()" << '\n'
        << std::flush;
    log << kFailureRule << '\n' << std::flush;
}

void AssignBounded(char* dst, uint32_t maxLen, const char* src)
{
    if (!dst || maxLen == 0)
        return;
    uint32_t theLen = 0;
    for (;; ++theLen) {
        if (theLen >= maxLen) {
            AssertFail(__FILE__, __LINE__, "theLen < mMaxLen");
            dst[maxLen - 1] = 0;
            return;
        }
        dst[theLen] = src[theLen];
        if (!src[theLen])
            return;
    }
}

// ---- Documents and views -------------------------------------------------------------------

XTHandle xt_getdocref()
{
    int16_t id = -1;
    if (CallHost<XDD_CurrentDocId>(&id) != XT_OK) {
        KS_API_FAILURE(FailureMode::ReturnValue, "xt_getdocref");
        return -1;
    }
    XTHandle doc = -1;
    if (CallHost<XDD_DocumentRef>(id, &doc) != XT_OK)
        return -1;
    return doc;
}

XTHandle xt_getdocviewref(XTHandle* docRef)
{
    const XTHandle doc = xt_getdocref();
    XTHandle view = 0;
    if (CallHost<XDD_DocumentView>(doc, &view) != XT_OK) {
        KS_API_FAILURE(FailureMode::ReturnValue, "xt_getdocviewref");
        return 0;
    }
    if (docRef)
        *docRef = doc;
    return view;
}

int32_t GetDocumentLocation(std::string* name, int16_t* volume, int32_t* folder, uint8_t* flag)
{
    if (!volume || !folder || !flag)
        return kHostLayerFailure;
    XTFileSpec spec{};
    const int32_t result = CallHost<XDD_DocumentLocation>(&spec, flag);
    if (result == XT_OK) {
        *volume = spec.volume;
        *folder = spec.parentId;
        if (name)
            *name = FileSpecName(spec);
    }
    return debug_check(result, "Unable to detect location of current document!");
}

int32_t CloseProject(XTHandle project, int32_t flag)
{
    if (project == -1) {
        if (const int32_t result = CallHost<XPK_CurrentProject>(&project))
            return debug_check(result, "No current project available for close!");
    }
    return debug_check(CallHost<XPK_CloseProject>(project, flag), "Close project error!");
}

// ---- Modes of the host -----------------------------------------------------------------------

namespace {

template <class Descriptor>
int32_t ReadHostValue()
{
    int32_t value = 0;
    CallHost<Descriptor>(&value);
    return value;
}

} // namespace

int32_t GetToolMode()
{
    return ReadHostValue<XAQ_GetToolMode>();
}

void SetToolMode(int32_t mode)
{
    CallHost<XAQ_SetToolMode>(mode);
}

int32_t GetTextMode()
{
    return ReadHostValue<XAQ_GetTextMode>();
}

void SetTextMode(int32_t mode)
{
    CallHost<XAQ_SetTextMode>(mode);
}

// ---- Boxes -----------------------------------------------------------------------------------

namespace {

bool ModeFlagSet()
{
    uint8_t set = 0;
    CallHost<XAQ_GetModeFlag>(&set);
    return set != 0;
}

XTHandle CurrentBox()
{
    XTHandle box = 0;
    CallHost<XBY_CurrentBox>(&box);
    return box;
}

} // namespace

XTHandle SetCurrentBox(XTHandle box)
{
    if (GetToolMode() != 1)
        SetToolMode(1);
    const XTHandle previous = CurrentBox();
    if (previous != box)
        CallHost<XBY_SetCurrentBox>(box);
    if (ModeFlagSet())
        CallHost<XAQ_ClearModeFlag>(box);
    if (ModeFlagSet())
        ReportInternalError(__FILE__, __LINE__);
    if (CurrentBox() != box)
        ReportInternalError(__FILE__, __LINE__);
    if (GetToolMode() != 1)
        ReportInternalError(__FILE__, __LINE__);
    return previous;
}

XTHandle CreateWorkBox()
{
    XTHandle record = 0;
    if (CallHost<XXC_NewRecord>(&record) != XT_OK || !record) {
        ReportInternalError(__FILE__, __LINE__);
        return 0;
    }
    XTBoxRecord fields{};
    CallHost<XXC_ReadRecord>(record, &fields);
    fields.bounds = XTRect{0, 0, 0x280000, 0x280000};
    fields.inset = 0x40000;
    fields.runaround = 0x10000;
    fields.word6 = 6;
    CallHost<XXC_WriteRecord>(record, &fields);
    XTHandle spread = 0;
    CallHost<XDD_CurrentSpread>(xt_getdocviewref(nullptr), &spread);
    XTHandle box = 0;
    if (CallHost<XBY_CreateTextBox>(record, spread, &box) != XT_OK)
        box = 0;
    CallHost<XXC_ReleaseRecord>(record, 1);
    if (!box)
        ReportInternalError(__FILE__, __LINE__);
    return box;
}

int32_t GetBoxBounds(XTHandle box, int32_t* left, int32_t* top, int32_t* right, int32_t* bottom)
{
    if (!box)
        return kHostLayerFailure;
    XTHandle record = 0;
    if (CallHost<XXC_GetRecord>(0, box, 0, &record) != XT_OK || !record)
        return kHostLayerFailure;
    XTBoxRecord fields{};
    if (CallHost<XXC_ReadRecord>(record, &fields) == XT_OK) {
        if (left)
            *left = fields.bounds.left;
        if (top)
            *top = fields.bounds.top;
        if (right)
            *right = fields.bounds.right;
        if (bottom)
            *bottom = fields.bounds.bottom;
    }
    return debug_check(CallHost<XXC_ReleaseRecord>(record, 1));
}

int32_t GetBoxPageBounds(XTHandle box, int32_t* left, int32_t* top, int32_t* right, int32_t* bottom)
{
    if (!box)
        return kHostLayerFailure;
    XTHandle spread = 0;
    if (CallHost<XDD_SpreadOfBox>(box, &spread) != XT_OK || !spread)
        return kHostLayerFailure;
    int16_t index = -1;
    if (CallHost<XPH_PageIndexOfBox>(spread, box, &index) != XT_OK || index < 0)
        return kHostLayerFailure;
    XTPageRec page{};
    const int32_t result = CallHost<XPH_PageRecord>(spread, index, &page);
    if (result != XT_OK)
        return kHostLayerFailure;
    if (left)
        *left = page.bounds.left;
    if (top)
        *top = page.bounds.top;
    if (right)
        *right = page.bounds.right;
    if (bottom)
        *bottom = page.bounds.bottom;
    return debug_check(result);
}

// ---- Story text ------------------------------------------------------------------------------

int32_t InsertHostText(XTHandle text, int32_t position, int32_t count, const char16_t* chars, int32_t extra)
{
    return debug_check(CallHost<XTY_InsertText>(text, position, count, chars, extra));
}

int32_t CopyHostText(XTHandle sourceDoc, XTHandle sourceBox, int32_t start, int32_t end, XTHandle targetDoc,
                     XTHandle targetBox, int32_t position)
{
    const bool copied =
        CallHost<XTY_CopyBoxText>(sourceDoc, sourceBox, start, end, targetDoc, targetBox, position) == 1;
    return debug_check(copied ? 0 : kHostLayerFailure);
}

int32_t SetHostUpdate(int32_t flag)
{
    CallHost<XAQ_SetTextUpdate>(flag);
    return 0;
}

bool BumpChangeCounter(int32_t flag)
{
    SetHostUpdate(flag);
    return ++ChangeCounter != 0;
}

bool GetStyleSheet(int32_t id, bool kind2, XTStyleSheetRec* sheet)
{
    if (!sheet)
        return false;
    return CallHost<XSD_GetStyleSheet>(id, kind2 ? 2 : 1, sheet) == XT_OK;
}

// ---- Hidden-content markers ------------------------------------------------------------------

namespace {

constexpr uint32_t kParenBits = 0x60;
constexpr uint32_t kCloseParen = 0x20;
constexpr uint32_t kOpenParen = 0x40;

// The first marker of opcode's family from position toward limit, when it is opcode itself.
bool SearchMarker(XTHandle text, int32_t from, int32_t limit, int32_t direction, uint32_t opcode,
                  uint32_t data, int32_t& found)
{
    uint8_t hit = 0;
    int32_t at = -1;
    if (CallHost<XHJ_FindMarker>(text, from, limit, direction, opcode, data, &hit, &at) != XT_OK || !hit)
        return false;
    found = at;
    return true;
}

bool FindNested(XTHandle text, int32_t& position, int32_t direction, uint32_t opcode, uint32_t data,
                int32_t limit, int depth)
{
    int32_t found = -1;
    if (SearchMarker(text, position, limit, direction, opcode, data, found)) {
        position = found;
        return true;
    }
    const bool forwardClose = direction == 1 && (opcode & kParenBits) == kCloseParen;
    const bool backwardOpen = direction == 0 && (opcode & kParenBits) == kOpenParen;
    if ((!forwardClose && !backwardOpen) || depth >= kMaxMarkerDepth)
        return false;
    const uint32_t opposite = opcode ^ kParenBits;
    int32_t at = position;
    // Each opposite paren met before the wanted one opens (or closes) a nested pair: skip the
    // whole pair and search on behind it, as often as such pairs follow each other.
    for (;;) {
        int32_t nested = -1;
        if (!SearchMarker(text, at, limit, direction, opposite, data, nested))
            return false;
        if (nested == limit) {
            position = -1;
            return false;
        }
        int32_t inner = direction == 1 ? nested + 1 : nested;
        if (!FindNested(text, inner, direction, opcode, data, limit, depth + 1))
            return false;
        const int32_t next = direction == 1 ? inner + 1 : inner;
        // The search must move toward limit, or it would never end.
        if (direction == 1 ? next <= at || next > limit : next >= at || next < limit)
            return false;
        at = next;
        if (SearchMarker(text, at, limit, direction, opcode, data, found)) {
            position = found;
            return true;
        }
    }
}

} // namespace

bool FindNestedMarker(XTHandle text, int32_t& position, int32_t direction, uint32_t opcode, uint32_t data,
                      int32_t limit)
{
    return FindNested(text, position, direction, opcode, data, limit, 0);
}

// ---- Host strings ----------------------------------------------------------------------------

std::u16string WCharsToWString(const char16_t* chars)
{
    return chars ? std::u16string(chars) : std::u16string();
}

std::u16string HostUnicodeToWString(XTHandle text)
{
    if (!text)
        return std::u16string();
    int32_t length = 0;
    if (CallHost<XText_GetLength>(text, &length) != XT_OK || length <= 0)
        return std::u16string();
    std::vector<char16_t> buffer(static_cast<std::size_t>(length) + 1, 0);
    if (CallHost<XText_GetChars>(text, buffer.data(), length + 1) != XT_OK)
        return std::u16string();
    return std::u16string(buffer.data());
}

std::u16string HostStringToWString(const char16_t* text, int32_t count, int32_t limit)
{
    if (!text || count <= 0)
        return std::u16string();
    XTHandle object = 0;
    if (CallHost<XText_New>(text, 0, count, &object) != XT_OK || !object)
        return std::u16string();
    std::u16string result = HostUnicodeToWString(object);
    CallHost<XText_Dispose>(object);
    if (limit != 0 && limit <= count && result.size() > static_cast<std::size_t>(limit))
        result.resize(static_cast<std::size_t>(limit));
    return result;
}

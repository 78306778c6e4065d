#include "Plugin/Mixer/MasterPages.h"

#include <algorithm>
#include <iomanip>
#include <ostream>
#include <sstream>
#include <vector>

#include "Foundation/Log.h"
#include "Foundation/Settings.h"
#include "Plugin/Mixer/HostCalls.h"
#include "Plugin/QAPI/QStory.h"
#include "Plugin/Shell/HostSuites.h"
#include "platform/host/documents/XTTextSuites.h"

const char16_t kMasterTag[8] = u"#$_@?&#";

namespace {

constexpr const char* kMixerFile = "Mixer.cpp";
constexpr int32_t kTagLength = 7;

// -1 until the setting was read in this module load.
int32_t g_logLevel = -1;

const std::string kTildes(80, '~');

} // namespace

int32_t xt_viewgotomaster(XTHandle view, int16_t page)
{
    const int32_t result = CallHost<XDD_GotoMaster>(view, page);
    if (result != XT_OK)
        ReportApiFailure(FailureMode::ReturnError, kMixerFile, 3885, "xt_viewgotomaster");
    return result;
}

int32_t MasterPageLogLevel()
{
    if (g_logLevel < 0) {
        SettingsFile* settings = Settings.GetIf();
        g_logLevel = settings ? settings->GetMasterPageLogMode() : 0;
    }
    return g_logLevel;
}

void ForgetMasterPageLogLevel()
{
    g_logLevel = -1;
}

void LogMasterBox(const ct_Box& record, const std::string& text, int32_t number)
{
    const int32_t level = MasterPageLogLevel();
    if (level < 4)
        return;
    std::ostream& log = GeneralLogStream();
    log << std::endl << text;
    if (number >= 0)
        log << " " << std::dec << number;
    log << ": " << std::hex << record.box << std::dec;
    if (level >= 5)
        log << "\n" << kTildes << "\n" << StoryTextOrWarning(static_cast<XTHandle>(record.box)) << "\n" << kTildes;
    log << std::endl;
}

BoxClass ClassifyMasterBox(const ct_Box& record, int16_t* spread)
{
    int32_t defaultId = 0;
    CallHost<XBY_DefaultId>(static_cast<XTHandle>(record.box), &defaultId);

    BoxClass result = BoxClassLayout;
    const MasterBoxMap* masters = MasterBoxRegistry.GetIf();
    const AutotextBoxMap* autotext = AutotextBoxRegistry.GetIf();
    if (masters) {
        const auto entry = masters->find(record.box);
        if (entry != masters->end()) {
            if (spread)
                *spread = entry->second.masterSpread;
            result = entry->second.usages.empty() ? BoxClassMasterUnused : BoxClassMasterUsed;
        } else {
            for (const auto& master : *masters) {
                if (master.second.usages.count(record.box) == 0)
                    continue;
                result = autotext && autotext->count(record.box) ? BoxClassLinkedAutotext : BoxClassLinkedLayout;
                break;
            }
        }
    }
    static const char* const kTexts[] = {
        "", "Layout box (NOT linked to any master)", "Layout box linked to master (NOT autotext)",
        "Autotext box linked to master", "Masterpage box (NOT used)", "Masterpage box (used)"};
    LogMasterBox(record, kTexts[result], -1);
    return result;
}

// ---- The summary ---------------------------------------------------------------------------

std::string MasterPageSummary(bool detail, bool storyIds)
{
    const std::string hashes(80, '#');
    const std::string dashes(80, '-');
    std::ostringstream out;
    out << "\n" << hashes << "\n" << "Masterpage Summary:" << "\n";

    out << std::right << std::setw(20) << "Master Boxes" << "\n" << dashes << "\n";
    out << std::setw(10) << "MBoxID" << "Spread";
    if (storyIds)
        out << std::setw(10) << "StoryID";
    out << std::setw(20) << "Usages" << "MSpreadName" << "\n" << dashes << "\n";

    std::vector<const ct_MBox*> masters;
    if (const MasterBoxMap* registry = MasterBoxRegistry.GetIf())
        for (const auto& entry : *registry)
            masters.push_back(&entry.second);
    std::stable_sort(masters.begin(), masters.end(),
                     [](const ct_MBox* a, const ct_MBox* b) { return a->SpreadWord() < b->SpreadWord(); });
    for (const ct_MBox* master : masters) {
        out << std::setw(10) << std::hex << master->box << std::dec << master->SpreadWord();
        if (storyIds)
            out << std::setw(10) << master->storyId;
        out << std::setw(20) << master->usages.size() << master->spreadName << "\n";
    }

    if (detail) {
        out << std::setw(10) << "Layout Boxes" << "\n" << dashes << "\n";
        out << std::setw(10) << "BoxID" << std::setw(10) << "MBoxID" << "Spread";
        if (storyIds)
            out << std::setw(10) << "StoryID";
        out << std::setw(20) << "Auto" << "MSpreadName" << "\n" << dashes << "\n";

        struct Row {
            const ct_Box* layout;
            const ct_MBox* master;
        };
        // Rows with equal spread words keep the registry's order, not the master rows' order.
        std::vector<Row> ordered;
        if (const MasterBoxMap* registry = MasterBoxRegistry.GetIf())
            for (const auto& entry : *registry)
                for (const auto& usage : entry.second.usages)
                    ordered.push_back(Row{&usage.second, &entry.second});
        std::stable_sort(ordered.begin(), ordered.end(),
                         [](const Row& a, const Row& b) { return a.layout->SpreadWord() < b.layout->SpreadWord(); });
        const AutotextBoxMap* autotext = AutotextBoxRegistry.GetIf();
        for (const Row& row : ordered) {
            out << std::setw(10) << std::hex << row.layout->box << std::setw(10) << row.master->box << std::dec
                << row.layout->SpreadWord();
            if (storyIds)
                out << std::setw(10) << row.layout->storyId;
            const bool isAutotext = autotext && autotext->count(row.layout->box);
            out << std::setw(20) << (isAutotext ? "   +   " : "   -   ") << row.master->spreadName << "\n";
        }
    }
    return out.str();
}

// ---- Preparation of the master pages -------------------------------------------------------

namespace {

// The host call that the pass failed at first; null while none did.
const char* g_refusedCall = nullptr;

// One failed host call of the preparation: the block, and the code that ends the pass.
int32_t Failed(int32_t code, int line, const char* call)
{
    ReportApiFailure(FailureMode::ReturnError, kMixerFile, line, "PreprocessMasterBoxes");
    if (!g_refusedCall)
        g_refusedCall = call;
    return code;
}

// The tag's part of one master text story: placed by pass 0, taken away by pass 1 when the
// story still starts with it.
int32_t TagStory(const ct_Box& box, int32_t pass, XTHandle tag, int32_t& emptyIndex)
{
    QStory story(static_cast<int32_t>(box.box));
    const XTHandle text = story.GetTextHandle(true);
    const int32_t length = static_cast<int32_t>(story.GetLength(true));
    if (length == 0) {
        LogMasterBox(box, "Ignoring empty text box from masterpage", ++emptyIndex);
        return XT_OK;
    }
    if (pass == 0) {
        if (const int32_t rc = CallHost<XTY_InsertText>(text, 0, kTagLength, kMasterTag, 0))
            return Failed(rc, 3591, "XTY_InsertText of the linking tag");
        BumpChangeCounter(0);
        return XT_OK;
    }
    char16_t head[kTagLength] = {};
    const int32_t count = std::min(length, kTagLength);
    if (const int32_t rc = CallHost<XTY_Chars>(text, 0, count, head))
        return Failed(rc, 3596, "XTY_Chars of the linking tag");
    XTHandle read = 0;
    if (const int32_t rc = CallHost<XText_New>(head, 0, count, &read))
        return Failed(rc, 3599, "XText_New of the linking tag");
    uint8_t equal = 0;
    if (const int32_t rc = CallHost<XTY_CompareStrings>(read, tag, &equal)) {
        CallHost<XText_Dispose>(read);
        return Failed(rc, 3602, "XTY_CompareStrings of the linking tag");
    }
    if (equal) {
        if (const int32_t rc = CallHost<XTY_DeleteText>(text, 0, kTagLength)) {
            CallHost<XText_Dispose>(read);
            return Failed(rc, 3608, "XTY_DeleteText of the linking tag");
        }
        BumpChangeCounter(0);
    }
    if (const int32_t rc = CallHost<XText_Dispose>(read))
        return Failed(rc, 3618, "XText_Dispose of the linking tag");
    return XT_OK;
}

// The text boxes of one master spread. A story that keeps its tag in pass 1 does not stop the
// walk, so that no other story keeps one: the first such refusal goes to `kept`.
int32_t WalkMasterSpread(XTHandle doc, int16_t m, int16_t page, int32_t pass, XTHandle tag, int32_t& kept)
{
    XTHandle spread = 0;
    uint8_t isMaster = 0;
    if (const int32_t rc = CallHost<XPH_MasterEntry>(doc, m, &spread, &isMaster))
        return Failed(rc, 3524, "XPH_MasterEntry");
    if (!isMaster)
        return XT_OK;
    char name[256] = {};
    if (const int32_t rc = CallHost<XDD_MasterPageName>(doc, m, name, static_cast<int32_t>(sizeof name)))
        return Failed(rc, 3548, "XDD_MasterPageName");
    XTHandle box = 0;
    if (const int32_t rc = CallHost<XPH_FirstBox>(spread, &box))
        return Failed(rc, 3553, "XPH_FirstBox");
    int32_t boxIndex = 0, textIndex = 0, emptyIndex = 0;
    while (box > 0) {
        uint8_t onMaster = 0;
        if (CallHost<XBY_IsOnMaster>(box, 0, &onMaster) == XT_OK && onMaster) {
            ++boxIndex;
            const ct_Box record(static_cast<uint32_t>(box), 0);
            if (record.IsTextBox()) {
                ++textIndex;
                LogMasterBox(record, "MASTERBOX", boxIndex);
                LogMasterBox(record, "MPTEXTBOX", textIndex);
                if (MasterBoxMap* registry = MasterBoxRegistry.GetIf())
                    if (registry->find(record.box) == registry->end())
                        registry->emplace(record.box, ct_MBox(record.box, page));
                if (const int32_t rc = TagStory(record, pass, tag, emptyIndex)) {
                    if (pass == 0)
                        return rc;
                    if (kept == XT_OK)
                        kept = rc;
                }
            }
        }
        XTHandle next = 0;
        if (CallHost<XPH_NextBox>(box, &next) != XT_OK)
            break;
        box = next;
    }
    return XT_OK;
}

} // namespace

int32_t PreprocessMasterBoxes(int32_t pass, const char** refusedCall)
{
    g_refusedCall = nullptr;
    struct Said {
        const char** to;
        ~Said()
        {
            if (to)
                *to = g_refusedCall;
        }
    } said{refusedCall};
    int32_t kept = XT_OK;
    XTHandle doc = 0;
    const XTHandle view = xt_getdocviewref(&doc);
    int16_t count = 0;
    if (const int32_t rc = CallHost<XPH_SpreadCount>(doc, 1, &count))
        return Failed(rc, 3505, "XPH_SpreadCount");
    XTHandle tag = 0;
    if (const int32_t rc = CallHost<XText_New>(kMasterTag, 0, kTagLength, &tag))
        return Failed(rc, 3516, "XText_New of the linking tag");

    int32_t result = XT_OK;
    for (int16_t m = 3; m <= count && m > 0 && result == XT_OK; ++m) {
        const int16_t page = static_cast<int16_t>(m - 2);
        if (const int32_t rc = xt_viewgotomaster(view, page)) {
            result = Failed(rc, 3521, "XDD_GotoMaster");
            break;
        }
        result = WalkMasterSpread(doc, m, page, pass, tag, kept);
        if (result != XT_OK)
            break;
        if (const int32_t rc = xt_viewgotomaster(view, 0))
            result = Failed(rc, 3637, "XDD_GotoMaster");
    }
    if (result != XT_OK) {
        CallHost<XText_Dispose>(tag);
        return kept != XT_OK ? kept : result;
    }
    if (const int32_t rc = CallHost<XText_Dispose>(tag))
        return Failed(rc, 3642, "XText_Dispose of the linking tag");
    if (const int32_t rc = xt_viewgotomaster(view, 0))
        return Failed(rc, 3647, "XDD_GotoMaster");
    return kept;
}

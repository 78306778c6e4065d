#include "Plugin/Mixer/BoxRecords.h"

#include <iomanip>
#include <ostream>

#include "Foundation/Log.h"
#include "Foundation/TraceHooks.h"
#include "Plugin/Mixer/HostCalls.h"
#include "Plugin/Mixer/HostHooks.h"
#include "Plugin/Mixer/MasterPages.h"
#include "Plugin/Shell/CBManager.h"
#include "Plugin/Shell/HostSuites.h"

ModuleGlobal<MasterBoxMap> MasterBoxRegistry;
ModuleGlobal<AutotextBoxMap> AutotextBoxRegistry;

namespace {

// The adapter's source file as the failure blocks name it.
constexpr const char* kMixerFile = "Mixer.cpp";

constexpr int32_t kFailure = 12;

} // namespace

void RegisterBoxRegistries()
{
    ModuleGlobals::Register(
        GlobalStep::BoxRegistries,
        [] {
            MasterBoxRegistry.Build();
            AutotextBoxRegistry.Build();
            ForgetMasterPageLogLevel();
        },
        [] {
            AutotextBoxRegistry.Destroy();
            MasterBoxRegistry.Destroy();
        });
}

// ---- Box records ---------------------------------------------------------------------------

ct_Box::ct_Box(uint32_t box, uint8_t flag) : box(box), flag(flag)
{
    uint8_t bits = 0;
    if (CallHost<XBY_BoxKinds>(static_cast<XTHandle>(box), &bits) == XT_OK)
        typeBits = bits & 0x7Fu;
    if (box == 0)
        return;
    XTBoxLocation read{};
    if (CallHost<XBY_BoxLocation>(static_cast<XTHandle>(box), &read) != XT_OK) {
        ReportApiFailure(FailureMode::ReturnEmpty, kMixerFile, 3435, "ct_Box::ct_Box");
        return;
    }
    location = read;
}

ct_MBox::ct_MBox(uint32_t box, int16_t masterSpread) : ct_Box(box, 1), masterSpread(masterSpread)
{
    if (box == 0 || masterSpread < 1) {
        spreadName = "<INVALID>";
        return;
    }
    char name[256] = {};
    if (CallHost<XDD_MasterPageName>(xt_getdocref(), location.spread, name, static_cast<int32_t>(sizeof name)) != XT_OK)
        ReportApiFailure(FailureMode::CheckOnly, kMixerFile, 3466, "ct_MBox::ct_MBox");
    name[sizeof name - 1] = '\0';
    spreadName = name;
}

bool ct_MBox::AddUsage(const ct_Box& layout)
{
    return usages.emplace(layout.box, layout).second;
}

// ---- Host callbacks ------------------------------------------------------------------------

namespace {

bool IsOnMasterPage(XTHandle box)
{
    uint8_t master = 0;
    return CallHost<XBY_IsOnMaster>(box, 0, &master) == XT_OK && master != 0;
}

} // namespace

int32_t AutotextBoxHook(void* rec)
{
    CallBackBarrier([rec]() -> int32_t {
        const auto* record = static_cast<const xtautotextboxrec*>(rec);
        AutotextBoxMap* registry = AutotextBoxRegistry.GetIf();
        if (!record || !registry || IsOnMasterPage(record->box))
            return 0;
        const auto inserted = registry->emplace(static_cast<uint32_t>(record->box),
                                                ct_Box(static_cast<uint32_t>(record->box), 0));
        LogMasterBox(inserted.first->second,
                     inserted.second ? "Register linked layout box as AUTOTEXT BOX"
                                     : "Linked layout box already registered as AUTOTEXT BOX",
                     -1);
        return 0;
    });
    return 0;
}

int32_t MasterBoxCopyHook(void* rec)
{
    CallBackBarrier([rec]() -> int32_t {
        const auto* record = static_cast<const xtmasterboxcopyrec*>(rec);
        MasterBoxMap* registry = MasterBoxRegistry.GetIf();
        if (!record || !registry || !IsOnMasterPage(record->source))
            return 0;
        const uint32_t source = static_cast<uint32_t>(record->source);
        auto entry = registry->find(source);
        const bool newSource = entry == registry->end();
        if (newSource)
            entry = registry->emplace(source, ct_MBox(source, 0)).first;
        LogMasterBox(entry->second, "SRCBOX", newSource ? 1 : 0);
        const ct_Box destination(static_cast<uint32_t>(record->destination), 0);
        const bool newUsage = entry->second.AddUsage(destination);
        LogMasterBox(destination, "DSTBOX", newUsage ? 1 : 0);
        return 0;
    });
    return 0;
}

// ---- Box shapes ----------------------------------------------------------------------------

namespace {

enum class ShapeHandling { None, Simple, Complex };

struct ShapeKind {
    const char* text;  // null: not logged
    ShapeHandling handling;
};

ShapeKind KindOf(uint8_t shape)
{
    static const ShapeKind kKinds[] = {
        {nullptr, ShapeHandling::Simple},                  // 5
        {"Rectangle (convex)", ShapeHandling::Simple},     // 6
        {"Rectangle (concave)", ShapeHandling::Simple},    // 7
        {"Rectangle (straight)", ShapeHandling::Simple},   // 8
        {"Oval", ShapeHandling::Simple},                   // 9
        {"Orthopolygon", ShapeHandling::Complex},          // 10
        {"Spline", ShapeHandling::Complex},                // 11
        {"User", ShapeHandling::None},                     // 12
    };
    if (shape < 5)
        return {"INVALID", ShapeHandling::None};
    if (shape > 12)
        return {"UNKNOWN", ShapeHandling::None};
    return kKinds[shape - 5];
}

// "<label right in 16><text left in 64>" and a line end.
void LogShapeStep(const char* label, const char* text)
{
    std::ostream& log = GeneralLogStream();
    log << std::right << std::setw(16) << label << std::left << std::setw(64) << text << std::right
        << std::endl;
}

void SaveOrRestoreWord(XTBoxRecord& fields, uint32_t* savedWord, bool restore)
{
    if (!savedWord)
        return;
    if (restore) {
        fields.savedWord = *savedWord;
    } else {
        *savedWord = fields.savedWord;
        fields.savedWord = 0;
    }
}

} // namespace

int32_t CheckBoxShape(uint32_t box, int32_t left, int32_t top, int32_t right, int32_t bottom,
                      uint32_t* savedWord, XTHandle* savedShape, bool restore)
{
    if (box == 0)
        return kFailure;
    const XTHandle boxRef = static_cast<XTHandle>(box);
    XTHandle record = 0;
    if (CallHost<XXC_GetRecord>(0, boxRef, 0, &record) != XT_OK || record == 0)
        return kFailure;
    XTBoxRecord fields{};
    if (CallHost<XXC_ReadRecord>(record, &fields) != XT_OK) {
        CallHost<XXC_ReleaseRecord>(record, 1);
        return kFailure;
    }

    const ShapeKind kind = KindOf(fields.shape);
    if (kind.text) {
        std::ostream& log = GeneralLogStream();
        log << std::left << std::setw(20) << "Box shape type: " << std::setw(8) << " -> " << std::setw(44)
            << kind.text << std::right << std::setw(8) << " <- " << std::endl;
    }
    // A complex outline swapped out without a place to keep it could never come back.
    if (kind.handling == ShapeHandling::None || (kind.handling == ShapeHandling::Complex && !savedShape)) {
        CallHost<XXC_ReleaseRecord>(record, 1);
        return kFailure;
    }

    XTHandle pseudoRect = 0;
    if (kind.handling == ShapeHandling::Simple) {
        SaveOrRestoreWord(fields, savedWord, restore);
        fields.bounds = XTRect{top, left, bottom, right};
    } else if (!restore) {
        LogShapeStep("ATTENTION - ", "Complex box shape treated with hidden-workaround");
        SaveOrRestoreWord(fields, savedWord, false);
        XTHandle original = 0;
        CallHost<XXC_OutlineOf>(boxRef, &original);
        *savedShape = original;
        constexpr int32_t kOne = 0x10000;
        const XTPoint points[5] = {{top + kOne, left + kOne},
                                   {top + kOne, right + kOne},
                                   {bottom + kOne, right + kOne},
                                   {bottom + kOne, left + kOne},
                                   {top + kOne, left + kOne}};
        XTHandle polygon = 0;
        CallHost<XXC_MakePolygon>(points, 5, &polygon);
        fields.outline = polygon;
        // The box takes the rectangle's bounds too, or it would never change its size.
        fields.bounds = XTRect{top, left, bottom, right};
        LogShapeStep("STEP 1/2: ", "Replace with pseudo-rectangular shape (5 points).");
    } else {
        CallHost<XXC_OutlineOf>(boxRef, &pseudoRect);
        fields.outline = *savedShape;
        SaveOrRestoreWord(fields, savedWord, true);
        LogShapeStep("STEP 2/2: ", "Restore original complex shape.");
    }

    CallHost<XXC_WriteRecord>(record, &fields);
    uint16_t violation = 0;
    debug_check(CallHost<XXC_ApplyRecord>(record, boxRef, 0, &violation));
    // The host keeps a copy of an applied outline: the handles made here are ours to dispose.
    if (pseudoRect)
        CallHost<XXC_DisposeOutline>(pseudoRect);
    if (kind.handling == ShapeHandling::Complex && !restore && fields.outline)
        CallHost<XXC_DisposeOutline>(fields.outline);
    // Restored, the saved outline is the host's copy now: the one kept for it goes.
    if (kind.handling == ShapeHandling::Complex && restore && *savedShape) {
        CallHost<XXC_DisposeOutline>(*savedShape);
        *savedShape = 0;
    }
    if (violation != 0)
        GeneralLogStream() << std::right << std::setw(16) << "WARNING: " << "Constraint violation for box "
                           << std::dec << box << ":\t" << violation << std::endl;
    CallHost<XXC_ReleaseRecord>(record, 1);
    return violation != 0 ? 1 : 0;
}

#include "Plugin/QAPI/CurDocAPI.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <ostream>
#include <vector>

#include "Foundation/Log.h"
#include "Foundation/Settings.h"
#include "Foundation/TraceHooks.h"
#include "Plugin/Batch/ConversionJob.h"
#include "Plugin/Batch/HostFiles.h"
#include "Plugin/Mixer/HostCalls.h"
#include "Plugin/QAPI/HostDocState.h"
#include "Plugin/Shell/Dialogs.h"
#include "Plugin/Shell/HostFileServices.h"
#include "Plugin/Shell/HostSuites.h"
#include "SHARED/Server/CnvTools/PathUtils.h"
#include "platform/fs/TempFiles.h"

namespace {

constexpr int32_t kFileNotFound = -43;
constexpr int32_t kSaveCommand = 105;
constexpr int32_t kOpenWithFlag = 63;
constexpr int32_t kOpenWithoutFlag = 31;
constexpr size_t kMaxVersionText = 128;

HostDocState* State()
{
    return HostDocStateIf();
}

bool DocumentIsOpen(XTHandle doc)
{
    XTHandle view = 0;
    return doc > 0 && CallHost<XDD_DocumentView>(doc, &view) == XT_OK;
}

// The references of every layout of the current document's project; the current document's
// alone when the host does not list them.
std::vector<XTHandle> ProjectLayouts(XTHandle doc)
{
    std::vector<XTHandle> layouts{doc};
    XTHandle project = 0;
    int16_t count = 0;
    if (CallHost<XPK_CurrentProject>(&project) != XT_OK || CallHost<XPK_LayoutCount>(project, &count) != XT_OK)
        return layouts;
    for (int16_t i = 0; i < count; ++i) {
        int16_t id = -1;
        XTHandle layout = 0;
        if (CallHost<XPK_LayoutDocument>(project, i, &id) == XT_OK && CallHost<XDD_DocumentRef>(id, &layout) == XT_OK &&
            layout != doc)
            layouts.push_back(layout);
    }
    return layouts;
}

// A batch or server run: nobody is there to answer the host's save.
bool NoSaveRun()
{
    const UnattendedState state = CurrentUnattendedState();
    return state.batch || state.server;
}

} // namespace

// ---- CurDocAPI -----------------------------------------------------------------------------------

int16_t CurDocAPI::GetIndex()
{
    int16_t index = -1;
    if (debug_check(CallHost<XDD_CurrentDocIndex>(&index), "Invalid document!") != XT_OK)
        return -1;
    return index < 0 ? -1 : index;
}

uint16_t CurDocAPI::GetDocumentCount()
{
    uint16_t count = 0;
    CallHost<XDD_DocumentCount>(&count);
    return count;
}

bool CurDocAPI::WasFlagSet()
{
    uint8_t platform = 0, untitled = 0;
    return CallHost<XDD_DocumentFlags>(&platform, &untitled) == XT_OK && platform != 0;
}

bool CurDocAPI::IsUntitled()
{
    uint8_t platform = 0, untitled = 0;
    return CallHost<XDD_DocumentFlags>(&platform, &untitled) == XT_OK && untitled != 0;
}

bool CurDocAPI::NeedsSave()
{
    if (IsUntitled())
        return true;
    uint8_t flags = 0;
    return CallHost<XDD_ChangeFlags>(&flags) == XT_OK && (flags & 3) != 0;
}

bool CurDocAPI::SaveIfNeeded()
{
    if (!NeedsSave())
        return true;
    CallHost<XDD_HostCommand>(kSaveCommand);
    return !NeedsSave();
}

bool CurDocAPI::QueryPrefFlag()
{
    CallHost<XDD_QueryPrefFlag>();
    return true;
}

int32_t CurDocAPI::GetSpec(HostFileSpec* spec)
{
    if (!spec)
        return kHostLayerFailure;
    if (IsUntitled())
        return kFileNotFound;
    std::string name;
    int16_t volume = 0;
    int32_t folder = 0;
    uint8_t flag = 0;
    if (const int32_t result = GetDocumentLocation(&name, &volume, &folder, &flag))
        return result;
    HostFileSpec made{};
    if (const int16_t result = xt_fsmakefsspec(volume, folder, name.c_str(), &made))
        return result;
    *spec = made;
    return 0;
}

bool CurDocAPI::Open(const HostFileSpec& spec, bool flag)
{
    ConversionJob* job = CurrentJob.GetIf();
    if (!job || !PathExists(job->source.GetPath()))
        return false;
    HostFileSpec fsp{};
    const ConvFileSpec& file = job->kind == ConversionKind::ToDocument ? job->target : job->source;
    file.GetHostSpec(fsp);
    if (std::strcmp(FileSpecName(spec).c_str(), FileSpecName(fsp).c_str()) != 0 || spec.parentId != fsp.parentId ||
        spec.volume != fsp.volume) {
        std::ostream& log = GeneralLogStream();
        log << ">>>>>>>>> WARNING: CurDocAPI::Open(): theSpec <-> fsp ARE DIFFERENT!!! <<<<<<<<<" << '\n';
        log.flush();
    }
    const uint16_t before = GetDocumentCount();
    const int16_t result = OpenHostDocument(&spec, flag ? kOpenWithFlag : kOpenWithoutFlag);
    return result == 0 || GetDocumentCount() == before + 1;
}

// ---- QuarkDoc ------------------------------------------------------------------------------------

QuarkDoc::QuarkDoc()
    : mIndex(static_cast<uint16_t>(CurDocAPI::GetIndex())), mDocFlag(CurDocAPI::WasFlagSet() ? 1 : 0),
      mFonts(new QFontList)
{
}

QuarkDoc::~QuarkDoc()
{
    if (mOwns) {
        MakeCurrent();
        CallHost<XDD_CloseWindow>();
    }
    delete mFonts;
}

QuarkDoc* QuarkDoc::Open(const HostFileSpec& spec, bool flag)
{
    const int16_t before = CurDocAPI::GetIndex();
    if (!CurDocAPI::Open(spec, flag))
        return nullptr;
    const int16_t now = CurDocAPI::GetIndex();
    return now >= 0 && now != before ? new QuarkDoc : nullptr;
}

int16_t QuarkDoc::MakeCurrent()
{
    const int16_t current = CurDocAPI::GetIndex();
    if (current >= 0 && current != static_cast<int16_t>(mIndex))
        CallHost<XDD_BringToFront>(mIndex);
    return current;
}

int32_t QuarkDoc::GetSpec(HostFileSpec* spec)
{
    MakeCurrent();
    if (!CurDocAPI::IsExist())
        return kHostLayerFailure;
    return CurDocAPI::GetSpec(spec);
}

bool QuarkDoc::GetProjectFlag()
{
    MakeCurrent();
    uint8_t flags = 0;
    return CallHost<XPK_ProjectChangeFlags>(&flags) == XT_OK && flags != 0;
}

bool QuarkDoc::Save()
{
    return SaveCode() == XT_OK;
}

int32_t QuarkDoc::SaveCode()
{
    MakeCurrent();
    if (!mOwnFile) {
        const int32_t result = CallHost<XDD_SaveDocument>();
        if (result == XT_OK)
            NoteSavedName(nullptr);
        return result;
    }
    const int32_t result = SaveProjectTo(*mOwnFile);
    if (result == XT_OK) {
        NoteSavedName(&*mOwnFile);
        mOwnFile.reset();
    }
    return result;
}

void QuarkDoc::NoteSavedName(const HostFileSpec* saved)
{
    // The host's save renames a whole file into place; the module makes that name durable
    // before it reports the run, as it does for the files it writes itself.
    HostFileSpec spec{};
    std::string path;
    if ((saved || GetSpec(&spec) == XT_OK) && FileSpecToPath(path, saved ? *saved : spec, true) == 0)
        platform::fs::DeferFolderSync(path);
}

int32_t QuarkDoc::SaveCopy(const HostFileSpec& copy)
{
    HostFileSpec own{};
    if (!mOwnFile)
        if (const int32_t result = GetSpec(&own))
            return result;
    MakeCurrent();
    const int32_t result = SaveProjectTo(copy);
    if (result == XT_OK && !mOwnFile)
        mOwnFile = own;
    if (result == XT_OK)
        NoteSavedName(&copy);
    return result;
}

void QuarkDoc::RefreshFonts()
{
    MakeCurrent();
    CallHost<XDD_RefreshFonts>(xt_getdocref());
    QFontList* fonts = new QFontList;
    delete mFonts;
    mFonts = fonts;
}

int32_t QuarkDoc::Finish()
{
    MakeCurrent();
    const XTHandle doc = xt_getdocref();
    if (HostDocState* state = State()) {
        // Only this document's boxes are disposed, in whichever of its layouts they are: the
        // export leaves them in its last layout while the document ends on the layout that was
        // current. Boxes of documents closed since are dropped unseen, since their references
        // mean nothing any more.
        const std::vector<XTHandle> layouts = doc > 0 ? ProjectLayouts(doc) : std::vector<XTHandle>{};
        std::vector<WorkBox> kept;
        for (const WorkBox& work : state->workBoxes) {
            if (std::find(layouts.begin(), layouts.end(), work.doc) != layouts.end())
                CallHost<XBY_DisposeBox>(work.box, 1);
            else if (DocumentIsOpen(work.doc))
                kept.push_back(work);
        }
        state->workBoxes.swap(kept);
    }
    return NoSaveRun() ? XT_OK : SaveCode();
}

// ---- Preferences, options, clock, version --------------------------------------------------------

void SuspendHostPrefs(HostPrefs& saved)
{
    for (int32_t which = 0; which < 2; ++which) {
        uint8_t on = 0;
        CallHost<XAQ_GetPreference>(which, &on);
        saved.on[which] = on ? 1 : 0;
        if (on)
            CallHost<XAQ_SetPreference>(which, 0);
    }
}

void RestoreHostPrefs(const HostPrefs& saved)
{
    for (int32_t which = 0; which < 2; ++which)
        if (saved.on[which])
            CallHost<XAQ_SetPreference>(which, 1);
}

void SetCurrentDocOption(int32_t flag)
{
    ReportError(static_cast<uint16_t>(CallHost<XDD_SetDocOption>(xt_getdocref(), flag)));
}

std::string HostTimeStamp(bool compact, bool withDate, bool withTime)
{
    if (!withDate && !withTime)
        return std::string();
    XTClockRec clock{};
    CallHost<XAQ_Clock>(&clock);
    char date[32] = "", time[32] = "";
    std::snprintf(date, sizeof date, compact ? "%d%02d%02d" : "%d-%02d-%02d", clock.year, clock.month, clock.day);
    std::snprintf(time, sizeof time, compact ? "%02d%02d%02d" : "%02d:%02d:%02d", clock.hour, clock.minute,
                  clock.second);
    std::string text;
    if (withDate)
        text = date;
    if (withDate && withTime && !compact)
        text += ' ';
    if (withTime)
        text += time;
    return text;
}

std::u16string HostVersionString()
{
    std::string text = "QuarkXpress ";
    uint32_t version = 0;
    if (CallHost<XAQ_Version>(&version) == XT_OK) {
        char number[32];
        std::snprintf(number, sizeof number, "%d.%d", static_cast<int>(version >> 24),
                      static_cast<int>(version >> 16 & 0xFF));
        text += number;
        if (const uint32_t revision = version & 0xFFFF) {
            std::snprintf(number, sizeof number, "r%d", static_cast<int>(revision));
            text += number;
        }
    }
    text += " Win";
    text += " [Kesto ";
    for (char c : std::string("7.0.3.38"))
        text += c;
    text += " , QSDK ";
    text += "70]";
    int32_t mode = 1;
    if (HostDocState* state = State()) {
        if (state->versionMasterPageMode < 0) {
            SettingsFile* settings = Settings.GetIf();
            state->versionMasterPageMode = settings ? settings->GetMasterPageMode() : 1;
        }
        mode = state->versionMasterPageMode;
    } else if (SettingsFile* settings = Settings.GetIf()) {
        mode = settings->GetMasterPageMode();
    }
    text += mode == 1 ? "{MB=1}" : "{MB=0}";
    if (text.size() > kMaxVersionText)
        text.resize(kMaxVersionText);
    return std::u16string(text.begin(), text.end());
}

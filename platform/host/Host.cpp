#include "platform/host/Host.h"

#include <dlfcn.h>

#include <csignal>
#include <cstdio>

#include <algorithm>
#include <filesystem>
#include <system_error>

#include "platform/host/Suites.h"
#include "platform/host/Text.h"

namespace xthost {

namespace {

Host* g_current = nullptr;

std::string Trim(const std::string& text)
{
    const auto first = text.find_first_not_of(" \t");
    if (first == std::string::npos)
        return std::string();
    const auto last = text.find_last_not_of(" \t");
    return text.substr(first, last - first + 1);
}

Answer CancellingAnswer(const Prompt& prompt)
{
    Answer answer;
    switch (prompt.kind) {
    case Prompt::kDialog:
        answer.kind = Answer::kAccept;
        break;
    case Prompt::kDialogAction:
        answer.kind = Answer::kClose;
        break;
    case Prompt::kAlert:
    case Prompt::kHostAlert: {
        answer.kind = Answer::kPress;
        const DialogItem* button = prompt.dialog ? prompt.dialog->DefaultButton() : nullptr;
        answer.item = button ? button->id : 1;
        break;
    }
    default:
        answer.kind = Answer::kCancel;
        break;
    }
    return answer;
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// Dialog and prompt helpers.

DialogItem* Dialog::Item(int32_t id)
{
    for (auto& item : items)
        if (item.id == id && id != XT_ITEM_UNADDRESSED)
            return &item;
    return nullptr;
}

const DialogItem* Dialog::DefaultButton() const
{
    for (const auto& item : items)
        if (item.kind == XT_ITEM_BUTTON && (item.flags & XT_ITEM_DEFAULT))
            return &item;
    return nullptr;
}

std::string Dialog::Name() const
{
    return (alert ? "alert " : "dialog ") + std::to_string(resId);
}

const char* PromptKindName(Prompt::Kind kind)
{
    switch (kind) {
    case Prompt::kDialog: return "dialog";
    case Prompt::kDialogAction: return "dialog action";
    case Prompt::kOpenFile: return "open dialog";
    case Prompt::kSaveFile: return "save dialog";
    case Prompt::kFolder: return "folder chooser";
    case Prompt::kAlert: return "alert";
    case Prompt::kHostAlert: return "host alert";
    }
    return "prompt";
}

const char* StartResultName(StartResult result)
{
    switch (result) {
    case StartResult::kOk: return "ok";
    case StartResult::kLoadFailed: return "load";
    case StartResult::kActivationRefused: return "activation";
    case StartResult::kIdsRefused: return "ids";
    case StartResult::kSetupRefused: return "setup";
    }
    return "?";
}

bool AutoAnswerer::Respond(const Prompt& prompt, Answer& answer, std::string&)
{
    answer = CancellingAnswer(prompt);
    if (prompt.kind == Prompt::kDialogAction && prompt.dialog) {
        const DialogItem* button = prompt.dialog->DefaultButton();
        if (button && button->enabled && prompt.dialog->defaultPresses == 0) {
            answer.kind = Answer::kPress;
            answer.item = button->id;
        }
    }
    return true;
}

// ---------------------------------------------------------------------------------------------
// The entries of the activation, identifier and setup records.

struct RecordEntries {
    static Host* Current() { return Host::Current(); }

    static int32_t CompatQuery(uint32_t code, uint32_t a, uint32_t b, uint32_t level, uint32_t c)
    {
        Host* host = Current();
        if (!host)
            return 0;
        host->NotePhase("compatibility query " + Hex(code) + " " + std::to_string(a) + " " +
                        std::to_string(b) + " " + Hex(level) + " " + std::to_string(c));
        if (auto injected = host->Inject({"compat"}))
            return *injected;
        // The host knows this one query of the SDK's compatibility.
        return code == XT_FOURCC('C', 'P', 'Y', '\0') ? 1 : 0;
    }

    static int32_t RegisterSetup(XTCallbackFn fn, int32_t, int32_t priority, int32_t)
    {
        Host* host = Current();
        if (!host || !fn)
            return XT_ERR_PARAM;
        host->NotePhase("register setup callback (priority " + std::to_string(priority) + ")");
        host->m_setupCallbacks.push_back(fn);
        return XT_OK;
    }

    static int32_t RegisterIds(XTCallbackFn fn, int32_t, int32_t priority, int32_t)
    {
        Host* host = Current();
        if (!host || !fn)
            return XT_ERR_PARAM;
        host->NotePhase("register identifier callback (priority " + std::to_string(priority) + ")");
        host->m_idCallbacks.push_back(fn);
        return XT_OK;
    }

    static int32_t MemoryPriority(int32_t value)
    {
        if (Host* host = Current())
            host->NotePhase("memory priority " + std::to_string(value));
        return XT_OK;
    }

    static void SetErrorText(const char* text)
    {
        Host* host = Current();
        if (!host)
            return;
        const std::string message = BoundedString(text, 1024);
        host->AddModuleErrorText(message);
        host->NotePhase("error text " + Quote(message));
    }

    static int32_t NewId(int32_t count, uint32_t* out)
    {
        Host* host = Current();
        if (!host)
            return XT_ERR_PARAM;
        if (auto injected = host->Inject({"newId"}))
            return *injected;
        if (count < 1 || count > 64 || !out) {
            host->Error("new identifier: bad count " + std::to_string(count) + " or no variable");
            return XT_ERR_PARAM;
        }
        for (int32_t i = 0; i < count; ++i) {
            out[i] = host->nextKindId++;
            host->NotePhase("new id " + Hex(out[i]));
        }
        return XT_OK;
    }

    static int32_t Register(int32_t kind, XTCallbackFn fn, int32_t, int32_t priority, int32_t)
    {
        Host* host = Current();
        if (!host)
            return XT_ERR_PARAM;
        if (auto injected = host->Inject({"register:" + std::to_string(kind), "register"}))
            return *injected;
        if (!fn) {
            host->Error("register kind " + std::to_string(kind) + ": no function");
            return XT_ERR_PARAM;
        }
        return host->RegisterCallback(kind, fn, priority);
    }

    static int32_t Request(int32_t, const uint32_t* words, int32_t count)
    {
        Host* host = Current();
        if (!host)
            return XT_ERR_PARAM;
        if (!words || count < 1 || count > 16) {
            host->Error("request: no words");
            return XT_ERR_PARAM;
        }
        std::string text = "request";
        for (int32_t i = 0; i < count; ++i)
            text += " " + Hex(words[i], 3);
        host->NotePhase(text);
        if (auto injected = host->Inject({"request:" + Hex(words[0], 3), "request"}))
            return *injected;
        return XT_OK;
    }

    static int32_t Bind(uint32_t code, void* table, const uint32_t* selectors, int32_t length)
    {
        Host* host = Current();
        if (!host)
            return XT_ERR_PARAM;
        auto& catalog = SuiteCatalog::Instance();
        if (host->components.Owns(static_cast<XTHandle>(code)) && !selectors && length == 0) {
            const uint32_t* component = host->components.Find(static_cast<XTHandle>(code));
            if (!component || !table) {
                host->Error("bind: unknown component handle " + Hex(code));
                return XT_ERR_PARAM;
            }
            host->NotePhase("bind component " + FourCC(*component));
            if (auto injected = host->Inject({"bind:" + FourCC(*component), "bind"}))
                return *injected;
            auto* entries = static_cast<XTProc*>(table);
            for (int i = 0; i < XT_COMPONENT_SLOTS; ++i)
                entries[i] = catalog.ComponentEntry(*component, i);
            return XT_OK;
        }
        std::string key = SuiteName(code);
        key.erase(3, 1);
        host->NotePhase("bind " + SuiteName(code) + " (" +
                        std::to_string(length > 0 ? length - 1 : 0) + " selectors)");
        if (auto injected = host->Inject({"bind:" + key, "bind"}))
            return *injected;
        if (!table || !selectors || length < 1 || length > XT_SUITE_SLOTS + 1 ||
            selectors[0] != XT_SELECTOR_LIST_HEAD) {
            host->Error("bind " + SuiteName(code) + ": malformed table or selector list");
            return XT_ERR_PARAM;
        }
        if (!catalog.Offers(code)) {
            host->NotePhase("bind " + SuiteName(code) + " refused: suite not offered");
            return XT_ERR_PARAM;
        }
        auto* entries = static_cast<XTProc*>(table);
        for (int32_t i = 1; i < length; ++i) {
            const uint32_t selector = selectors[i];
            if (selector >= 1024) {
                host->Error("bind " + SuiteName(code) + ": selector " + std::to_string(selector));
                return XT_ERR_PARAM;
            }
            entries[i - 1] = catalog.SuiteEntry(code, static_cast<int>(selector));
        }
        return XT_OK;
    }


    static int32_t LookupComponent(uint32_t code, uint32_t* out)
    {
        Host* host = Current();
        if (!host)
            return XT_ERR_PARAM;
        host->NotePhase("look up component " + FourCC(code));
        if (auto injected = host->Inject({"component:" + FourCC(code), "component"}))
            return *injected;
        if (!out || !SuiteCatalog::Instance().KnowsComponent(code))
            return XT_ERR_PARAM;
        *out = code;
        return XT_OK;
    }

    static int32_t LookupComponentHandle(uint32_t code, XTHandle* out)
    {
        Host* host = Current();
        if (!host)
            return XT_ERR_PARAM;
        host->NotePhase("look up component handle " + FourCC(code));
        if (auto injected = host->Inject({"component:" + FourCC(code), "component"}))
            return *injected;
        if (!out || !SuiteCatalog::Instance().KnowsComponent(code))
            return XT_ERR_PARAM;
        *out = host->components.Issue(code);
        return XT_OK;
    }

    static int32_t RequestInterface(uint32_t code, int32_t, int32_t index, void* table,
                                    int32_t sizeBytes)
    {
        Host* host = Current();
        if (!host)
            return XT_ERR_PARAM;
        auto& catalog = SuiteCatalog::Instance();
        const std::string name = FourCC(code) + " " + std::to_string(index);
        host->NotePhase("interface " + name + " (" + std::to_string(sizeBytes) + " bytes)");
        if (auto injected =
                host->Inject({"interface:" + FourCC(code) + std::to_string(index), "interface"}))
            return *injected;
        const int offered = catalog.InterfaceEntries(code, index);
        if (!table || sizeBytes <= 0 || sizeBytes % int32_t(sizeof(XTProc)) != 0 ||
            sizeBytes / int32_t(sizeof(XTProc)) > offered) {
            host->NotePhase("interface " + name + " refused: the host offers " +
                            std::to_string(offered) + " entries");
            return XT_ERR_PARAM;
        }
        auto* entries = static_cast<XTProc*>(table);
        for (int32_t i = 0; i < sizeBytes / int32_t(sizeof(XTProc)); ++i)
            entries[i] = catalog.InterfaceEntry(code, index, i);
        return XT_OK;
    }
};

// ---------------------------------------------------------------------------------------------

Host::Host(HostOptions options) : m_options(std::move(options))
{
    DefineCoreOperations();
    m_appFolder = NormalPath(m_options.appFolder.empty() ? "." : m_options.appFolder);
    m_apiTable.assign(XT_API_TABLE_WORDS, 0);
    for (int i = 0; i < XT_API_TABLE_WORDS; ++i)
        m_apiTable[i] = 0x58540000u + static_cast<uint32_t>(i);
    g_current = this;
}

Host::~Host()
{
    Quit();
    if (g_current == this)
        g_current = nullptr;
}

Host* Host::Current()
{
    return g_current;
}

void Host::Note(std::string line)
{
    const std::string& app = m_appFolder;
    if (app.size() > 1) {
        for (std::size_t at = line.find(app); at != std::string::npos; at = line.find(app, at)) {
            const std::size_t end = at + app.size();
            if (end < line.size() && line[end] != '/' && line[end] != '"') {
                at = end;
                continue;
            }
            line.replace(at, app.size(), "<app>");
            at += 5;
        }
    }
    m_transcript.Add(std::move(line));
}

void Host::NotePhase(const std::string& text)
{
    Note(m_phase.empty() ? text : m_phase + ": " + text);
}

void Host::Error(const std::string& text)
{
    ++m_errors;
    Note("error: " + text);
}

std::optional<int32_t> Host::Inject(const std::vector<std::string>& keys)
{
    // With no rule in the plan no call is counted or answered.
    if (m_faults.Rules().empty())
        return std::nullopt;
    bool stop = false;
    auto answer = m_faults.Check(keys, &stop);
    if (stop) {
        // Whoever waits for the stop kills the host there, as a crash would, or lets it go on.
        Note("stop: " + keys.front());
        std::fflush(nullptr);
        ::raise(SIGSTOP);
    }
    if (answer)
        Note("fault: " + keys.front() + " answers " + std::to_string(*answer));
    return answer;
}

Answer Host::Ask(const Prompt& prompt)
{
    if (Failed())
        return CancellingAnswer(prompt);
    Answerer* answerer = m_answerer ? m_answerer : &m_autoAnswerer;
    Answer answer;
    std::string error;
    if (!answerer->Respond(prompt, answer, error)) {
        Error(error);
        return CancellingAnswer(prompt);
    }
    return answer;
}

std::string Host::TempFolder()
{
    const std::string folder =
        NormalPath(m_options.tempFolder.empty() ? "Temp" : m_options.tempFolder, m_appFolder);
    std::error_code ec;
    std::filesystem::create_directories(folder, ec);
    return folder;
}

// ---------------------------------------------------------------------------------------------
// Loading and start-up.

bool Host::Load()
{
    if (m_options.staticActivate) {
        m_activate = m_options.staticActivate;
        m_templates = m_options.staticTemplates;
        Note("load (linked module)");
        m_loaded = true;
        return true;
    }
    std::string path = m_options.modulePath;
    if (path.empty()) {
        const std::string folder = m_appFolder + "/XTensions";
        std::vector<std::string> found;
        std::error_code ec;
        for (const auto& entry : std::filesystem::directory_iterator(folder, ec))
            if (entry.path().extension() == ".so")
                found.push_back(entry.path().string());
        if (found.size() != 1) {
            Error(found.empty() ? "no module (*.so) in " + folder
                                : "several modules in " + folder + "; choose one with --module");
            return false;
        }
        path = found.front();
    }
    path = NormalPath(path);
    m_library = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!m_library) {
        const char* reason = dlerror();
        Error("cannot load " + path + ": " + (reason ? reason : "unknown reason"));
        return false;
    }
    m_activate = reinterpret_cast<XTActivateFn>(dlsym(m_library, XT_ACTIVATE_SYMBOL));
    m_templates = reinterpret_cast<XTGetDialogTemplateFn>(dlsym(m_library, XT_TEMPLATE_SYMBOL));
    Note("load " + NameOf(path));
    m_loaded = true;
    if (!m_activate) {
        Error(NameOf(path) + " exports no " XT_ACTIVATE_SYMBOL);
        Unload();
        return false;
    }
    return true;
}

void Host::Unload()
{
    if (m_library) {
        dlclose(m_library);
        m_library = nullptr;
    }
    m_activate = nullptr;
    m_templates = nullptr;
    m_loaded = false;
    m_running = false;
    m_registrations.clear();
    m_setupCallbacks.clear();
    m_idCallbacks.clear();
    Note("unloaded");
}

StartResult Host::Refuse(StartResult result)
{
    m_phase.clear();
    Note(std::string("start refused at ") + StartResultName(result));
    if (result == StartResult::kSetupRefused && m_options.keepRefusedModule) {
        Note("refused module kept loaded");
        m_running = true;
        return result;
    }
    Quit();
    return result;
}

StartResult Host::Start()
{
    if (m_loaded) {
        Error("start: a module is loaded already");
        return StartResult::kLoadFailed;
    }
    m_quitRequested = false;
    if (!Load())
        return StartResult::kLoadFailed;

    m_phase = "activation";
    m_activationRec = XTActivationRec{};
    m_activationRec.apiTable = m_apiTable.data();
    m_activationRec.compatQuery = &RecordEntries::CompatQuery;
    m_activationRec.registerSetupCallback = &RecordEntries::RegisterSetup;
    m_activationRec.registerIdCallback = &RecordEntries::RegisterIds;
    m_activationRec.setMemoryPriority = &RecordEntries::MemoryPriority;
    m_activationRec.setErrorText = &RecordEntries::SetErrorText;
    const uint32_t activated = m_activate(&m_activationRec);
    NotePhase("answer " + Hex(activated));
    if (activated != 0)
        return Refuse(StartResult::kActivationRefused);

    // The identifiers come first: setup registers the dialogs under them.
    m_phase = "ids";
    m_idRec = XTIdRec{};
    m_idRec.newId = &RecordEntries::NewId;
    for (XTCallbackFn fn : std::vector<XTCallbackFn>(m_idCallbacks)) {
        const uint32_t answer = static_cast<uint32_t>(fn(&m_idRec));
        NotePhase("answer " + Hex(answer));
        if (answer != 0)
            return Refuse(StartResult::kIdsRefused);
    }

    m_phase = "setup";
    m_setupRec = XTSetupRec{};
    m_setupRec.tag0 = XT_SETUP_TAG0;
    m_setupRec.tag1 = XT_SETUP_TAG1;
    m_setupRec.registerCallback = &RecordEntries::Register;
    m_setupRec.request = &RecordEntries::Request;
    m_setupRec.bindSuite = &RecordEntries::Bind;
    m_setupRec.lookupComponent = &RecordEntries::LookupComponent;
    m_setupRec.lookupComponentHandle = &RecordEntries::LookupComponentHandle;
    m_setupRec.sdkLevel = XT_SETUP_SDK_LEVEL;
    m_setupRec.setErrorText = &RecordEntries::SetErrorText;
    m_setupRec.requestInterface = &RecordEntries::RequestInterface;
    if (auto injected = Inject({"setup-record"}))
        m_setupRec.tag0 = *injected;
    if (m_setupCallbacks.empty())
        NotePhase("no setup callback registered");
    for (XTCallbackFn fn : std::vector<XTCallbackFn>(m_setupCallbacks)) {
        const uint32_t answer = static_cast<uint32_t>(fn(&m_setupRec));
        NotePhase("answer " + Hex(answer));
        if (answer != 0)
            return Refuse(StartResult::kSetupRefused);
    }
    m_phase.clear();
    m_running = true;
    BuildMenus();
    return StartResult::kOk;
}

void Host::BuildMenus()
{
    if (!m_running) {
        Error("build menus: no module is running");
        return;
    }
    Note("build menus");
    xtaddmenuitemsrec rec{XT_CB_ADDMENUITEMS, 0};
    Dispatch(XT_CB_ADDMENUITEMS, &rec);
    HonourQuitRequest();
}

void Host::Quit()
{
    if (!m_loaded)
        return;
    m_phase.clear();
    if (HasCallback(XT_CB_UNLOAD)) {
        Note("unload callback");
        XTVoidRec rec{XT_CB_UNLOAD, 0};
        Dispatch(XT_CB_UNLOAD, &rec);
    }
    for (auto& entry : dialogs.Items())
        Note(entry.second.Name() + " still open at quit");
    dialogs.Clear();
    currentDialogs.clear();
    m_running = false;
    Unload();
}

void Host::HonourQuitRequest()
{
    if (m_quitRequested && m_running) {
        Note("quitting at the module's request");
        Quit();
    }
}

// ---------------------------------------------------------------------------------------------
// Callbacks.

int32_t Host::RegisterCallback(int32_t kind, XTCallbackFn fn, int32_t priority)
{
    NotePhase("register kind " + std::to_string(kind) + " (priority " + std::to_string(priority) +
              ")");
    m_registrations.push_back(Registration{kind, fn, priority, m_sequence++});
    return XT_OK;
}

bool Host::HasCallback(int32_t kind) const
{
    return std::any_of(m_registrations.begin(), m_registrations.end(),
                       [kind](const Registration& r) { return r.kind == kind; });
}

int32_t Host::Dispatch(int32_t kind, void* rec)
{
    std::vector<Registration> calls;
    for (const auto& r : m_registrations)
        if (r.kind == kind)
            calls.push_back(r);
    std::stable_sort(calls.begin(), calls.end(), [](const Registration& a, const Registration& b) {
        return a.priority < b.priority;
    });
    int32_t result = 0;
    for (const auto& r : calls) {
        const int32_t answer = r.fn(rec);
        if (answer != 0) {
            Note("callback kind " + std::to_string(kind) + " answered " + std::to_string(answer));
            if (result == 0)
                result = answer;
        }
    }
    return result;
}

// ---------------------------------------------------------------------------------------------
// User actions.

void Host::Idle(int count)
{
    if (!m_running) {
        Error("idle: no module is running");
        return;
    }
    // After a quit the module asked for, the remaining idle calls are not sent.
    for (int i = 0; i < count && m_running; ++i) {
        Note("idle");
        XTIdleRec rec{XT_CB_IDLE, 0};
        Dispatch(XT_CB_IDLE, &rec);
        ProcessPostedMessages();
        HonourQuitRequest();
    }
}

void Host::UpdateMenus()
{
    if (!m_running) {
        Error("menus: no module is running");
        return;
    }
    xtupdatemenuitemsrec rec{XT_CB_UPDATEMENUITEMS, 0};
    Dispatch(XT_CB_UPDATEMENUITEMS, &rec);
}

bool Host::ChooseMenu(const std::string& text)
{
    if (!m_running) {
        Error("menu " + Quote(text) + ": no module is running");
        return false;
    }
    UpdateMenus();
    const std::string wanted = Trim(text);
    for (auto& entry : menus.Items()) {
        Menu& menu = entry.second;
        if (!menu.inserted)
            continue;
        for (const auto& item : menu.items) {
            if (Trim(item.text) != wanted)
                continue;
            if (!item.enabled) {
                Error("menu item " + Quote(wanted) + " is disabled");
                return false;
            }
            Note("choose " + Quote(menu.title) + " > " + Quote(item.text) + " (command " +
                 Hex(item.commandId, 4) + ")");
            xthandlecommandrec rec{XT_CB_HANDLECOMMAND, 0, item.commandId};
            Dispatch(XT_CB_HANDLECOMMAND, &rec);
            ProcessPostedMessages();
            HonourQuitRequest();
            return true;
        }
    }
    Error("no menu item " + Quote(wanted));
    return false;
}

void Host::ListMenus()
{
    if (m_running)
        UpdateMenus();
    for (auto& entry : menus.Items()) {
        const Menu& menu = entry.second;
        if (!menu.inserted)
            continue;
        Note("menu " + Quote(menu.title) + " (" + std::to_string(menu.items.size()) + " items)");
        for (const auto& item : menu.items)
            Note("  " + Quote(item.text) + (item.enabled ? " enabled" : " disabled"));
    }
}

// ---------------------------------------------------------------------------------------------
// Dialogs.

const XTDialogTemplate* Host::Template(int32_t resId)
{
    if (Inject({"template:" + std::to_string(resId), "template"}))
        return nullptr;
    if (!m_templates) {
        Error("the module has no dialog templates (" XT_TEMPLATE_SYMBOL ")");
        return nullptr;
    }
    const XTDialogTemplate* t = m_templates(resId);
    constexpr int32_t kMaxItems = 1000;
    if (!t || t->resId != resId || t->itemCount < 0 || t->itemCount > kMaxItems ||
        (t->itemCount > 0 && !t->items)) {
        Error("the module has no usable template " + std::to_string(resId));
        return nullptr;
    }
    return t;
}

Dialog* Host::CurrentDialog(const char* operation)
{
    Dialog* dialog = currentDialogs.empty() ? nullptr : dialogs.Find(currentDialogs.back());
    if (!dialog)
        Error(std::string(operation) + ": no current dialog");
    return dialog;
}

bool Host::SendDialogMessage(Dialog& dialog, uint32_t message, int32_t itemId, uint32_t* resId)
{
    XTDialogRec rec{dialog.kind, dialog.handle, message, itemId, resId, 0, 0};
    const std::size_t depth = currentDialogs.size();
    currentDialogs.push_back(dialog.handle);
    Dispatch(dialog.kind, &rec);
    currentDialogs.resize(depth);
    return rec.handled != 0;
}

Dialog* Host::OpenDialog(int32_t kind, int32_t arg, bool modal, int32_t* failure)
{
    *failure = XT_ERR_PARAM;
    if (!HasCallback(kind)) {
        Error("no window callback for dialog kind " + Hex(static_cast<uint32_t>(kind)));
        return nullptr;
    }
    Dialog fresh;
    fresh.kind = kind;
    fresh.arg = arg;
    fresh.modal = modal;
    const XTHandle handle = dialogs.Issue(fresh);
    Dialog* dialog = dialogs.Find(handle);
    if (!dialog) {
        Error("no dialog handles left");
        return nullptr;
    }
    dialog->handle = handle;
    uint32_t resId = 0;
    SendDialogMessage(*dialog, XT_DLG_MSG_GETRESOURCE, 0, &resId);
    const XTDialogTemplate* t = resId ? Template(static_cast<int32_t>(resId)) : nullptr;
    if (!resId)
        Error("dialog kind " + Hex(static_cast<uint32_t>(kind)) + " named no template");
    if (!t) {
        dialogs.Dispose(handle);
        return nullptr;
    }
    dialog = dialogs.Find(handle);
    LoadTemplate(*dialog, *t);
    Note(dialog->Name() + " " + Quote(dialog->title) + (modal ? " opens" : " opens modeless"));
    SendDialogMessage(*dialogs.Find(handle), XT_DLG_MSG_ITEMSCREATED);
    SendDialogMessage(*dialogs.Find(handle), XT_DLG_MSG_FILL);
    dialog = dialogs.Find(handle);
    if (dialog) {
        NoteDialogItems(*dialog);
        dialog->shown = true;
    }
    *failure = XT_OK;
    return dialog;
}

void Host::LoadTemplate(Dialog& dialog, const XTDialogTemplate& t)
{
    // Alerts show the host's alert texts in place of their "^0" to "^3".
    auto text = [&](const char* raw) {
        std::string out;
        for (const char* p = raw ? raw : ""; *p; ++p) {
            if (dialog.alert && p[0] == '^' && p[1] >= '0' && p[1] <= '3')
                out += alertTexts[*++p - '0'];
            else
                out += *p;
        }
        return out;
    };
    dialog.resId = t.resId;
    dialog.title = t.title ? t.title : "";
    dialog.items.clear();
    for (int32_t i = 0; i < t.itemCount; ++i) {
        DialogItem item;
        item.id = t.items[i].id;
        item.kind = t.items[i].kind;
        item.flags = t.items[i].flags;
        item.text = text(t.items[i].text);
        dialog.items.push_back(item);
    }
}

void Host::NoteDialogItems(const Dialog& dialog)
{
    for (const auto& item : dialog.items) {
        if (item.id == XT_ITEM_UNADDRESSED && item.kind == XT_ITEM_STATIC) {
            Note("  " + Quote(item.text));
            continue;
        }
        std::string line = "  " + std::to_string(item.id) + " ";
        switch (item.kind) {
        case XT_ITEM_BUTTON: line += "button " + Quote(item.text); break;
        case XT_ITEM_CHECKBOX: line += "check " + Quote(item.text) + (item.value ? " on" : " off"); break;
        case XT_ITEM_EDIT: line += "edit " + Quote(item.text); break;
        case XT_ITEM_STATIC: line += "text " + Quote(item.text); break;
        case XT_ITEM_ICON: line += "icon"; break;
        case XT_ITEM_PROGRESS:
            line += "bar " + std::to_string(item.barValue) + "/" + std::to_string(item.barMaximum);
            break;
        }
        if (!item.enabled)
            line += " disabled";
        if (item.kind == XT_ITEM_BUTTON && (item.flags & XT_ITEM_DEFAULT))
            line += " default";
        Note(line);
    }
}

void Host::NoteChange(const Dialog& dialog, const std::string& change)
{
    if (dialog.shown)
        Note(dialog.Name() + ": " + change);
}

void Host::CloseDialog(XTHandle handle)
{
    if (Dialog* dialog = dialogs.Find(handle))
        Note(dialog->Name() + " closed");
    dialogs.Dispose(handle);
}

void Host::InteractWith(XTHandle handle)
{
    for (int steps = 0;; ++steps) {
        Dialog* dialog = dialogs.Find(handle);
        if (!dialog || dialog->ended)
            return;
        if (steps > 10000) {
            Error(dialog->Name() + " does not end");
            dialog->ended = true;
            return;
        }
        Prompt prompt;
        prompt.kind = Prompt::kDialogAction;
        prompt.title = dialog->title;
        prompt.resId = dialog->resId;
        prompt.dialog = dialog;
        Answer answer = Ask(prompt);
        dialog = dialogs.Find(handle);
        if (!dialog)
            return;
        const std::string name = dialog->Name();
        DialogItem* item = dialog->Item(answer.item);
        bool hit = false;
        switch (answer.kind) {
        case Answer::kPress:
            if (!item || (item->kind != XT_ITEM_BUTTON && item->kind != XT_ITEM_CHECKBOX)) {
                Error(name + " has no button " + std::to_string(answer.item));
                answer.kind = Answer::kClose;
            } else if (!item->enabled) {
                Error(name + ": button " + std::to_string(answer.item) + " is disabled");
                answer.kind = Answer::kClose;
            } else {
                Note(name + ": press " + std::to_string(item->id) + " " + Quote(item->text));
                if (item->kind == XT_ITEM_CHECKBOX)
                    item->value = !item->value;
                if (item->flags & XT_ITEM_DEFAULT)
                    ++dialog->defaultPresses;
                hit = true;
            }
            break;
        case Answer::kCheck:
            if (!item || item->kind != XT_ITEM_CHECKBOX) {
                Error(name + " has no check box " + std::to_string(answer.item));
                answer.kind = Answer::kClose;
            } else {
                Note(name + ": check " + std::to_string(item->id) + (answer.on ? " on" : " off"));
                if ((item->value != 0) != answer.on) {
                    item->value = answer.on ? 1 : 0;
                    hit = true;
                }
            }
            break;
        case Answer::kEdit:
            if (!item || item->kind != XT_ITEM_EDIT) {
                Error(name + " has no edit item " + std::to_string(answer.item));
                answer.kind = Answer::kClose;
            } else {
                std::string text = answer.text;
                if (item->maxLength > 0 && static_cast<int32_t>(text.size()) > item->maxLength)
                    text.resize(item->maxLength);
                item->text = text;
                Note(name + ": edit " + std::to_string(item->id) + " " + Quote(text));
                SendDialogMessage(*dialog, XT_DLG_MSG_EDITCHANGED, answer.item);
            }
            break;
        case Answer::kClose:
            break;
        default:
            Error(name + ": expected a press, check, edit or close");
            answer.kind = Answer::kClose;
            break;
        }
        if (hit) {
            const int32_t id = answer.item;
            const bool handled = SendDialogMessage(*dialog, XT_DLG_MSG_ITEMHIT, id);
            dialog = dialogs.Find(handle);
            if (dialog && !handled && !dialog->ended && (id == 1 || id == 2) &&
                answer.kind == Answer::kPress) {
                dialog->ended = true;
                dialog->endValue = id == 1 ? 1 : 0;
            }
        }
        if (answer.kind == Answer::kClose) {
            Note(name + ": close box");
            // The close box is item 2 to the module; whatever it does, the dialog ends.
            SendDialogMessage(*dialog, XT_DLG_MSG_ITEMHIT, 2);
            dialog = dialogs.Find(handle);
            if (dialog && !dialog->ended) {
                dialog->ended = true;
                dialog->endValue = 0;
            }
        }
    }
}

// ---------------------------------------------------------------------------------------------
// The host's own alert windows.

int32_t Host::RaiseHostAlert(const std::string& title, const std::string& text)
{
    HostWindow window;
    window.className = "#32770";
    window.title = title;
    window.text = text;
    window.buttons = {{1, "OK"}, {2, "Cancel"}};
    const XTHandle handle = windows.Issue(window);
    if (!handle) {
        Error("no window handles left");
        return 0;
    }
    for (const auto& button : window.buttons)
        windows.Find(handle)->buttonHandles[button.first] =
            windowItems.Issue(WindowItem{handle, button.first});
    Note("host alert " + Quote(title) + " " + Quote(text) + " opens");

    std::vector<XTHandle> listening;
    for (auto& entry : dialogs.Items())
        if (entry.second.timer && entry.second.shown)
            listening.push_back(entry.first);
    for (XTHandle dialogHandle : listening) {
        Dialog* dialog = dialogs.Find(dialogHandle);
        HostWindow* alert = windows.Find(handle);
        if (!dialog || !alert || !alert->open)
            break;
        Note(dialog->Name() + ": timer");
        SendDialogMessage(*dialog, XT_DLG_MSG_TIMER);
        ProcessPostedMessages();
    }
    HostWindow* alert = windows.Find(handle);
    int32_t pressed = alert ? alert->pressed : 0;
    if (alert && alert->open) {
        Dialog view;
        view.alert = true;
        view.title = title;
        for (const auto& button : alert->buttons) {
            DialogItem item;
            item.id = button.first;
            item.kind = XT_ITEM_BUTTON;
            item.text = button.second;
            item.flags = button.first == 1 ? uint32_t(XT_ITEM_DEFAULT) : 0u;
            view.items.push_back(item);
        }
        Prompt prompt;
        prompt.kind = Prompt::kHostAlert;
        prompt.title = title;
        prompt.dialog = &view;
        const Answer answer = Ask(prompt);
        pressed = answer.kind == Answer::kPress && alert->buttons.count(answer.item) ? answer.item : 1;
        if (answer.kind != Answer::kPress || !alert->buttons.count(answer.item))
            Error("host alert " + Quote(title) + ": expected a press of button 1 or 2");
        Note("host alert " + Quote(title) + ": press " + std::to_string(pressed));
    }
    if ((alert = windows.Find(handle))) {
        for (const auto& button : alert->buttonHandles)
            windowItems.Dispose(button.second);
    }
    windows.Dispose(handle);
    return pressed;
}

void Host::ProcessPostedMessages()
{
    std::vector<PostedMessage> queue;
    queue.swap(posted);
    std::map<XTHandle, bool> down;
    for (const auto& message : queue) {
        WindowItem* item = windowItems.Find(message.target);
        HostWindow* window = item ? windows.Find(item->window) : nullptr;
        if (!window || !window->open) {
            Note("posted message " + std::to_string(message.message) + " to a closed window dropped");
            continue;
        }
        if (message.message == XT_WM_LBUTTONDOWN) {
            down[message.target] = true;
        } else if (message.message == XT_WM_LBUTTONUP && down[message.target]) {
            down[message.target] = false;
            window->open = false;
            window->pressed = item->itemId;
            Note("host alert " + Quote(window->title) + " closed by a click on button " +
                 std::to_string(item->itemId));
        }
    }
}

}  // namespace xthost

// The emulated host application: loads one module from the XTensions folder of its
// application folder, runs its start-up, sends it the callbacks a user's actions cause, runs
// its dialogs by their message protocol and unloads it at quit. Everything it observes goes
// into its transcript; every answer can be overridden through its fault plan; every question
// a user would answer goes to an Answerer (a script, the defaults, or a test).
//
// The module calls the host through plain function pointers, so one host at a time is the
// process's current host (Host::Current).
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/host/Handles.h"
#include "platform/host/Transcript.h"
#include "platform/host/xtapi/XTAPI.h"
#include "platform/host/xtapi/XTSuites.h"

namespace xthost {

// ---------------------------------------------------------------------------------------------
// Questions to the user and their answers.

struct DialogItem {
    int32_t id = 0;
    XTItemKind kind = XT_ITEM_STATIC;
    uint32_t flags = 0;
    std::string text;
    bool enabled = true;
    int32_t value = 0;       // check boxes
    int32_t maxLength = 0;   // edit items, 0 for no limit
    int32_t barMaximum = 0;  // progress bars
    int32_t barValue = 0;
};

struct Dialog {
    XTHandle handle = 0;
    int32_t kind = 0;
    int32_t arg = 0;
    int32_t resId = 0;
    std::string title;
    std::vector<DialogItem> items;
    bool modal = false;
    bool alert = false;   // a module alert (no callback)
    bool shown = false;   // item changes are noted from now on
    bool ended = false;
    int32_t endValue = 0;
    bool timer = false;
    int defaultPresses = 0;

    DialogItem* Item(int32_t id);
    const DialogItem* DefaultButton() const;
    std::string Name() const;  // "dialog 108" or "alert 22100"
};

struct Prompt {
    enum Kind { kDialog, kDialogAction, kOpenFile, kSaveFile, kFolder, kAlert, kHostAlert };
    Kind kind = kDialog;
    std::string title;                    // dialog or alert title, file-dialog title, prompt
    int32_t resId = 0;                    // dialogs and alerts
    const Dialog* dialog = nullptr;       // dialogs, their actions and alerts
    std::string proposed;                 // save: the proposed path; folder: the start folder
    std::vector<std::string> extensions;  // file dialogs: the filter's extensions
};
const char* PromptKindName(Prompt::Kind kind);

struct Answer {
    enum Kind { kAccept, kPress, kCheck, kEdit, kClose, kPaths, kCancel };
    Kind kind = kCancel;
    int32_t item = 0;
    bool on = false;
    std::string text;
    std::vector<std::string> paths;
};

class Answerer {
public:
    virtual ~Answerer() = default;
    // Fills the answer; answers false with the reason when the prompt was not expected.
    virtual bool Respond(const Prompt& prompt, Answer& answer, std::string& error) = 0;
};

// What a user who only confirms does: the default button of each dialog (once; then the close
// box), the default button of each alert, and every file dialog and chooser cancelled.
class AutoAnswerer : public Answerer {
public:
    bool Respond(const Prompt& prompt, Answer& answer, std::string& error) override;
};

// ---------------------------------------------------------------------------------------------

struct HostOptions {
    std::string appFolder;   // holds XTensions/ (and the module's settings file)
    std::string modulePath;  // empty: the one shared object in <appFolder>/XTensions
    std::string tempFolder;  // empty: <appFolder>/Temp, made on first use
    // A module linked into the test program instead of a shared object.
    XTActivateFn staticActivate = nullptr;
    XTGetDialogTemplateFn staticTemplates = nullptr;
    // A module whose setup is refused stays loaded with what it registered, as with a host
    // that goes on running; it is unloaded at quit. Otherwise a refusal unloads it at once.
    bool keepRefusedModule = false;
};

enum class StartResult { kOk, kLoadFailed, kActivationRefused, kIdsRefused, kSetupRefused };
const char* StartResultName(StartResult result);

struct Registration {
    int32_t kind;
    XTCallbackFn fn;
    int32_t priority;
    int sequence;
};

struct MenuItem {
    uint16_t commandId = 0;
    std::string text;
    bool enabled = true;
};
struct Menu {
    uint16_t menuId = 0;
    std::string title;
    bool inserted = false;
    int32_t position = 0;
    std::vector<MenuItem> items;
};

// A window of the host's own: an alert it raised, with buttons 1 and 2.
struct HostWindow {
    std::string className;
    std::string title;
    std::string text;
    std::map<int32_t, std::string> buttons;
    std::map<int32_t, XTHandle> buttonHandles;
    bool open = true;
    int32_t pressed = 0;
};
struct WindowItem {
    XTHandle window;
    int32_t itemId;
};
struct PostedMessage {
    XTHandle target;
    uint32_t message;
};

struct FileDialogState {
    std::vector<std::string> chosen;
};

// The application's state behind the XAQ slots from 101.
struct ApplicationState {
    uint32_t version = 0x07000002;  // 7.0 r2
    bool clockFrozen = false;       // a test or the script verb "clock" fixed the time
    XTClockRec clock{};             // the frozen time
    int32_t toolMode = 0;
    int32_t textMode = 0;
    bool preferences[2] = {true, true};
    int32_t textUpdate = 1;
    int32_t updateMode = 0;
    bool modeFlag = false;
};

class Host {
public:
    explicit Host(HostOptions options);
    ~Host();
    Host(const Host&) = delete;
    Host& operator=(const Host&) = delete;

    // The host the module is talking to; null when there is none.
    static Host* Current();

    // Load, activation, identifiers, setup and menu building. A refusal unloads the module
    // (a refused setup only without keepRefusedModule).
    StartResult Start();
    // The menu-building callback (kind 6), as after a successful start.
    void BuildMenus();
    // The unload callback, then the module is unloaded. Does nothing when nothing is loaded.
    void Quit();
    bool Loaded() const { return m_loaded; }
    bool Running() const { return m_running; }

    // User actions.
    void Idle(int count);
    void UpdateMenus();
    // Update, then the command of the item with that text (ignoring leading and trailing
    // blanks). False, with an error, when the item is missing or disabled.
    bool ChooseMenu(const std::string& text);
    void ListMenus();
    // The host raises an alert of its own while it works (e.g. opening a document): dialogs
    // that asked for timer messages get one; a click the module posts closes the alert; an
    // alert still open is answered by the user. Answers the pressed button.
    int32_t RaiseHostAlert(const std::string& title, const std::string& text);
    void SetFrontDocumentIndex(int16_t index) { m_frontDocument = index; }
    int16_t FrontDocumentIndex() const { return m_frontDocument; }

    // Observation and control.
    Transcript& Log() { return m_transcript; }
    // Adds a transcript line; the application folder is written "<app>" so that transcripts
    // do not depend on where the folder is.
    void Note(std::string line);
    // A fault of the module's use of the host, or a script that went wrong: noted as
    // "error: ...", and the run fails. Later questions get the defaults of a cancelling user.
    void Error(const std::string& text);
    bool Failed() const { return m_errors > 0; }
    int Errors() const { return m_errors; }
    int Beeps() const { return m_beeps; }
    bool QuitRequested() const { return m_quitRequested; }
    FaultPlan& Faults() { return m_faults; }
    // The injected answer for a call known by these keys (most specific first), noted.
    std::optional<int32_t> Inject(const std::vector<std::string>& keys);
    void SetAnswerer(Answerer* answerer) { m_answerer = answerer; }
    Answer Ask(const Prompt& prompt);
    const HostOptions& Options() const { return m_options; }
    const std::string& AppFolder() const { return m_appFolder; }
    std::string TempFolder();
    // The error texts the module handed over.
    const std::vector<std::string>& ModuleErrorTexts() const { return m_moduleErrors; }

    // Callbacks.
    int32_t Dispatch(int32_t kind, void* rec);
    bool HasCallback(int32_t kind) const;
    int32_t RegisterCallback(int32_t kind, XTCallbackFn fn, int32_t priority);
    const std::vector<Registration>& Registrations() const { return m_registrations; }

    // The module's dialog template, or null (noted).
    const XTDialogTemplate* Template(int32_t resId);

    // State that the suite operations work on.
    HandleTable<Menu> menus{kTagMenu};
    HandleTable<Dialog> dialogs{kTagDialog};
    HandleTable<std::u16string> texts{kTagText};
    HandleTable<std::string> fileRefs{kTagFileRef};
    HandleTable<FileDialogState> fileDialogs{kTagFileDialog};
    HandleTable<uint32_t> components{kTagComponent};
    HandleTable<const void*> moduleObjects{kTagModuleObject};
    HandleTable<HostWindow> windows{kTagWindow};
    HandleTable<WindowItem> windowItems{kTagWindowItem};
    HandleTable<std::vector<uint8_t>> memory{kTagMemory};
    ApplicationState application;
    std::vector<XTHandle> currentDialogs;   // innermost last
    std::vector<PostedMessage> posted;
    std::vector<std::string> alertTexts = std::vector<std::string>(4);
    uint32_t nextMenuId = 0x100;
    uint32_t nextKindId = 0x1000;
    // Folder ids of file specifications (volume 1): id -> folder path and back.
    std::map<int32_t, std::string> folderPaths;
    std::map<std::string, int32_t> folderIds;
    int32_t nextFolderId = 100;

    // "phase: text" while the module starts, else the text.
    void NotePhase(const std::string& text);
    // After a user action: a quit the module asked for is carried out.
    void HonourQuitRequest();

    void Beep() { ++m_beeps; }
    void RequestQuit() { m_quitRequested = true; }
    void AddModuleErrorText(const std::string& text) { m_moduleErrors.push_back(text); }
    // Delivers the posted clicks to the host's windows.
    void ProcessPostedMessages();
    // The dialog the item calls act on, or null (an error is noted).
    Dialog* CurrentDialog(const char* operation);
    // Sends one message to a dialog's window callbacks; answers the handled flag.
    bool SendDialogMessage(Dialog& dialog, uint32_t message, int32_t itemId = 0,
                           uint32_t* resId = nullptr);
    // Makes a dialog of kind from the module's template; null on failure (noted).
    Dialog* OpenDialog(int32_t kind, int32_t arg, bool modal, int32_t* failure);
    void CloseDialog(XTHandle handle);
    // The title and items of a template.
    void LoadTemplate(Dialog& dialog, const XTDialogTemplate& t);
    // The items of a dialog as the user sees them, one line each.
    void NoteDialogItems(const Dialog& dialog);
    // An item change the module made while the user sees the dialog.
    void NoteChange(const Dialog& dialog, const std::string& change);
    // Runs the user's side of a modal dialog until it has ended.
    void InteractWith(XTHandle handle);

private:
    bool Load();
    void Unload();
    StartResult Refuse(StartResult result);

    HostOptions m_options;
    std::string m_appFolder;
    Transcript m_transcript;
    FaultPlan m_faults;
    AutoAnswerer m_autoAnswerer;
    Answerer* m_answerer = nullptr;
    std::vector<Registration> m_registrations;
    std::vector<std::string> m_moduleErrors;
    void* m_library = nullptr;
    XTActivateFn m_activate = nullptr;
    XTGetDialogTemplateFn m_templates = nullptr;
    bool m_loaded = false;
    bool m_running = false;
    bool m_quitRequested = false;
    int m_beeps = 0;
    int m_errors = 0;
    int m_sequence = 0;
    int16_t m_frontDocument = -1;
    std::vector<uint32_t> m_apiTable;
    std::string m_phase;  // "activation", "ids", "setup" while the module starts
    std::vector<XTCallbackFn> m_setupCallbacks;
    std::vector<XTCallbackFn> m_idCallbacks;
    XTActivationRec m_activationRec{};
    XTIdRec m_idRec{};
    XTSetupRec m_setupRec{};

    friend struct RecordEntries;
};

}  // namespace xthost

// The host's current document (the one in front), the counted document object the commands
// hold while they work, the private working boxes made in documents, the host preferences
// switched off around a conversion, the host clock's time stamp and the source description
// text of an export.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "Plugin/QAPI/QFontList.h"
#include "Plugin/Shell/RefObject.h"
#include "platform/host/HostServices.h"

class CurDocAPI {
public:
    // The host's index of the current document; -1 when there is none.
    static int16_t GetIndex();
    static bool IsExist() { return GetIndex() >= 0; }
    static uint16_t GetDocumentCount();
    // The host's document flag (a document of the other platform) and its untitled flag.
    static bool WasFlagSet();
    static bool IsUntitled();
    // Untitled, or bit 0 or 1 of the host's change flags set.
    static bool NeedsSave();
    // Saves through the host's save command when needed; true when nothing needs saving after.
    static bool SaveIfNeeded();
    static bool QueryPrefFlag();
    // The file specification of the current document: -43 when untitled, else the host's code
    // (kHostLayerFailure for other failures); spec is written only on success.
    static int32_t GetSpec(HostFileSpec* spec);
    // Opens a document by specification (options 63 with flag, else 31). The current job's
    // source must exist; a specification that differs from the job's is a warning in the
    // general log. True when the host opened it or the number of documents grew by one.
    static bool Open(const HostFileSpec& spec, bool flag);
};

class QuarkDoc : public RefObject {
public:
    // For the host's current document.
    QuarkDoc();

    // Opens a document; a new object for it when the current document changed, else null.
    static QuarkDoc* Open(const HostFileSpec& spec, bool flag);

    // Brings this document to the front; answers the index that was current before (-1: none).
    int16_t MakeCurrent();
    int32_t GetSpec(HostFileSpec* spec);
    // Whether the host's current project has changes.
    bool GetProjectFlag();
    // Saves the document under its own name (after SaveCopy, by putting it back there).
    bool Save();
    // The same, answering the host's code (0 saved; -34 for a full disk, ...).
    int32_t SaveCode();
    // Saves the document as it is now into the file that the file spec names, without touching its
    // own file: the host keeps it under the copy's name until the next save puts it back under
    // its own. Answers the host's code.
    int32_t SaveCopy(const HostFileSpec& copy);
    bool WasFlagSet() const { return mDocFlag != 0; }
    void RefreshFonts();
    // Disposes this document's private working boxes (all of them, in every layout), then saves
    // the document unless a batch or server run is under way. Answers the save's host code (0
    // also when no save was due).
    int32_t Finish();

    uint16_t GetIndex() const { return mIndex; }
    // Points the object at another layout of the project, by the host's document id.
    void SetIndex(uint16_t index) { mIndex = index; }
    // Set by the commands that opened the document or reached its last layout: destruction
    // then closes it.
    void SetOwns(bool owns) { mOwns = owns ? 1 : 0; }
    bool Owns() const { return mOwns != 0; }
    QFontList* Fonts() const { return mFonts; }

protected:
    ~QuarkDoc() override;

private:
    // Notes the folder of the file a save wrote (null: the document's own) for a sync before
    // the run reports.
    void NoteSavedName(const HostFileSpec* saved);

    uint16_t mIndex = 0xFFFF;
    uint8_t mOwns = 0;
    uint8_t mDocFlag = 0;
    QFontList* mFonts = nullptr;
    // The document's own file while the host keeps it under a copy's name.
    std::optional<HostFileSpec> mOwnFile;
};

// The private working boxes the module made in documents, with the document of each.
void AddWorkBox(XTHandle doc, XTHandle box);
// Forgets a box without disposing it (its owner disposed it).
void RemoveWorkBox(XTHandle box);
size_t WorkBoxCount();

// The two host application preferences that a conversion switches off, 1 where it was on.
struct HostPrefs {
    uint8_t on[2] = {0, 0};
};
void SuspendHostPrefs(HostPrefs& saved);
void RestoreHostPrefs(const HostPrefs& saved);

// Hands the flag to the host's option of the current document.
void SetCurrentDocOption(int32_t flag);

// The host clock as "YYYY-MM-DD hh:mm:ss" (compact: "YYYYMMDDhhmmss"), date and time as asked.
std::string HostTimeStamp(bool compact, bool withDate, bool withTime);

// "QuarkXpress 7.0r2 Win [Kesto 7.0.3.38 , QSDK 70]{MB=1}" for the host's version; the MB
// digit is the setting masterPageMode as read at the first build after the module loaded.
std::u16string HostVersionString();

// Adds the work-box list and the version text's cache to the module's globals.
void RegisterHostDocGlobals();

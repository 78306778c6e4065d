// The settings file "kesto.ini" in the host's "XTensions" folder: 40 keys in the sections
// "QUARK", "Options", "Server" and "Path", each with a default and a help text. Every getter
// reads the loaded file on each call, falls back to the key's default and clamps integers.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "Foundation/DataFile.h"
#include "Foundation/ModuleGlobals.h"

// Key ids of the settings file.
struct SettingKey {
    enum : int32_t {
        AutomaticResizeOfFrames = 0,
        TestStyleOfParagraph,
        SetUniqueID,
        SkipProcessHidden,
        extendedInterface,
        recursiveDirScan,
        addMenuItemExportCoords,
        addMenuItemExportTgx,
        fileTypeGuidedSelection,
        useObsoleteCopyText,
        tempBoxMaximizeMode,          // 10
        mapSourceFoldersToTarget,
        includeSourceFolderInTarget,
        autoOverwriteSource,
        pdfOutputStyle,
        masterPageMode,
        masterPageLogMode,
        testMode,
        serverMode,
        listenPort,
        maxDocOpen,                   // 20
        socketTransferMode,
        sockXferCanCompress,
        clearTempFiles,
        activateServerLog,
        keepServerLog,
        serverLogMinPriority,
        SourceBookPath,               // 27
        TargetDWQPath,
        TargetPDFPath,
        SourceDWQPath,
        TargetBookPath,
        BatchFilePath,                // 32
        TemporaryPath,
        LogPath,
        ServerAlivePath,              // 35
        maxUploadMB,                  // 36
        listenAddress,
        serverPasswordFile,
        sharedFolders,
        Count,                        // 40: also the id of "no key"
    };
};

// One key of the settings file.
struct SettingRecord {
    int32_t m_section = 4;        // index into the section names; 4 = none
    int32_t m_keyId = SettingKey::Count;
    int32_t m_defaultIndex = 16;  // index into the value tokens
    std::string m_help;

    SettingRecord() = default;
    SettingRecord(int32_t keyId, int32_t section, int32_t defaultIndex, std::string help)
        : m_section(section), m_keyId(keyId), m_defaultIndex(defaultIndex), m_help(std::move(help))
    {
    }
};

class SettingsFile {
public:
    // Builds the records and loads "kesto.ini" at once.
    SettingsFile();
    // With loadNow false: empty records, a fresh data file, not loaded (the module's global).
    explicit SettingsFile(bool loadNow);

    // Builds the records and loads the file (GetSettingsFilePath when the path is empty).
    bool Load(const std::string& path, bool resetToDefaults);
    bool IsLoaded() const { return m_loaded; }
    void SetAutoCreateKeys(bool on);

    SettingRecord FindRecord(int32_t keyId) const;
    int32_t GetSectionIndex(int32_t keyId) const;
    int32_t GetDefaultIndex(int32_t keyId) const;
    std::string GetHelp(int32_t keyId) const;
    std::string GetDefault(int32_t keyId) const;

    bool HasKey(int32_t keyId);
    std::string GetValue(int32_t keyId);
    // The text of a path key (27 to 35); "" for any other id.
    std::string GetPath(int32_t keyId);
    bool IsDefault(int32_t keyId);

    bool SetValue(int32_t keyId, const std::string& value, bool autoCreateKeys, bool save);
    // SetValue for the settable path keys (27 to 31, 33 to 35); false for any other id.
    bool SetPath(int32_t keyId, const std::string& value, bool autoCreateKeys, bool save);
    bool ResetToDefaults();

    bool GetAutomaticResizeOfFrames();
    bool GetTestStyleOfParagraph();
    bool GetSetUniqueID();
    bool GetSkipProcessHidden();
    bool GetExtendedInterface();
    bool GetRecursiveDirScan();
    bool GetAddMenuItemExportCoords();
    bool GetAddMenuItemExportTgx();
    bool GetUseObsoleteCopyText();
    int32_t GetTempBoxMaximizeMode();      // 0 to 2; else 1
    bool GetMapSourceFoldersToTarget();
    bool GetIncludeSourceFolderInTarget();
    int32_t GetAutoOverwriteSource();      // 0 to 2; else 2
    int32_t GetPdfOutputStyle();           // 0 to 3; else 2
    int32_t GetMasterPageMode();           // 0 to 1; else 1
    int32_t GetMasterPageLogMode();        // 0 to 5; else 0
    int32_t GetTestMode();                 // the value when bit 0 or 1 is set, else 0
    bool GetServerMode();
    int32_t GetListenPort();               // not clamped
    bool GetSocketTransferMode();
    bool GetSockXferCanCompress();
    bool GetClearTempFiles();
    bool GetActivateServerLog();
    bool GetKeepServerLog();
    int32_t GetServerLogMinPriority();     // below 0 gives -1, above 8 gives 8
    // The most a server job stores of its client's file, in MiB: 0 (the default, also for a
    // value below 0) leaves the server's own bound; above 2048 gives 2048.
    int32_t GetMaxUploadMB();
    // The value the module works with, as text: a getter's answer ("True"/"False", the clamped
    // number) or, for a key without a getter, GetValue.
    std::string GetEffective(int32_t keyId);
    // The server's door, each as its text without surrounding blanks ("" while unset): the
    // IPv4 address it listens on, the file holding its password on the first line, and the
    // folders a shared-folder job may name, separated by ';'.
    std::string GetListenAddress();
    std::string GetServerPasswordFile();
    std::string GetSharedFolders();

    // The name of a key id ("" for none) and of a section index ("" for 4 and beyond).
    static const char* GetKeyName(int32_t keyId);
    static const char* GetSectionName(int32_t sectionIndex);

    const CDataFile& GetDataFile() const { return m_file; }

private:
    void BuildRecords();
    bool GetBool(int32_t keyId);
    int32_t GetInt(int32_t keyId);
    int32_t GetIntInRange(int32_t keyId, uint32_t highest, int32_t fallback);
    std::string GetTrimmedText(int32_t keyId);

    std::vector<SettingRecord> m_records;
    CDataFile m_file;
    bool m_loaded = false;
};

// The one settings object of the module (not loaded until the top object loads it).
extern ModuleGlobal<SettingsFile> Settings;

// The full path of "kesto.ini" in the host application's "XTensions" folder, "" on failure.
std::string GetSettingsFilePath();

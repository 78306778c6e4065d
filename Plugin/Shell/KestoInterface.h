// The module's run flags and the owner of the temporary log folder that holds the server log.
#pragma once

#include "SHARED/Server/CnvTools/NodeFS.h"

class KestoInterface {
public:
    // The singleton, made on the first call with the flags of the settings.
    static KestoInterface* Instance();
    // Deletes the singleton when it exists (library unload).
    static void Destroy();

    void SetExtendedMode(bool on);
    void SetServerMode(bool on);
    // On while a folder command converts several documents unattended.
    void SetMultiDocMode(bool on);

    bool CreateTmpLogFolder();
    bool InitServerLog();
    bool ReleaseLogHolder();
    bool ReleaseLogUnlessKept();

    // Readers take the flags directly.
    bool m_extendedMode = false;
    bool m_multiDocMode = false;
    bool m_serverMode = false;
    t_Folder* m_tmpLogFolder = nullptr;

    KestoInterface(const KestoInterface&) = delete;
    KestoInterface& operator=(const KestoInterface&) = delete;

private:
    KestoInterface() = default;
    ~KestoInterface();

    // Deletes the server log node and the folder node (never the disk); the log goes first,
    // since it is listed in the folder.
    void DropLogNodes(const char* location);
};

// Adds the shell's globals to the module's initialisation list: the module state singleton is
// deleted at unload, before the general log closes.
void RegisterShellGlobals();

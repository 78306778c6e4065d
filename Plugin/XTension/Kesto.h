// The module's top object: it holds the OLE runtime for the module's whole life, owns the command
// objects and decides at its creation how the module runs (interactively, as a conversion
// server, or as a batch run started at launch).
#pragma once

#include <cstdint>

#include "Plugin/Shell/ClassObject.h"
#include "Plugin/Shell/Commands.h"

// Starts OLE for the life of its owner; ends it only when the start succeeded.
class OLEInitGuard {
public:
    explicit OLEInitGuard(bool throwOnFailure);
    ~OLEInitGuard();
    OLEInitGuard(const OLEInitGuard&) = delete;
    OLEInitGuard& operator=(const OLEInitGuard&) = delete;

    // S_OK or S_FALSE.
    bool Succeeded() const;

private:
    int32_t m_result;
};

class Kesto : public ClassObject<Kesto> {
public:
    Kesto();

    bool OleStarted() const { return m_ole.Succeeded(); }

private:
    ~Kesto() override;

    OLEInitGuard m_ole;
    // The command objects, in order of creation; released in reverse.
    RefPtr<CommandAdapter<1>> m_beep;
    RefPtr<CommandAdapter<4>> m_about;
    RefPtr<MenuButton<5>> m_exportCurrentButton;
    RefPtr<MenuButton<6>> m_exportCoordsButton;
    RefPtr<MenuButton<7>> m_exportTgxButton;
    RefPtr<CommandAdapter<9>> m_exportDocument;
    RefPtr<CommandAdapter<13>> m_exportCoords;
    RefPtr<CommandAdapter<14>> m_exportTgx;
    RefPtr<MenuButton<10>> m_exportToVerbantButton;
    RefPtr<MenuButton<8>> m_exportMultipleButton;
    RefPtr<CommandAdapter<11>> m_chooseAndExport;
    RefPtr<IdleAdapter<12>> m_batchExportStep;
    RefPtr<IdleAdapter<19>> m_idleMachine;
    RefPtr<MenuButton<15>> m_importButton;
    RefPtr<MenuButton<16>> m_importMultipleButton;
    RefPtr<CommandAdapter<17>> m_import;
    RefPtr<IdleAdapter<18>> m_batchImportStep;
    RefPtr<CommandAdapter<36>> m_unused36;
    RefPtr<CommandAdapter<34>> m_unused34;
};

// Creates the top object; answers whether the OLE runtime started. The object is complete and
// stays either way, until DeinitKesto releases it.
bool InitKesto();
// Closes or keeps the server log, reports the allocations and releases the top object.
void DeinitKesto();

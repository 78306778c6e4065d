#include "Plugin/Shell/Commands.h"

#include "Plugin/Shell/HostSuites.h"

template <>
void CommandAdapter<1>::ActionPerformed(XTVoidRec*)
{
    CallHost<XCF_Beep>(0);
}

template <>
void CommandAdapter<4>::ActionPerformed(XTVoidRec* rec)
{
    SignalBeep(rec);
}

template <>
void CommandAdapter<34>::ActionPerformed(XTVoidRec*)
{
}

template <>
void CommandAdapter<36>::ActionPerformed(XTVoidRec*)
{
}

void SignalBeep(XTVoidRec* rec)
{
    PerformByClass<CommandAdapter<1>>(rec);
}

void FireDocumentExport(XTVoidRec* rec)
{
    PerformByClass<CommandAdapter<9>>(rec);
}

void FireBatchExportStep(XTIdleRec* rec)
{
    PerformByClass<IdleAdapter<12>>(rec);
}

void FireBatchImportStep(XTIdleRec* rec)
{
    PerformByClass<IdleAdapter<18>>(rec);
}

RefPtr<MenuButton<5>> GetExportCurrentDocumentButton()
{
    return ClassObject<MenuButton<5>>::Instance();
}

void FireExportCurrentDocumentButton(XTVoidRec* rec)
{
    if (RefPtr<MenuButton<5>> button = GetExportCurrentDocumentButton())
        button->ActionPerformed(rec);
}

void WireMenuButtons()
{
    ConnectListener<MenuButton<5>, CommandAdapter<9>>();
    ConnectListener<MenuButton<6>, CommandAdapter<13>>();
    ConnectListener<MenuButton<7>, CommandAdapter<14>>();
    ConnectListener<MenuButton<10>, CommandAdapter<11>>();
    ConnectListener<MenuButton<8>, CommandAdapter<11>>();
    ConnectListener<MenuButton<15>, CommandAdapter<17>>();
    ConnectListener<MenuButton<16>, CommandAdapter<17>>();
    ConnectListener<MenuButton<15>, CommandAdapter<1>>();
    ConnectListener<MenuButton<16>, CommandAdapter<1>>();
    ConnectListener<MenuButton<5>, CommandAdapter<1>>();
    ConnectListener<MenuButton<6>, CommandAdapter<1>>();
    ConnectListener<MenuButton<7>, CommandAdapter<1>>();
    ConnectListener<MenuButton<10>, CommandAdapter<1>>();
    ConnectListener<MenuButton<8>, CommandAdapter<1>>();
}

void ConnectIdleListener(RefPtr<IdleListener> listener)
{
    if (!listener)
        return;
    if (RefPtr<IdleButtonClass> button = ClassObject<IdleButtonClass>::Instance())
        button->AddActionListener(std::move(listener));
}

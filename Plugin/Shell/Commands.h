// The plug-in's command objects: the action adapters that carry the command bodies, the menu
// buttons, the idle button, and the ways other code reaches them by class.
//
// The body of each adapter is an explicit specialisation of Swing::ActionAdapter<Rec,N>::
// ActionPerformed, written by the code that owns the command:
//   1 the beep, 4 "About" (beeps), 34 and 36 (attached to nothing)          this folder
//   9 export, 11 choose and export, 13 coordinates, 14 XTags, 17 import     document commands
//   12 batch export step, 18 batch import step                              batch mode
//   19 the idle state machine                                               IdleMachine.cpp
#pragma once

#include "Plugin/Shell/CBAdapter.h"
#include "Plugin/Shell/Swing.h"
#include "platform/host/xtapi/XTAPI.h"

using CommandListener = Swing::ActionListener<XTVoidRec*>;
using IdleListener = Swing::ActionListener<XTIdleRec*>;

template <int N>
using CommandAdapter = Swing::ActionAdapter<XTVoidRec*, N>;
template <int N>
using IdleAdapter = Swing::ActionAdapter<XTIdleRec*, N>;
template <int N>
using MenuButton = Swing::AbstractButton<XTVoidRec*, N>;

// The idle button, reached by class as Swing::AbstractButton<XTIdleRec*,31>.
using IdleButton = CBAdapter<XTIdleRec*, 31>;
using IdleButtonClass = Swing::AbstractButton<XTIdleRec*, 31>;

// The command bodies (see above for their owners).
template <> void CommandAdapter<1>::ActionPerformed(XTVoidRec*);
template <> void CommandAdapter<4>::ActionPerformed(XTVoidRec*);
template <> void CommandAdapter<9>::ActionPerformed(XTVoidRec*);
template <> void CommandAdapter<11>::ActionPerformed(XTVoidRec*);
template <> void CommandAdapter<13>::ActionPerformed(XTVoidRec*);
template <> void CommandAdapter<14>::ActionPerformed(XTVoidRec*);
template <> void CommandAdapter<17>::ActionPerformed(XTVoidRec*);
template <> void CommandAdapter<34>::ActionPerformed(XTVoidRec*);
template <> void CommandAdapter<36>::ActionPerformed(XTVoidRec*);
template <> void IdleAdapter<12>::ActionPerformed(XTIdleRec*);
template <> void IdleAdapter<18>::ActionPerformed(XTIdleRec*);
template <> void IdleAdapter<19>::ActionPerformed(XTIdleRec*);

// Performs the live object of class T with the record (a button fires its listeners); nothing
// when there is none.
template <class T, class Rec>
void PerformByClass(Rec rec)
{
    if (RefPtr<T> object = ClassObject<T>::Instance())
        object->ActionPerformed(rec);
}

// The system beep (action 1).
void SignalBeep(XTVoidRec* rec);
// The export of the front document (action 9).
void FireDocumentExport(XTVoidRec* rec);
// One step of a batch export or import (actions 12 and 18).
void FireBatchExportStep(XTIdleRec* rec);
void FireBatchImportStep(XTIdleRec* rec);

// Button 5 " Export current document", or null.
RefPtr<MenuButton<5>> GetExportCurrentDocumentButton();
void FireExportCurrentDocumentButton(XTVoidRec* rec);

// Adds the live object of class Listener to the listeners of the live Button; nothing when
// either is missing.
template <class Button, class Listener>
void ConnectListener()
{
    RefPtr<typename Button::Listener> listener(ClassObject<Listener>::Instance());
    if (!listener)
        return;
    if (RefPtr<Button> button = ClassObject<Button>::Instance())
        button->AddActionListener(listener);
}

// Every menu button gets its command, then the beep: fourteen connections.
void WireMenuButtons();

// Adds a listener to the idle button when it exists.
void ConnectIdleListener(RefPtr<IdleListener> listener);

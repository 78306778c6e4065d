// The module's host file services over the bound host suites: file specifications, file
// references, host text objects, the host's temporary folder and its application folder.
#pragma once

#include <cstdint>
#include <string>

#include "platform/host/HostServices.h"

// Installs the services for the foundation code (setup, once the suites are bound).
void InstallHostFileServices();
// Withdraws them (unload, or a setup that failed).
void RemoveHostFileServices();

// xt_fsmakefsspec: the host file specification of an item given by its folder (volume and folder
// id) and its name; an empty name gives the folder's own specification. Answers the host's
// code; the record is left alone on failure.
int16_t xt_fsmakefsspec(int16_t volume, int32_t folderId, const char* name, HostFileSpec* spec);

// The system's reason for a host file-system code, as a reader of the log understands it
// ("No space left on device" for a full disk, "Disk quota exceeded" for a full quota); the code
// itself for one the host does not define. Call it right after the failed call: the reason is
// the system's error number that the call left (SystemErrorText).
std::string HostFileErrorText(int32_t code);

// The system's text for the error a failed file call just met: its error number (errno, which
// the host, as the system, leaves after a failed file call) when that is an error of the kind
// `kind` names (ENOSPC: also a full quota or a file size limit; EACCES: also EPERM; ENOENT:
// also ENOTDIR), else the text of `kind` itself.
std::string SystemErrorText(int kind);

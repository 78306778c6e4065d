// The emulated host with its documents for a program that has the module linked in rather than
// loaded from the XTensions folder. Free of GoogleTest: the fuzzers build it too.
#pragma once

#include <filesystem>
#include <memory>

#include "Plugin/Shell/DialogTemplates.h"
#include "Plugin/XTension/Activation.h"
#include "platform/host/Host.h"
#include "platform/host/HostExtensions.h"

namespace kesto_test {

// Not yet started: the caller starts it and decides what a failed start means.
inline std::unique_ptr<xthost::Host> MakeLinkedModuleHost(const std::filesystem::path& app)
{
    xthost::HostExtensions extensions;
    xthost::RegisterHostDocuments(extensions);
    xthost::HostOptions options;
    options.appFolder = app.string();
    options.staticActivate = &XTActivateCallback;
    options.staticTemplates = &XTGetDialogTemplate;
    return std::make_unique<xthost::Host>(options);
}

} // namespace kesto_test

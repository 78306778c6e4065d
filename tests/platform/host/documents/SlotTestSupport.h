// What the tests of the suite slots share: the example documents, a slot by its descriptor,
// file references made through the file slots, and a host with the documents registered in a
// fresh application folder per test.
#pragma once

#include <gtest/gtest.h>

#include <array>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <string>

#include "platform/host/HostExtensions.h"
#include "platform/host/Suites.h"
#include "platform/host/xtapi/XTSuites.h"

namespace xthost::testing {

inline const std::string kExamples = std::string(KESTO_SOURCE_DIR) + "/examples/documents/";

template <class Descriptor>
typename Descriptor::Type Slot()
{
    return reinterpret_cast<typename Descriptor::Type>(
        SuiteCatalog::Instance().SuiteEntry(Descriptor::kCode, Descriptor::kSlot));
}

// A file reference to the path, through the slots a module uses.
inline XTHandle FileRef(const std::string& path)
{
    XTFileSpec spec{};
    EXPECT_EQ(Slot<XFJ_MakeFSSpec>()(0, 0, path.c_str(), &spec), XT_OK) << path;
    XTHandle ref = 0;
    EXPECT_EQ(Slot<XFJ_NewFileRef>()(&ref), XT_OK);
    EXPECT_EQ(Slot<XFJ_SetFileSpec>()(ref, &spec), XT_OK);
    return ref;
}

// What a command writes on its standard output (poppler's tools read the PDFs back).
inline std::string Shell(const std::string& command)
{
    std::string out;
    if (std::FILE* p = ::popen((command + " 2>/dev/null").c_str(), "r")) {
        std::array<char, 4096> buffer;
        size_t n = 0;
        while ((n = std::fread(buffer.data(), 1, buffer.size(), p)) > 0)
            out.append(buffer.data(), n);
        ::pclose(p);
    }
    return out;
}

class SlotHostFixture : public ::testing::Test {
protected:
    // A host with the documents registered, its application folder
    // "test-tmp/<area>/<test name>" emptied first.
    void StartHost(const char* area)
    {
        const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
        app = std::filesystem::path(KESTO_BINARY_DIR) / "test-tmp" / area / info->name();
        std::filesystem::remove_all(app);
        std::filesystem::create_directories(app);
        HostExtensions extensions;
        RegisterHostDocuments(extensions);
        HostOptions options;
        options.appFolder = app.string();
        host = std::make_unique<Host>(options);
    }

    std::filesystem::path app;
    std::unique_ptr<Host> host;
};

}  // namespace xthost::testing

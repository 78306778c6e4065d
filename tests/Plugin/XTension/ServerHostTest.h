// Runs the module's server in the emulated host while a client written from the wire protocol
// alone (no server code) drives it from another thread.
#pragma once

#include <sys/wait.h>

#include <cstdio>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "Plugin/NobodyAtTheHost.h"
#include "Plugin/Shell/AppFolderTest.h"
#include "client/ProtocolClient.h"
#include "platform/host/Host.h"
#include "platform/host/HostExtensions.h"
#include "platform/host/documents/DocHost.h"
#include "platform/host/documents/DocSlots.h"

namespace kesto_test {

class ServerHostTest : public AppFolderTest {
protected:
    using AppFolderTest::AppFolderTest;

    // The server's password as its clients are given it.
    static constexpr const char* kPassword = "omra.Kesto#2026";

    // The module in the application folder, and a port for the server.
    void SetUp() override
    {
        AppFolderTest::SetUp();
        std::filesystem::create_symlink(KESTO_MODULE, app / "XTensions" / "Kesto.so");
        port = protocol::FreeLoopbackPort();
    }

    // Folders in the application folder, and an example document copied into shared/.
    void ShareExample(std::initializer_list<const char*> folders, const char* example = "minimal.qxp",
                      const char* name = "doc.qxp")
    {
        for (const char* folder : folders)
            std::filesystem::create_directories(app / folder);
        std::filesystem::create_directories(app / "shared");
        source = (app / "shared" / name).string();
        std::filesystem::copy_file(std::filesystem::path(KESTO_SOURCE_DIR) / "examples" / "documents" / example, source);
    }

    // Runs the server for as long as the scenario runs, then halts it; the host quits after the
    // halt. prepare sees the started host before the first idle call.
    void Serve(const std::function<void()>& scenario, const std::function<void(xthost::Host&)>& prepare = {})
    {
        // The conversions open the job's documents in the host.
        xthost::HostExtensions extensions;
        xthost::RegisterHostDocuments(extensions);
        xthost::HostOptions options;
        options.appFolder = app.string();
        xthost::Host host(options);
        // A server answers its clients; an alert would stop it until somebody came.
        NobodyAtTheHost nobody;
        host.SetAnswerer(&nobody);
        ASSERT_EQ(host.Start(), xthost::StartResult::kOk) << host.Log().Text();
        if (prepare)
            prepare(host);
        std::thread clients([&] {
            scenario();
            if (halted)
                return;
            auto client = Login();
            EXPECT_EQ(Ask(*client, "haltServer"), "halt server");
            EXPECT_TRUE(client->AtEof());
        });
        host.Idle(1);
        clients.join();
        EXPECT_TRUE(host.QuitRequested());
        // Every job closes the documents it opened, whatever its clients did.
        EXPECT_EQ(xthost::DocumentsOf(host).DocumentCount(), 0);
        EXPECT_FALSE(host.Failed()) << host.Log().Text();
    }

    std::unique_ptr<protocol::Client> Login()
    {
        auto client = std::make_unique<protocol::Client>(port, 30000);
        EXPECT_TRUE(client->Connected());
        client->SendLine(password);
        EXPECT_EQ(client->ReadLine(), "password ok");
        return client;
    }

    // Shared-folder mode: source, folder and name, then what the server says until it closes,
    // or until "export finished" after a conversion, when the client quits.
    std::vector<std::string> SharedJob(const std::string& word, const std::string& sourcePath,
                                       const std::string& folder, const std::string& name)
    {
        auto client = Login();
        std::vector<std::string> replies{Ask(*client, word)};
        for (const std::string& line : {sourcePath, folder, name}) {
            replies.push_back(Ask(*client, line));
            if (replies.back().find("ok") == std::string::npos)
                break;
        }
        while (auto line = client->ReadLine()) {
            replies.push_back(*line);
            if (*line == "export finished") {
                // A job that failed closes the connection; one that converted waits for more.
                client->SendLine("quit");
                break;
            }
        }
        EXPECT_FALSE(client->ReadLine());
        EXPECT_TRUE(client->AtEof());
        return replies;
    }

    static std::string Ask(protocol::Client& client, const std::string& line)
    {
        client.SendLine(line);
        return client.ReadLine().value_or("<closed>");
    }

#ifdef KESTO_CLIENT
    struct ClientRun {
        int status = -1;
        std::string out;  // and its errors
    };

    // kesto-client, run as a user runs it, told this server's port.
    ClientRun RunClient(const std::string& arguments) const
    {
        return Run("'" KESTO_CLIENT "' --port " + std::to_string(port) + " " + arguments);
    }

    // A shell command's exit status and what it wrote, errors included.
    static ClientRun Run(const std::string& command)
    {
        ClientRun run;
        if (FILE* pipe = ::popen((command + " 2>&1").c_str(), "r")) {
            char buffer[4096];
            for (size_t n; (n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;)
                run.out.append(buffer, n);
            const int status = ::pclose(pipe);
            run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        }
        return run;
    }

    static std::string Quoted(const std::filesystem::path& path) { return "'" + path.string() + "'"; }
#endif

    uint16_t port = 0;
    std::string source;
    // Set by a scenario that halted the server itself.
    bool halted = false;
    // What Login sends: the fixed password unless the test gives the server one of its own.
    std::string password = kPassword;
};

} // namespace kesto_test

// Runs the module's server in the emulated host while a client written from the wire protocol
// alone (no server code) drives it from another thread.
#pragma once

#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "Plugin/NobodyAtTheHost.h"
#include "Plugin/Shell/AppFolderTest.h"
#include "SHARED/Server/ProtocolClient.h"
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

    uint16_t port = 0;
    // What Login sends: the fixed password unless the test gives the server one of its own.
    std::string password = kPassword;
};

} // namespace kesto_test

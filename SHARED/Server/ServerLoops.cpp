#include "SHARED/Server/ServerLoops.h"

#include <algorithm>
#include <chrono>
#include <iostream>
#include <thread>

#include "Foundation/Log.h"
#include "Foundation/Settings.h"
#include "SHARED/Server/Connection.h"
#include "SHARED/Server/KS/Conversion.h"
#include "SHARED/Server/ServerDoor.h"

ModuleGlobal<std::string> ServerVersionText;

namespace {

// Process-wide state of the dialogue; only the host's thread touches it.
bool g_CloseRequested = false;
bool g_LastWasServerAlive = false;
bool g_Halted = false;
uint64_t g_Dialogues = 0;
ServerRestartPolicy g_Policy;
bool g_Refused = false;
// The password of the running server; the fixed one until a server opens its door.
std::string g_Password = ServerPassword;

struct ExportWord {
    const char* word;
    CnvType type;
};

constexpr ExportWord kExportWords[] = {
    {"exportpdf", 1},
    {"exportpdfandoverset", 2},
    {"exportjpgs", 0},
    {"exportdwx", 3},
    {"exportdwq", 3},
    {"exportdwxandpdf", 4},
    {"exportdwqandpdf", 4},
    {"exportdwxandpdfandoverset", 5},
    {"exportdwqandpdfandoverset", 5},
    {"exportindd", 6},
    {"exportqxp", 6},
    {"exportinddandpdf", 7},
    {"exportqxpandpdf", 7},
    {"exportinddandpdfandoverset", 8},
    {"exportqxpandpdfandoverset", 8},
};

void ErrorBanner(const char* text) {
    const std::string bar(36, '!');
    std::cerr << "\n" << bar << "\n" << text << "\n" << bar << "\n\n";
}

void RestartBanner(const char* text) {
    const std::string bar = std::string(18, '<') + std::string(18, '>');
    std::cerr << "\n" << bar << "\n" << text << "\n" << bar << "\n\n";
}

void TraceCommand(const std::string& line, bool done) {
    const std::string bar(36, '-');
    std::cerr << "\n" << bar << "\nCommand '" << ct_Connection::Conceal(line) << "' " << (done ? "done" : "failed") << "\n"
              << bar << "\n\n";
}

std::string TransferMode() {
    SettingsFile* settings = Settings.GetIf();
    if (!settings || !settings->GetSocketTransferMode())
        return "file";
    return settings->GetSockXferCanCompress() ? "socket_can_compr" : "socket";
}

} // namespace

void RegisterServerGlobals() {
    ModuleGlobals::Register(
        GlobalStep::ServerVersion, [] { ServerVersionText.Build(kServerVersion); },
        [] { ServerVersionText.Destroy(); });
}

uint16_t ServerPortFromSetting(int32_t listenPort) {
    const uint32_t value = static_cast<uint32_t>(listenPort);
    return value > 65535 ? 0 : static_cast<uint16_t>(value);
}

void SetServerRestartPolicy(const ServerRestartPolicy& policy) { g_Policy = policy; }

void SetPasswordWaitPolicy(int firstWaitMs, int maxWaitMs) {
    ServerPasswordWaits().SetPolicy(std::chrono::milliseconds(firstWaitMs), std::chrono::milliseconds(maxWaitMs));
}
bool ServerWasHalted() { return g_Halted; }
bool ServerStartRefused() { return g_Refused; }

bool execCmd(ct_Connection& conn, const std::string& line) {
    bool ok = false;
    if (line == "closeConnection") {
        ok = conn.closeClient() == 0;
        if (ok)
            g_CloseRequested = true;
    } else if (line == "haltServer") {
        ok = conn.writeLine("halt server") && conn.haltServer() == 0;
    } else if (line == "serveralive") {
        ok = conn.writeLine("server alive v2");
    } else if (line == "get_server_version") {
        ok = conn.writeLine(ServerVersionText.IsBuilt() ? *ServerVersionText : kServerVersion);
    } else if (line == "get_transfer_mode") {
        ok = conn.writeLine(TransferMode());
    } else if (line == "quit") {
        ok = execCmd(conn, "closeConnection");
    } else {
        const auto word = std::find_if(std::begin(kExportWords), std::end(kExportWords),
                                       [&line](const ExportWord& w) { return line == w.word; });
        if (word != std::end(kExportWords)) {
            ct_Conversion job(conn, word->type);
            ok = job.Run();
        } else {
            conn.writeLine("Unknown command '" + line + "'.");
            ok = false;
        }
    }
    TraceCommand(line, ok);
    return ok;
}

bool checkPassword(ct_Connection& conn) {
    // The password line stays out of every log.
    const std::string line = conn.readLine(true, '\n', false);
    if (line.empty())
        LogMessage(KS_LOCATION("checkPassword"), "Warning: conn.readLine() returned EMPTY STRING!", 5);
    if (!conn.IsConnected()) {
        LogMessage(KS_LOCATION("checkPassword"), "Not connected to client!", 5);
        return false;
    }
    // An address that sent a wrong password waits before its next one is checked; the server
    // serves every other address meanwhile.
    PasswordWaits& waits = ServerPasswordWaits();
    const std::string& peer = conn.GetPeerAddress();
    const auto now = PasswordWaits::Clock::now();
    const auto left = waits.Left(peer, now);
    if (left.count() > 0) {
        LogMessage(KS_LOCATION("checkPassword"),
                   "Password not checked: " + peer + " sent a wrong one, its next is checked in " +
                       std::to_string(left.count()) + " ms",
                   5);
    } else if (SamePassword(line, g_Password)) {
        waits.Passed(peer);
        return conn.writeLine("password ok");
    } else if (line.empty()) {
        // A client that closes without a word (a probe of whether the server is up) guessed
        // nothing: no password is empty.
        LogMessage(KS_LOCATION("checkPassword"), "Password (wrong): none from " + peer, 5);
    } else {
        const auto wait = waits.Missed(peer, now);
        LogMessage(KS_LOCATION("checkPassword"),
                   "Password (wrong): " + std::to_string(line.size()) + " bytes from " + peer +
                       ", its next is checked in " + std::to_string(wait.count()) + " ms",
                   5);
    }
    conn.writeLine("Wrong password.");
    conn.closeClient();
    return false;
}

bool commandLoopRun(ct_Connection& conn, bool& halt) {
    static constexpr const char* kWhere = "commandLoopRun";
    g_CloseRequested = false;
    // Whatever the client sends later, the password never reaches a log or a reply.
    ct_Connection::SetConcealed(g_Password);
    if (!conn.IsConnected()) {
        LogMessage(KS_LOCATION(kWhere), "Not connected to client!\t - BEFORE checkPassword() -", 4);
        return false;
    }
    if (!checkPassword(conn)) {
        LogMessage(KS_LOCATION(kWhere), "Password error (client loop)!", 4);
        return false;
    }
    if (!conn.IsConnected()) {
        LogMessage(KS_LOCATION(kWhere), "Not connected to client!\t - AFTER checkPassword() -", 4);
        return false;
    }
    for (;;) {
        if (!conn.IsConnected()) {
            LogMessage(KS_LOCATION(kWhere), "Not connected to client!\t - BEFORE conn.readLine() -", 4);
            return false;
        }
        const std::string line = conn.readLine();
        bool endedWell = false;
        if (line.empty()) {
            LogMessage(KS_LOCATION(kWhere), "Warning: conn.readLine() returned EMPTY STRING!", 4);
            endedWell = g_LastWasServerAlive;
        }
        if (!conn.IsConnected()) {
            LogMessage(KS_LOCATION(kWhere), "Not connected to client!\t - AFTER conn.readLine() -", 4);
            return endedWell;
        }
        if (!execCmd(conn, line)) {
            LogMessage(KS_LOCATION(kWhere), "Error: execution failed for command: " + ct_Connection::Conceal(line), 7);
            conn.closeClient();
            return false;
        }
        g_LastWasServerAlive = line == "serveralive";
        if (line == "haltServer") {
            halt = true;
            LogMessage(KS_LOCATION(kWhere), "Halt server!", 5);
            std::cout << "Connection closed by peer." << std::endl;
        }
        if (!conn.IsConnected()) {
            LogMessage(KS_LOCATION(kWhere), "Not connected to client!\t - AFTER execCmd() -", 4);
            return g_CloseRequested || halt;
        }
    }
}

bool clientLoopRun(ct_Connection& conn, bool& halt) {
    static constexpr const char* kWhere = "clientLoopRun";
    bool result = true;
    for (;;) {
        if (!conn.IsServerOk()) {
            LogMessage(KS_LOCATION(kWhere), "Server not ok!\t - BEFORE conn.waitForClient() -", 5);
            return false;
        }
        LogMessage(KS_LOCATION(kWhere), "BEFORE conn.waitForClient()", 2);
        const uint16_t waited = conn.waitForClient();
        LogMessage(KS_LOCATION(kWhere), "AFTER conn.waitForClient()", 2);
        if (!conn.IsServerOk()) {
            LogMessage(KS_LOCATION(kWhere), "Server not ok!\t - AFTER conn.waitForClient() -", 5);
            return false;
        }
        if (waited != 0) {
            LogMessage(KS_LOCATION(kWhere), "Socket not ok (client loop)!", 5);
            return false;
        }
        LogMessage(KS_LOCATION(kWhere), "Client connected ...", 5);
        ++g_Dialogues;
        try {
            result = commandLoopRun(conn, halt) && result;
        } catch (...) {
            LogMessage(KS_LOCATION(kWhere), "UNKNOWN EXCEPTION!", 6);
            ErrorBanner("Unknown exception: commands loop!");
        }
        LogMessage(KS_LOCATION(kWhere),
                   std::string("Command loop finished: ") + (result ? "SUCCESS" : "ERROR"), 5);
        if (conn.GetCurrentStatus() < ct_Connection::ec_ServerUp) {
            LogMessage(KS_LOCATION(kWhere),
                       "ct_Connection::ec_ServerUp > conn.GetCurrentStatus() is TRUE (client loop)!", 3);
            return halt;
        }
    }
}

bool DoStartServer(uint16_t port) {
    static constexpr const char* kWhere = "DoStartServer";
    g_Halted = false;
    g_Refused = false;
    try {
        ServerDoor door;
        if (!OpenServerDoor(door)) {
            g_Refused = true;
            return false;
        }
        g_Password = door.password;
        ServerPasswordWaits().Clear();
        SweepJobFolders(JobFolderRoot());
        bool result = true;
        bool halt = false;
        int restarts = 0;
        for (;;) {
            const uint64_t dialoguesBefore = g_Dialogues;
            {
                ct_Connection conn;
                conn.SetListenAddress(door.address);
                conn.startServer(port);
                if (!conn.IsServerOk()) {
                    LogMessage(KS_LOCATION(kWhere), "Server not ok!\t - AFTER conn.startServer() -", 5);
                    return false;
                }
                LogMessage(KS_LOCATION(kWhere), "Server has been started ...", 7);
                try {
                    result = clientLoopRun(conn, halt) && result;
                } catch (...) {
                    LogMessage(KS_LOCATION(kWhere), "UNKNOWN EXCEPTION!", 6);
                    ErrorBanner("Unknown exception: client loop!");
                    result = false;
                }
                LogMessage(KS_LOCATION(kWhere), "Server is going to be shut down!", 5);
                if (halt) {
                    LogMessage(KS_LOCATION(kWhere), "Server shutdown started ...", 7);
                    g_Halted = true;
                    return result;
                }
            }
            // A pass that served clients was healthy: only failures in a row count.
            if (g_Dialogues != dialoguesBefore)
                restarts = 0;
            if (++restarts > g_Policy.maxRestarts) {
                LogMessage(KS_LOCATION(kWhere),
                           "Automatic server restart given up after " +
                               std::to_string(g_Policy.maxRestarts) + " attempts!", 6);
                return false;
            }
            LogMessage(KS_LOCATION(kWhere), "Automatic server restart (on error only) ...", 6);
            RestartBanner("Automatic server restart (on error only) ...");
            result = false; // a server that restarted never reports a halt as success
            const long long pause = std::min<long long>(
                static_cast<long long>(g_Policy.firstPauseMs) << std::min(restarts - 1, 20),
                g_Policy.maxPauseMs);
            std::this_thread::sleep_for(std::chrono::milliseconds(pause));
        }
    } catch (...) {
        LogMessage(KS_LOCATION(kWhere), "UNKNOWN EXCEPTION!", 6);
        ErrorBanner("Unknown exception: server loop!");
        return false;
    }
}

#pragma once
// The conversion server's life: the server loop with its bounded automatic restart, the loop
// over clients, the dialogue with one client (password first, then command lines) and the
// command table.

#include <cstdint>
#include <string>

#include "Foundation/ModuleGlobals.h"
#include "SHARED/Server/ConversionBase.h"

class ct_Connection;

// The text answered to "get_server_version"; built by the module's globals as "3".
extern ModuleGlobal<std::string> ServerVersionText;
constexpr const char* kServerVersion = "3";
// Adds the server's globals to the module's initialisation list.
void RegisterServerGlobals();

// The fixed password: a client's first line must equal it unless the setting
// serverPasswordFile gives the server one of its own. Every copy of the program holds it, so a
// server that has no other listens only on the loopback address.
inline constexpr char ServerPassword[] = "omra.Kesto#2026";

// The port for DoStartServer from the setting listenPort: a value outside 0 to 65535
// (negative ones too) becomes 0, which the server reads as its default port.
uint16_t ServerPortFromSetting(int32_t listenPort);

// Runs the server on the calling thread until a client halts it. True when a client halted
// it and the server never had to restart; false when it could not start, gave up restarting,
// or restarted before the halt.
bool DoStartServer(uint16_t port);
// True when the last DoStartServer ended because a client sent "haltServer" (also after a
// restart, when DoStartServer answered false): such a server must not be started again.
bool ServerWasHalted();
// True when the last DoStartServer did not start because its settings open the server to
// clients it must not serve (both logs say why); nothing changes until the settings do.
bool ServerStartRefused();

bool clientLoopRun(ct_Connection& conn, bool& halt);
bool commandLoopRun(ct_Connection& conn, bool& halt);
bool checkPassword(ct_Connection& conn);
bool execCmd(ct_Connection& conn, const std::string& line);

// How often and how fast the server loop restarts after a failure.
struct ServerRestartPolicy {
    int maxRestarts = 5;     // in a row, without a client dialogue in between
    int firstPauseMs = 1000; // doubled for each further restart
    int maxPauseMs = 30000;
};
void SetServerRestartPolicy(const ServerRestartPolicy& policy);
// How long an address waits after a wrong password before its next is checked: first, then
// doubled with each further miss up to max (1 s and 60 s unless set).
void SetPasswordWaitPolicy(int firstWaitMs, int maxWaitMs);

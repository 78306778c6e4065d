// The module's two logs.
//
// The server log is a log-file node that the module state opens when server logging is on;
// LogMessage writes a line to it when the priority passes the minimum of the setting
// serverLogMinPriority, and always echoes the location and text to the standard error stream.
//
// The general log is a plain output stream on "KestoLogfile.txt" in the process's current
// folder, built by the module's initialisation list; write free text to it with
//     GeneralLogStream() << "Starting export ..." << std::endl;
// which discards the text while the log is not built (before the globals are initialised, or
// in a test that does not build them).
#pragma once

#include <cstdint>
#include <fstream>
#include <string>

#include "Foundation/ModuleGlobals.h"

template <class TStr>
class ct_LogFile;
using t_LogFile = ct_LogFile<std::string>;

// The open server log, or null while server logging is off. Set and cleared by the module
// state; LogMessage only reads it.
extern t_LogFile* ServerLog;

extern ModuleGlobal<std::ofstream> GeneralLog;

// The general log, or a stream that takes nothing while it is not built.
std::ostream& GeneralLogStream();

// A text that must never reach a log (the server's password); empty for none.
void SetLogSecret(const std::string& secret);
// The text with every occurrence of the secret replaced by "********".
std::string ConcealSecret(const std::string& text);

// The file name of the general log.
constexpr const char* kGeneralLogFileName = "KestoLogfile.txt";

// Priorities: 2 traces, 3 state notes, 4 traffic, 5 progress and warnings, 6 errors,
// 7 milestones; only 0 to 8 can reach the server log.
void LogMessage(const std::string& location, const std::string& text, int32_t priority);

// The same line for the record only, never on the standard error stream: into the server log
// as LogMessage writes it there while one is open and writable, otherwise the location, ":\n"
// and the text into the general log.
void LogToFile(const std::string& location, const std::string& text, int32_t priority);

// Puts the server log's minimum priority back to 7 and unlatches it (module load).
void ResetServerLogMinimum();

struct LogFile {
    // One server-log line: time stamp, TAB, the location left-aligned in 48 columns, TAB,
    // the text and a line feed.
    static void WriteLine(t_LogFile& log, const std::string& location, const std::string& text);
};

// A log location: the base name of the source file, "[line]:", the qualified function name
// and "()", e.g. "Settings.cpp[12]:SettingsFile::Load()".
std::string LogLocation(const char* sourceFile, int line, const char* qualifiedFunction);

#define KS_LOCATION(qualifiedFunction) LogLocation(__FILE__, __LINE__, qualifiedFunction)

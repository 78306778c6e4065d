// What a host run did, read from the general log and the host's transcript.
#pragma once

#include <string>
#include <vector>

namespace kesto {

// One conversion block of the general log: "Starting export ...", its Source and Target, and
// "... finished." or its ERROR lines.
struct Conversion {
    std::string kind;  // "export", "import", "PDF creation", ...
    std::string source;
    std::string target;
    bool finished = false;
    std::vector<std::string> errors;
};

struct LogOutcome {
    std::vector<Conversion> conversions;
    // The entries under "##### Not converted: N of M files", without their numbers.
    std::vector<std::string> notConverted;
};

LogOutcome ReadGeneralLog(const std::string& log);

// The lines of the general log that say what went wrong, at most `most` of them.
std::vector<std::string> ErrorLines(const std::string& log, std::size_t most = 20);

// Why the run did not convert `path`: the first line of the general log that names it and is
// no list entry, Source or Target line, or the first ERROR of its conversion block.
std::string ReasonFor(const LogOutcome& outcome, const std::string& log, const std::string& path);

// The result dialog the host showed: its resource number (0 when none) and its text.
int ResultDialog(const std::string& transcript, std::string& text);

// The host's own error lines ("error: ..." in the transcript, "xthost: ..." on its error stream).
std::vector<std::string> HostErrors(const std::string& transcript, const std::string& hostErrors);

}  // namespace kesto

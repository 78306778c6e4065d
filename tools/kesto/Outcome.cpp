#include "tools/kesto/Outcome.h"

#include <cstdlib>
#include <sstream>

namespace kesto {

namespace {

std::string Trim(const std::string& text)
{
    const std::size_t first = text.find_first_not_of(" \t\r");
    if (first == std::string::npos)
        return std::string();
    return text.substr(first, text.find_last_not_of(" \t\r") - first + 1);
}

bool StartsWith(const std::string& text, const char* prefix)
{
    return text.rfind(prefix, 0) == 0;
}

// "       3.) /path": the path of a numbered list entry, "" for any other line.
std::string ListEntry(const std::string& line)
{
    const std::size_t first = line.find_first_not_of(' ');
    const std::size_t mark = line.find(".) ");
    if (first == std::string::npos || first == 0 || mark == std::string::npos || mark <= first)
        return std::string();
    for (std::size_t i = first; i < mark; ++i)
        if (line[i] < '0' || line[i] > '9')
            return std::string();
    return Trim(line.substr(mark + 3));
}

std::vector<std::string> Lines(const std::string& text)
{
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);)
        lines.push_back(line);
    return lines;
}

// The text after a log label such as "ERROR:" or " ->", whose values stand in a column.
std::string AfterLabel(const std::string& line, std::size_t label)
{
    return Trim(line.substr(label));
}

bool IsErrorLine(const std::string& line)
{
    return StartsWith(line, "ERROR:") || StartsWith(line, " ->") || StartsWith(line, " =>") ||
           (StartsWith(line, "####") && line.size() > 4 && line[4] != '#') || StartsWith(line, "##### Not converted") ||
           StartsWith(line, "Unable to ") || line.find("cannot be used") != std::string::npos ||
           line.find("; the run does not start") != std::string::npos;
}

}  // namespace

LogOutcome ReadGeneralLog(const std::string& log)
{
    LogOutcome outcome;
    Conversion* current = nullptr;
    bool inList = false;
    for (const std::string& raw : Lines(log)) {
        const std::string line = Trim(raw);
        if (StartsWith(raw, "##### Not converted")) {
            inList = true;
            continue;
        }
        if (inList) {
            const std::string entry = ListEntry(raw);
            if (!entry.empty()) {
                outcome.notConverted.push_back(entry);
                continue;
            }
            inList = false;
        }
        if (StartsWith(line, "Starting ") && line.size() > 13 && line.compare(line.size() - 3, 3, "...") == 0) {
            outcome.conversions.push_back(Conversion{Trim(line.substr(9, line.size() - 12)), "", "", false, {}});
            current = &outcome.conversions.back();
        } else if (!current) {
            continue;
        } else if (StartsWith(raw, "Source:")) {
            current->source = AfterLabel(raw, 7);
        } else if (StartsWith(raw, "Target:")) {
            current->target = AfterLabel(raw, 7);
        } else if (StartsWith(line, "... finished")) {
            current->finished = true;
        } else if (StartsWith(raw, "ERROR:")) {
            current->errors.push_back(AfterLabel(raw, 6));
        } else if (StartsWith(raw, " ->") && !current->errors.empty()) {
            current->errors.push_back(AfterLabel(raw, 3));
        } else if (StartsWith(raw, "####") && raw.size() > 4 && raw[4] != '#') {
            current->errors.push_back(Trim(raw.substr(4)));
        } else if (StartsWith(line, "*****") && (current->finished || !current->errors.empty())) {
            current = nullptr;
        }
    }
    return outcome;
}

std::vector<std::string> ErrorLines(const std::string& log, std::size_t most)
{
    std::vector<std::string> errors;
    bool inList = false;
    for (const std::string& line : Lines(log)) {
        inList = inList ? !ListEntry(line).empty() : StartsWith(line, "##### Not converted");
        if ((IsErrorLine(line) || inList) && errors.size() < most)
            errors.push_back(Trim(line));
    }
    return errors;
}

std::string ReasonFor(const LogOutcome& outcome, const std::string& log, const std::string& path)
{
    for (const Conversion& conversion : outcome.conversions)
        if (conversion.source == path && !conversion.errors.empty())
            return conversion.errors.front() +
                   (conversion.errors.size() > 1 && StartsWith(conversion.errors.front(), "OpenDWX")
                        ? " (" + conversion.errors[1] + ")"
                        : std::string());
    const std::string quoted = "\"" + path + "\"";
    for (const std::string& line : Lines(log))
        if (line.find(quoted) != std::string::npos && ListEntry(line).empty() && !StartsWith(line, "Source:") &&
            !StartsWith(line, "Target:"))
            return Trim(line);
    for (const Conversion& conversion : outcome.conversions)
        if (conversion.source == path && !conversion.finished)
            return "the " + conversion.kind + " did not finish";
    return "see the general log";
}

int ResultDialog(const std::string& transcript, std::string& text)
{
    int dialog = 0;
    const std::vector<std::string> lines = Lines(transcript);
    for (std::size_t i = 0; i < lines.size(); ++i) {
        const std::string& line = lines[i];
        const std::size_t at = line.find(" \"Result\" opens");
        if (!StartsWith(line, "dialog ") || at == std::string::npos)
            continue;
        dialog = std::atoi(line.c_str() + 7);
        text.clear();
        for (std::size_t j = i + 1; j < lines.size() && StartsWith(lines[j], "  "); ++j)
            if (StartsWith(lines[j], "  \"")) {
                text = Trim(lines[j]);
                text = text.substr(1, text.size() - 2);
            }
    }
    return dialog;
}

std::vector<std::string> HostErrors(const std::string& transcript, const std::string& hostErrors)
{
    std::vector<std::string> errors;
    for (const std::string& line : Lines(transcript))
        if (StartsWith(line, "error: "))
            errors.push_back(line.substr(7));
    for (const std::string& line : Lines(hostErrors))
        if (StartsWith(line, "xthost: ") && line.find("the run failed") == std::string::npos)
            errors.push_back(line.substr(8));
    return errors;
}

}  // namespace kesto

#include "Foundation/Log.h"

#include <iostream>

#include "Foundation/Settings.h"
#include "Foundation/TimeStamp.h"
#include "SHARED/Server/CnvTools/NodeFS.h"

t_LogFile* ServerLog = nullptr;
ModuleGlobal<std::ofstream> GeneralLog;

namespace {

constexpr int32_t kDefaultMinimum = 7;
constexpr int32_t kHighestPriority = 8;
constexpr std::size_t kLocationWidth = 48;

std::string g_secret;
int32_t g_minimumPriority = kDefaultMinimum;
bool g_minimumLatched = false;

// The minimum follows the setting until the settings are loaded, then stays.
int32_t MinimumPriority()
{
    if (!g_minimumLatched) {
        SettingsFile* settings = Settings.GetIf();
        if (settings) {
            g_minimumPriority = settings->GetServerLogMinPriority();
            g_minimumLatched = settings->IsLoaded();
        } else {
            // Before the module's globals exist the settings answer as not loaded.
            g_minimumPriority = 0;
        }
    }
    return g_minimumPriority;
}

} // namespace

void SetLogSecret(const std::string& secret)
{
    g_secret = secret;
}

std::string ConcealSecret(const std::string& text)
{
    static const std::string kMask = "********";
    if (g_secret.empty())
        return text;
    std::string out = text;
    for (std::size_t at = out.find(g_secret); at != std::string::npos; at = out.find(g_secret, at + kMask.size()))
        out.replace(at, g_secret.size(), kMask);
    return out;
}

std::ostream& GeneralLogStream()
{
    if (std::ofstream* log = GeneralLog.GetIf())
        return *log;
    // No buffer: every write fails quietly.
    static std::ostream discard(nullptr);
    discard.clear();
    return discard;
}

void ResetServerLogMinimum()
{
    g_minimumPriority = kDefaultMinimum;
    g_minimumLatched = false;
}

namespace {

bool PassesServerLog(int32_t priority)
{
    const int32_t minimum = MinimumPriority();
    return priority >= 0 && priority >= minimum && priority <= kHighestPriority;
}

} // namespace

void LogMessage(const std::string& location, const std::string& text, int32_t priority)
{
    if (PassesServerLog(priority) && ServerLog)
        LogFile::WriteLine(*ServerLog, location, text);
    std::cerr << location << ":\n" << text;
}

void LogToFile(const std::string& location, const std::string& text, int32_t priority)
{
    const bool passes = PassesServerLog(priority);
    // A server log that was closed (released at shutdown) or failed takes nothing: the line
    // goes to the general log instead.
    if (ServerLog && ServerLog->GetStream().is_open() && ServerLog->GetStream().good()) {
        if (passes)
            LogFile::WriteLine(*ServerLog, location, text);
        return;
    }
    GeneralLogStream() << location << ":\n" << text << std::flush;
}

void LogFile::WriteLine(t_LogFile& log, const std::string& location, const std::string& text)
{
    TimeStamp stamp;
    stamp.SetNow();
    std::ofstream& out = log.GetStream();
    if (!out.good())
        return;
    std::string line = location;
    if (line.size() < kLocationWidth)
        line.append(kLocationWidth - line.size(), ' ');
    WriteTimeStamp(out, stamp) << '\t' << line << '\t' << text << '\n';
    out.flush();
}

std::string LogLocation(const char* sourceFile, int line, const char* qualifiedFunction)
{
    std::string file = sourceFile ? sourceFile : "";
    const std::size_t separator = file.find_last_of("/\\");
    if (separator != std::string::npos)
        file.erase(0, separator + 1);
    return file + "[" + std::to_string(line) + "]:" + (qualifiedFunction ? qualifiedFunction : "") +
           "()";
}

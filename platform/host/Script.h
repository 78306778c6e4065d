// Scripts of user actions and expected prompts with their answers, and the table of script
// verbs that host components extend.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "platform/host/Host.h"

namespace xthost {

struct ScriptLine {
    int number = 0;                  // 1-based line number in the script
    std::vector<std::string> words;  // words[0] is the verb
    std::string text;                // the line as written, without its comment
};

// Splits a script into lines of words. Words are separated by blanks; "..." quotes a word
// (\" \\ \n \t inside); # starts a comment outside quotes. False, with the line and reason in
// error, for a malformed script.
bool ParseScript(const std::string& source, std::vector<ScriptLine>& lines, std::string& error);

// A number word: decimal or 0x hexadecimal, with an optional minus sign.
bool ParseNumber(const std::string& word, int64_t& value);

class ScriptRunner;

struct VerbContext {
    Host& host;
    ScriptRunner& runner;
    const ScriptLine& line;
};
// Carries out one driver verb; answers false with the reason in error when it failed.
using VerbHandler = std::function<bool(VerbContext& context, std::string& error)>;

struct VerbInfo {
    std::string usage;       // "menu TEXT"
    std::string help;        // one line
    bool answer = false;     // an answer to a prompt (consumed by the prompt, not run)
    VerbHandler handler;     // driver verbs only
};

// The verbs a script may use. The core registers its own (RegisterCoreVerbs); other host
// components add theirs through HostExtensions.
class ScriptVerbs {
public:
    void Add(const std::string& name, VerbInfo info) { m_verbs[name] = std::move(info); }
    const VerbInfo* Find(const std::string& name) const;
    const std::map<std::string, VerbInfo>& All() const { return m_verbs; }

private:
    std::map<std::string, VerbInfo> m_verbs;
};

void RegisterCoreVerbs(ScriptVerbs& verbs);

// Runs a script against a host: driver lines are carried out in order, answer lines are
// consumed by the prompts the module causes, in order. A prompt the script did not expect, an
// answer whose prompt never came, a failed verb or expectation, or a host error ends the run;
// the module then gets cancelling answers and is unloaded.
class ScriptRunner : public Answerer {
public:
    ScriptRunner(Host& host, const ScriptVerbs& verbs, std::vector<ScriptLine> lines);
    ~ScriptRunner() override;

    // Answer every prompt with its default; with answer lines in the script, only the prompts
    // that the next answer line does not fit, and an answer line whose prompt never comes is
    // passed over.
    void SetAutoAnswer(bool on) { m_auto = on; }
    // Relative paths in answers are taken against this folder (default: the app folder).
    void SetBaseFolder(std::string folder) { m_base = std::move(folder); }

    // Runs to the end (quitting the host when the script did not); true when all went well.
    bool Run();

    bool Respond(const Prompt& prompt, Answer& answer, std::string& error) override;

    // For verbs: the first transcript line not yet matched by an expectation.
    std::size_t& ExpectMark() { return m_expectMark; }
    std::string Path(const std::string& word) const;

private:
    bool IsAnswer(const ScriptLine& line) const;
    // Whether the next line answers the prompt (its verb, resource number or title).
    bool Fits(const Prompt& prompt) const;
    std::string Where(const ScriptLine& line) const;

    Host& m_host;
    const ScriptVerbs& m_verbs;
    std::vector<ScriptLine> m_lines;
    std::size_t m_next = 0;
    std::size_t m_expectMark = 0;
    bool m_auto = false;
    AutoAnswerer m_autoAnswerer;
    // The dialog that took its default answer: its actions take theirs too.
    const Dialog* m_defaultDialog = nullptr;
    std::string m_base;
};

// The script format, for xthost --help.
std::string ScriptHelp(const ScriptVerbs& verbs);

}  // namespace xthost

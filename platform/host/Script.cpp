#include "platform/host/Script.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>

#include "platform/host/Text.h"

namespace xthost {

namespace {

constexpr std::size_t kMaxLineLength = 65536;
constexpr std::size_t kMaxLines = 1000000;
constexpr int64_t kMaxIdle = 1000000;

const char* const kAnswerVerbs[][3] = {
    {"dialog", "dialog RES", "a modal dialog of template RES opens"},
    {"press", "press ID", "press button ID of the open dialog (a check box toggles)"},
    {"check", "check ID on|off", "set check box ID of the open dialog"},
    {"edit", "edit ID TEXT", "type TEXT into edit item ID of the open dialog"},
    {"close", "close", "close the open dialog with its close box"},
    {"alert", "alert RES|host press ID", "answer module alert RES, or the host's own alert"},
    {"open", "open TITLE PATH...|cancel", "answer the open dialog titled TITLE"},
    {"save", "save TITLE PATH|default|cancel [proposed NAME]",
     "answer the save dialog titled TITLE (default: take the proposed file)"},
    {"folder", "folder PROMPT PATH|cancel", "answer the folder chooser with that prompt"},
};

bool TitleMatches(const std::string& wanted, const std::string& actual)
{
    return wanted == "*" || wanted == actual;
}

bool ExpectCount(const ScriptLine& line, std::size_t least, std::size_t most, std::string& error)
{
    const std::size_t args = line.words.size() - 1;
    if (args >= least && args <= most)
        return true;
    error = "wrong number of words";
    return false;
}

bool NumberArg(const std::string& word, int64_t least, int64_t most, int64_t& value,
               std::string& error)
{
    if (!ParseNumber(word, value) || value < least || value > most) {
        error = "bad number " + Quote(word);
        return false;
    }
    return true;
}

}  // namespace

bool ParseNumber(const std::string& word, int64_t& value)
{
    if (word.empty() || word.size() > 20)
        return false;
    std::size_t i = 0;
    const bool negative = word[0] == '-';
    if (negative)
        i = 1;
    int base = 10;
    if (word.size() > i + 2 && word[i] == '0' && (word[i + 1] == 'x' || word[i + 1] == 'X')) {
        base = 16;
        i += 2;
    }
    if (i >= word.size())
        return false;
    uint64_t magnitude = 0;
    for (; i < word.size(); ++i) {
        const char c = word[i];
        int digit;
        if (c >= '0' && c <= '9')
            digit = c - '0';
        else if (base == 16 && c >= 'a' && c <= 'f')
            digit = c - 'a' + 10;
        else if (base == 16 && c >= 'A' && c <= 'F')
            digit = c - 'A' + 10;
        else
            return false;
        magnitude = magnitude * base + digit;
        if (magnitude > 0xFFFFFFFFull)
            return false;
    }
    value = negative ? -static_cast<int64_t>(magnitude) : static_cast<int64_t>(magnitude);
    return true;
}

bool ParseScript(const std::string& source, std::vector<ScriptLine>& lines, std::string& error)
{
    lines.clear();
    std::size_t pos = 0;
    int number = 0;
    while (pos < source.size()) {
        std::size_t end = source.find('\n', pos);
        if (end == std::string::npos)
            end = source.size();
        std::string raw = source.substr(pos, end - pos);
        pos = end + 1;
        ++number;
        if (!raw.empty() && raw.back() == '\r')
            raw.pop_back();
        if (raw.size() > kMaxLineLength || lines.size() >= kMaxLines) {
            error = "line " + std::to_string(number) + ": too long a script";
            return false;
        }
        ScriptLine line;
        line.number = number;
        std::string word;
        bool inWord = false;
        bool quoted = false;
        std::size_t commentAt = raw.size();
        for (std::size_t i = 0; i < raw.size(); ++i) {
            const char c = raw[i];
            if (quoted) {
                if (c == '"') {
                    quoted = false;
                } else if (c == '\\') {
                    if (i + 1 >= raw.size()) {
                        error = "line " + std::to_string(number) + ": \\ at the end of the line";
                        return false;
                    }
                    const char e = raw[++i];
                    word += e == 'n' ? '\n' : e == 't' ? '\t' : e;
                } else {
                    word += c;
                }
            } else if (c == '"') {
                quoted = true;
                inWord = true;
            } else if (c == '#') {
                commentAt = i;
                break;
            } else if (c == ' ' || c == '\t') {
                if (inWord)
                    line.words.push_back(word);
                word.clear();
                inWord = false;
            } else {
                word += c;
                inWord = true;
            }
        }
        if (quoted) {
            error = "line " + std::to_string(number) + ": unterminated quote";
            return false;
        }
        if (inWord)
            line.words.push_back(word);
        if (line.words.empty())
            continue;
        line.text = raw.substr(0, commentAt);
        while (!line.text.empty() && (line.text.back() == ' ' || line.text.back() == '\t'))
            line.text.pop_back();
        const auto first = line.text.find_first_not_of(" \t");
        line.text.erase(0, first);
        lines.push_back(std::move(line));
    }
    return true;
}

const VerbInfo* ScriptVerbs::Find(const std::string& name) const
{
    auto it = m_verbs.find(name);
    return it == m_verbs.end() ? nullptr : &it->second;
}

// ---------------------------------------------------------------------------------------------
// The core's verbs.

void RegisterCoreVerbs(ScriptVerbs& verbs)
{
    for (const auto& answer : kAnswerVerbs)
        verbs.Add(answer[0], VerbInfo{answer[1], answer[2], true, nullptr});

    verbs.Add("start", {"start [refused [activation|ids|setup]]",
                        "load the module and start it (activation, identifiers, setup, menus)",
                        false, [](VerbContext& c, std::string& error) {
        const auto& w = c.line.words;
        if (!ExpectCount(c.line, 0, 2, error))
            return false;
        const StartResult result = c.host.Start();
        if (w.size() == 1) {
            if (result != StartResult::kOk)
                error = std::string("start refused at ") + StartResultName(result);
            return result == StartResult::kOk;
        }
        if (w[1] != "refused") {
            error = "expected refused";
            return false;
        }
        if (result == StartResult::kOk || (w.size() == 3 && w[2] != StartResultName(result))) {
            error = std::string("start ") +
                    (result == StartResult::kOk ? "succeeded" : "refused at " + std::string(StartResultName(result)));
            return false;
        }
        return true;
    }});
    verbs.Add("menu", {"menu TEXT", "update the menus, then choose the item TEXT", false,
                       [](VerbContext& c, std::string& error) {
        if (!ExpectCount(c.line, 1, 1, error))
            return false;
        return c.host.ChooseMenu(c.line.words[1]);
    }});
    verbs.Add("menus", {"menus", "update the menus and write them with their states", false,
                        [](VerbContext& c, std::string& error) {
        if (!ExpectCount(c.line, 0, 0, error))
            return false;
        c.host.ListMenus();
        return true;
    }});
    verbs.Add("idle", {"idle [N]", "send N idle calls (default 1)", false,
                       [](VerbContext& c, std::string& error) {
        int64_t n = 1;
        if (!ExpectCount(c.line, 0, 1, error) ||
            (c.line.words.size() == 2 && !NumberArg(c.line.words[1], 0, kMaxIdle, n, error)))
            return false;
        c.host.Idle(static_cast<int>(n));
        return true;
    }});
    verbs.Add("quit", {"quit", "send the unload callback and unload the module", false,
                       [](VerbContext& c, std::string& error) {
        if (!ExpectCount(c.line, 0, 0, error))
            return false;
        c.host.Quit();
        return true;
    }});
    verbs.Add("host-alert", {"host-alert TITLE TEXT",
                             "the host raises an alert of its own (buttons 1 OK, 2 Cancel)", false,
                             [](VerbContext& c, std::string& error) {
        if (!ExpectCount(c.line, 2, 2, error))
            return false;
        c.host.RaiseHostAlert(c.line.words[1], c.line.words[2]);
        return true;
    }});
    verbs.Add("document", {"document INDEX|none",
                           "the index of the current document that the host reports", false,
                           [](VerbContext& c, std::string& error) {
        int64_t index = -1;
        if (!ExpectCount(c.line, 1, 1, error) ||
            (c.line.words[1] != "none" && !NumberArg(c.line.words[1], 0, 32767, index, error)))
            return false;
        c.host.SetFrontDocumentIndex(static_cast<int16_t>(index));
        return true;
    }});
    verbs.Add("clock", {"clock YYYY-MM-DD hh:mm:ss|live",
                        "freeze the host's clock at that local time, or let it run again", false,
                        [](VerbContext& c, std::string& error) {
        const auto& w = c.line.words;
        if (!ExpectCount(c.line, 1, 2, error))
            return false;
        if (w.size() == 2) {
            if (w[1] != "live") {
                error = "expected live or a date and a time";
                return false;
            }
            c.host.application.clockFrozen = false;
            return true;
        }
        int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0;
        char tail = 0;
        if (std::sscanf(w[1].c_str(), "%4d-%2d-%2d%c", &year, &month, &day, &tail) != 3 ||
            std::sscanf(w[2].c_str(), "%2d:%2d:%2d%c", &hour, &minute, &second, &tail) != 3 ||
            month < 1 || month > 12 || day < 1 || day > 31 || hour > 23 || minute > 59 || second > 59 ||
            year < 1 || hour < 0 || minute < 0 || second < 0) {
            error = "expected YYYY-MM-DD hh:mm:ss";
            return false;
        }
        c.host.application.clock = XTClockRec{static_cast<int16_t>(year), static_cast<int16_t>(month),
                                              static_cast<int16_t>(day),  static_cast<int16_t>(hour),
                                              static_cast<int16_t>(minute), static_cast<int16_t>(second)};
        c.host.application.clockFrozen = true;
        return true;
    }});
    verbs.Add("fail", {"fail KEY [after N] [times M] with VALUE",
                       "the host answers VALUE instead of doing the call KEY (see below)", false,
                       [](VerbContext& c, std::string& error) {
        const auto& w = c.line.words;
        if (w.size() < 4) {
            error = "wrong number of words";
            return false;
        }
        FaultRule rule;
        rule.key = w[1];
        std::size_t i = 2;
        int64_t n = 0;
        for (; i + 1 < w.size() && w[i] != "with"; i += 2) {
            if ((w[i] != "after" && w[i] != "times") || !NumberArg(w[i + 1], 0, 1000000, n, error)) {
                if (error.empty())
                    error = "expected after N, times M or with VALUE";
                return false;
            }
            (w[i] == "after" ? rule.after : rule.times) = static_cast<int>(n);
        }
        if (i + 2 != w.size() || w[i] != "with" ||
            !NumberArg(w[i + 1], INT32_MIN, UINT32_MAX, n, error)) {
            if (error.empty())
                error = "expected with VALUE at the end";
            return false;
        }
        rule.value = static_cast<int32_t>(static_cast<uint32_t>(n));
        c.host.Faults().Add(rule);
        return true;
    }});
    verbs.Add("stop-at", {"stop-at POINT [after N]",
                          "stop the host (SIGSTOP) when it reaches POINT, after letting N pass: a\n"
                          "        suite slot or fault key, or a writer's point file.written (a file\n"
                          "        written beside its target, not yet renamed) or pdf.page (a page of a\n"
                          "        PDF written); a controller that kills it there sees what a crash leaves", false,
                          [](VerbContext& c, std::string& error) {
        const auto& w = c.line.words;
        FaultRule rule;
        int64_t n = 0;
        if (w.size() == 4 && w[2] == "after" && NumberArg(w[3], 0, 1000000, n, error)) {
            rule.after = static_cast<int>(n);
        } else if (w.size() != 2) {
            if (error.empty())
                error = "expected stop-at POINT [after N]";
            return false;
        }
        rule.key = w[1];
        rule.times = 1;
        rule.stop = true;
        c.host.Faults().Add(rule);
        return true;
    }});
    verbs.Add("expect", {"expect TEXT",
                         "a transcript line since the previous expect contains TEXT", false,
                         [](VerbContext& c, std::string& error) {
        if (!ExpectCount(c.line, 1, 1, error))
            return false;
        xthost::Transcript& log = c.host.Log();
        for (std::size_t i = std::max(c.runner.ExpectMark(), log.First()); i < log.Count(); ++i) {
            if (log.Lines()[i - log.First()].find(c.line.words[1]) != std::string::npos) {
                c.runner.ExpectMark() = i + 1;
                log.Release(i + 1);
                return true;
            }
        }
        error = "no transcript line contains " + Quote(c.line.words[1]);
        return false;
    }});
    verbs.Add("expect-beeps", {"expect-beeps N", "the module has beeped N times so far", false,
                               [](VerbContext& c, std::string& error) {
        int64_t n = 0;
        if (!ExpectCount(c.line, 1, 1, error) || !NumberArg(c.line.words[1], 0, INT32_MAX, n, error))
            return false;
        if (c.host.Beeps() != n)
            error = std::to_string(c.host.Beeps()) + " beeps";
        return c.host.Beeps() == n;
    }});
    verbs.Add("expect-quit", {"expect-quit", "the module has asked the host to quit", false,
                              [](VerbContext& c, std::string& error) {
        if (!ExpectCount(c.line, 0, 0, error))
            return false;
        if (!c.host.QuitRequested())
            error = "the module did not ask to quit";
        return c.host.QuitRequested();
    }});
}

// ---------------------------------------------------------------------------------------------

ScriptRunner::ScriptRunner(Host& host, const ScriptVerbs& verbs, std::vector<ScriptLine> lines)
    : m_host(host), m_verbs(verbs), m_lines(std::move(lines)), m_base(host.AppFolder())
{
    m_host.SetAnswerer(this);
    // An expect looks back over the lines since the one before it, so a transcript that keeps
    // no lines holds those.
    for (const ScriptLine& line : m_lines)
        if (!line.words.empty() && line.words[0] == "expect") {
            m_host.Log().Hold();
            break;
        }
}

ScriptRunner::~ScriptRunner()
{
    m_host.SetAnswerer(nullptr);
}

bool ScriptRunner::IsAnswer(const ScriptLine& line) const
{
    const VerbInfo* info = m_verbs.Find(line.words[0]);
    return info && info->answer;
}

std::string ScriptRunner::Where(const ScriptLine& line) const
{
    return "script line " + std::to_string(line.number) + " (" + line.text + ")";
}

std::string ScriptRunner::Path(const std::string& word) const
{
    return NormalPath(word, m_base);
}

bool ScriptRunner::Run()
{
    while (m_next < m_lines.size() && !m_host.Failed()) {
        const ScriptLine& line = m_lines[m_next++];
        const VerbInfo* info = m_verbs.Find(line.words[0]);
        if (!info) {
            m_host.Error(Where(line) + ": unknown verb");
            break;
        }
        if (info->answer && m_auto) {
            m_host.Note("passed over " + Where(line));
            continue;
        }
        if (info->answer) {
            m_host.Error(Where(line) + ": this answer's prompt did not come");
            break;
        }
        VerbContext context{m_host, *this, line};
        std::string error;
        const int errorsBefore = m_host.Errors();
        const bool done = info->handler(context, error);
        if (!done && (!error.empty() || m_host.Errors() == errorsBefore))
            m_host.Error(Where(line) + (error.empty() ? std::string(": failed") : ": " + error));
        if (!done || m_host.Failed()) {
            m_host.Note("stopped at " + Where(line));
            break;
        }
    }
    m_host.Quit();
    return !m_host.Failed();
}

bool ScriptRunner::Fits(const Prompt& prompt) const
{
    if (m_next >= m_lines.size() || !IsAnswer(m_lines[m_next]))
        return false;
    const auto& w = m_lines[m_next].words;
    int64_t n = 0;
    switch (prompt.kind) {
    case Prompt::kDialog:
        return w[0] == "dialog" && w.size() == 2 && ParseNumber(w[1], n) && n == prompt.resId;
    case Prompt::kDialogAction:
        return prompt.dialog != m_defaultDialog &&
               (w[0] == "press" || w[0] == "check" || w[0] == "edit" || w[0] == "close");
    case Prompt::kAlert:
        return w[0] == "alert" && w.size() > 1 && ParseNumber(w[1], n) && n == prompt.resId;
    case Prompt::kHostAlert:
        return w[0] == "alert" && w.size() > 1 && w[1] == "host";
    case Prompt::kOpenFile:
    case Prompt::kSaveFile:
    case Prompt::kFolder: {
        const char* verb = prompt.kind == Prompt::kOpenFile ? "open" : prompt.kind == Prompt::kSaveFile ? "save" : "folder";
        return w[0] == verb && w.size() > 1 && TitleMatches(w[1], prompt.title);
    }
    }
    return false;
}

bool ScriptRunner::Respond(const Prompt& prompt, Answer& answer, std::string& error)
{
    std::string what = PromptKindName(prompt.kind);
    if (prompt.resId)
        what += " " + std::to_string(prompt.resId);
    if (!prompt.title.empty())
        what += " " + Quote(prompt.title);
    if (m_auto) {
        // A caller that scripts only some answers (a save dialog's path, say) leaves the
        // others, which it cannot foresee (which result dialog, an alert), to their defaults.
        const bool fits = Fits(prompt);
        if (prompt.kind == Prompt::kDialog)
            m_defaultDialog = fits ? nullptr : prompt.dialog;
        if (!fits)
            return m_autoAnswerer.Respond(prompt, answer, error);
    }
    if (m_next >= m_lines.size() || !IsAnswer(m_lines[m_next])) {
        error = "unexpected " + what + " (" +
                (m_next < m_lines.size() ? "next is " + Where(m_lines[m_next]) : "end of script") + ")";
        return false;
    }
    const ScriptLine& line = m_lines[m_next];
    const auto& w = line.words;
    const std::string& verb = w[0];
    auto fail = [&](const std::string& reason) {
        error = what + ": " + Where(line) + ": " + reason;
        return false;
    };
    int64_t n = 0;
    std::string numberError;
    switch (prompt.kind) {
    case Prompt::kDialog:
        if (verb != "dialog" || w.size() != 2 || !NumberArg(w[1], 0, INT32_MAX, n, numberError))
            return fail("expected dialog " + std::to_string(prompt.resId));
        if (n != prompt.resId)
            return fail("a different dialog opened");
        answer.kind = Answer::kAccept;
        break;
    case Prompt::kDialogAction:
        if (verb == "close" && w.size() == 1) {
            answer.kind = Answer::kClose;
        } else if (verb == "press" && w.size() == 2 && NumberArg(w[1], 0, INT32_MAX, n, numberError)) {
            answer.kind = Answer::kPress;
            answer.item = static_cast<int32_t>(n);
        } else if (verb == "check" && w.size() == 3 && (w[2] == "on" || w[2] == "off") &&
                   NumberArg(w[1], 0, INT32_MAX, n, numberError)) {
            answer.kind = Answer::kCheck;
            answer.item = static_cast<int32_t>(n);
            answer.on = w[2] == "on";
        } else if (verb == "edit" && w.size() == 3 && NumberArg(w[1], 0, INT32_MAX, n, numberError)) {
            answer.kind = Answer::kEdit;
            answer.item = static_cast<int32_t>(n);
            answer.text = w[2];
        } else {
            return fail("expected press, check, edit or close");
        }
        break;
    case Prompt::kAlert:
    case Prompt::kHostAlert: {
        const bool host = prompt.kind == Prompt::kHostAlert;
        if (verb != "alert" || w.size() != 4 || w[2] != "press" ||
            !NumberArg(w[3], 0, INT32_MAX, n, numberError))
            return fail("expected alert ... press ID");
        int64_t res = 0;
        if (host ? w[1] != "host" : (!ParseNumber(w[1], res) || res != prompt.resId))
            return fail("a different alert opened");
        answer.kind = Answer::kPress;
        answer.item = static_cast<int32_t>(n);
        break;
    }
    case Prompt::kOpenFile:
    case Prompt::kSaveFile:
    case Prompt::kFolder: {
        const char* expected = prompt.kind == Prompt::kOpenFile ? "open"
                               : prompt.kind == Prompt::kSaveFile ? "save" : "folder";
        if (verb != expected || w.size() < 3)
            return fail(std::string("expected ") + expected + " TITLE ...");
        if (!TitleMatches(w[1], prompt.title))
            return fail("a prompt with another title came");
        std::vector<std::string> rest(w.begin() + 2, w.end());
        if (prompt.kind == Prompt::kSaveFile && rest.size() >= 2 && rest[rest.size() - 2] == "proposed") {
            if (NameOf(prompt.proposed) != rest.back())
                return fail("the dialog proposes " + Quote(NameOf(prompt.proposed)));
            rest.resize(rest.size() - 2);
        }
        if (rest.size() == 1 && rest[0] == "cancel") {
            answer.kind = Answer::kCancel;
        } else if (prompt.kind == Prompt::kSaveFile && rest.size() == 1 && rest[0] == "default") {
            answer.kind = Answer::kPaths;
            answer.paths = {prompt.proposed};
        } else if (!rest.empty() && (prompt.kind == Prompt::kOpenFile || rest.size() == 1)) {
            answer.kind = Answer::kPaths;
            for (const auto& path : rest)
                answer.paths.push_back(Path(path));
        } else {
            return fail("expected a path or cancel");
        }
        break;
    }
    }
    ++m_next;
    return true;
}

std::string ScriptHelp(const ScriptVerbs& verbs)
{
    std::string text =
        "Script format: one action or answer per line; words are separated by blanks, \"...\"\n"
        "quotes a word (\\\" \\\\ \\n \\t inside), # starts a comment. Actions run in order;\n"
        "the prompts that an action causes (dialogs, alerts, file dialogs, folder choosers)\n"
        "take the answer lines that follow it, in order. A prompt without its answer line,\n"
        "an answer line whose prompt never comes, a failed action or expectation, or a\n"
        "host error ends the run with status 1. The module is unloaded at the end.\n"
        "\nActions:\n";
    auto add = [&text](const std::string& usage, const std::string& help) {
        text += "  " + usage + "\n        " + help + "\n";
    };
    for (const auto& verb : verbs.All())
        if (!verb.second.answer)
            add(verb.second.usage, verb.second.help);
    text += "\nAnswers (TITLE * matches any title; relative paths are taken against the\n"
            "application folder):\n";
    for (const auto& verb : verbs.All())
        if (verb.second.answer)
            add(verb.second.usage, verb.second.help);
    text +=
        "\nInside a dialog, press/check/edit/close lines act until the dialog ends. A press of\n"
        "item 1 or 2 that the module leaves alone ends the dialog (1 confirmed, 2 cancelled).\n"
        "\nFault keys for fail: compat, newId, register[:KIND], request[:0x913], bind[:XFJ12],\n"
        "interface[:QLIS1], component[:XPTA], setup-record (the record's first tag), template[:RES],\n"
        "and any suite slot as letters, version, / and slot (XCF5/2 runs a modal dialog, XFJ12/13\n"
        "is the folder chooser) or interface entry (QLIS1/17). The documents add their calls (DOC-11\n"
        "saves, FIO-6 writes file data) and write[:CALL], whose VALUE is the system's error number\n"
        "that the host's file writes meet instead of writing (28: the disk is full).\n"
        "Calls that change names in a folder, the module's and the host's: rename, rename.noreplace,\n"
        "rename.exchange, link and unlink, each also as CALL:NAME for a file name it names (no\n"
        "folder), file:FOLDER/ for the calls on files in a folder of that name, and file for all of\n"
        "them; VALUE is the error number the call answers (1: a file\n"
        "system without hard links refuses link). The sync of a folder: fsync.folder, and\n"
        "fsync.folder:NAME for a folder of that name (5: the disk refuses it). stop-at takes the\n"
        "same keys, before the call.\n"
        "\nExample:\n"
        "  start\n"
        "  menu \"Export multiple documents\"\n"
        "  folder \"Browse for Source Folder with QXP files\" Documents\n"
        "  dialog 108\n"
        "    check 1002 off\n"
        "    press 1004\n"
        "  expect-beeps 0\n"
        "  quit\n";
    return text;
}

}  // namespace xthost

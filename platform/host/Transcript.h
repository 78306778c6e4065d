// The transcript of everything the emulated host observes, and the fault plan that overrides
// the host's answers.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>
#include <vector>

namespace xthost {

// Every observable event, one line each, in order. Tests compare transcripts.
//
// The lines are kept in memory unless KeepLines(false) says otherwise: a long run that only
// echoes its transcript (to a file or nowhere) then holds none of it. Lines are numbered from
// the first of the run; Lines() holds those from First() on.
class Transcript {
public:
    void Add(std::string line);
    const std::vector<std::string>& Lines() const { return m_lines; }
    std::string Text() const;  // the lines kept, each ended by "\n"
    void Clear()
    {
        m_first += m_lines.size();
        m_lines.clear();
    }

    // The number of the first line kept, and of the line the next Add makes.
    std::size_t First() const { return m_first; }
    std::size_t Count() const { return m_first + m_lines.size(); }

    // Whether new lines are kept. Off, lines from `Hold()` on are kept until `Release()`
    // lets those before a line number go (a reader that looks back as far as its last mark).
    void KeepLines(bool on) { m_keep = on; }
    void Hold() { m_held = true; }
    void Release(std::size_t before);

    // Where new lines are echoed as they come (null for none); `flush` sends each line on
    // at once, as a terminal wants.
    void EchoTo(std::FILE* stream, bool flush = true)
    {
        m_echo = stream;
        m_flush = flush;
    }

private:
    std::vector<std::string> m_lines;
    std::size_t m_first = 0;
    bool m_keep = true;
    bool m_held = false;
    std::FILE* m_echo = nullptr;
    bool m_flush = true;
};

// One overridden answer: the calls matching key, after letting `after` of them pass, answer
// `value` instead of doing their work, `times` times (negative: every time).
struct FaultRule {
    std::string key;
    int32_t value = 0;
    int after = 0;
    int times = -1;
    int seen = 0;     // matching calls so far
    int applied = 0;  // calls answered by this rule so far
    // Instead of answering, the host stops there (a test then kills it, as a crash would);
    // the call goes on when the host is continued.
    bool stop = false;
};

// Fault keys name host answers: "compat", "newId", "register", "register:618", "request",
// "request:0x913", "bind", "bind:XFJ12", "interface", "interface:QLIS1", "component:XPTA",
// "template:108", suite slots "XFJ12/13" or interface entries "QLIS1/17", the writers'
// named points "file.written" and "pdf.page" (stopping rules only), and the calls that change
// names in a folder (FileCalls.cpp): "rename:NAME", "link", "unlink", "file" and so on.
class FaultPlan {
public:
    void Add(FaultRule rule) { m_rules.push_back(std::move(rule)); }
    void Clear() { m_rules.clear(); }
    // The injected answer of a call known by its keys (most specific first), if any rule
    // applies. Every matching rule counts the call. stop tells whether a stopping rule applies.
    std::optional<int32_t> Check(const std::vector<std::string>& keys, bool* stop = nullptr);
    const std::vector<FaultRule>& Rules() const { return m_rules; }

private:
    std::vector<FaultRule> m_rules;
};

// "%08X"-style hexadecimal with a 0x prefix.
std::string Hex(uint32_t value, int digits = 8);
// A text in double quotes with \" \\ and control characters escaped.
std::string Quote(const std::string& text);

}  // namespace xthost

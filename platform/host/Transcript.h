// The transcript of everything the emulated host observes, and the fault plan that overrides
// the host's answers.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace xthost {

// Every observable event, one line each, in order. Tests compare transcripts.
class Transcript {
public:
    void Add(std::string line);
    const std::vector<std::string>& Lines() const { return m_lines; }
    std::string Text() const;  // the lines, each ended by "\n"
    void Clear() { m_lines.clear(); }

    // Where new lines are echoed as they come (null for none).
    void EchoTo(std::FILE* stream) { m_echo = stream; }

private:
    std::vector<std::string> m_lines;
    std::FILE* m_echo = nullptr;
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
};

// Fault keys name host answers: "compat", "newId", "register", "register:618", "request",
// "request:0x913", "bind", "bind:XFJ12", "interface", "interface:QLIS1", "component:XPTA",
// "template:108", and suite slots "XFJ12/13" or interface entries "QLIS1/17".
class FaultPlan {
public:
    void Add(FaultRule rule) { m_rules.push_back(std::move(rule)); }
    void Clear() { m_rules.clear(); }
    // The injected answer of a call known by its keys (most specific first), if any rule
    // applies. Every matching rule counts the call.
    std::optional<int32_t> Check(const std::vector<std::string>& keys);
    const std::vector<FaultRule>& Rules() const { return m_rules; }

private:
    std::vector<FaultRule> m_rules;
};

// "%08X"-style hexadecimal with a 0x prefix.
std::string Hex(uint32_t value, int digits = 8);
// A text in double quotes with \" \\ and control characters escaped.
std::string Quote(const std::string& text);

}  // namespace xthost

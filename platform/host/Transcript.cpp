#include "platform/host/Transcript.h"

#include <algorithm>
#include <cstdio>

namespace xthost {

void Transcript::Add(std::string line)
{
    if (m_echo) {
        std::fputs(line.c_str(), m_echo);
        std::fputc('\n', m_echo);
        if (m_flush)
            std::fflush(m_echo);
    }
    if (m_keep || m_held)
        m_lines.push_back(std::move(line));
    else
        ++m_first;
}

void Transcript::Release(std::size_t before)
{
    if (m_keep || before <= m_first)
        return;
    const std::size_t drop = std::min(before - m_first, m_lines.size());
    m_lines.erase(m_lines.begin(), m_lines.begin() + static_cast<std::ptrdiff_t>(drop));
    m_first += drop;
}

std::string Transcript::Text() const
{
    std::string text;
    for (const auto& line : m_lines) {
        text += line;
        text += '\n';
    }
    return text;
}

std::optional<int32_t> FaultPlan::Check(const std::vector<std::string>& keys, bool* stop)
{
    std::optional<int32_t> answer;
    for (auto& rule : m_rules) {
        bool matches = false;
        for (const auto& key : keys)
            matches = matches || key == rule.key;
        if (!matches)
            continue;
        const int index = rule.seen++;
        if (answer || index < rule.after || (rule.times >= 0 && rule.applied >= rule.times))
            continue;
        ++rule.applied;
        if (rule.stop) {
            if (stop)
                *stop = true;
            continue;
        }
        answer = rule.value;
    }
    return answer;
}

std::string Hex(uint32_t value, int digits)
{
    char buffer[16];
    std::snprintf(buffer, sizeof buffer, "0x%0*X", digits, static_cast<unsigned>(value));
    return buffer;
}

std::string Quote(const std::string& text)
{
    std::string quoted = "\"";
    for (const unsigned char c : text) {
        if (c == '"' || c == '\\') {
            quoted += '\\';
            quoted += static_cast<char>(c);
        } else if (c == '\n') {
            quoted += "\\n";
        } else if (c == '\t') {
            quoted += "\\t";
        } else if (c == '\r') {
            quoted += "\\r";
        } else if (c < 0x20) {
            char buffer[8];
            std::snprintf(buffer, sizeof buffer, "\\x%02X", c);
            quoted += buffer;
        } else {
            quoted += static_cast<char>(c);
        }
    }
    return quoted + "\"";
}

}  // namespace xthost

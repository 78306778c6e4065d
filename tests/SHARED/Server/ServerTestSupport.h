#pragma once
// Shared set-up of the server tests: loopback only, short bounds, scratch folders.

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <random>
#include <string>

#include "SHARED/Server/Connection.h"
#include "client/ProtocolClient.h"
#include "TempDir.h"

namespace servertest {

// Short waits for the length of one test (the server listens on 127.0.0.1 by default).
class ScopedLimits {
public:
    explicit ScopedLimits(int idleTimeoutMs = 10000) : m_Saved(ct_Connection::GetLimits()) {
        ct_Connection::Limits l = m_Saved;
        l.idleTimeoutMs = idleTimeoutMs;
        l.drainTimeoutMs = 500;
        ct_Connection::SetLimits(l);
    }
    ~ScopedLimits() { ct_Connection::SetLimits(m_Saved); }

private:
    ct_Connection::Limits m_Saved;
};

class ScratchDir {
public:
    std::string File(const std::string& name) const { return m_Dir / name; }
    std::string Path() const { return m_Dir.Path(); }

private:
    TempDir m_Dir{"kesto-srv"};
};

inline std::string RandomBytes(size_t n, unsigned seed) {
    std::mt19937 gen(seed);
    std::string s(n, '\0');
    for (char& c : s)
        c = static_cast<char>(gen());
    return s;
}

// Text-like bytes that deflate well.
inline std::string TextBytes(size_t n) {
    std::string s;
    s.reserve(n);
    for (size_t i = 0; s.size() < n; ++i)
        s += "line " + std::to_string(i) + " of some repeated document text\n";
    s.resize(n);
    return s;
}

inline void WriteFile(const std::string& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary).write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

inline std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

} // namespace servertest

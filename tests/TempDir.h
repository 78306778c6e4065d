// A scratch folder for one test: made fresh under the system's temporary folder (TMPDIR when it
// is set) and removed with its contents at the end.
#pragma once

#include <stdlib.h>

#include <cstdlib>
#include <filesystem>
#include <string>

class TempDir {
public:
    explicit TempDir(const std::string& prefix = "kesto-test")
    {
        const std::string stem = !prefix.empty() && prefix.back() == '-' ? prefix : prefix + "-";
        std::string pattern = (std::filesystem::temp_directory_path() / (stem + "XXXXXX")).string();
        if (!::mkdtemp(&pattern[0]))
            std::abort();
        m_path = pattern;
    }
    ~TempDir()
    {
        std::error_code ignored;
        std::filesystem::remove_all(m_path, ignored);
    }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::string& Path() const { return m_path; }
    std::string operator/(const std::string& name) const { return m_path + "/" + name; }

private:
    std::string m_path;
};

// Helpers shared by the foundation tests: a scratch folder, file reading, and a small fake of
// the host services.
#pragma once

#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>

#include <sys/resource.h>

#include "TempDir.h"
#include "platform/host/HostServices.h"

inline std::string ReadFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

inline void WriteFile(const std::string& path, const std::string& text)
{
    std::ofstream(path, std::ios::binary) << text;
}

// Runs fn while the process may write files of at most `bytes` bytes: a write beyond fails
// (EFBIG) instead of stopping the process. Answers what fn answered.
template <class Fn>
auto WithFileSizeLimit(rlim_t bytes, Fn fn)
{
    rlimit saved {};
    ::getrlimit(RLIMIT_FSIZE, &saved);
    const auto previous = std::signal(SIGXFSZ, SIG_IGN);
    rlimit limited = saved;
    limited.rlim_cur = bytes;
    ::setrlimit(RLIMIT_FSIZE, &limited);
    auto result = fn();
    ::setrlimit(RLIMIT_FSIZE, &saved);
    std::signal(SIGXFSZ, previous);
    return result;
}

// The host as far as the foundation calls it. A file specification names, in its parent id,
// a path registered with the fake; the host reports that path for it.
class FakeHostServices : public HostServices {
public:
    std::string applicationFolder;
    std::string tempFolder;
    int16_t applicationFolderResult = 0;
    int16_t tempFolderResult = 0;
    int16_t resolveResult = 0;

    FakeHostServices() { SetHostServices(this); }
    ~FakeHostServices() override { SetHostServices(nullptr); }

    // A specification with the given name whose full path the host reports as `path`.
    HostFileSpec MakeSpec(const std::string& path, const std::string& name)
    {
        HostFileSpec spec{};
        const int32_t id = ++m_lastId;
        spec.parentId = id;   // a packed field: copied by value, never bound to a reference
        m_specPaths[id] = path;
        SetFileSpecName(spec, name);
        return spec;
    }

    int OpenHandles() const { return static_cast<int>(m_handles.size()); }
    int OpenTexts() const { return static_cast<int>(m_texts.size()); }

    int16_t GetFileSpecPath(char* buffer, std::size_t size, const HostFileSpec& spec,
                            int32_t) override
    {
        const int32_t id = spec.parentId;
        const auto it = m_specPaths.find(id);
        if (it == m_specPaths.end())
            return XT_ERR_FILE_NOT_FOUND;
        if (it->second.size() + 1 > size)
            return XT_ERR_BAD_NAME;
        std::memcpy(buffer, it->second.c_str(), it->second.size() + 1);
        return 0;
    }

    int16_t NewFileSpecHandle(HostHandle* handle) override
    {
        *handle = ++m_lastId;
        m_handles[*handle] = "";
        return 0;
    }
    void DisposeFileSpecHandle(HostHandle handle) override { m_handles.erase(handle); }

    int16_t CopyFileSpec(HostHandle handle, HostFileSpec* spec) override
    {
        const auto it = m_handles.find(handle);
        if (it == m_handles.end())
            return XT_ERR_PARAM;
        const std::size_t slash = it->second.find_last_of('/');
        *spec = MakeSpec(it->second, slash == std::string::npos ? it->second : it->second.substr(slash + 1));
        return 0;
    }

    int16_t GetTempFolder(HostHandle* handle) override
    {
        if (tempFolderResult != 0)
            return tempFolderResult;
        m_handles[*handle] = tempFolder;
        return 0;
    }

    int16_t GetApplicationFolder(HostHandle handle) override
    {
        if (applicationFolderResult != 0)
            return applicationFolderResult;
        m_handles[handle] = applicationFolder;
        return 0;
    }

    int16_t ResolveRelativePath(HostHandle handle, HostText relativePath) override
    {
        if (resolveResult != 0)
            return resolveResult;
        const std::u16string& text = m_texts.at(relativePath);
        m_handles[handle] += "/" + std::string(text.begin(), text.end());
        return 0;
    }

    int16_t GetFullPathText(HostHandle handle, HostText* text) override
    {
        const std::string& path = m_handles.at(handle);
        const std::u16string wide(path.begin(), path.end());
        return NewText(wide.data(), static_cast<int32_t>(wide.size()), text);
    }

    int16_t NewText(const char16_t* chars, int32_t length, HostText* text) override
    {
        *text = ++m_lastId;
        m_texts[*text] = std::u16string(chars, static_cast<std::size_t>(length));
        return 0;
    }

    int16_t GetTextLength(HostText text, int32_t* length) override
    {
        *length = static_cast<int32_t>(m_texts.at(text).size());
        return 0;
    }

    int16_t GetTextChars(HostText text, char16_t* buffer, int32_t size) override
    {
        const std::u16string& chars = m_texts.at(text);
        std::copy_n(chars.begin(), std::min<std::size_t>(chars.size(), static_cast<std::size_t>(size)), buffer);
        return 0;
    }

    void DisposeText(HostText text) override { m_texts.erase(text); }

private:
    int32_t m_lastId = 0;
    std::map<int32_t, std::string> m_specPaths;
    std::map<HostHandle, std::string> m_handles;
    std::map<HostText, std::u16string> m_texts;
};

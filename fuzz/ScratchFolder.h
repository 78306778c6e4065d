// The folder of one fuzzing process for what its target writes: made empty in the system's
// temporary folder on first use, named after the target and the process, and removed with all
// it holds when the process exits (a crash leaves it, beside the input that caused it).
#pragma once

#include <filesystem>
#include <string>
#include <system_error>

#include <unistd.h>

namespace kesto_fuzz {

inline const std::filesystem::path& ScratchFolder(const std::string& target)
{
    struct Folder {
        std::filesystem::path path;
        explicit Folder(std::filesystem::path made) : path(std::move(made))
        {
            std::error_code ignored;
            std::filesystem::remove_all(path, ignored);
            std::filesystem::create_directories(path, ignored);
        }
        ~Folder()
        {
            std::error_code ignored;
            std::filesystem::remove_all(path, ignored);
        }
    };
    static const Folder folder(std::filesystem::temp_directory_path() /
                               ("kesto-" + target + "-" + std::to_string(::getpid())));
    return folder.path;
}

} // namespace kesto_fuzz

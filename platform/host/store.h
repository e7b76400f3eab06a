// State files a person can read, shared between processes: each change is made
// under an exclusive lock and lands whole, through a temporary file and a rename.
#pragma once

#include <filesystem>
#include <optional>
#include <string>

namespace host::detail {

// Holds an exclusive lock on `path` + ".lock" for its lifetime.
class FileLock {
public:
    explicit FileLock(const std::filesystem::path& path);
    ~FileLock();
    FileLock(const FileLock&) = delete;
    FileLock& operator=(const FileLock&) = delete;

private:
    int fd;
};

// nullopt when the file does not exist; an empty string when it is empty.
std::optional<std::string> ReadWholeFile(const std::filesystem::path& path);
bool WriteFileAtomically(const std::filesystem::path& path, const std::string& content);

} // namespace host::detail

#include "store.h"

#include <fcntl.h>
#include <fstream>
#include <sstream>
#include <sys/file.h>
#include <unistd.h>

namespace host::detail {

FileLock::FileLock(const std::filesystem::path& path) {
    std::error_code ignored;
    std::filesystem::create_directories(path.parent_path(), ignored);
    fd = ::open((path.string() + ".lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
    if (fd >= 0)
        ::flock(fd, LOCK_EX);
}

FileLock::~FileLock() {
    if (fd >= 0)
        ::close(fd); // releases the lock
}

std::optional<std::string> ReadWholeFile(const std::filesystem::path& path) {
    std::ifstream file(path, std::ios::binary);
    if (!file)
        return std::nullopt;
    std::ostringstream content;
    content << file.rdbuf();
    return content.str();
}

bool WriteFileAtomically(const std::filesystem::path& path, const std::string& content) {
    std::error_code ignored;
    std::filesystem::create_directories(path.parent_path(), ignored);
    std::string temporary = path.string() + ".tmp." + std::to_string(::getpid());
    int fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0)
        return false;
    bool whole = ::write(fd, content.data(), content.size()) == static_cast<ssize_t>(content.size());
    whole = ::fsync(fd) == 0 && whole;
    ::close(fd);
    if (!whole || ::rename(temporary.c_str(), path.c_str()) != 0) {
        ::unlink(temporary.c_str());
        return false;
    }
    return true;
}

} // namespace host::detail

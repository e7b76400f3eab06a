#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <map>
#include <mutex>
#include <unistd.h>

#include "internal.h"

namespace {

thread_local DWORD lastError = 0;

struct Failure {
    DWORD code;
    int remaining; // < 0: every call
    int spared;    // calls still let through first
};

std::mutex stateLock;
std::map<std::string, Failure> failures;
std::vector<std::string> calls;
// Off until a test first clears the record: a long-running process that nobody
// inspects would otherwise grow by one entry per poll.
bool recordingCalls = false;
std::atomic<long> openHandles{0};

} // namespace

DWORD GetLastError() { return lastError; }
void SetLastError(DWORD code) { lastError = code; }

namespace host {

std::filesystem::path Root() {
    std::filesystem::path root;
    if (const char* configured = std::getenv("QUARNEL_HOST_ROOT"); configured && *configured)
        root = configured;
    else if (const char* home = std::getenv("HOME"); home && *home)
        root = std::filesystem::path(home) / ".local/state/quarnel-host";
    else
        root = "/tmp/quarnel-host";
    // Made sure of once per thread and root, not on every entry written.
    thread_local std::string ensured;
    if (root.native() != ensured) {
        std::error_code ignored;
        std::filesystem::create_directories(root, ignored);
        ensured = root.native();
    }
    return root;
}

void FailCall(const std::string& function, DWORD code, int times, int after) {
    std::lock_guard guard(stateLock);
    failures[function] = Failure{code, times, after};
}

void ClearFailures() {
    std::lock_guard guard(stateLock);
    failures.clear();
}

long OpenHandles() { return openHandles.load(); }

std::vector<std::string> Calls() {
    std::lock_guard guard(stateLock);
    return calls;
}

void ClearCalls() {
    std::lock_guard guard(stateLock);
    calls.clear();
    recordingCalls = true;
}

namespace detail {

std::optional<DWORD> Enter(const char* function) {
    std::lock_guard guard(stateLock);
    if (recordingCalls)
        calls.emplace_back(function);
    auto found = failures.find(function);
    if (found == failures.end() || found->second.remaining == 0)
        return std::nullopt;
    if (found->second.spared > 0) {
        --found->second.spared;
        return std::nullopt;
    }
    if (found->second.remaining > 0)
        --found->second.remaining;
    return found->second.code;
}

bool AppendLine(const std::filesystem::path& path, const std::string& line) {
    int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
    if (fd < 0 && errno == ENOENT) {
        std::error_code ignored;
        std::filesystem::create_directories(path.parent_path(), ignored);
        fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
    }
    if (fd < 0)
        return false;
    std::string record = line + '\n';
    bool whole = ::write(fd, record.data(), record.size()) == (ssize_t)record.size();
    ::close(fd);
    return whole;
}

void HandleOpened() { ++openHandles; }
void HandleClosed() { --openHandles; }

} // namespace detail
} // namespace host

#include "process.h"

#include <csignal>
#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <stdexcept>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

Process Start(const std::vector<std::string>& argv, const std::string& directory,
              const std::string& logFile) {
    int outPipe[2] = {-1, -1}, errPipe[2] = {-1, -1};
    if (logFile.empty() && (::pipe2(outPipe, O_CLOEXEC) != 0 || ::pipe2(errPipe, O_CLOEXEC) != 0))
        throw std::runtime_error("pipe");
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    // CTest may give us no standard input at all: the child gets an empty one.
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    if (logFile.empty()) {
        posix_spawn_file_actions_adddup2(&actions, outPipe[1], 1);
        posix_spawn_file_actions_adddup2(&actions, errPipe[1], 2);
    } else {
        posix_spawn_file_actions_addopen(&actions, 1, logFile.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
        posix_spawn_file_actions_adddup2(&actions, 1, 2);
    }
    if (!directory.empty())
        posix_spawn_file_actions_addchdir_np(&actions, directory.c_str());
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    sigset_t all, none;
    sigfillset(&all);
    sigemptyset(&none);
    posix_spawnattr_setsigdefault(&attributes, &all);
    posix_spawnattr_setsigmask(&attributes, &none);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETSIGMASK);
    std::vector<char*> args;
    for (const auto& a : argv)
        args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    Process process;
    int failed = ::posix_spawnp(&process.pid, args[0], &actions, &attributes, args.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attributes);
    for (int fd : {outPipe[1], errPipe[1]})
        if (fd >= 0)
            ::close(fd);
    if (failed) {
        for (int fd : {outPipe[0], errPipe[0]})
            if (fd >= 0)
                ::close(fd);
        throw std::runtime_error("cannot start " + argv[0]);
    }
    process.out = outPipe[0];
    process.err = errPipe[0];
    return process;
}

namespace {

// One round of reading whatever either pipe has within `limit`: the bytes read,
// or -1 once both are closed.
long ReadSome(Process& process, std::chrono::milliseconds limit) {
    pollfd polled[2];
    std::string* into[2];
    int count = 0;
    if (process.out >= 0) {
        polled[count] = {process.out, POLLIN, 0};
        into[count++] = &process.seen.out;
    }
    if (process.err >= 0) {
        polled[count] = {process.err, POLLIN, 0};
        into[count++] = &process.seen.err;
    }
    if (count == 0)
        return -1;
    if (::poll(polled, count, static_cast<int>(limit.count())) <= 0)
        return 0;
    long total = 0;
    for (int i = 0; i < count; ++i) {
        if (!(polled[i].revents & (POLLIN | POLLHUP | POLLERR)))
            continue;
        char buffer[8192];
        ssize_t got = ::read(polled[i].fd, buffer, sizeof buffer);
        if (got > 0) {
            into[i]->append(buffer, got);
            total += got;
            continue;
        }
        ::close(polled[i].fd);
        (polled[i].fd == process.out ? process.out : process.err) = -1;
    }
    return total;
}

} // namespace

bool ReadUntil(Process& process, const std::string& text, std::chrono::milliseconds limit) {
    auto deadline = std::chrono::steady_clock::now() + limit;
    while (process.seen.out.find(text) == std::string::npos) {
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0 || ReadSome(process, std::min(left, std::chrono::milliseconds(50))) < 0)
            return process.seen.out.find(text) != std::string::npos;
    }
    return true;
}

Outcome Finish(Process& process, std::chrono::milliseconds limit) {
    auto deadline = std::chrono::steady_clock::now() + limit;
    int status = 0;
    for (;;) {
        if (::waitpid(process.pid, &status, WNOHANG) == process.pid) {
            // Daemons that Wine starts may hold the pipes open: take what is there and go.
            while (ReadSome(process, std::chrono::milliseconds(0)) > 0) {
            }
            break;
        }
        if (std::chrono::steady_clock::now() >= deadline) {
            ::kill(process.pid, SIGKILL);
            ::waitpid(process.pid, &status, 0);
            break;
        }
        if (ReadSome(process, std::chrono::milliseconds(20)) < 0)
            ::usleep(10000);
    }
    for (int* fd : {&process.out, &process.err})
        if (*fd >= 0) {
            ::close(*fd);
            *fd = -1;
        }
    process.seen.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    return process.seen;
}

std::string WithoutCarriageReturns(const std::string& text) {
    std::string result;
    for (std::size_t i = 0; i < text.size(); ++i)
        if (!(text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n'))
            result += text[i];
    return result;
}

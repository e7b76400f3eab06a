#include "child.h"

#include <csignal>
#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <stdexcept>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

Child StartChild(const std::string& program, const std::vector<std::string>& arguments,
                 const std::string& hostRoot) {
    int pipeFds[2];
    if (::pipe2(pipeFds, O_CLOEXEC) != 0)
        throw std::runtime_error("pipe");
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, pipeFds[1], 1);
    posix_spawn_file_actions_adddup2(&actions, pipeFds[1], 2);
    std::vector<std::string> environment;
    for (char** e = environ; *e; ++e)
        if (std::string(*e).rfind("QUARNEL_HOST_ROOT=", 0) != 0)
            environment.emplace_back(*e);
    environment.push_back("QUARNEL_HOST_ROOT=" + hostRoot);
    std::vector<char*> argv{const_cast<char*>(program.c_str())};
    for (const auto& a : arguments)
        argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    std::vector<char*> envp;
    for (auto& e : environment)
        envp.push_back(e.data());
    envp.push_back(nullptr);
    // The child starts with the default signal dispositions and an empty mask.
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    sigset_t all, none;
    sigfillset(&all);
    sigemptyset(&none);
    posix_spawnattr_setsigdefault(&attributes, &all);
    posix_spawnattr_setsigmask(&attributes, &none);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETSIGMASK);
    Child child;
    int failed = ::posix_spawn(&child.pid, program.c_str(), &actions, &attributes, argv.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attributes);
    ::close(pipeFds[1]);
    if (failed)
        throw std::runtime_error("cannot start " + program);
    child.output = pipeFds[0];
    return child;
}

namespace {
// One read of whatever is there within `limit`; false at the end of the output.
bool ReadSome(Child& child, std::chrono::milliseconds limit) {
    pollfd polled{child.output, POLLIN, 0};
    if (::poll(&polled, 1, static_cast<int>(limit.count())) <= 0)
        return true;
    char buffer[4096];
    ssize_t got = ::read(child.output, buffer, sizeof buffer);
    if (got <= 0)
        return false;
    child.seen.append(buffer, got);
    return true;
}
} // namespace

bool ReadUntil(Child& child, const std::string& text, std::chrono::milliseconds limit) {
    auto deadline = std::chrono::steady_clock::now() + limit;
    while (child.seen.find(text) == std::string::npos) {
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0 || !ReadSome(child, std::min(left, std::chrono::milliseconds(50))))
            return child.seen.find(text) != std::string::npos;
    }
    return true;
}

int FinishChild(Child& child, std::chrono::milliseconds limit) {
    auto deadline = std::chrono::steady_clock::now() + limit;
    while (std::chrono::steady_clock::now() < deadline && ReadSome(child, std::chrono::milliseconds(50))) {
    }
    int status = 0;
    while (::waitpid(child.pid, &status, WNOHANG) == 0) {
        if (std::chrono::steady_clock::now() >= deadline) {
            ::kill(child.pid, SIGKILL);
            ::waitpid(child.pid, &status, 0);
            break;
        }
        ::usleep(10000);
    }
    ::close(child.output);
    return status;
}

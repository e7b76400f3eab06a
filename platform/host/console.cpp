// Console control events from signals. As on Windows, handlers run on a thread
// created for each event, never inside a signal handler, newest handler first;
// an event that every handler declines ends the process, and so does a closing
// console or a shutdown whatever the handlers say.
#include <csignal>
#include <cstdio>
#include <mutex>
#include <thread>
#include <unistd.h>
#include <vector>

#include "internal.h"

namespace {

std::mutex lock;
std::vector<PHANDLER_ROUTINE> handlers;
bool ignoreCtrlC = false;
int wakeFds[2] = {-1, -1};

struct Mapping {
    int signal;
    DWORD event;
};
constexpr Mapping mappings[] = {
    {SIGINT, CTRL_C_EVENT},
    {SIGQUIT, CTRL_BREAK_EVENT},
    {SIGHUP, CTRL_CLOSE_EVENT},
    {SIGTERM, CTRL_SHUTDOWN_EVENT},
};

void OnSignal(int signal) {
    char number = static_cast<char>(signal);
    [[maybe_unused]] ssize_t ignored = ::write(wakeFds[1], &number, 1);
}

// Ends the process the way the signal itself would have.
[[noreturn]] void EndBySignal(int signal) {
    std::fflush(stdout);
    std::signal(signal, SIG_DFL);
    ::kill(::getpid(), signal);
    ::_exit(128 + signal);
}

void Deliver(int signal, DWORD event) {
    std::vector<PHANDLER_ROUTINE> chain;
    bool ignored;
    {
        std::lock_guard guard(lock);
        chain.assign(handlers.rbegin(), handlers.rend());
        ignored = ignoreCtrlC && event == CTRL_C_EVENT;
    }
    if (ignored)
        return;
    bool handled = false;
    for (PHANDLER_ROUTINE handler : chain)
        if (handler(event)) {
            handled = true;
            break;
        }
    if (!handled || event == CTRL_CLOSE_EVENT || event == CTRL_SHUTDOWN_EVENT)
        EndBySignal(signal);
}

void Watch() {
    for (;;) {
        char number;
        ssize_t got = ::read(wakeFds[0], &number, 1);
        if (got <= 0)
            continue;
        for (const auto& mapping : mappings)
            if (mapping.signal == number)
                std::thread(Deliver, mapping.signal, mapping.event).detach();
    }
}

void StartWatching() {
    if (::pipe(wakeFds) != 0)
        return;
    std::thread(Watch).detach();
    struct sigaction action = {};
    action.sa_handler = OnSignal;
    action.sa_flags = SA_RESTART;
    sigemptyset(&action.sa_mask);
    for (const auto& mapping : mappings)
        ::sigaction(mapping.signal, &action, nullptr);
}

} // namespace

BOOL SetConsoleCtrlHandler(PHANDLER_ROUTINE handler, BOOL add) {
    if (auto code = host::detail::Enter("SetConsoleCtrlHandler")) {
        SetLastError(*code);
        return FALSE;
    }
    static std::once_flag watching;
    std::call_once(watching, StartWatching);
    std::lock_guard guard(lock);
    if (handler == nullptr) {
        ignoreCtrlC = add != FALSE;
        return TRUE;
    }
    if (add) {
        handlers.push_back(handler);
        return TRUE;
    }
    for (auto it = handlers.rbegin(); it != handlers.rend(); ++it)
        if (*it == handler) {
            handlers.erase(std::next(it).base());
            return TRUE;
        }
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
}

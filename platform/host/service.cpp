// The service side of the service control manager. Started by hand, a process
// has no manager and the dispatcher fails with 1063, as on Windows. A test can
// play the manager in-process: the dispatcher then runs the service's main
// function on a thread of its own, delivers the test's controls to the
// registered handler on the dispatcher's own thread, and returns once the
// service has reported that it stopped.
#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>
#include <vector>

#include "internal.h"

namespace {

std::mutex lock;
std::condition_variable changed;
std::vector<SERVICE_STATUS> reports;

SERVICE_STATUS_HANDLE__* const testHandle = reinterpret_cast<SERVICE_STATUS_HANDLE__*>(0x5E57);
SERVICE_STATUS_HANDLE__* const serviceHandle = reinterpret_cast<SERVICE_STATUS_HANDLE__*>(0x5E58);

bool managerPlayed = false;  // the next dispatcher start is the manager's
bool dispatching = false;
std::string dispatchedName;
LPHANDLER_FUNCTION handler = nullptr;
SERVICE_STATUS held{};       // as the manager last heard it
bool mainReturned = false;
std::deque<DWORD> controls;
unsigned long long controlsSent = 0;
unsigned long long controlsHandled = 0;

bool KnownState(DWORD state) { return state >= SERVICE_STOPPED && state <= SERVICE_PAUSED; }

} // namespace

namespace host {

std::vector<SERVICE_STATUS> StatusReports() {
    std::lock_guard guard(lock);
    return reports;
}

void ClearStatusReports() {
    std::lock_guard guard(lock);
    reports.clear();
}

SERVICE_STATUS_HANDLE TestStatusHandle() { return testHandle; }

void PlayServiceControlManager() {
    std::lock_guard guard(lock);
    managerPlayed = true;
}

DWORD SendServiceControl(DWORD control) {
    std::unique_lock guard(lock);
    if (!dispatching || held.dwCurrentState == SERVICE_STOPPED)
        return ERROR_SERVICE_NOT_ACTIVE;
    if (held.dwCurrentState == SERVICE_START_PENDING || held.dwCurrentState == SERVICE_STOP_PENDING)
        return ERROR_SERVICE_CANNOT_ACCEPT_CTRL;
    bool userDefined = control >= 128 && control <= 255;
    bool accepted = control == SERVICE_CONTROL_INTERROGATE || userDefined ||
                    (control == SERVICE_CONTROL_STOP && (held.dwControlsAccepted & SERVICE_ACCEPT_STOP));
    if (!accepted)
        return ERROR_INVALID_SERVICE_CONTROL;
    controls.push_back(control);
    unsigned long long ticket = ++controlsSent;
    changed.notify_all();
    // Like ControlService, return once the handler has taken the control.
    changed.wait(guard, [&] { return controlsHandled >= ticket || !dispatching; });
    return 0;
}

} // namespace host

BOOL StartServiceCtrlDispatcherA(const SERVICE_TABLE_ENTRYA* table) {
    if (auto code = host::detail::Enter("StartServiceCtrlDispatcherA")) {
        SetLastError(*code);
        return FALSE;
    }
    if (table == nullptr || table[0].lpServiceName == nullptr || table[0].lpServiceProc == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    std::unique_lock guard(lock);
    if (!managerPlayed || dispatching) {
        SetLastError(ERROR_FAILED_SERVICE_CONTROLLER_CONNECT);
        return FALSE;
    }
    managerPlayed = false;
    dispatching = true;
    dispatchedName = table[0].lpServiceName;
    handler = nullptr;
    held = SERVICE_STATUS{SERVICE_WIN32_OWN_PROCESS, SERVICE_START_PENDING, 0, 0, 0, 0, 0};
    mainReturned = false;
    controls.clear();

    std::thread service([main = table[0].lpServiceProc, name = dispatchedName]() mutable {
        LPSTR argv[] = {name.data(), nullptr};
        main(1, argv);
        std::lock_guard done(lock);
        mainReturned = true;
        changed.notify_all();
    });
    // A main function that returns without reporting stopped also ends the
    // dispatch here; Windows would wait for the manager to give up on it.
    while (held.dwCurrentState != SERVICE_STOPPED && !mainReturned) {
        changed.wait(guard, [] {
            return !controls.empty() || held.dwCurrentState == SERVICE_STOPPED || mainReturned;
        });
        while (!controls.empty()) {
            DWORD control = controls.front();
            controls.pop_front();
            LPHANDLER_FUNCTION deliver = handler;
            guard.unlock();
            if (deliver)
                deliver(control);
            guard.lock();
            ++controlsHandled;
            changed.notify_all();
        }
    }
    guard.unlock();
    service.join();
    guard.lock();
    dispatching = false;
    handler = nullptr;
    changed.notify_all();
    return TRUE;
}

SERVICE_STATUS_HANDLE RegisterServiceCtrlHandlerA(LPCSTR serviceName, LPHANDLER_FUNCTION function) {
    if (auto code = host::detail::Enter("RegisterServiceCtrlHandlerA")) {
        SetLastError(*code);
        return nullptr;
    }
    std::lock_guard guard(lock);
    if (!dispatching || serviceName == nullptr || dispatchedName != serviceName) {
        SetLastError(ERROR_SERVICE_NOT_IN_EXE);
        return nullptr;
    }
    if (function == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    handler = function;
    return serviceHandle;
}

BOOL SetServiceStatus(SERVICE_STATUS_HANDLE handle, LPSERVICE_STATUS status) {
    if (auto code = host::detail::Enter("SetServiceStatus")) {
        SetLastError(*code);
        return FALSE;
    }
    std::lock_guard guard(lock);
    bool live = handle == serviceHandle && dispatching;
    if (handle != testHandle && !live) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    if (status == nullptr || !KnownState(status->dwCurrentState)) {
        SetLastError(ERROR_INVALID_DATA);
        return FALSE;
    }
    reports.push_back(*status);
    if (live) {
        held = *status;
        changed.notify_all();
    }
    return TRUE;
}

#include "shell/status.h"

#include <atomic>
#include <cstdio>
#include <mutex>

#include "shell/names.h"

bool consoleMode = false;
SERVICE_STATUS serviceStatus = {};
SERVICE_STATUS_HANDLE statusHandle = nullptr;
std::uint32_t nextCheckPoint = 1;
std::atomic<std::uint32_t> lastErrorCode{0};

namespace {
// The service thread and the control handler's thread both report.
std::mutex reportLock;
} // namespace

bool ReportServiceStatus(DWORD state, DWORD exitCode, DWORD waitHint) {
    if (consoleMode)
        return true;
    std::lock_guard guard(reportLock);
    serviceStatus.dwControlsAccepted = state == SERVICE_START_PENDING ? 0 : SERVICE_ACCEPT_STOP;
    serviceStatus.dwCurrentState = state;
    serviceStatus.dwWin32ExitCode = exitCode;
    serviceStatus.dwWaitHint = waitHint;
    if (state == SERVICE_RUNNING || state == SERVICE_STOPPED)
        serviceStatus.dwCheckPoint = 0;
    else
        serviceStatus.dwCheckPoint = nextCheckPoint++;
    BOOL sent = SetServiceStatus(statusHandle, &serviceStatus);
    // At once, while the thread's last error is still the failed report's.
    if (!sent)
        LogServiceError("SetServiceStatus");
    return sent != FALSE;
}

DWORD HeldServiceState() {
    std::lock_guard guard(reportLock);
    return serviceStatus.dwCurrentState;
}

void LogServiceError(const char* message) {
    if (consoleMode)
        return;
    // First, before any other call can change this thread's last error.
    lastErrorCode = GetLastError();
    HANDLE source = RegisterEventSourceA(nullptr, serviceName);
    char first[256];
    std::snprintf(first, sizeof first, "%s error: %d", serviceName, static_cast<int>(lastErrorCode.load()));
    if (source == nullptr)
        return;
    const char* strings[2] = {first, message};
    ReportEventA(source, EVENTLOG_ERROR_TYPE, 0, 0, nullptr, 2, 0, strings, nullptr);
    DeregisterEventSource(source);
}

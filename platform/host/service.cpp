// Status reports to the service control manager, recorded for tests.
#include <mutex>
#include <vector>

#include "internal.h"

namespace {

std::mutex reportsLock;
std::vector<SERVICE_STATUS> reports;
SERVICE_STATUS_HANDLE__* const testHandle = reinterpret_cast<SERVICE_STATUS_HANDLE__*>(0x5E57);

bool KnownState(DWORD state) { return state >= SERVICE_STOPPED && state <= SERVICE_PAUSED; }

} // namespace

namespace host {

std::vector<SERVICE_STATUS> StatusReports() {
    std::lock_guard guard(reportsLock);
    return reports;
}

void ClearStatusReports() {
    std::lock_guard guard(reportsLock);
    reports.clear();
}

SERVICE_STATUS_HANDLE TestStatusHandle() { return testHandle; }

} // namespace host

BOOL SetServiceStatus(SERVICE_STATUS_HANDLE handle, LPSERVICE_STATUS status) {
    if (auto code = host::detail::Enter("SetServiceStatus")) {
        SetLastError(*code);
        return FALSE;
    }
    if (handle != testHandle) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    if (status == nullptr || !KnownState(status->dwCurrentState)) {
        SetLastError(13); // ERROR_INVALID_DATA
        return FALSE;
    }
    std::lock_guard guard(reportsLock);
    reports.push_back(*status);
    return TRUE;
}

// What tests may do to the host machine: make a platform call fail, change what
// the sockets library agrees to, and look at what the system did.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

#include "win32.h"

namespace host {

// The folder that holds this machine's state: QUARNEL_HOST_ROOT, or
// ~/.local/state/quarnel-host; created on first use.
std::filesystem::path Root();

// After letting `after` calls through, the next `times` calls of the named
// function (every call when times < 0) fail with `code` as the last error,
// without doing anything else.
void FailCall(const std::string& function, DWORD code, int times = 1, int after = 0);
void ClearFailures();

// The version WSAStartup agrees to; 0 restores the normal negotiation.
void SetWinsockVersion(WORD version);

// Platform handles (sockets, event sources, service and COM objects) open now.
long OpenHandles();

// Names of the platform calls made, in order, since the last ClearCalls; none
// are recorded before the first ClearCalls.
std::vector<std::string> Calls();
void ClearCalls();

// Every status report that reached SetServiceStatus, in order.
std::vector<SERVICE_STATUS> StatusReports();
void ClearStatusReports();

// A status handle as a registered control handler would get it, for driving
// status reports without a dispatcher.
SERVICE_STATUS_HANDLE TestStatusHandle();

// Makes the next StartServiceCtrlDispatcherA run as though the service control
// manager had started this process to start the table's first service.
void PlayServiceControlManager();

// Sends a control as the manager would: refused with the manager's error code
// when the service cannot take it in its state, else delivered to the handler
// on the dispatcher's thread; returns once the handler has returned.
DWORD SendServiceControl(DWORD control);

} // namespace host

// The service's own condition, told to the service control manager and the event log.
#pragma once

#include <atomic>
#include <cstdint>

#include "platform/platform.h"

extern bool consoleMode;
extern SERVICE_STATUS serviceStatus;
extern SERVICE_STATUS_HANDLE statusHandle;
extern std::uint32_t nextCheckPoint;
// Written by whichever thread logs, read by the service thread for its exit code.
extern std::atomic<std::uint32_t> lastErrorCode;

bool ReportServiceStatus(DWORD state, DWORD exitCode, DWORD waitHint);
// The state last given to ReportServiceStatus, read under the same lock.
DWORD HeldServiceState();
void LogServiceError(const char* message);

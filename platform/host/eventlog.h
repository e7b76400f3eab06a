// The event log: sources opened by name, entries appended to the Application log.
#pragma once

#include "base.h"

#define EVENTLOG_SUCCESS 0x0000
#define EVENTLOG_ERROR_TYPE 0x0001
#define EVENTLOG_WARNING_TYPE 0x0002
#define EVENTLOG_INFORMATION_TYPE 0x0004
#define EVENTLOG_AUDIT_SUCCESS 0x0008
#define EVENTLOG_AUDIT_FAILURE 0x0010

HANDLE RegisterEventSourceA(LPCSTR serverName, LPCSTR sourceName);
BOOL DeregisterEventSource(HANDLE eventLog);
BOOL ReportEventA(HANDLE eventLog, WORD type, WORD category, DWORD eventId, PSID userSid,
                  WORD numStrings, DWORD dataSize, LPCSTR* strings, LPVOID rawData);

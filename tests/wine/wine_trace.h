// What Wine's debug channels tell about the programs it runs: the event log
// entries reported (eventlog and advapi channels) and the service status
// reports (service channel), read from trace lines prefixed with pid and thread.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct TracedEntry {
    std::uint32_t type = 0;
    std::uint32_t category = 0;
    std::uint32_t eventId = 0;
    std::vector<std::string> strings;
};

// The seven fields of SERVICE_STATUS in their order.
struct TracedStatus {
    std::uint32_t type, state, accepted, win32ExitCode, specificExitCode, checkPoint, waitHint;
    bool operator==(const TracedStatus&) const = default;
};

// Entries reported through ReportEventA, in order, with the strings that followed
// on the same thread. An entry is complete once all its strings are there.
std::vector<TracedEntry> TracedEntries(const std::string& trace);

// The status reports of the process that registered a control handler for
// `service`, the last such process in the trace.
std::vector<TracedStatus> TracedStatusReports(const std::string& trace, const std::string& service);

std::string Describe(const TracedEntry& entry);
std::string Describe(const TracedStatus& status);

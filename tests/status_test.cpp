#include "host_machine.h"
#include "shell/status.h"

using StatusReporting = HostMachine;

TEST_F(StatusReporting, CheckPointsRunOneTwoZeroThreeZeroThroughAStartAndStop) {
    struct Report {
        DWORD state, exitCode, waitHint, checkPoint, accepted;
    };
    const Report expected[] = {
        {SERVICE_START_PENDING, 0, 3000, 1, 0},
        {SERVICE_START_PENDING, 0, 3000, 2, 0},
        {SERVICE_RUNNING, 0, 0, 0, SERVICE_ACCEPT_STOP},
        {SERVICE_STOP_PENDING, 0, 0, 3, SERVICE_ACCEPT_STOP},
        {SERVICE_STOPPED, 10048, 0, 0, SERVICE_ACCEPT_STOP},
    };
    serviceStatus.dwServiceType = SERVICE_WIN32_OWN_PROCESS;
    for (const auto& report : expected)
        EXPECT_TRUE(ReportServiceStatus(report.state, report.exitCode, report.waitHint));

    auto sent = host::StatusReports();
    ASSERT_EQ(sent.size(), std::size(expected));
    for (size_t i = 0; i < sent.size(); ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(sent[i].dwServiceType, SERVICE_WIN32_OWN_PROCESS);
        EXPECT_EQ(sent[i].dwCurrentState, expected[i].state);
        EXPECT_EQ(sent[i].dwControlsAccepted, expected[i].accepted);
        EXPECT_EQ(sent[i].dwWin32ExitCode, expected[i].exitCode);
        EXPECT_EQ(sent[i].dwServiceSpecificExitCode, 0u);
        EXPECT_EQ(sent[i].dwCheckPoint, expected[i].checkPoint);
        EXPECT_EQ(sent[i].dwWaitHint, expected[i].waitHint);
    }
    EXPECT_EQ(nextCheckPoint, 4u);
    EXPECT_TRUE(ReadEventLog().empty());
}

TEST_F(StatusReporting, AFailedReportIsLoggedWithItsCodeAndHeldAnyway) {
    host::FailCall("SetServiceStatus", ERROR_INVALID_HANDLE);
    EXPECT_FALSE(ReportServiceStatus(SERVICE_START_PENDING, 0, 3000));

    EXPECT_EQ(serviceStatus.dwCurrentState, static_cast<DWORD>(SERVICE_START_PENDING));
    EXPECT_EQ(lastErrorCode, 6u);
    auto events = ReadEventLog();
    ASSERT_EQ(events.size(), 1u);
    EXPECT_EQ(events[0].source, "VezOzuD");
    EXPECT_EQ(events[0].type, EVENTLOG_ERROR_TYPE);
    EXPECT_EQ(events[0].category, 0);
    EXPECT_EQ(events[0].eventId, 0);
    EXPECT_EQ(events[0].strings, (std::vector<std::string>{"VezOzuD error: 6", "SetServiceStatus"}));
    EXPECT_EQ(host::OpenHandles(), 0);
}

TEST_F(StatusReporting, AnErrorWhoseSourceWillNotOpenIsLostButItsCodeKept) {
    SetLastError(WSAEADDRINUSE);
    host::FailCall("RegisterEventSourceA", ERROR_ACCESS_DENIED);
    LogServiceError("Error binding socket to port 514");
    EXPECT_EQ(lastErrorCode, 10048u);
    EXPECT_TRUE(ReadEventLog().empty());
}

TEST_F(StatusReporting, ConsoleModeSendsNothingAndLogsNothing) {
    consoleMode = true;
    SetLastError(WSAEACCES);
    for (DWORD state : {SERVICE_START_PENDING, SERVICE_RUNNING, SERVICE_STOP_PENDING, SERVICE_STOPPED})
        EXPECT_TRUE(ReportServiceStatus(state, 0, 0));
    LogServiceError("Error binding socket to port 514");

    EXPECT_FALSE(Called("SetServiceStatus"));
    EXPECT_FALSE(Called("RegisterEventSourceA"));
    EXPECT_EQ(nextCheckPoint, 1u);
    EXPECT_EQ(lastErrorCode, 0u);
    EXPECT_EQ(serviceStatus.dwCurrentState, 0u);
    EXPECT_TRUE(ReadEventLog().empty());
}

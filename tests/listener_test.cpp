#include <thread>

#include "host_machine.h"
#include "relay/relay.h"
#include "shell/status.h"
#include "udp.h"

namespace {

class Listener : public HostMachine {
protected:
    // Starts the loop on its own thread and waits until it polls the bound socket.
    void Start() {
        loop = std::thread([] { RunSyslogListener(0, nullptr); });
        ASSERT_TRUE(WaitFor([] { return Called("select"); }));
    }
    void Stop() {
        RequestListenerStop();
        loop.join();
    }
    void TearDown() override {
        if (loop.joinable())
            Stop();
        HostMachine::TearDown();
    }
    std::thread loop;
};

std::vector<std::string> FirstStrings(const std::vector<LoggedEvent>& events) {
    std::vector<std::string> strings;
    for (const auto& event : events)
        strings.push_back(event.strings.at(0));
    return strings;
}

} // namespace

TEST_F(Listener, DatagramsBecomeEntriesInOrderAndOversizedOnesAreCut) {
    std::string exact = "<13>" + std::string(1019, 'e');
    std::string oversized = "<14>" + std::string(1496, 'o');
    Start();
    SendDatagram("<13>first\n");
    SendDatagram("");
    SendDatagram("no header");
    SendDatagram(exact);
    SendDatagram(oversized);
    SendDatagram("<30>crlf\r\n");
    SendDatagram(std::string("<30>python\0", 11));
    SendDatagram("<11>last");
    ASSERT_TRUE(WaitFor([] { return ReadEventLog().size() >= 6; }));
    Stop();

    auto events = ReadEventLog();
    EXPECT_EQ(FirstStrings(events),
              (std::vector<std::string>{"first", exact.substr(4), oversized.substr(4, 1019), "crlf",
                                        "python", "last"}));
    EXPECT_EQ(events.at(5).type, EVENTLOG_ERROR_TYPE);
    EXPECT_EQ(events.at(5).category, 2);

    auto reports = host::StatusReports();
    ASSERT_EQ(reports.size(), 2u);
    EXPECT_EQ(reports[0].dwCurrentState, static_cast<DWORD>(SERVICE_START_PENDING));
    EXPECT_EQ(reports[0].dwWaitHint, 3000u);
    EXPECT_EQ(reports[1].dwCurrentState, static_cast<DWORD>(SERVICE_RUNNING));
}

TEST_F(Listener, AStopFromAnotherThreadClosesTheSocketBeforeCleaningUp) {
    Start();
    Stop();
    auto calls = host::Calls();
    std::vector<std::string> tail(calls.end() - 3, calls.end());
    EXPECT_EQ(tail, (std::vector<std::string>{"shutdown", "closesocket", "WSACleanup"}));
    EXPECT_EQ(host::OpenHandles(), 0);
    EXPECT_TRUE(ReadEventLog().empty());
}

TEST_F(Listener, DatagramsQueuedWhenTheStopComesAreStillWritten) {
    Start();
    const int sent = 150;
    for (int i = 0; i < sent; ++i)
        SendDatagram("<13>queued " + std::to_string(i));
    Stop();
    auto events = ReadEventLog();
    ASSERT_EQ(events.size(), static_cast<size_t>(sent));
    EXPECT_EQ(events.back().strings.at(0), "queued " + std::to_string(sent - 1));
}

TEST_F(Listener, ConsoleModeEchoesEachMessageOnItsOwnLineAndReportsNothing) {
    consoleMode = true;
    testing::internal::CaptureStdout();
    Start();
    SendDatagram("<13>hello\n");
    SendDatagram("");
    SendDatagram("%s%n no header");
    SendDatagram("<13>bye");
    ASSERT_TRUE(WaitFor([] { return ReadEventLog().size() >= 2; }));
    Stop();
    EXPECT_EQ(testing::internal::GetCapturedStdout(),
              "Recv: <13>hello\nRecv: %s%n no header\nRecv: <13>bye\n");
    EXPECT_TRUE(host::StatusReports().empty());
}

TEST_F(Listener, APortHeldByAnotherProgramFailsTheBindWith10048) {
    int holder = HoldUdpPort();
    RunSyslogListener(0, nullptr);
    ReleaseUdpPort(holder);

    EXPECT_EQ(lastErrorCode, 10048u);
    auto events = ReadEventLog();
    ASSERT_EQ(events.size(), 1u);
    EXPECT_EQ(events[0].strings,
              (std::vector<std::string>{"VezOzuD error: 10048", "Error binding socket to port 514"}));
    EXPECT_TRUE(Called("closesocket"));
    EXPECT_EQ(host::OpenHandles(), 0);
}

TEST_F(Listener, ABindFailureInConsoleModeEndsTheLoopSilently) {
    consoleMode = true;
    int holder = HoldUdpPort();
    testing::internal::CaptureStdout();
    RunSyslogListener(0, nullptr);
    ReleaseUdpPort(holder);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
    EXPECT_TRUE(ReadEventLog().empty());
    EXPECT_EQ(lastErrorCode, 0u);
}

namespace {
struct StartFailure {
    const char* name;
    const char* failingCall; // nullptr: WSAStartup agrees to version 2.0
    DWORD code;
    std::string message;
    bool cleansUp;
};

void PrintTo(const StartFailure& f, std::ostream* os) { *os << f.name; }

class ListenerStartFailure : public HostMachine, public ::testing::WithParamInterface<StartFailure> {};
} // namespace

TEST_P(ListenerStartFailure, IsLoggedOnceWithItsCodeAndLeavesNothingOpen) {
    const StartFailure& f = GetParam();
    if (f.failingCall)
        host::FailCall(f.failingCall, f.code);
    else
        host::SetWinsockVersion(MAKEWORD(2, 0));
    SetLastError(0);
    RunSyslogListener(0, nullptr);

    EXPECT_EQ(lastErrorCode, f.code);
    auto events = ReadEventLog();
    ASSERT_EQ(events.size(), 1u);
    EXPECT_EQ(events[0].type, EVENTLOG_ERROR_TYPE);
    EXPECT_EQ(events[0].strings,
              (std::vector<std::string>{"VezOzuD error: " + std::to_string(f.code), f.message}));
    EXPECT_EQ(Called("WSACleanup"), f.cleansUp);
    EXPECT_FALSE(Called("select"));
    EXPECT_EQ(host::OpenHandles(), 0);
}

INSTANTIATE_TEST_SUITE_P(
    Steps, ListenerStartFailure,
    ::testing::Values(
        StartFailure{"StatusReport", "SetServiceStatus", ERROR_INVALID_HANDLE, "SetServiceStatus", false},
        StartFailure{"WSAStartup", "WSAStartup", WSASYSNOTREADY, "Error calling WSAStartup", false},
        StartFailure{"Version", nullptr, 0, "Incompatible WINSOCK version", true},
        StartFailure{"Socket", "socket", WSAEMFILE, "Error creating socket", true},
        StartFailure{"Bind", "bind", WSAEACCES, "Error binding socket to port 514", true}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(HostMachine, AFailedRunningReportClosesTheSocketWithoutPolling) {
    host::FailCall("SetServiceStatus", ERROR_INVALID_HANDLE, 1, /*after=*/1);
    RunSyslogListener(0, nullptr);
    EXPECT_FALSE(Called("select"));
    EXPECT_TRUE(Called("closesocket"));
    EXPECT_EQ(host::OpenHandles(), 0);
    EXPECT_EQ(lastErrorCode, 6u);
}

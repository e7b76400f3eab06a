#include <csignal>
#include <sys/wait.h>
#include <thread>

#include "child.h"
#include "host_machine.h"
#include "relay/relay.h"
#include "shell/names.h"
#include "shell/shell.h"
#include "shell/status.h"
#include "udp.h"

namespace {

struct Expected {
    DWORD state, checkPoint, waitHint, accepted, exitCode;
};

void ExpectReports(const std::vector<Expected>& expected) {
    auto reports = host::StatusReports();
    ASSERT_EQ(reports.size(), expected.size());
    for (size_t i = 0; i < reports.size(); ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(reports[i].dwServiceType, SERVICE_WIN32_OWN_PROCESS);
        EXPECT_EQ(reports[i].dwCurrentState, expected[i].state);
        EXPECT_EQ(reports[i].dwCheckPoint, expected[i].checkPoint);
        EXPECT_EQ(reports[i].dwWaitHint, expected[i].waitHint);
        EXPECT_EQ(reports[i].dwControlsAccepted, expected[i].accepted);
        EXPECT_EQ(reports[i].dwWin32ExitCode, expected[i].exitCode);
    }
}

bool Reported(DWORD state) {
    for (const auto& report : host::StatusReports())
        if (report.dwCurrentState == state)
            return true;
    return false;
}

// Runs the dispatcher as the service control manager would have it run.
class ServiceRun : public HostMachine {
protected:
    void SetUp() override {
        HostMachine::SetUp();
        statusHandle = nullptr;
    }
    void StartDispatcher() {
        host::PlayServiceControlManager();
        dispatcher = std::thread([this] {
            static SERVICE_TABLE_ENTRYA table[] = {{const_cast<LPSTR>(serviceName), SyslogServiceMain},
                                                   {nullptr, nullptr}};
            dispatched = StartServiceCtrlDispatcherA(table);
        });
    }
    void StartRunning() {
        StartDispatcher();
        ASSERT_TRUE(WaitFor([] { return Reported(SERVICE_RUNNING); }));
    }
    void Finish() {
        dispatcher.join();
        EXPECT_TRUE(dispatched);
        EXPECT_EQ(host::OpenHandles(), 0);
    }
    void TearDown() override {
        if (dispatcher.joinable()) {
            RequestListenerStop();
            dispatcher.join();
        }
        HostMachine::TearDown();
    }
    std::thread dispatcher;
    BOOL dispatched = FALSE;
};

} // namespace

TEST_F(ServiceRun, StartsRunsAndStopsOnTheStopControlWhileDatagramsBecomeEntries) {
    StartRunning();
    SendDatagram("<13>one");
    SendDatagram("<30>two\n");
    ASSERT_TRUE(WaitFor([] { return ReadEventLog().size() == 2; }));
    EXPECT_EQ(host::SendServiceControl(SERVICE_CONTROL_STOP), 0u);
    Finish();

    ExpectReports({{SERVICE_START_PENDING, 1, 3000, 0, 0},
                   {SERVICE_START_PENDING, 2, 3000, 0, 0},
                   {SERVICE_RUNNING, 0, 0, SERVICE_ACCEPT_STOP, 0},
                   {SERVICE_STOP_PENDING, 3, 0, SERVICE_ACCEPT_STOP, 0},
                   {SERVICE_STOPPED, 0, 0, SERVICE_ACCEPT_STOP, 0}});
    auto events = ReadEventLog();
    EXPECT_EQ(events[0].strings.at(0), "one");
    EXPECT_EQ(events[1].strings.at(0), "two");
}

TEST_F(ServiceRun, InterrogateAndUserControlsReReportTheHeldState) {
    StartRunning();
    EXPECT_EQ(host::SendServiceControl(SERVICE_CONTROL_INTERROGATE), 0u);
    EXPECT_EQ(host::SendServiceControl(200), 0u);
    // The service accepts stop only; the manager refuses to deliver a pause.
    EXPECT_EQ(host::SendServiceControl(SERVICE_CONTROL_PAUSE), static_cast<DWORD>(ERROR_INVALID_SERVICE_CONTROL));
    EXPECT_EQ(host::SendServiceControl(SERVICE_CONTROL_STOP), 0u);
    Finish();

    ExpectReports({{SERVICE_START_PENDING, 1, 3000, 0, 0},
                   {SERVICE_START_PENDING, 2, 3000, 0, 0},
                   {SERVICE_RUNNING, 0, 0, SERVICE_ACCEPT_STOP, 0},
                   {SERVICE_RUNNING, 0, 0, SERVICE_ACCEPT_STOP, 0},
                   {SERVICE_RUNNING, 0, 0, SERVICE_ACCEPT_STOP, 0},
                   {SERVICE_STOP_PENDING, 3, 0, SERVICE_ACCEPT_STOP, 0},
                   {SERVICE_STOPPED, 0, 0, SERVICE_ACCEPT_STOP, 0}});
}

TEST_F(HostMachine, AControlWhileStopPendingReReportsStopPendingWithTheNextCheckPoint) {
    serviceStatus.dwServiceType = SERVICE_WIN32_OWN_PROCESS;
    ReportServiceStatus(SERVICE_STOP_PENDING, 0, 0);
    ServiceCtrlHandler(SERVICE_CONTROL_INTERROGATE);
    auto reports = host::StatusReports();
    ASSERT_EQ(reports.size(), 2u);
    EXPECT_EQ(reports[1].dwCurrentState, static_cast<DWORD>(SERVICE_STOP_PENDING));
    EXPECT_EQ(reports[1].dwCheckPoint, 2u);
    EXPECT_EQ(reports[1].dwWaitHint, 0u);
}

TEST_F(ServiceRun, APortAlreadyTakenEndsTheRunInStoppedWith10048) {
    int holder = HoldUdpPort();
    StartDispatcher();
    Finish();
    ReleaseUdpPort(holder);

    ExpectReports({{SERVICE_START_PENDING, 1, 3000, 0, 0},
                   {SERVICE_START_PENDING, 2, 3000, 0, 0},
                   {SERVICE_STOPPED, 0, 0, SERVICE_ACCEPT_STOP, 10048}});
    auto events = ReadEventLog();
    ASSERT_EQ(events.size(), 1u);
    EXPECT_EQ(events[0].strings,
              (std::vector<std::string>{"VezOzuD error: 10048", "Error binding socket to port 514"}));
}

TEST_F(ServiceRun, AFailedHandlerRegistrationEndsTheServiceWithoutAWord) {
    host::FailCall("RegisterServiceCtrlHandlerA", ERROR_NOT_ENOUGH_MEMORY);
    StartDispatcher();
    Finish();
    EXPECT_TRUE(host::StatusReports().empty());
    EXPECT_TRUE(ReadEventLog().empty());
}

TEST_F(ServiceRun, AFailedFirstReportSkipsTheLoopAndStopsWithItsCode) {
    host::FailCall("SetServiceStatus", ERROR_INVALID_DATA);
    StartDispatcher();
    Finish();

    EXPECT_FALSE(Called("WSAStartup"));
    ExpectReports({{SERVICE_STOPPED, 0, 0, SERVICE_ACCEPT_STOP, ERROR_INVALID_DATA}});
    auto events = ReadEventLog();
    ASSERT_EQ(events.size(), 1u);
    EXPECT_EQ(events[0].strings, (std::vector<std::string>{"VezOzuD error: 13", "SetServiceStatus"}));
}

TEST_F(ServiceRun, AFailedStopPendingReportStillStopsTheService) {
    StartRunning();
    host::FailCall("SetServiceStatus", ERROR_INVALID_DATA);
    EXPECT_EQ(host::SendServiceControl(SERVICE_CONTROL_STOP), 0u);
    Finish();

    auto reports = host::StatusReports();
    ASSERT_EQ(reports.size(), 4u);
    EXPECT_EQ(reports[3].dwCurrentState, static_cast<DWORD>(SERVICE_STOPPED));
    EXPECT_EQ(reports[3].dwWin32ExitCode, static_cast<DWORD>(ERROR_INVALID_DATA));
    auto events = ReadEventLog();
    ASSERT_EQ(events.size(), 1u);
    EXPECT_EQ(events[0].strings.at(1), "SetServiceStatus");
}

TEST_F(HostMachine, TheDispatcherFailsWith1063WhenNoManagerStartedTheProcess) {
    SERVICE_TABLE_ENTRYA table[] = {{const_cast<LPSTR>(serviceName), SyslogServiceMain}, {nullptr, nullptr}};
    EXPECT_FALSE(StartServiceCtrlDispatcherA(table));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FAILED_SERVICE_CONTROLLER_CONNECT));
}

namespace {

class ConsoleRun : public HostMachine {
protected:
    // Starts console mode in a child process and waits until its loop echoes.
    Child StartConsole() {
        Child child = StartChild(CONSOLE_CHILD, {"-debug"}, root);
        EXPECT_TRUE(ReadUntil(child, "Debugging Quarnel SysLog Daemon.\n"));
        EXPECT_TRUE(WaitFor([&] {
            SendDatagram("<13>ping");
            return ReadUntil(child, "Recv: <13>ping\n", std::chrono::milliseconds(20));
        }));
        return child;
    }
};

} // namespace

TEST_F(ConsoleRun, CtrlCAndCtrlBreakStopTheLoopWhichReturnsNormally) {
    for (int signal : {SIGINT, SIGQUIT}) {
        SCOPED_TRACE(signal);
        Child child = StartConsole();
        ::kill(child.pid, signal);
        int status = FinishChild(child);
        ASSERT_TRUE(WIFEXITED(status));
        EXPECT_EQ(WEXITSTATUS(status), 0);
        auto stopping = child.seen.find("Stopping Quarnel SysLog Daemon.\n");
        ASSERT_NE(stopping, std::string::npos);
        EXPECT_EQ(child.seen.substr(stopping), "Stopping Quarnel SysLog Daemon.\nreturned\n");
    }
}

TEST_F(ConsoleRun, AnEventTheHandlerDeclinesEndsTheProcess) {
    for (int signal : {SIGHUP, SIGTERM}) {
        SCOPED_TRACE(signal);
        Child child = StartConsole();
        ::kill(child.pid, signal);
        int status = FinishChild(child);
        ASSERT_TRUE(WIFSIGNALED(status));
        EXPECT_EQ(WTERMSIG(status), signal);
        EXPECT_EQ(child.seen.find("Stopping"), std::string::npos);
        EXPECT_EQ(child.seen.find("returned"), std::string::npos);
    }
}

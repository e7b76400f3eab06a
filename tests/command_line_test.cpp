// The built executable run as a separate process, the way a person runs it.
#include <csignal>
#include <sys/wait.h>

#include "child.h"
#include "host_machine.h"
#include "installation.h"
#include "udp.h"

namespace {

const std::string usage = "QuarnelSysLog -install          to install the service\n"
                          "QuarnelSysLog -remove           to remove the service\n"
                          "QuarnelSysLog -debug <params>   to run as a console app for debugging\n"
                          "\nStartServiceCtrlDispatcher being called.\n"
                          "This may take several seconds.  Please wait.\n";
const std::string debugging = "Debugging Quarnel SysLog Daemon.\n";
const std::string stopping = "Stopping Quarnel SysLog Daemon.\n";

class Executable : public HostMachine {
protected:
    Child Start(const std::vector<std::string>& arguments) {
        return StartChild(QUARNEL_EXE, arguments, root);
    }
    // Runs the program to its end; returns its exit status, -1 if a signal ended it.
    int Run(const std::vector<std::string>& arguments, std::string* output) {
        Child child = Start(arguments);
        int status = FinishChild(child);
        *output = child.seen;
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }
    // Starts "-debug" and waits until its loop has echoed a first message.
    Child StartDebugging() {
        Child child = Start({"-debug"});
        EXPECT_TRUE(ReadUntil(child, debugging));
        EXPECT_TRUE(WaitFor([&] {
            SendDatagram("<13>ready");
            return ReadUntil(child, "Recv: <13>ready\n", std::chrono::milliseconds(20));
        }));
        return child;
    }
    // Sends Ctrl+C and returns the output after the start-up echoes.
    std::string Stop(Child& child, int signal = SIGINT) {
        ::kill(child.pid, signal);
        int status = FinishChild(child);
        EXPECT_TRUE(WIFEXITED(status));
        EXPECT_EQ(WEXITSTATUS(status), 0);
        auto last = child.seen.rfind("Recv: <13>ready\n");
        return last == std::string::npos ? child.seen : child.seen.substr(last + 16);
    }
};

struct Entry {
    int type;
    int category;
    std::string string;
    bool operator==(const Entry&) const = default;
};

void PrintTo(const Entry& e, std::ostream* os) {
    *os << "{" << e.type << ", " << e.category << ", \"" << e.string << "\"}";
}

// The log's entries after the start-up probes.
std::vector<Entry> EntriesAfterReady() {
    std::vector<Entry> entries;
    for (const auto& event : ReadEventLog()) {
        EXPECT_EQ(event.source, "VezOzuD");
        EXPECT_EQ(event.eventId, 0);
        EXPECT_EQ(event.strings.size(), 1u);
        if (event.strings.at(0) == "ready")
            entries.clear();
        else
            entries.push_back({event.type, event.category, event.strings.at(0)});
    }
    return entries;
}

int Shell(const std::string& command) { return std::system(command.c_str()); }

} // namespace

TEST_F(Executable, DebugEchoesAndLogsWhatLoggerSends) {
    Child child = StartDebugging();
    ASSERT_EQ(Shell("logger --rfc3164 -d -n 127.0.0.1 -P 514 -t probe -p local3.warning 'bsd style'"), 0);
    ASSERT_EQ(Shell("logger --rfc5424 -d -n 127.0.0.1 -P 514 -t probe -p auth.err 'new style'"), 0);
    ASSERT_TRUE(WaitFor([] { return EntriesAfterReady().size() == 2; }));
    std::string output = Stop(child);

    auto entries = EntriesAfterReady();
    ASSERT_EQ(entries.size(), 2u);
    EXPECT_EQ(entries[0].type, EVENTLOG_WARNING_TYPE);
    EXPECT_EQ(entries[0].category, 20);
    EXPECT_TRUE(entries[0].string.ends_with(" probe: bsd style")) << entries[0].string;
    EXPECT_EQ(entries[1].type, EVENTLOG_ERROR_TYPE);
    EXPECT_EQ(entries[1].category, 5);
    EXPECT_TRUE(entries[1].string.starts_with("1 ")) << entries[1].string;
    EXPECT_TRUE(entries[1].string.ends_with(" new style")) << entries[1].string;
    // One line an echo, each the whole datagram; then the stop.
    EXPECT_EQ(output, "Recv: <156>" + entries[0].string + "\nRecv: <35>" + entries[1].string + "\n" + stopping);
}

TEST_F(Executable, DebugTakesPythonsSysLogHandlerWithItsTrailingNul) {
    Child child = StartDebugging();
    ASSERT_EQ(Shell("python3 -c \"import logging, logging.handlers as h; "
                    "l = logging.getLogger('p'); l.addHandler(h.SysLogHandler(('127.0.0.1', 514))); "
                    "l.warning('from python'); l.error('second')\""),
              0);
    ASSERT_TRUE(WaitFor([] { return EntriesAfterReady().size() == 2; }));
    EXPECT_EQ(Stop(child), "Recv: <12>from python\nRecv: <11>second\n" + stopping);
    EXPECT_EQ(EntriesAfterReady(), (std::vector<Entry>{{EVENTLOG_WARNING_TYPE, 2, "from python"},
                                                        {EVENTLOG_ERROR_TYPE, 2, "second"}}));
}

TEST_F(Executable, DebugHandlesAwkwardDatagrams) {
    std::string exact = "<191>" + std::string(1018, 'x');
    std::string oversized = "<0>" + std::string(1497, 'y');
    Child child = StartDebugging();
    SendDatagram("<30>crlf\r\n");
    SendDatagram(std::string("<30>before\0after", 16));
    SendDatagram(exact);
    SendDatagram(oversized);
    SendDatagram("");
    SendDatagram("no header\n");
    SendDatagram("<13>end");
    ASSERT_TRUE(WaitFor([] {
        auto entries = EntriesAfterReady();
        return !entries.empty() && entries.back().string == "end";
    }));
    EXPECT_EQ(Stop(child), "Recv: <30>crlf\nRecv: <30>before\nRecv: " + exact + "\nRecv: " +
                               oversized.substr(0, 1023) + "\nRecv: no header\nRecv: <13>end\n" + stopping);
    EXPECT_EQ(EntriesAfterReady(),
              (std::vector<Entry>{{EVENTLOG_INFORMATION_TYPE, 4, "crlf"},
                                  {EVENTLOG_INFORMATION_TYPE, 4, "before"},
                                  {EVENTLOG_INFORMATION_TYPE, 24, exact.substr(5)},
                                  {EVENTLOG_ERROR_TYPE, 1, oversized.substr(3, 1020)},
                                  {EVENTLOG_INFORMATION_TYPE, 2, "end"}}));
}

TEST_F(Executable, CtrlCAndCtrlBackslashStopWithoutLosingTheLastMessage) {
    for (int signal : {SIGINT, SIGQUIT}) {
        SCOPED_TRACE(signal);
        Child child = StartDebugging();
        SendDatagram("<13>just before the stop");
        // The stop may come while that datagram's pass runs: either line may be first.
        std::string output = Stop(child, signal);
        const std::string echo = "Recv: <13>just before the stop\n";
        EXPECT_TRUE(output == echo + stopping || output == stopping + echo) << output;
        EXPECT_EQ(EntriesAfterReady(), (std::vector<Entry>{{EVENTLOG_INFORMATION_TYPE, 2, "just before the stop"}}));
    }
}

TEST_F(Executable, DebugWithThePortTakenEndsAtOnceAndQuietly) {
    int holder = HoldUdpPort();
    std::string output;
    int status = Run({"/DEBUG"}, &output);
    ReleaseUdpPort(holder);
    EXPECT_EQ(status, 0);
    EXPECT_EQ(output, debugging);
    EXPECT_TRUE(ReadEventLog().empty());
}

TEST_F(Executable, AnythingButACommandPrintsUsageAndLogsThatNoManagerStartedIt) {
    const std::vector<std::vector<std::string>> commandLines = {
        {}, {"-inst"}, {"-installnow"}, {"debug"}, {"--debug"}, {"-"}, {"-debug2"}};
    for (const auto& arguments : commandLines) {
        SCOPED_TRACE(arguments.empty() ? "(none)" : arguments[0]);
        std::filesystem::remove_all(host::Root() / "eventlog");
        std::string output;
        // 1063 (no service control manager) as far as an exit status can carry it here.
        EXPECT_EQ(Run(arguments, &output), 1063 & 0xff);
        EXPECT_EQ(output, usage);
        auto events = ReadEventLog();
        ASSERT_EQ(events.size(), 1u);
        EXPECT_EQ(events[0].type, EVENTLOG_ERROR_TYPE);
        EXPECT_EQ(events[0].category, 0);
        EXPECT_EQ(events[0].strings,
                  (std::vector<std::string>{"VezOzuD error: 1063", "StartServiceCtrlDispatcher failed."}));
    }
}

TEST_F(Executable, TheDebugCommandIgnoresTheCaseOfItsLetters) {
    for (const char* command : {"-debug", "/Debug", "-DEBUG", "/dEbUg"}) {
        SCOPED_TRACE(command);
        int holder = HoldUdpPort(); // so that the loop ends at once
        std::string output;
        EXPECT_EQ(Run({command, "more", "args"}, &output), 0);
        ReleaseUdpPort(holder);
        EXPECT_EQ(output, debugging);
    }
}

TEST_F(Executable, InstallTwiceThenRemoveTwiceLeaveTheMachineAsBefore) {
    const std::string exe = std::filesystem::canonical(QUARNEL_EXE).string();
    const std::string dll = exe.substr(0, exe.size() - 4) + ".DLL";
    struct Step {
        std::vector<std::string> arguments;
        std::string output;
        bool installedAfter;
    };
    const Step steps[] = {
        {{"/INSTALL", "extra", "args"}, "Quarnel SysLog Daemon installed.\n", true},
        {{"-install"}, "CreateService failed - The specified service already exists. (0x431)\n", true},
        {{"-remove"}, "Quarnel SysLog Daemon removed.\n", false},
        {{"-Remove"},
         "OpenService failed - The specified service does not exist as an installed service. (0x424)\n",
         false},
    };
    for (const auto& step : steps) {
        SCOPED_TRACE(step.arguments[0]);
        std::string output;
        EXPECT_EQ(Run(step.arguments, &output), 0);
        EXPECT_EQ(output, step.output);
        auto record = ServiceRecord("VezOzuD");
        auto values = host::RegistryValues(sourceKey);
        ASSERT_EQ(record.has_value(), step.installedAfter);
        ASSERT_EQ(values.has_value(), step.installedAfter);
        if (step.installedAfter) {
            EXPECT_EQ((*record)["display_name"], "Quarnel SysLog Daemon");
            EXPECT_EQ((*record)["binary_path_name"], exe);
            EXPECT_EQ((*record)["service_type"], SERVICE_WIN32_OWN_PROCESS);
            EXPECT_EQ((*record)["start_type"], 3);
            EXPECT_EQ((*record)["error_control"], 1);
            EXPECT_EQ((*record)["service_start_name"], "LocalSystem");
            EXPECT_EQ(*values, SourceValues(dll));
        } else {
            EXPECT_TRUE(host::RegistrySubkeys(applicationKey).has_value());
        }
    }
    EXPECT_TRUE(ReadEventLog().empty());
}

TEST_F(Executable, RemoveStopsARunningServiceAndWaitsForIt) {
    std::string output;
    ASSERT_EQ(Run({"-install"}, &output), 0);
    ASSERT_TRUE(host::ScriptRunningService("VezOzuD", {SERVICE_STOP_PENDING, SERVICE_STOPPED}));
    EXPECT_EQ(Run({"-remove"}, &output), 0);
    EXPECT_EQ(output, "Stopping Quarnel SysLog Daemon..\nQuarnel SysLog Daemon stopped.\n"
                      "Quarnel SysLog Daemon removed.\n");
    EXPECT_FALSE(ServiceRecord("VezOzuD").has_value());
    EXPECT_FALSE(host::RegistryValues(sourceKey).has_value());
}

// The x86-64 build on a Windows implementation: Wine, with its own service
// control manager, registry, registrar, Winsock and event log. One fresh Wine
// prefix serves every case of a run; each case sets up the state it needs.
//
// Wine reports every event log entry on its debug channels (the call on advapi,
// each string on eventlog) and every status report on the service channel; the
// service's process inherits its trace output from the prefix's services.exe,
// which the suite starts with its standard error going to one log file.
#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <map>
#include <optional>
#include <regex>
#include <sstream>
#include <thread>

#include "process.h"
#include "udp.h"
#include "wine_trace.h"

namespace fs = std::filesystem;
using namespace std::chrono_literals;

namespace {

const std::string serviceKey = R"(HKLM\SYSTEM\CurrentControlSet\Services\VezOzuD)";
const std::string applicationKey = R"(HKLM\SYSTEM\CurrentControlSet\Services\EventLog\Application)";
const std::string sourceKey = applicationKey + R"(\VezOzuD)";
// Where a person would put the two files: a folder with blanks in its name,
// which the service's binary path keeps unquoted.
const std::string programFolder = R"(C:\Program Files\Quarnel SysLog)";
const std::string programPath = programFolder + R"(\QuarnelSysLog.exe)";
const std::string messageFilePath = programFolder + R"(\QuarnelSysLog.DLL)";

constexpr std::uint32_t stoppedState = 1, startPendingState = 2, stopPendingState = 3, runningState = 4;

struct Machine {
    std::string skipped; // why the suite cannot run here, if it cannot
    fs::path root;       // the run's temporary folder
    fs::path programDirectory;
    fs::path traceLog; // standard error of services.exe and so of the service
} machine;

Outcome Wine(std::vector<std::string> arguments, const std::string& directory = "") {
    arguments.insert(arguments.begin(), QUARNEL_WINE);
    return Run(arguments, directory);
}

// The executable started from its own folder, as from a prompt there.
Outcome Program(const std::vector<std::string>& arguments) {
    std::vector<std::string> all{"QuarnelSysLog.exe"};
    all.insert(all.end(), arguments.begin(), arguments.end());
    return Wine(all, machine.programDirectory);
}

std::string ReadFile(const fs::path& path, std::size_t from = 0) {
    std::ifstream in(path, std::ios::binary);
    in.seekg(static_cast<std::streamoff>(from));
    std::stringstream all;
    all << in.rdbuf();
    return all.str();
}

std::size_t TraceSize() { return fs::exists(machine.traceLog) ? fs::file_size(machine.traceLog) : 0; }
std::string TraceSince(std::size_t offset) { return ReadFile(machine.traceLog, offset); }

struct Value {
    std::string type;
    std::string data;
    bool operator==(const Value&) const = default;
};
using Values = std::map<std::string, Value>;

// A key's values as `reg query` shows them; nullopt when the key is not there.
std::optional<Values> QueryKey(const std::string& key) {
    Outcome shown = Wine({"reg", "query", key});
    if (shown.status != 0)
        return std::nullopt;
    static const std::regex value(R"(^    (\S+)    (REG_\w+)    (.*?)\r?$)");
    Values values;
    std::istringstream lines(shown.out);
    for (std::string line; std::getline(lines, line);) {
        std::smatch m;
        if (std::regex_match(line, m, value))
            values[m[1]] = {m[2], m[3]};
    }
    return values;
}

struct ServiceState {
    std::uint32_t state = 0;
    std::uint32_t exitCode = 0;
};

ServiceState QueryService() {
    Outcome shown = Wine({"sc", "query", "VezOzuD"});
    ServiceState result;
    std::smatch m;
    static const std::regex state(R"(STATE\s+:\s+(\d+))");
    static const std::regex code(R"(WIN32_EXIT_CODE\s+:\s+(\d+))");
    if (std::regex_search(shown.out, m, state))
        result.state = std::stoul(m[1]);
    if (std::regex_search(shown.out, m, code))
        result.exitCode = std::stoul(m[1]);
    return result;
}

// Polls `done` until it holds or the bound passes; the bound is generous, as
// a machine under load may be slow, and is not what any case checks.
template <typename Check> bool WaitFor(Check done, std::chrono::seconds bound = 30s) {
    auto deadline = std::chrono::steady_clock::now() + bound;
    while (!done()) {
        if (std::chrono::steady_clock::now() >= deadline)
            return false;
        std::this_thread::sleep_for(100ms);
    }
    return true;
}

std::vector<TracedStatus> ReportsSince(std::size_t offset) {
    return TracedStatusReports(TraceSince(offset), "VezOzuD");
}

bool ReachedState(std::size_t offset, std::uint32_t state) {
    for (const auto& report : ReportsSince(offset))
        if (report.state == state)
            return true;
    return false;
}

void EnsureInstalled() {
    if (!QueryKey(serviceKey)) {
        ASSERT_EQ(WithoutCarriageReturns(Program({"-install"}).out), "Quarnel SysLog Daemon installed.\n");
    }
}

void EnsureStopped() {
    std::uint32_t state = QueryService().state;
    if (state != stoppedState && state != 0) {
        Wine({"sc", "stop", "VezOzuD"});
        ASSERT_TRUE(WaitFor([] { return QueryService().state == stoppedState; }));
    }
}

void EnsureRemoved() {
    if (QueryKey(serviceKey))
        Program({"-remove"});
    ASSERT_FALSE(QueryKey(serviceKey));
}

void StartRunningService() {
    std::size_t offset = TraceSize();
    ASSERT_EQ(Wine({"sc", "start", "VezOzuD"}).status, 0);
    ASSERT_TRUE(WaitFor([&] { return ReachedState(offset, runningState); }));
}

class WineMachine : public ::testing::Environment {
public:
    void SetUp() override {
        machine.skipped = WhyNot();
        if (!machine.skipped.empty()) {
            std::cout << "Wine suite skipped: " << machine.skipped << std::endl;
            return;
        }
        auto started = std::chrono::steady_clock::now();
        char name[] = "/tmp/quarnel-wine-XXXXXX";
        machine.root = ::mkdtemp(name);
        fs::create_directories(machine.root / "home");
        // Headless, and nothing of the user's own Wine or desktop.
        ::setenv("WINEPREFIX", (machine.root / "prefix").c_str(), 1);
        ::setenv("HOME", (machine.root / "home").c_str(), 1);
        ::setenv("XDG_CONFIG_HOME", (machine.root / "home/.config").c_str(), 1);
        ::setenv("WINEDLLOVERRIDES", "mscoree,mshtml=", 1);
        ::unsetenv("DISPLAY");
        ::unsetenv("WAYLAND_DISPLAY");
        ::setenv("WINEDEBUG", "-all", 1);
        Outcome booted = Run({QUARNEL_WINE, "wineboot", "-i"}, "", 300s);
        Run({QUARNEL_WINESERVER, "-w"}, "", 120s);
        if (booted.status != 0) {
            machine.skipped = "wineboot -i failed: " + booted.err;
            return;
        }
        auto bootSeconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();

        machine.programDirectory = machine.root / "prefix/drive_c/Program Files/Quarnel SysLog";
        fs::create_directories(machine.programDirectory);
        for (const char* file : {"QuarnelSysLog.exe", "QuarnelSysLog.dll"})
            fs::copy_file(fs::path(QUARNEL_WINDOWS_X64_DIR) / file, machine.programDirectory / file);

        // A server that outlives the gaps between commands, so that services.exe,
        // started by the first process of the session, keeps its trace output in
        // our log; it still ends by itself a minute after a run that was killed.
        Run({QUARNEL_WINESERVER, "-p60"});
        ::setenv("WINEDEBUG", "-all,err+all,+eventlog,fixme+advapi,+service,+pid", 1);
        machine.traceLog = machine.root / "trace.log";
        Process session = Start({QUARNEL_WINE, "cmd", "/c", "exit"}, "", machine.traceLog);
        Finish(session);
        auto readySeconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
        std::cout << "Wine prefix " << machine.root << ": wineboot -i " << bootSeconds
                  << " s, ready after " << readySeconds << " s" << std::endl;
    }

    void TearDown() override {
        if (machine.root.empty())
            return;
        Run({QUARNEL_WINESERVER, "-k"});
        if (std::getenv("QUARNEL_KEEP_WINE_PREFIX"))
            std::cout << "Kept " << machine.root << std::endl;
        else
            fs::remove_all(machine.root);
    }

private:
    static std::string WhyNot() {
        if (!fs::exists(fs::path(QUARNEL_WINDOWS_X64_DIR) / "QuarnelSysLog.exe"))
            return "no x86-64 Windows build in " QUARNEL_WINDOWS_X64_DIR
                   " (cmake --preset windows-x64 && cmake --build --preset windows-x64)";
        if (std::string(QUARNEL_WINE).empty() || std::string(QUARNEL_WINESERVER).empty())
            return "Wine is not installed (apt-get install wine64)";
        if (std::string(QUARNEL_LOGGER).empty())
            return "logger is not installed (apt-get install bsdutils)";
        return "";
    }
};

const auto* const registered = ::testing::AddGlobalTestEnvironment(new WineMachine);

class Windows : public ::testing::Test {
protected:
    void SetUp() override {
        if (!machine.skipped.empty())
            GTEST_SKIP() << machine.skipped;
    }
};

TEST_F(Windows, InstallCreatesTheServiceAndRegistersTheEventSource) {
    EnsureRemoved();
    Outcome installed = Program({"-install"});
    EXPECT_EQ(installed.status, 0);
    EXPECT_EQ(WithoutCarriageReturns(installed.out), "Quarnel SysLog Daemon installed.\n");

    auto service = QueryKey(serviceKey);
    ASSERT_TRUE(service);
    EXPECT_EQ(service->at("Type"), (Value{"REG_DWORD", "0x10"}));        // own process
    EXPECT_EQ(service->at("Start"), (Value{"REG_DWORD", "0x3"}));        // demand start
    EXPECT_EQ(service->at("ErrorControl"), (Value{"REG_DWORD", "0x1"})); // normal
    EXPECT_EQ(service->at("ImagePath"), (Value{"REG_SZ", programPath}));
    EXPECT_EQ(service->at("ObjectName"), (Value{"REG_SZ", "LocalSystem"}));
    EXPECT_EQ(service->at("DisplayName"), (Value{"REG_SZ", "Quarnel SysLog Daemon"}));
    EXPECT_FALSE(service->count("DependOnService") && !service->at("DependOnService").data.empty());

    EXPECT_EQ(QueryKey(sourceKey), (Values{
                                       {"CategoryCount", {"REG_DWORD", "0x18"}},
                                       {"CategoryMessageFile", {"REG_SZ", messageFilePath}},
                                       {"EventMessageFile", {"REG_SZ", messageFilePath}},
                                       {"TypesSupported", {"REG_DWORD", "0x7"}},
                                   }));
}

TEST_F(Windows, InstallingAgainFailsAndLeavesTheEventSourceAlone) {
    EnsureInstalled();
    // A mark that a second registration would wipe out.
    ASSERT_EQ(Wine({"reg", "add", sourceKey, "/v", "CategoryCount", "/t", "REG_DWORD", "/d", "99", "/f"}).status, 0);
    Outcome again = Program({"-install"});
    EXPECT_EQ(again.status, 0);
    EXPECT_TRUE(std::regex_match(WithoutCarriageReturns(again.out),
                                 std::regex(R"(CreateService failed - \S.* \(0x431\)\n)")))
        << again.out;
    auto source = QueryKey(sourceKey);
    ASSERT_TRUE(source);
    EXPECT_EQ(source->at("CategoryCount").data, "0x63");
    Wine({"reg", "add", sourceKey, "/v", "CategoryCount", "/t", "REG_DWORD", "/d", "24", "/f"});
}

TEST_F(Windows, MessageFileAsRegisteredFormatsEntriesAndCategories) {
    EnsureInstalled();
    auto source = QueryKey(sourceKey);
    ASSERT_TRUE(source);
    const std::string probe = QUARNEL_WINDOWS_X64_DIR "/tests/wine_probe.exe";

    // Message 0 shows the first string: a syslog entry's only one, an error
    // entry's code line (its second string stays in the entry's data).
    Outcome syslog = Wine({probe, "messages", source->at("EventMessageFile").data, "0", "su: session opened"});
    EXPECT_EQ(syslog.out, "0: su: session opened\\r\\n\r\n");
    Outcome error = Wine({probe, "messages", source->at("EventMessageFile").data, "0", "VezOzuD error: 10048",
                          "Error binding socket to port 514"});
    EXPECT_EQ(error.out, "0: VezOzuD error: 10048\\r\\n\r\n");

    const char* facilities[] = {"kern",  "user",   "mail",   "daemon", "auth",   "syslog", "lpr",    "news",
                                "uucp",  "cron",   "authpriv", "ftp",  "ntp",    "audit",  "alert",  "clock",
                                "local0", "local1", "local2", "local3", "local4", "local5", "local6", "local7"};
    std::string expected;
    for (int category = 1; category <= 24; ++category)
        expected += std::to_string(category) + ": " + facilities[category - 1] + "\\r\\n\r\n";
    Outcome categories = Wine({probe, "messages", source->at("CategoryMessageFile").data, "1-24"});
    EXPECT_EQ(categories.status, 0);
    EXPECT_EQ(categories.out, expected);
    // Exactly the 24 that the source declares.
    EXPECT_NE(Wine({probe, "messages", source->at("CategoryMessageFile").data, "25"}).status, 0);
}

TEST_F(Windows, BothFilesCarryTheProductVersion) {
    struct Case {
        const char* file;
        const char* description;
        const char* type; // VFT_APP, VFT_DLL
    };
    for (const Case& c : {Case{"QuarnelSysLog.exe", "Quarnel SysLog Daemon", "1"},
                          Case{"QuarnelSysLog.dll", "Quarnel SysLog Daemon event messages", "2"}}) {
        Outcome shown = Wine({QUARNEL_WINDOWS_X64_DIR "/tests/wine_probe.exe", "version", c.file},
                             machine.programDirectory);
        std::string out = WithoutCarriageReturns(shown.out);
        EXPECT_NE(out.find("FileVersion: " QUARNEL_VERSION ".0\n"), std::string::npos) << out;
        EXPECT_NE(out.find(std::string("FileType: ") + c.type + "\n"), std::string::npos) << out;
        EXPECT_NE(out.find("ProductName: Quarnel SysLog Daemon\n"), std::string::npos) << out;
        EXPECT_NE(out.find(std::string("FileDescription: ") + c.description + "\n"), std::string::npos) << out;
        EXPECT_NE(out.find(std::string("OriginalFilename: ") + c.file + "\n"), std::string::npos) << out;
    }
}

TEST_F(Windows, StartedByHandPrintsUsageAndLogsThatNoServiceControlManagerStartedIt) {
    Outcome started = Program({});
    EXPECT_EQ(WithoutCarriageReturns(started.out), "QuarnelSysLog -install          to install the service\n"
                                                   "QuarnelSysLog -remove           to remove the service\n"
                                                   "QuarnelSysLog -debug <params>   to run as a console app for debugging\n"
                                                   "\nStartServiceCtrlDispatcher being called.\n"
                                                   "This may take several seconds.  Please wait.\n");
    // This process was started by the suite: its traces are on its own standard error.
    auto entries = TracedEntries(started.err);
    ASSERT_EQ(entries.size(), 1u) << started.err;
    EXPECT_EQ(entries[0].type, 1u);
    EXPECT_EQ(entries[0].category, 0u);
    EXPECT_EQ(entries[0].eventId, 0u);
    EXPECT_EQ(entries[0].strings,
              (std::vector<std::string>{"VezOzuD error: 1063", "StartServiceCtrlDispatcher failed."}));
}

TEST_F(Windows, TheServiceTurnsDatagramsIntoEntriesUntilStopped) {
    EnsureInstalled();
    EnsureStopped();
    std::size_t offset = TraceSize();
    Outcome started = Wine({"net", "start", "VezOzuD"});
    EXPECT_EQ(started.status, 0) << started.out;
    ASSERT_TRUE(WaitFor([&] { return ReachedState(offset, runningState); }));
    EXPECT_EQ(QueryService().state, runningState);
    EXPECT_EQ(ReportsSince(offset), (std::vector<TracedStatus>{
                                        {0x10, startPendingState, 0, 0, 0, 1, 3000},
                                        {0x10, startPendingState, 0, 0, 0, 2, 3000},
                                        {0x10, runningState, 1, 0, 0, 0, 0},
                                    }));

    struct Sent {
        std::string datagram;
        bool written;
        TracedEntry entry;
    };
    const std::vector<Sent> sent = {
        {"<13>hello\n", true, {4, 2, 0, {"hello"}}},
        {"<0>kernel: panic", true, {1, 1, 0, {"kernel: panic"}}},
        {"<164>disk almost full", true, {2, 21, 0, {"disk almost full"}}},
        {"<191>last facility, debug", true, {4, 24, 0, {"last facility, debug"}}},
        {"<13>a>b", true, {4, 2, 0, {"a>b"}}},
        {"<30>crlf\r\n", true, {4, 4, 0, {"crlf"}}},
        {"<13>", true, {4, 2, 0, {""}}},
        {"no header", false, {}},
        {"", false, {}},
        {"<>no number", false, {}},
    };
    std::vector<TracedEntry> expected;
    for (const Sent& s : sent) {
        SendDatagram(s.datagram);
        if (s.written)
            expected.push_back(s.entry);
    }
    // Last, so that once it is there every datagram before it has been handled.
    Outcome logged = ::Run({QUARNEL_LOGGER, "-n", "127.0.0.1", "-P", "514", "-d", "--rfc3164", "-t", "quarnel-test",
                          "-p", "local3.err", "hello from logger"});
    ASSERT_EQ(logged.status, 0) << logged.err;

    std::vector<TracedEntry> entries;
    WaitFor([&] {
        entries = TracedEntries(TraceSince(offset));
        return entries.size() >= expected.size() + 1;
    });
    ASSERT_EQ(entries.size(), expected.size() + 1) << TraceSince(offset);
    for (std::size_t i = 0; i < expected.size(); ++i) {
        EXPECT_EQ(entries[i].type, expected[i].type) << Describe(entries[i]);
        EXPECT_EQ(entries[i].category, expected[i].category) << Describe(entries[i]);
        EXPECT_EQ(entries[i].eventId, 0u) << Describe(entries[i]);
        EXPECT_EQ(entries[i].strings, expected[i].strings) << Describe(entries[i]);
    }
    // local3 is facility 19; err is severity 3. logger puts its own time stamp
    // and host name before the tag: they stay in the string.
    const TracedEntry& fromLogger = entries.back();
    EXPECT_EQ(fromLogger.type, 1u);
    EXPECT_EQ(fromLogger.category, 20u);
    ASSERT_EQ(fromLogger.strings.size(), 1u);
    EXPECT_TRUE(std::regex_match(fromLogger.strings[0],
                                 std::regex(R"(\w{3} [ \d]\d \d\d:\d\d:\d\d \S+ quarnel-test: hello from logger)")))
        << fromLogger.strings[0];

    EXPECT_EQ(Wine({"sc", "stop", "VezOzuD"}).status, 0);
    ASSERT_TRUE(WaitFor([&] { return ReachedState(offset, stoppedState); }));
    ServiceState stopped = QueryService();
    EXPECT_EQ(stopped.state, stoppedState);
    EXPECT_EQ(stopped.exitCode, 0u);
    EXPECT_EQ(ReportsSince(offset), (std::vector<TracedStatus>{
                                        {0x10, startPendingState, 0, 0, 0, 1, 3000},
                                        {0x10, startPendingState, 0, 0, 0, 2, 3000},
                                        {0x10, runningState, 1, 0, 0, 0, 0},
                                        {0x10, stopPendingState, 1, 0, 0, 3, 0},
                                        {0x10, stoppedState, 1, 0, 0, 0, 0},
                                    }));
}

TEST_F(Windows, WithThePortHeldTheServiceStopsWithTheBindError) {
    EnsureInstalled();
    EnsureStopped();
    int held = HoldUdpPort(514);
    std::size_t offset = TraceSize();
    Wine({"sc", "start", "VezOzuD"});
    bool ended = WaitFor([&] { return ReachedState(offset, stoppedState); });
    ReleaseUdpPort(held);
    ASSERT_TRUE(ended);

    ServiceState stopped = QueryService();
    EXPECT_EQ(stopped.state, stoppedState);
    EXPECT_EQ(stopped.exitCode, 10048u);
    EXPECT_EQ(ReportsSince(offset), (std::vector<TracedStatus>{
                                        {0x10, startPendingState, 0, 0, 0, 1, 3000},
                                        {0x10, startPendingState, 0, 0, 0, 2, 3000},
                                        {0x10, stoppedState, 1, 10048, 0, 0, 0},
                                    }));
    auto entries = TracedEntries(TraceSince(offset));
    ASSERT_EQ(entries.size(), 1u);
    EXPECT_EQ(entries[0].type, 1u);
    EXPECT_EQ(entries[0].category, 0u);
    EXPECT_EQ(entries[0].strings,
              (std::vector<std::string>{"VezOzuD error: 10048", "Error binding socket to port 514"}));
}

TEST_F(Windows, DebugRunsInTheConsoleUntilCtrlC) {
    EnsureStopped();
    Process debug = Start({QUARNEL_WINE, "QuarnelSysLog.exe", "-debug"}, machine.programDirectory);
    ASSERT_TRUE(ReadUntil(debug, "Debugging Quarnel SysLog Daemon.", 30s)) << debug.seen.out;
    // Sent until one is echoed: then the socket is bound and the handler installed.
    bool echoed = WaitFor([&] {
        SendDatagram("<13>ping\n");
        return ReadUntil(debug, "Recv: ", 500ms);
    });
    EXPECT_TRUE(echoed);
    ASSERT_TRUE(ReadUntil(debug, "\n", 1s));
    // Wine turns SIGINT into CTRL_C_EVENT for the process.
    ::kill(debug.pid, SIGINT);
    Outcome ended = Finish(debug, 30s);
    EXPECT_EQ(ended.status, 0);
    std::string out = WithoutCarriageReturns(ended.out);
    EXPECT_EQ(out.rfind("Debugging Quarnel SysLog Daemon.\nRecv: <13>ping\n", 0), 0u) << out;
    EXPECT_TRUE(out.ends_with("Stopping Quarnel SysLog Daemon.\n")) << out;
}

TEST_F(Windows, RemoveStopsTheRunningServiceAndUnregistersTheEventSource) {
    EnsureInstalled();
    EnsureStopped();
    StartRunningService();
    Outcome removed = Program({"-remove"});
    EXPECT_EQ(removed.status, 0);
    EXPECT_EQ(WithoutCarriageReturns(removed.out), "Stopping Quarnel SysLog Daemon.\n"
                                                   "Quarnel SysLog Daemon stopped.\n"
                                                   "Quarnel SysLog Daemon removed.\n");
    EXPECT_FALSE(QueryKey(serviceKey));
    EXPECT_FALSE(QueryKey(sourceKey));
    EXPECT_TRUE(QueryKey(applicationKey));
}

TEST_F(Windows, RemovingAStoppedServiceDeletesItWithoutStopping) {
    EnsureInstalled();
    EnsureStopped();
    Outcome removed = Program({"-remove"});
    EXPECT_EQ(WithoutCarriageReturns(removed.out), "Quarnel SysLog Daemon removed.\n");
    EXPECT_FALSE(QueryKey(serviceKey));
    EXPECT_FALSE(QueryKey(sourceKey));
}

TEST_F(Windows, RemoveWhenNotInstalledNamesTheMissingService) {
    EnsureRemoved();
    Outcome removed = Program({"-remove"});
    EXPECT_EQ(removed.status, 0);
    EXPECT_TRUE(std::regex_match(WithoutCarriageReturns(removed.out),
                                 std::regex(R"(OpenService failed - \S.* \(0x424\)\n)")))
        << removed.out;
    EXPECT_TRUE(QueryKey(applicationKey));
}

} // namespace

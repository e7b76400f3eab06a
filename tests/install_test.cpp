#include <cstring>

#include "install/install.h"
#include "installation.h"

namespace {

enum class Source { Registered, Absent, Unchanged };

struct Case {
    const char* name;
    bool installed;                     // installed and registered beforehand
    std::vector<DWORD> statesAfterStop; // scripts a running service; empty: stopped
    const char* failing;                // platform call that fails with code 5
    void (*command)();
    std::string output;
    size_t waits; // of 1000 ms each
    bool serviceLeft;
    Source source;
};

const std::string name = "Quarnel SysLog Daemon";

const Case cases[] = {
    {"Install", false, {}, nullptr, InstallService, name + " installed.\n", 0, true, Source::Registered},
    {"InstallAgain", true, {}, nullptr, InstallService,
     "CreateService failed - The specified service already exists. (0x431)\n", 0, true, Source::Unchanged},
    {"InstallWithoutOwnPath", false, {}, "GetModuleFileNameA", InstallService,
     "Unable to install " + name + " - Access is denied. (0x5)\n", 0, false, Source::Unchanged},
    {"InstallWithoutManager", false, {}, "OpenSCManagerA", InstallService,
     "OpenSCManager failed - Access is denied. (0x5)\n", 0, false, Source::Unchanged},
    {"RemoveStopped", true, {}, nullptr, RemoveService, name + " removed.\n", 0, false, Source::Absent},
    {"RemoveRunningThatStopsWithinASecond", true, {SERVICE_STOPPED}, nullptr, RemoveService,
     "Stopping " + name + ".\n" + name + " stopped.\n" + name + " removed.\n", 1, false, Source::Absent},
    {"RemoveRunningThatStopsAfterThreeQueries", true,
     {SERVICE_STOP_PENDING, SERVICE_STOP_PENDING, SERVICE_STOP_PENDING, SERVICE_STOPPED}, nullptr, RemoveService,
     "Stopping " + name + "....\n" + name + " stopped.\n" + name + " removed.\n", 4, false, Source::Absent},
    // Marked for deletion, it stays in the database while it runs.
    {"RemoveRunningThatFailsToStop", true, {SERVICE_STOP_PENDING, SERVICE_RUNNING}, nullptr, RemoveService,
     "Stopping " + name + "..\n" + name + " failed to stop.\n" + name + " removed.\n", 2, true, Source::Absent},
    {"RemoveWhileTheStatusCannotBeQueried", true, {SERVICE_STOPPED}, "QueryServiceStatus", RemoveService,
     "Stopping " + name + ".\n" + name + " failed to stop.\n" + name + " removed.\n", 1, true, Source::Absent},
    {"RemoveNotInstalled", false, {}, nullptr, RemoveService,
     "OpenService failed - The specified service does not exist as an installed service. (0x424)\n", 0, false,
     Source::Unchanged},
    {"RemoveWhenDeleteFails", true, {}, "DeleteService", RemoveService,
     "DeleteService failed - Access is denied. (0x5)\n", 0, true, Source::Unchanged},
    {"RemoveWithoutManager", true, {}, "OpenSCManagerA", RemoveService,
     "OpenSCManager failed - Access is denied. (0x5)\n", 0, true, Source::Unchanged},
};

void PrintTo(const Case& c, std::ostream* os) { *os << c.name; }

class Commands : public Installation, public ::testing::WithParamInterface<Case> {};

} // namespace

TEST_P(Commands, PrintTheirLinesAndLeaveTheMachineAsTheySay) {
    const Case& c = GetParam();
    if (c.installed) {
        Output(InstallService);
        ASSERT_EQ(host::RegistryValues(sourceKey), SourceValues((folder / "QuarnelSysLog.DLL").string()));
    }
    if (!c.statesAfterStop.empty()) {
        ASSERT_TRUE(host::ScriptRunningService("VezOzuD", c.statesAfterStop));
    }
    if (c.failing)
        host::FailCall(c.failing, ERROR_ACCESS_DENIED);
    host::RecordSleeps(true);
    std::string registryBefore = RegistrySnapshot();

    EXPECT_EQ(Output(c.command), c.output);

    EXPECT_EQ(host::Sleeps(), std::vector<DWORD>(c.waits, 1000));
    EXPECT_EQ(ServiceRecord("VezOzuD").has_value(), c.serviceLeft);
    switch (c.source) {
    case Source::Registered:
        EXPECT_EQ(host::RegistryValues(sourceKey), SourceValues((folder / "QuarnelSysLog.DLL").string()));
        break;
    case Source::Absent:
        EXPECT_EQ(host::RegistryValues(sourceKey), std::nullopt);
        EXPECT_TRUE(host::RegistryValues(applicationKey).has_value());
        break;
    case Source::Unchanged:
        EXPECT_EQ(RegistrySnapshot(), registryBefore);
        break;
    }
    EXPECT_TRUE(ReadEventLog().empty());
    EXPECT_EQ(host::OpenHandles(), 0);
}

INSTANTIATE_TEST_SUITE_P(Table, Commands, ::testing::ValuesIn(cases),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(Installation, TheServiceIsCreatedWithEverySetting) {
    Output(InstallService);
    auto service = ServiceRecord("VezOzuD");
    ASSERT_TRUE(service.has_value());
    EXPECT_EQ(service->at("display_name"), "Quarnel SysLog Daemon");
    EXPECT_EQ(service->at("service_type"), SERVICE_WIN32_OWN_PROCESS);
    EXPECT_EQ(service->at("start_type"), SERVICE_DEMAND_START);
    EXPECT_EQ(service->at("error_control"), SERVICE_ERROR_NORMAL);
    // The path as reported, blanks and all: no quotation marks, no arguments.
    EXPECT_EQ(service->at("binary_path_name"), modulePath.string());
    EXPECT_TRUE(service->at("load_order_group").is_null());
    EXPECT_TRUE(service->at("tag_id").is_null());
    EXPECT_EQ(service->at("dependencies"), nlohmann::json::array());
    EXPECT_EQ(service->at("service_start_name"), "LocalSystem");
    EXPECT_EQ(service->at("password_given"), false);
    EXPECT_EQ(service->at("status").at("current_state"), SERVICE_STOPPED);
}

namespace {

struct Text {
    const char* name;
    DWORD code;
    std::optional<std::string> systemText; // set for the code; nullopt: the machine's own
    std::string described;
};

const Text texts[] = {
    {"SystemText", ERROR_SERVICE_DOES_NOT_EXIST, std::nullopt,
     "The specified service does not exist as an installed service. (0x424)"},
    {"LongestThatFits", 0xE0001234, std::string(240, 'a') + "\r\n", std::string(240, 'a') + " (0xe0001234)"},
    {"OneTooLong", 0xE0001234, std::string(241, 'a') + "\r\n", ""},
    {"UnknownCode", 0xE0005678, std::nullopt, ""},
    // Asked for without ignoring inserts, a text that has some is not given.
    {"TextWithInserts", ERROR_BAD_EXE_FORMAT, std::nullopt, ""},
    // Too short to end in a line break: kept whole.
    {"OneCharacter", 0x2A, std::string("x"), "x (0x2a)"},
    {"LineBreakOnly", 0x2B, std::string("\r\n"), " (0x2b)"},
};

void PrintTo(const Text& t, std::ostream* os) { *os << t.name; }

class ErrorText : public Installation, public ::testing::WithParamInterface<Text> {};

} // namespace

TEST_P(ErrorText, IsTheSystemTextAndCodeWhenItFits) {
    const Text& t = GetParam();
    if (t.systemText)
        host::SetMessageText(t.code, *t.systemText);
    std::memset(errorText, '#', sizeof errorText);
    SetLastError(t.code);
    EXPECT_EQ(DescribeLastError(errorText, 256), errorText);
    EXPECT_EQ(std::string(errorText), t.described);
    EXPECT_EQ(host::OpenHandles(), 0);
}

INSTANTIATE_TEST_SUITE_P(Table, ErrorText, ::testing::ValuesIn(texts),
                         [](const auto& info) { return std::string(info.param.name); });

#include <algorithm>
#include <fstream>

#include "install/install.h"
#include "installation.h"

namespace {

std::string Expected(const std::filesystem::path& folder, const char* file) { return (folder / file).string(); }

int Count(const std::string& function) {
    auto calls = host::Calls();
    return static_cast<int>(std::count(calls.begin(), calls.end(), function));
}

} // namespace

TEST(RegistryScript, IsCarriedByteForByteInTheProgramAndTheTests) {
    const std::pair<int, const char*> lines[] = {
        {0, "HKLM"}, {0, "{"}, {1, "NoRemove SYSTEM"}, {1, "{"}, {2, "NoRemove CurrentControlSet"}, {2, "{"},
        {3, "NoRemove Services"}, {3, "{"}, {4, "NoRemove EventLog"}, {4, "{"}, {5, "NoRemove Application"},
        {5, "{"}, {6, "ForceRemove VezOzuD"}, {6, "{"}, {7, "val 'EventMessageFile' = s '%DLLNAME%'"},
        {7, "val 'TypesSupported' = d '7'"}, {7, "val 'CategoryMessageFile' = s '%DLLNAME%'"},
        {7, "val 'CategoryCount' = d '24'"}, {6, "}"}, {5, "}"}, {4, "}"}, {3, "}"}, {2, "}"}, {1, "}"}, {0, "}"},
    };
    std::string script;
    for (const auto& [tabs, text] : lines)
        script += (script.empty() ? "" : "\r\n") + std::string(tabs, '\t') + text;
    ASSERT_EQ(script.size(), 406u);

    std::ifstream source(REGISTRY_SCRIPT, std::ios::binary);
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(source), {}), script);
    EXPECT_EQ(host::ModuleResource(QUARNEL_EXE, "REGISTRY", 101), script);
    EXPECT_EQ(host::ModuleResource("/proc/self/exe", "REGISTRY", 101), script);
}

TEST_F(Installation, RegisteringWritesTheFourValuesWithTheMessageFileBesideTheProgram) {
    UpdateEventSourceRegistration(true);
    EXPECT_EQ(host::RegistryValues(sourceKey), SourceValues(Expected(folder, "QuarnelSysLog.DLL")));
    EXPECT_EQ(host::RegistrySubkeys(sourceKey), std::vector<std::string>{});
    EXPECT_EQ(host::OpenHandles(), 0);
}

TEST_F(Installation, RegisteringAgainRecreatesTheKey) {
    UpdateEventSourceRegistration(true);
    host::SetRegistryValue(sourceKey, "Stale", {REG_SZ, "left over", 0});
    host::SetRegistryValue(sourceKey + "\\Stale", "Stale", {REG_DWORD, "", 1});

    UpdateEventSourceRegistration(true);
    EXPECT_EQ(host::RegistryValues(sourceKey), SourceValues(Expected(folder, "QuarnelSysLog.DLL")));
    EXPECT_EQ(host::RegistrySubkeys(sourceKey), std::vector<std::string>{});
    EXPECT_EQ(host::RegistrySubkeys(applicationKey), std::vector<std::string>{"VezOzuD"});
}

TEST_F(Installation, UnregisteringRemovesOnlyTheSourceKey) {
    host::SetRegistryValue(applicationKey + "\\Other", "EventMessageFile", {REG_SZ, "other.dll", 0});
    UpdateEventSourceRegistration(true);

    UpdateEventSourceRegistration(false);
    EXPECT_EQ(host::RegistryValues(sourceKey), std::nullopt);
    EXPECT_EQ(host::RegistrySubkeys(applicationKey), std::vector<std::string>{"Other"});
    EXPECT_EQ(host::RegistryValues(applicationKey + "\\Other")->size(), 1u);

    std::string before = RegistrySnapshot();
    host::ClearCalls();
    UpdateEventSourceRegistration(false);
    EXPECT_EQ(Count("ResourceUnregister"), 1);
    EXPECT_EQ(RegistrySnapshot(), before);
    EXPECT_EQ(host::OpenHandles(), 0);
}

namespace {

struct ModuleName {
    const char* name;
    std::string file;
    std::optional<std::string> messageFile; // nullopt: nothing registered
};

const ModuleName moduleNames[] = {
    {"UpperCase", "QuarnelSysLog.EXE", "QuarnelSysLog.DLL"},
    {"LowerCase", "QuarnelSysLog.exe", "QuarnelSysLog.DLL"},
    {"MixedCase", "Syslog.eXe", "Syslog.DLL"},
    {"NoExtension", "QuarnelSysLog", std::nullopt},
    {"OtherExtension", "QuarnelSysLog.com", std::nullopt},
    {"ExeNotLast", "QuarnelSysLog.exe.old", std::nullopt},
};

void PrintTo(const ModuleName& m, std::ostream* os) { *os << m.name; }

class ProgramName : public Installation, public ::testing::WithParamInterface<ModuleName> {};

} // namespace

TEST_P(ProgramName, GivesTheMessageFileOrNothing) {
    const ModuleName& m = GetParam();
    std::filesystem::remove(modulePath);
    UseModuleName(m.file);
    host::ClearCalls();

    EXPECT_EQ(Output([] { UpdateEventSourceRegistration(true); }), "");
    if (m.messageFile) {
        EXPECT_EQ(host::RegistryValues(sourceKey), SourceValues(Expected(folder, m.messageFile->c_str())));
    } else {
        // Created and released, but no replacement and no script.
        EXPECT_EQ(RegistrySnapshot(), "");
        EXPECT_EQ(Count("CoCreateInstance"), 1);
        EXPECT_EQ(Count("AddReplacement"), 0);
        EXPECT_EQ(Count("ResourceRegister"), 0);
    }
    EXPECT_EQ(host::OpenHandles(), 0);
}

INSTANTIATE_TEST_SUITE_P(Table, ProgramName, ::testing::ValuesIn(moduleNames),
                         [](const auto& info) { return std::string(info.param.name); });

namespace {

struct Failure {
    const char* name;
    const char* call; // nullptr: the module carries no registry script
    DWORD code;
    int releases; // of the registrar's references
};

const Failure failures[] = {
    {"RegistrarNotCreated", "CoCreateInstance", static_cast<DWORD>(REGDB_E_CLASSNOTREG), 0},
    {"RegistrarNotRunning", "OleRun", static_cast<DWORD>(E_FAIL), 1},
    {"NoRegistrarInterface", "QueryInterface", static_cast<DWORD>(E_NOINTERFACE), 1},
    {"NoOwnPath", "GetModuleFileNameW", ERROR_ACCESS_DENIED, 2},
    {"ScriptFails", "ResourceRegister", static_cast<DWORD>(DISP_E_EXCEPTION), 2},
    {"NoScriptInTheModule", nullptr, 0, 2},
};

void PrintTo(const Failure& f, std::ostream* os) { *os << f.name; }

class RegistrationFailure : public Installation, public ::testing::WithParamInterface<Failure> {};

} // namespace

TEST_P(RegistrationFailure, ChangesNothingAndSaysNothing) {
    const Failure& f = GetParam();
    if (f.call) {
        host::FailCall(f.call, f.code);
    } else {
        std::filesystem::remove(modulePath);
        std::filesystem::copy_file("/bin/true", modulePath);
    }
    host::ClearCalls();

    EXPECT_EQ(Output([] { UpdateEventSourceRegistration(true); }), "");
    EXPECT_EQ(RegistrySnapshot(), "");
    EXPECT_EQ(Count("Release"), f.releases);
    EXPECT_EQ(host::Calls().back(), "CoUninitialize");
    EXPECT_EQ(host::OpenHandles(), 0);
}

INSTANTIATE_TEST_SUITE_P(Table, RegistrationFailure, ::testing::ValuesIn(failures),
                         [](const auto& info) { return std::string(info.param.name); });

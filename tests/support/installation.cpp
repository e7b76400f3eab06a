#include "installation.h"

#include <cstdio>
#include <fstream>
#include <sstream>

void Installation::SetUp() {
    HostMachine::SetUp();
    host::ClearMessageTexts();
    host::RecordSleeps(true);
    folder = std::filesystem::path(root) / "Quarnel Sys Log";
    std::filesystem::create_directories(folder);
    UseModuleName("QuarnelSysLog.exe");
}

void Installation::TearDown() {
    host::SetModulePath({});
    host::RecordSleeps(false);
    host::ClearMessageTexts();
    HostMachine::TearDown();
}

std::filesystem::path Installation::UseModuleName(const std::string& name) {
    modulePath = folder / name;
    std::filesystem::create_symlink(std::filesystem::read_symlink("/proc/self/exe"), modulePath);
    host::SetModulePath(modulePath);
    return modulePath;
}

std::string Output(const std::function<void()>& command) {
    testing::internal::CaptureStdout();
    command();
    std::fflush(stdout);
    return testing::internal::GetCapturedStdout();
}

std::map<std::string, host::RegistryValue> SourceValues(const std::string& dll) {
    return {{"EventMessageFile", {REG_SZ, dll, 0}},
            {"TypesSupported", {REG_DWORD, "", 7}},
            {"CategoryMessageFile", {REG_SZ, dll, 0}},
            {"CategoryCount", {REG_DWORD, "", 24}}};
}

std::string RegistrySnapshot() {
    std::ifstream file(host::RegistryFile(), std::ios::binary);
    std::ostringstream content;
    content << file.rdbuf();
    return content.str();
}

std::optional<nlohmann::json> ServiceRecord(const std::string& name) {
    std::ifstream file(host::ServiceDatabase());
    if (!file)
        return std::nullopt;
    auto database = nlohmann::json::parse(file);
    for (const auto& service : database.at("services"))
        if (service.at("name") == name)
            return service;
    return std::nullopt;
}

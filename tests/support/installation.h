// A host machine on which the process's own module is "QuarnelSysLog.exe" in a
// folder whose name has blanks (a link to the test executable, which carries the
// same resources as the program), and Sleep only records.
#pragma once

#include <functional>
#include <optional>
#include <string>

#include <nlohmann/json.hpp>

#include "host_machine.h"
#include "platform/host/testing_install.h"

inline const std::string sourceKey = "HKLM\\SYSTEM\\CurrentControlSet\\Services\\EventLog\\Application\\VezOzuD";
inline const std::string applicationKey = "HKLM\\SYSTEM\\CurrentControlSet\\Services\\EventLog\\Application";

class Installation : public HostMachine {
protected:
    void SetUp() override;
    void TearDown() override;

    // Makes the module path `name` in the fixture's folder, linked to the test executable.
    std::filesystem::path UseModuleName(const std::string& name);

    std::filesystem::path folder;     // "<root>/Quarnel Sys Log"
    std::filesystem::path modulePath; // what GetModuleFileNameA/W report
};

// What `command` printed to standard output.
std::string Output(const std::function<void()>& command);

// The four values that registration writes, for the message file at `dll`.
std::map<std::string, host::RegistryValue> SourceValues(const std::string& dll);

// The registry file's bytes; empty when there is none.
std::string RegistrySnapshot();

// The service's record in the service control manager's database, if any.
std::optional<nlohmann::json> ServiceRecord(const std::string& name);

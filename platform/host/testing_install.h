// What tests may do to the parts of the host machine that installing touches:
// the service control manager's database, the registry, module resources, the
// system's message texts, the reported module path and Sleep.
#pragma once

#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "win32.h"

namespace host {

// The database file (JSON) under Root().
std::filesystem::path ServiceDatabase();

// Makes an installed service run: it reports SERVICE_RUNNING and accepts the stop
// control. After a stop control each status query reports the next of
// `statesAfterStop` (the control itself answers SERVICE_STOP_PENDING); the last
// one then holds. Kept in the database, so other processes see it too. False
// when the service is not installed.
bool ScriptRunningService(const std::string& name, const std::vector<DWORD>& statesAfterStop);

// The registry file (JSON, written whole through a rename) under Root().
std::filesystem::path RegistryFile();

struct RegistryValue {
    DWORD type;       // REG_SZ or REG_DWORD
    std::string text; // REG_SZ, in UTF-8
    DWORD number;     // REG_DWORD
    bool operator==(const RegistryValue&) const = default;
};

// Keys are paths such as "HKLM\\SYSTEM\\CurrentControlSet", names compared
// without regard to case. nullopt when the key does not exist.
std::optional<std::map<std::string, RegistryValue>> RegistryValues(const std::string& key);
std::optional<std::vector<std::string>> RegistrySubkeys(const std::string& key);
// Creates the key and any missing keys above it.
void SetRegistryValue(const std::string& key, const std::string& name, const RegistryValue& value);

// The bytes of the resource `type`/`id` carried by the module file at `path`.
std::optional<std::string> ModuleResource(const std::filesystem::path& path, const std::string& type,
                                          unsigned id);

// FormatMessageA answers `text`, exactly, for `code`.
void SetMessageText(DWORD code, const std::string& text);
void ClearMessageTexts();

// What GetModuleFileNameA/W report for the process's own module; empty: the real path.
void SetModulePath(const std::filesystem::path& path);

// While on, Sleep records its argument and returns at once.
void RecordSleeps(bool record);
std::vector<DWORD> Sleeps();

} // namespace host

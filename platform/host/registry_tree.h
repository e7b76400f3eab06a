// The registry as the host keeps it: one JSON document under <root>, a tree of
// keys, each {"values": {...}, "keys": {...}}, below the predefined roots by
// their long names. Names keep their case and are found without regard to it.
#pragma once

#include <filesystem>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>

#include "testing_install.h"

namespace host::detail {

using RegistryTree = nlohmann::ordered_json;

// Call both under a FileLock on RegistryFile().
RegistryTree LoadRegistry();
bool SaveRegistry(const RegistryTree& tree);

// "HKEY_LOCAL_MACHINE" for "HKLM" or any case of the long name; nullopt otherwise.
std::optional<std::string> RootKeyName(const std::string& name);

RegistryTree* Subkey(RegistryTree& key, const std::string& name);
RegistryTree& CreateSubkey(RegistryTree& key, const std::string& name);
bool DeleteSubkey(RegistryTree& key, const std::string& name);
void SetValue(RegistryTree& key, const std::string& name, const RegistryValue& value);
bool DeleteValue(RegistryTree& key, const std::string& name);
bool IsEmptyKey(const RegistryTree& key);

} // namespace host::detail

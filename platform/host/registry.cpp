#include <algorithm>

#include "internal.h"
#include "registry.h"
#include "registry_tree.h"
#include "store.h"

namespace host::detail {

namespace {

const char* const roots[][2] = {
    {"HKCR", "HKEY_CLASSES_ROOT"},   {"HKCU", "HKEY_CURRENT_USER"}, {"HKLM", "HKEY_LOCAL_MACHINE"},
    {"HKU", "HKEY_USERS"},           {"HKCC", "HKEY_CURRENT_CONFIG"},
    {"HKPD", "HKEY_PERFORMANCE_DATA"},
};

std::string Lower(std::string text) {
    for (char& c : text)
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    return text;
}

RegistryTree NewKey() { return RegistryTree{{"values", RegistryTree::object()}, {"keys", RegistryTree::object()}}; }

// The stored spelling of `name` among `items`, if any.
std::optional<std::string> Stored(const RegistryTree& items, const std::string& name) {
    std::string wanted = Lower(name);
    for (const auto& [stored, item] : items.items())
        if (Lower(stored) == wanted)
            return stored;
    return std::nullopt;
}

RegistryTree* Walk(RegistryTree& tree, const std::string& path) {
    size_t end = path.find('\\');
    auto root = RootKeyName(path.substr(0, end));
    if (!root || !tree.contains(*root))
        return nullptr;
    RegistryTree* key = &tree[*root];
    while (end != std::string::npos && key) {
        size_t start = end + 1;
        end = path.find('\\', start);
        key = Subkey(*key, path.substr(start, end == std::string::npos ? end : end - start));
    }
    return key;
}

} // namespace

RegistryTree LoadRegistry() {
    auto content = ReadWholeFile(RegistryFile());
    RegistryTree tree = content ? RegistryTree::parse(*content, nullptr, false) : RegistryTree::object();
    if (!tree.is_object())
        tree = RegistryTree::object();
    for (const auto& root : roots)
        if (!tree.contains(root[1]))
            tree[root[1]] = NewKey();
    return tree;
}

bool SaveRegistry(const RegistryTree& tree) {
    return WriteFileAtomically(RegistryFile(),
                               tree.dump(2, ' ', false, RegistryTree::error_handler_t::replace) + "\n");
}

std::optional<std::string> RootKeyName(const std::string& name) {
    for (const auto& root : roots)
        if (Lower(name) == Lower(root[0]) || Lower(name) == Lower(root[1]))
            return std::string(root[1]);
    return std::nullopt;
}

RegistryTree* Subkey(RegistryTree& key, const std::string& name) {
    auto stored = Stored(key["keys"], name);
    return stored ? &key["keys"][*stored] : nullptr;
}

RegistryTree& CreateSubkey(RegistryTree& key, const std::string& name) {
    if (RegistryTree* existing = Subkey(key, name))
        return *existing;
    return key["keys"][name] = NewKey();
}

bool DeleteSubkey(RegistryTree& key, const std::string& name) {
    auto stored = Stored(key["keys"], name);
    return stored && key["keys"].erase(*stored) > 0;
}

void SetValue(RegistryTree& key, const std::string& name, const RegistryValue& value) {
    RegistryTree data = value.type == REG_DWORD
                            ? RegistryTree{{"type", "REG_DWORD"}, {"data", value.number}}
                            : RegistryTree{{"type", "REG_SZ"}, {"data", value.text}};
    auto stored = Stored(key["values"], name);
    key["values"][stored ? *stored : name] = data;
}

bool DeleteValue(RegistryTree& key, const std::string& name) {
    auto stored = Stored(key["values"], name);
    return stored && key["values"].erase(*stored) > 0;
}

bool IsEmptyKey(const RegistryTree& key) { return key.at("values").empty() && key.at("keys").empty(); }

} // namespace host::detail

namespace host {

std::filesystem::path RegistryFile() { return Root() / "registry.json"; }

std::optional<std::map<std::string, RegistryValue>> RegistryValues(const std::string& key) {
    detail::FileLock lock(RegistryFile());
    auto tree = detail::LoadRegistry();
    auto* found = detail::Walk(tree, key);
    if (found == nullptr)
        return std::nullopt;
    std::map<std::string, RegistryValue> values;
    for (const auto& [name, data] : (*found)["values"].items()) {
        if (data["type"] == "REG_DWORD")
            values[name] = RegistryValue{REG_DWORD, "", data["data"].get<DWORD>()};
        else
            values[name] = RegistryValue{REG_SZ, data["data"].get<std::string>(), 0};
    }
    return values;
}

std::optional<std::vector<std::string>> RegistrySubkeys(const std::string& key) {
    detail::FileLock lock(RegistryFile());
    auto tree = detail::LoadRegistry();
    auto* found = detail::Walk(tree, key);
    if (found == nullptr)
        return std::nullopt;
    std::vector<std::string> names;
    for (const auto& [name, ignored] : (*found)["keys"].items())
        names.push_back(name);
    return names;
}

void SetRegistryValue(const std::string& key, const std::string& name, const RegistryValue& value) {
    detail::FileLock lock(RegistryFile());
    auto tree = detail::LoadRegistry();
    size_t end = key.find('\\');
    auto root = detail::RootKeyName(key.substr(0, end));
    if (!root)
        return;
    detail::RegistryTree* at = &tree[*root];
    while (end != std::string::npos) {
        size_t start = end + 1;
        end = key.find('\\', start);
        at = &detail::CreateSubkey(*at, key.substr(start, end == std::string::npos ? end : end - start));
    }
    detail::SetValue(*at, name, value);
    detail::SaveRegistry(tree);
}

} // namespace host

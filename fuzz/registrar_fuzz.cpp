// The host registrar's script interpreter, on a registry of its own in a
// temporary folder that is emptied before each input.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <sstream>
#include <string>
#include <unistd.h>

#include "platform/host/registrar_script.h"
#include "platform/host/testing_install.h"

namespace {

std::filesystem::path root;

std::string RegistryBytes() {
    std::ifstream file(host::RegistryFile(), std::ios::binary);
    std::ostringstream bytes;
    bytes << file.rdbuf();
    return bytes.str();
}

// The registry as a tree whose keys have no order, as on Windows.
nlohmann::json Registry() { return nlohmann::json::parse(RegistryBytes()); }

void Check(bool holds) {
    if (!holds)
        std::abort();
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    // Memory-backed when there is /dev/shm: every input saves the registry.
    char pattern[] = "/dev/shm/quarnel-fuzz-XXXXXX";
    char fallback[] = "/tmp/quarnel-fuzz-XXXXXX";
    const char* made = mkdtemp(pattern);
    if (made == nullptr)
        made = mkdtemp(fallback);
    if (made == nullptr)
        std::abort();
    root = made;
    setenv("QUARNEL_HOST_ROOT", made, 1);
    std::atexit([] {
        std::error_code ignored;
        std::filesystem::remove_all(root, ignored);
    });
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::error_code ignored;
    std::filesystem::remove(host::RegistryFile(), ignored);
    // The one key that the system's own script marks NoRemove, so that
    // unregistering has something to keep.
    host::SetRegistryValue("HKLM\\SYSTEM\\CurrentControlSet", "Kept", {REG_DWORD, "", 1});
    std::string script(reinterpret_cast<const char*>(data), size);
    const std::map<std::string, std::string> replacements = {
        {"DLLNAME", "C:\\Program Files\\Quarnel\\QuarnelSysLog.DLL"}};

    std::string before = RegistryBytes();
    HRESULT registered = host::detail::RunRegistrarScript(script, replacements, true);
    std::string once = RegistryBytes();
    nlohmann::json onceTree = nlohmann::json::parse(once);
    if (registered == DISP_E_EXCEPTION) {
        // A script that is wrong anywhere changes nothing, either way.
        Check(once == before);
        Check(host::detail::RunRegistrarScript(script, replacements, false) == DISP_E_EXCEPTION);
        Check(RegistryBytes() == before);
        return 0;
    }
    Check(registered == S_OK);

    // Registering is idempotent. Only for plain ASCII: the store keeps its text
    // as UTF-8 and replaces bytes that are not.
    bool ascii = true;
    for (std::size_t i = 0; i < size; ++i)
        ascii = ascii && data[i] < 0x80;
    Check(host::detail::RunRegistrarScript(script, replacements, true) == S_OK);
    if (ascii)
        Check(Registry() == onceTree);

    Check(host::detail::RunRegistrarScript(script, replacements, false) == S_OK);
    // NoRemove keys stay on unregistering, whatever else the script says; the
    // predefined roots always do.
    Check(host::RegistryValues("HKLM").has_value());
    return 0;
}

// The service control manager's database as one JSON file under <root>/scm.
// Services never run by themselves here; a test can script a running one.
#include <algorithm>
#include <cstring>
#include <mutex>
#include <nlohmann/json.hpp>
#include <set>

#include "internal.h"
#include "scm.h"
#include "store.h"
#include "system.h"
#include "testing_install.h"

using nlohmann::json;

namespace {

struct Opened {
    bool manager;
    DWORD access;
    std::string service; // as stored, for a service handle
};

std::mutex handlesLock;
std::set<Opened*> handles;

std::filesystem::path DatabasePath() { return host::Root() / "scm" / "services.json"; }

std::string Lower(std::string text) {
    for (char& c : text)
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    return text;
}

bool SameName(const std::string& a, const std::string& b) { return Lower(a) == Lower(b); }

json Load() {
    auto content = host::detail::ReadWholeFile(DatabasePath());
    json database = content ? json::parse(*content, nullptr, false) : json::object();
    if (!database.is_object() || !database.contains("services") || !database["services"].is_array())
        database = json{{"services", json::array()}};
    return database;
}

bool Save(const json& database) {
    return host::detail::WriteFileAtomically(
        DatabasePath(), database.dump(2, ' ', false, json::error_handler_t::replace) + "\n");
}

json* Find(json& database, const std::string& name) {
    for (auto& service : database["services"])
        if (SameName(service.value("name", ""), name))
            return &service;
    return nullptr;
}

// The service's record, or null with ERROR_SERVICE_DOES_NOT_EXIST as the last error.
json* Installed(json& database, const std::string& name) {
    json* service = Find(database, name);
    if (service == nullptr)
        SetLastError(ERROR_SERVICE_DOES_NOT_EXIST);
    return service;
}

SC_HANDLE NewHandle(bool manager, DWORD access, const std::string& service) {
    auto* handle = new Opened{manager, access, service};
    {
        std::lock_guard guard(handlesLock);
        handles.insert(handle);
    }
    host::detail::HandleOpened();
    return reinterpret_cast<SC_HANDLE>(handle);
}

// The open handle's data, or nullptr with ERROR_INVALID_HANDLE.
Opened* Open(SC_HANDLE handle, bool manager) {
    auto* data = reinterpret_cast<Opened*>(handle);
    std::lock_guard guard(handlesLock);
    if (handles.count(data) == 0 || data->manager != manager) {
        SetLastError(ERROR_INVALID_HANDLE);
        return nullptr;
    }
    return data;
}

bool OtherHandlesTo(const std::string& service, const Opened* except) {
    std::lock_guard guard(handlesLock);
    return std::any_of(handles.begin(), handles.end(), [&](const Opened* data) {
        return data != except && !data->manager && SameName(data->service, service);
    });
}

void FillStatus(const json& service, LPSERVICE_STATUS status) {
    const json& held = service["status"];
    status->dwServiceType = service["service_type"];
    status->dwCurrentState = held["current_state"];
    status->dwControlsAccepted = held["controls_accepted"];
    status->dwWin32ExitCode = held["win32_exit_code"];
    status->dwServiceSpecificExitCode = held["service_specific_exit_code"];
    status->dwCheckPoint = held["check_point"];
    status->dwWaitHint = held["wait_hint"];
}

void SetState(json& service, DWORD state) {
    json& held = service["status"];
    held["current_state"] = state;
    held["controls_accepted"] = state == SERVICE_STOPPED ? 0 : SERVICE_ACCEPT_STOP;
    held["win32_exit_code"] = 0;
    held["service_specific_exit_code"] = 0;
    held["check_point"] = state == SERVICE_STOP_PENDING ? 1 : 0;
    held["wait_hint"] = state == SERVICE_STOP_PENDING ? 3000 : 0;
}

// A double-NUL-terminated list; nullptr and "" are both the empty list.
json NameList(LPCSTR list) {
    json names = json::array();
    for (const char* name = list; name && *name; name += std::strlen(name) + 1)
        names.push_back(name);
    return names;
}

bool ValidServiceType(DWORD type) {
    DWORD process = type & ~static_cast<DWORD>(SERVICE_INTERACTIVE_PROCESS);
    if (process == SERVICE_WIN32_OWN_PROCESS || process == SERVICE_WIN32_SHARE_PROCESS)
        return true;
    return (type == SERVICE_KERNEL_DRIVER || type == 0x2 /* file system driver */);
}

} // namespace

namespace host {

std::filesystem::path ServiceDatabase() { return DatabasePath(); }

bool ScriptRunningService(const std::string& name, const std::vector<DWORD>& statesAfterStop) {
    detail::FileLock lock(DatabasePath());
    json database = Load();
    json* service = Find(database, name);
    if (service == nullptr)
        return false;
    SetState(*service, SERVICE_RUNNING);
    (*service)["states_after_stop"] = statesAfterStop;
    return Save(database);
}

} // namespace host

SC_HANDLE OpenSCManagerA(LPCSTR machineName, LPCSTR databaseName, DWORD desiredAccess) {
    if (auto code = host::detail::Enter("OpenSCManagerA")) {
        SetLastError(*code);
        return nullptr;
    }
    if (machineName && *machineName) {
        SetLastError(RPC_S_SERVER_UNAVAILABLE); // there is only this machine
        return nullptr;
    }
    if (databaseName && !SameName(databaseName, "ServicesActive")) {
        SetLastError(ERROR_DATABASE_DOES_NOT_EXIST);
        return nullptr;
    }
    return NewHandle(true, desiredAccess, "");
}

SC_HANDLE CreateServiceA(SC_HANDLE manager, LPCSTR serviceName, LPCSTR displayName, DWORD desiredAccess,
                         DWORD serviceType, DWORD startType, DWORD errorControl, LPCSTR binaryPathName,
                         LPCSTR loadOrderGroup, LPDWORD tagId, LPCSTR dependencies,
                         LPCSTR serviceStartName, LPCSTR password) {
    if (auto code = host::detail::Enter("CreateServiceA")) {
        SetLastError(*code);
        return nullptr;
    }
    Opened* opened = Open(manager, true);
    if (opened == nullptr)
        return nullptr;
    if (!(opened->access & SC_MANAGER_CREATE_SERVICE)) {
        SetLastError(ERROR_ACCESS_DENIED);
        return nullptr;
    }
    if (serviceName == nullptr || *serviceName == '\0' || std::strlen(serviceName) > 256 ||
        std::strpbrk(serviceName, "/\\")) {
        SetLastError(ERROR_INVALID_NAME);
        return nullptr;
    }
    bool driver = !(serviceType & (SERVICE_WIN32_OWN_PROCESS | SERVICE_WIN32_SHARE_PROCESS));
    if (binaryPathName == nullptr || *binaryPathName == '\0' || !ValidServiceType(serviceType) ||
        startType > SERVICE_DISABLED || (!driver && startType < SERVICE_AUTO_START) ||
        errorControl > SERVICE_ERROR_CRITICAL || (tagId && !driver)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    std::string display = displayName && *displayName ? displayName : serviceName;

    host::detail::FileLock lock(DatabasePath());
    json database = Load();
    if (json* existing = Find(database, serviceName)) {
        SetLastError(existing->value("marked_for_delete", false) ? ERROR_SERVICE_MARKED_FOR_DELETE
                                                                 : ERROR_SERVICE_EXISTS);
        return nullptr;
    }
    for (const auto& other : database["services"]) {
        if (SameName(other.value("display_name", ""), display) || SameName(other.value("name", ""), display) ||
            SameName(other.value("display_name", ""), serviceName)) {
            SetLastError(ERROR_DUPLICATE_SERVICE_NAME);
            return nullptr;
        }
    }
    json service = {
        {"name", serviceName},
        {"display_name", display},
        {"service_type", serviceType},
        {"start_type", startType},
        {"error_control", errorControl},
        {"binary_path_name", binaryPathName},
        {"load_order_group", loadOrderGroup && *loadOrderGroup ? json(loadOrderGroup) : json(nullptr)},
        {"tag_id", nullptr},
        {"dependencies", NameList(dependencies)},
        // No account given: own-process services run as LocalSystem.
        {"service_start_name", serviceStartName && *serviceStartName ? serviceStartName : "LocalSystem"},
        {"password_given", password != nullptr && *password != '\0'},
        {"status", json::object()},
        {"states_after_stop", json::array()},
        {"marked_for_delete", false},
    };
    SetState(service, SERVICE_STOPPED);
    service["status"]["win32_exit_code"] = ERROR_SERVICE_NEVER_STARTED;
    database["services"].push_back(service);
    if (!Save(database)) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return nullptr;
    }
    return NewHandle(false, desiredAccess, serviceName);
}

SC_HANDLE OpenServiceA(SC_HANDLE manager, LPCSTR serviceName, DWORD desiredAccess) {
    if (auto code = host::detail::Enter("OpenServiceA")) {
        SetLastError(*code);
        return nullptr;
    }
    if (Open(manager, true) == nullptr)
        return nullptr;
    if (serviceName == nullptr || *serviceName == '\0') {
        SetLastError(ERROR_INVALID_NAME);
        return nullptr;
    }
    host::detail::FileLock lock(DatabasePath());
    json database = Load();
    json* service = Installed(database, serviceName);
    if (service == nullptr)
        return nullptr;
    return NewHandle(false, desiredAccess, (*service)["name"]);
}

BOOL ControlService(SC_HANDLE service, DWORD control, LPSERVICE_STATUS status) {
    if (auto code = host::detail::Enter("ControlService")) {
        SetLastError(*code);
        return FALSE;
    }
    Opened* opened = Open(service, false);
    if (opened == nullptr)
        return FALSE;
    DWORD needed = control == SERVICE_CONTROL_STOP                                      ? SERVICE_STOP
                   : control == SERVICE_CONTROL_PAUSE || control == SERVICE_CONTROL_CONTINUE ? SERVICE_PAUSE_CONTINUE
                   : control == SERVICE_CONTROL_INTERROGATE                               ? SERVICE_INTERROGATE
                   : control >= 128 && control <= 255                                     ? SERVICE_USER_DEFINED_CONTROL
                                                                                          : 0;
    if (needed == 0 || status == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    if (!(opened->access & needed)) {
        SetLastError(ERROR_ACCESS_DENIED);
        return FALSE;
    }
    host::detail::FileLock lock(DatabasePath());
    json database = Load();
    json* record = Installed(database, opened->service);
    if (record == nullptr)
        return FALSE;
    DWORD state = (*record)["status"]["current_state"];
    DWORD accepted = (*record)["status"]["controls_accepted"];
    // On these three refusals Windows still fills in the last status.
    FillStatus(*record, status);
    if (state == SERVICE_STOPPED) {
        SetLastError(ERROR_SERVICE_NOT_ACTIVE);
        return FALSE;
    }
    if (state == SERVICE_START_PENDING || state == SERVICE_STOP_PENDING) {
        SetLastError(ERROR_SERVICE_CANNOT_ACCEPT_CTRL);
        return FALSE;
    }
    if ((control == SERVICE_CONTROL_STOP && !(accepted & SERVICE_ACCEPT_STOP)) ||
        ((control == SERVICE_CONTROL_PAUSE || control == SERVICE_CONTROL_CONTINUE) &&
         !(accepted & SERVICE_ACCEPT_PAUSE_CONTINUE)) ||
        (control >= 128 && control <= 255)) {
        SetLastError(ERROR_INVALID_SERVICE_CONTROL);
        return FALSE;
    }
    if (control == SERVICE_CONTROL_STOP) {
        SetState(*record, SERVICE_STOP_PENDING);
        Save(database);
    }
    FillStatus(*record, status);
    return TRUE;
}

BOOL QueryServiceStatus(SC_HANDLE service, LPSERVICE_STATUS status) {
    if (auto code = host::detail::Enter("QueryServiceStatus")) {
        SetLastError(*code);
        return FALSE;
    }
    Opened* opened = Open(service, false);
    if (opened == nullptr)
        return FALSE;
    if (!(opened->access & SERVICE_QUERY_STATUS)) {
        SetLastError(ERROR_ACCESS_DENIED);
        return FALSE;
    }
    if (status == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    host::detail::FileLock lock(DatabasePath());
    json database = Load();
    json* record = Installed(database, opened->service);
    if (record == nullptr)
        return FALSE;
    json& script = (*record)["states_after_stop"];
    if ((*record)["status"]["current_state"] == SERVICE_STOP_PENDING && !script.empty()) {
        SetState(*record, script.front().get<DWORD>());
        if (script.size() > 1)
            script.erase(script.begin());
        else
            script = json::array();
        Save(database);
    }
    FillStatus(*record, status);
    return TRUE;
}

BOOL DeleteService(SC_HANDLE service) {
    if (auto code = host::detail::Enter("DeleteService")) {
        SetLastError(*code);
        return FALSE;
    }
    Opened* opened = Open(service, false);
    if (opened == nullptr)
        return FALSE;
    if (!(opened->access & DELETE)) {
        SetLastError(ERROR_ACCESS_DENIED);
        return FALSE;
    }
    host::detail::FileLock lock(DatabasePath());
    json database = Load();
    json* record = Installed(database, opened->service);
    if (record == nullptr)
        return FALSE;
    if ((*record)["marked_for_delete"] == true) {
        SetLastError(ERROR_SERVICE_MARKED_FOR_DELETE);
        return FALSE;
    }
    (*record)["marked_for_delete"] = true;
    Save(database);
    return TRUE;
}

BOOL CloseServiceHandle(SC_HANDLE handle) {
    if (auto code = host::detail::Enter("CloseServiceHandle")) {
        SetLastError(*code);
        return FALSE;
    }
    auto* data = reinterpret_cast<Opened*>(handle);
    {
        std::lock_guard guard(handlesLock);
        if (handles.erase(data) == 0) {
            SetLastError(ERROR_INVALID_HANDLE);
            return FALSE;
        }
    }
    host::detail::HandleClosed();
    // A service marked for deletion goes once it is stopped and nobody here holds it.
    if (!data->manager && !OtherHandlesTo(data->service, data)) {
        host::detail::FileLock lock(DatabasePath());
        json database = Load();
        auto& services = database["services"];
        auto gone = std::remove_if(services.begin(), services.end(), [&](const json& service) {
            return SameName(service.value("name", ""), data->service) && service["marked_for_delete"] == true &&
                   service["status"]["current_state"] == SERVICE_STOPPED;
        });
        if (gone != services.end()) {
            services.erase(gone, services.end());
            Save(database);
        }
    }
    delete data;
    return TRUE;
}

// The install and remove commands: the service in the service control manager's
// database, and the event source with it.
#include <cstdio>

#include "install/install.h"
#include "shell/names.h"

char errorText[256];

char* DescribeLastError(char* buffer, int size) {
    DWORD code = GetLastError();
    LPSTR text = nullptr;
    DWORD length = FormatMessageA(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM |
                                      FORMAT_MESSAGE_ARGUMENT_ARRAY,
                                  nullptr, code, 0, reinterpret_cast<LPSTR>(&text), 0, nullptr);
    if (length == 0 || size < static_cast<int>(length) + 14) {
        buffer[0] = '\0';
    } else {
        // The system's texts end in CR LF; a shorter one has no line end to lose.
        if (length >= 2)
            text[length - 2] = '\0';
        std::snprintf(buffer, size, "%s (0x%x)", text, static_cast<unsigned>(code));
    }
    if (text)
        LocalFree(text);
    return buffer;
}

void InstallService() {
    char path[512];
    if (GetModuleFileNameA(nullptr, path, sizeof path) == 0) {
        std::printf("Unable to install %s - %s\n", displayName, DescribeLastError(errorText, 256));
        return;
    }
    // Older systems leave a path that fills the buffer unterminated.
    path[sizeof path - 1] = '\0';

    SC_HANDLE manager = OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS);
    if (!manager) {
        std::printf("OpenSCManager failed - %s\n", DescribeLastError(errorText, 256));
        return;
    }
    SC_HANDLE service = CreateServiceA(manager, serviceName, displayName, SERVICE_ALL_ACCESS,
                                       SERVICE_WIN32_OWN_PROCESS, SERVICE_DEMAND_START, SERVICE_ERROR_NORMAL, path,
                                       nullptr, nullptr, "", nullptr, nullptr);
    if (service) {
        std::printf("%s installed.\n", displayName);
        std::fflush(stdout);
        UpdateEventSourceRegistration(true);
        CloseServiceHandle(service);
    } else {
        std::printf("CreateService failed - %s\n", DescribeLastError(errorText, 256));
    }
    CloseServiceHandle(manager);
}

void RemoveService() {
    SC_HANDLE manager = OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS);
    if (!manager) {
        std::printf("OpenSCManager failed - %s\n", DescribeLastError(errorText, 256));
        return;
    }
    SC_HANDLE service = OpenServiceA(manager, serviceName, SERVICE_ALL_ACCESS);
    if (!service) {
        std::printf("OpenService failed - %s\n", DescribeLastError(errorText, 256));
        CloseServiceHandle(manager);
        return;
    }

    SERVICE_STATUS status;
    if (ControlService(service, SERVICE_CONTROL_STOP, &status)) {
        std::printf("Stopping %s.", displayName);
        std::fflush(stdout);
        Sleep(1000);
        // No limit: the service says itself how long stopping takes.
        while (QueryServiceStatus(service, &status) && status.dwCurrentState == SERVICE_STOP_PENDING) {
            std::printf(".");
            std::fflush(stdout);
            Sleep(1000);
        }
        if (status.dwCurrentState == SERVICE_STOPPED)
            std::printf("\n%s stopped.\n", displayName);
        else
            std::printf("\n%s failed to stop.\n", displayName);
    }

    if (DeleteService(service)) {
        std::printf("%s removed.\n", displayName);
        std::fflush(stdout);
        UpdateEventSourceRegistration(false);
    } else {
        std::printf("DeleteService failed - %s\n", DescribeLastError(errorText, 256));
    }
    CloseServiceHandle(service);
    CloseServiceHandle(manager);
}

#include <cstdio>

#include "relay/relay.h"
#include "shell/names.h"
#include "shell/shell.h"
#include "shell/status.h"

void WINAPI SyslogServiceMain(DWORD argc, LPSTR* argv) {
    // Set before the handler is registered, so it can never see them half-written.
    serviceStatus.dwServiceType = SERVICE_WIN32_OWN_PROCESS;
    serviceStatus.dwServiceSpecificExitCode = 0;
    statusHandle = RegisterServiceCtrlHandlerA(serviceName, ServiceCtrlHandler);
    if (statusHandle == nullptr)
        return;
    if (ReportServiceStatus(SERVICE_START_PENDING, 0, 3000))
        RunSyslogListener(argc, argv);
    ReportServiceStatus(SERVICE_STOPPED, lastErrorCode, 0);
}

void WINAPI ServiceCtrlHandler(DWORD control) {
    if (control == SERVICE_CONTROL_STOP) {
        ReportServiceStatus(SERVICE_STOP_PENDING, 0, 0);
        RequestListenerStop();
        return;
    }
    ReportServiceStatus(HeldServiceState(), 0, 0);
}

void RunConsoleMode(int argc, char** argv) {
    std::printf("Debugging %s.\n", displayName);
    std::fflush(stdout);
    SetConsoleCtrlHandler(ConsoleCtrlHandler, TRUE);
    RunSyslogListener(static_cast<DWORD>(argc), argv);
}

BOOL WINAPI ConsoleCtrlHandler(DWORD ctrlType) {
    if (ctrlType != CTRL_C_EVENT && ctrlType != CTRL_BREAK_EVENT)
        return FALSE;
    std::printf("Stopping %s.\n", displayName);
    std::fflush(stdout);
    RequestListenerStop();
    return TRUE;
}

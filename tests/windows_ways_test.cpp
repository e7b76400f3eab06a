// Where Wine, the Windows implementation the suite runs on, does things its own
// way, the host layer keeps to Windows: these cases pin that down.
#include <atomic>
#include <thread>

#include "host_machine.h"

namespace {

std::thread::id handlerThread;
std::thread::id serviceThread;
std::atomic<bool> stopSeen{false};
SERVICE_STATUS_HANDLE handle = nullptr;

void Report(DWORD state) {
    SERVICE_STATUS status = {SERVICE_WIN32_OWN_PROCESS, state, SERVICE_ACCEPT_STOP, 0, 0, 0, 0};
    SetServiceStatus(handle, &status);
}

void WINAPI Handler(DWORD control) {
    handlerThread = std::this_thread::get_id();
    if (control == SERVICE_CONTROL_STOP)
        stopSeen = true;
}

void WINAPI Main(DWORD, LPSTR*) {
    serviceThread = std::this_thread::get_id();
    handle = RegisterServiceCtrlHandlerA("VezOzuD", Handler);
    Report(SERVICE_RUNNING);
    while (!stopSeen)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    Report(SERVICE_STOPPED);
}

using WindowsWays = HostMachine;

} // namespace

// Windows calls the handler on the thread inside StartServiceCtrlDispatcher;
// Wine calls it on a thread of its own.
TEST_F(WindowsWays, ControlHandlerRunsOnTheDispatchersThread) {
    static SERVICE_TABLE_ENTRYA table[] = {{const_cast<LPSTR>("VezOzuD"), Main}, {nullptr, nullptr}};
    stopSeen = false;
    host::PlayServiceControlManager();
    std::thread::id dispatcherThread;
    std::thread dispatcher([&] {
        dispatcherThread = std::this_thread::get_id();
        StartServiceCtrlDispatcherA(table);
    });
    ASSERT_TRUE(WaitFor([] { return !host::StatusReports().empty(); }));
    EXPECT_EQ(host::SendServiceControl(SERVICE_CONTROL_STOP), 0u);
    dispatcher.join();
    EXPECT_EQ(handlerThread, dispatcherThread);
    EXPECT_NE(handlerThread, serviceThread);
}

// Both agree with Windows on how the system's texts are asked for without
// arguments: a text with inserts is refused, an unknown code has no text.
TEST_F(WindowsWays, SystemTextsAskedForWithoutArguments) {
    struct Case {
        DWORD code;
        DWORD error; // 0: a text comes back
    };
    for (const Case& c : {Case{1060, 0}, Case{1073, 0}, Case{193, ERROR_INVALID_PARAMETER},
                          Case{99999, ERROR_MR_MID_NOT_FOUND}}) {
        SCOPED_TRACE(c.code);
        char* text = nullptr;
        DWORD length = FormatMessageA(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM |
                                          FORMAT_MESSAGE_ARGUMENT_ARRAY,
                                      nullptr, c.code, 0, reinterpret_cast<LPSTR>(&text), 0, nullptr);
        if (c.error == 0) {
            ASSERT_GT(length, 2u);
            EXPECT_EQ(std::string(text + length - 2), "\r\n");
            LocalFree(text);
        } else {
            EXPECT_EQ(length, 0u);
            EXPECT_EQ(GetLastError(), c.error);
        }
    }
}

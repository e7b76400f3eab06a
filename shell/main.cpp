#include <cstdio>

#include "install/install.h"
#include "shell/names.h"
#include "shell/shell.h"
#include "shell/status.h"

namespace {

// Whole-word match, ignoring the case of A to Z only.
bool IsCommand(const char* text, const char* command) {
    for (; *text && *command; ++text, ++command) {
        char c = *text;
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
        if (c != *command)
            return false;
    }
    return *text == '\0' && *command == '\0';
}

} // namespace

int main(int argc, char** argv) {
    SERVICE_TABLE_ENTRYA dispatchTable[] = {
        {const_cast<LPSTR>(serviceName), SyslogServiceMain},
        {nullptr, nullptr},
    };

    if (argc > 1 && (argv[1][0] == '-' || argv[1][0] == '/')) {
        const char* command = argv[1] + 1;
        if (IsCommand(command, "install")) {
            InstallService();
            return 0;
        }
        if (IsCommand(command, "remove")) {
            RemoveService();
            return 0;
        }
        if (IsCommand(command, "debug")) {
            consoleMode = true;
            RunConsoleMode(argc, argv);
            return 0;
        }
    }

    std::printf("%s -install          to install the service\n", programName);
    std::printf("%s -remove           to remove the service\n", programName);
    std::printf("%s -debug <params>   to run as a console app for debugging\n", programName);
    std::printf("\nStartServiceCtrlDispatcher being called.\n");
    std::printf("This may take several seconds.  Please wait.\n");
    std::fflush(stdout);

    BOOL dispatched = StartServiceCtrlDispatcherA(dispatchTable);
    if (!dispatched) {
        LogServiceError("StartServiceCtrlDispatcher failed.");
        // The reason, for whoever started the program by hand (1063 when no
        // service control manager started it).
        return static_cast<int>(lastErrorCode.load());
    }
    return dispatched;
}

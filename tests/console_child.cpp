// Runs console mode as the debug command does, and says when it has returned.
#include <cstdio>

#include "shell/shell.h"
#include "shell/status.h"

int main(int argc, char** argv) {
    consoleMode = true;
    RunConsoleMode(argc, argv);
    std::printf("returned\n");
    return 0;
}

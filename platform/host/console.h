// Console control events. On this host they come from signals: SIGINT is Ctrl+C,
// SIGQUIT (Ctrl+\) Ctrl+Break, SIGHUP the console closing, SIGTERM shutdown.
#pragma once

#include "base.h"

#define CTRL_C_EVENT 0
#define CTRL_BREAK_EVENT 1
#define CTRL_CLOSE_EVENT 2
#define CTRL_LOGOFF_EVENT 5
#define CTRL_SHUTDOWN_EVENT 6

using PHANDLER_ROUTINE = BOOL (*)(DWORD ctrlType);

BOOL SetConsoleCtrlHandler(PHANDLER_ROUTINE handler, BOOL add);

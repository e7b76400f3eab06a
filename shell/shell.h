// The two ways the receive loop runs: as the service, or in the console.
#pragma once

#include "platform/platform.h"

void WINAPI SyslogServiceMain(DWORD argc, LPSTR* argv);
void WINAPI ServiceCtrlHandler(DWORD control);
void RunConsoleMode(int argc, char** argv);
BOOL WINAPI ConsoleCtrlHandler(DWORD ctrlType);

// The one door to the Windows API. On Windows it is the SDK; anywhere else it is
// the host layer under host/, which declares the same names and emulates a Windows
// machine whose state lives in one folder.
#pragma once

#ifdef _WIN32
#include <winsock2.h>
#include <windows.h>
#include <ole2.h>
#else
#include "host/win32.h"
#endif

#include "registrar.h"

// System services the install commands lean on: message texts, local memory,
// the process's own module path, and waiting.
#pragma once

#include <cstdarg>

#include "base.h"

using SIZE_T = std::size_t;

#define MAX_PATH 260

#define FORMAT_MESSAGE_ALLOCATE_BUFFER 0x00000100
#define FORMAT_MESSAGE_IGNORE_INSERTS 0x00000200
#define FORMAT_MESSAGE_FROM_STRING 0x00000400
#define FORMAT_MESSAGE_FROM_HMODULE 0x00000800
#define FORMAT_MESSAGE_FROM_SYSTEM 0x00001000
#define FORMAT_MESSAGE_ARGUMENT_ARRAY 0x00002000
#define FORMAT_MESSAGE_MAX_WIDTH_MASK 0x000000FF

#define LMEM_FIXED 0x0000
#define LMEM_ZEROINIT 0x0040

// Codes whose texts the host machine knows, beyond those of base.h.
#define ERROR_PATH_NOT_FOUND 3L
#define ERROR_BAD_EXE_FORMAT 193L
#define ERROR_MR_MID_NOT_FOUND 317L
#define ERROR_DEPENDENT_SERVICES_RUNNING 1051L
#define ERROR_SERVICE_REQUEST_TIMEOUT 1053L
#define ERROR_INVALID_SERVICE_ACCOUNT 1057L
#define ERROR_SERVICE_DISABLED 1058L
#define ERROR_CIRCULAR_DEPENDENCY 1059L
#define ERROR_DATABASE_DOES_NOT_EXIST 1065L
#define ERROR_SERVICE_NEVER_STARTED 1077L
#define ERROR_DUPLICATE_SERVICE_NAME 1078L
#define ERROR_SHUTDOWN_IN_PROGRESS 1115L
#define RPC_S_SERVER_UNAVAILABLE 1722L
#define ERROR_RESOURCE_LANG_NOT_FOUND 15100L

// Only system texts (FORMAT_MESSAGE_FROM_SYSTEM), in English. A text with
// inserts fails with ERROR_INVALID_PARAMETER unless inserts are ignored; the host
// does not substitute arguments.
DWORD FormatMessageA(DWORD flags, LPCVOID source, DWORD messageId, DWORD languageId, LPSTR buffer,
                     DWORD size, va_list* arguments);
HLOCAL LocalAlloc(UINT flags, SIZE_T bytes);
HLOCAL LocalFree(HLOCAL memory);

// Only the process's own module (nullptr) is known. A path that does not fit is
// cut, terminated, and reported with the size and ERROR_INSUFFICIENT_BUFFER.
DWORD GetModuleFileNameA(HMODULE module, LPSTR fileName, DWORD size);
DWORD GetModuleFileNameW(HMODULE module, LPWSTR fileName, DWORD size);

void Sleep(DWORD milliseconds);

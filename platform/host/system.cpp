// Message texts from an English message table, local memory blocks counted as
// handles, the module path from /proc/self/exe, and Sleep.
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <map>
#include <mutex>
#include <set>
#include <thread>
#include <unistd.h>

#include "internal.h"
#include "testing_install.h"
#include "wide.h"

namespace {

// Windows' own wording; each text ends in CR LF as the message table has it.
const std::map<DWORD, const char*> systemTexts = {
    {0, "The operation completed successfully.\r\n"},
    {2, "The system cannot find the file specified.\r\n"},
    {3, "The system cannot find the path specified.\r\n"},
    {5, "Access is denied.\r\n"},
    {6, "The handle is invalid.\r\n"},
    {8, "Not enough memory resources are available to process this command.\r\n"},
    {13, "The data is invalid.\r\n"},
    {87, "The parameter is incorrect.\r\n"},
    {122, "The data area passed to a system call is too small.\r\n"},
    {123, "The filename, directory name, or volume label syntax is incorrect.\r\n"},
    {126, "The specified module could not be found.\r\n"},
    {183, "Cannot create a file when that file already exists.\r\n"},
    {193, "%1 is not a valid Win32 application.\r\n"},
    {317, "The system cannot find message text for message number 0x%1 in the message file for %2.\r\n"},
    {1051, "A stop control has been sent to a service that other running services are dependent on.\r\n"},
    {1052, "The requested control is not valid for this service.\r\n"},
    {1053, "The service did not respond to the start or control request in a timely fashion.\r\n"},
    {1056, "An instance of the service is already running.\r\n"},
    {1057, "The account name is invalid or does not exist, or the password is invalid for the account "
           "name specified.\r\n"},
    {1058, "The service cannot be started, either because it is disabled or because it has no enabled "
           "devices associated with it.\r\n"},
    {1059, "Circular service dependency was specified.\r\n"},
    {1060, "The specified service does not exist as an installed service.\r\n"},
    {1061, "The service cannot accept control messages at this time.\r\n"},
    {1062, "The service has not been started.\r\n"},
    {1063, "The service process could not connect to the service controller.\r\n"},
    {1065, "The database specified does not exist.\r\n"},
    {1072, "The specified service has been marked for deletion.\r\n"},
    {1073, "The specified service already exists.\r\n"},
    {1077, "No attempts to start the service have been made since the last boot.\r\n"},
    {1078, "The name is already in use as either a service name or a service display name.\r\n"},
    {1115, "A system shutdown is in progress.\r\n"},
    {1502, "The event log file is full.\r\n"},
    {1722, "The RPC server is unavailable.\r\n"},
    {1812, "The specified image file did not contain a resource section.\r\n"},
    {1813, "The specified resource type cannot be found in the image file.\r\n"},
    {1814, "The specified resource name cannot be found in the image file.\r\n"},
    {15100, "The resource loader failed to find MUI file.\r\n"},
};

std::mutex lock;
std::map<DWORD, std::string> testTexts;
std::set<void*> blocks;
std::filesystem::path modulePath;
bool recordSleeps = false;
std::vector<DWORD> sleeps;

bool HasInserts(const std::string& text) {
    for (size_t i = 0; i + 1 < text.size(); ++i)
        if (text[i] == '%' && text[i + 1] >= '1' && text[i + 1] <= '9')
            return true;
    return false;
}

std::string OwnModulePath() {
    {
        std::lock_guard guard(lock);
        if (!modulePath.empty())
            return modulePath.string();
    }
    std::error_code error;
    auto path = std::filesystem::read_symlink("/proc/self/exe", error);
    return error ? std::string() : path.string();
}

// Copies what fits of `path` with its terminator, as Vista and later do.
template <typename Char>
DWORD CopyPath(const std::basic_string<Char>& path, Char* fileName, DWORD size) {
    if (size == 0) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return 0;
    }
    if (path.size() < size) {
        std::copy(path.begin(), path.end(), fileName);
        fileName[path.size()] = 0;
        return static_cast<DWORD>(path.size());
    }
    std::copy(path.begin(), path.begin() + (size - 1), fileName);
    fileName[size - 1] = 0;
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return size;
}

} // namespace

namespace host {

void SetMessageText(DWORD code, const std::string& text) {
    std::lock_guard guard(lock);
    testTexts[code] = text;
}

void ClearMessageTexts() {
    std::lock_guard guard(lock);
    testTexts.clear();
}

void SetModulePath(const std::filesystem::path& path) {
    std::lock_guard guard(lock);
    modulePath = path;
}

void RecordSleeps(bool record) {
    std::lock_guard guard(lock);
    recordSleeps = record;
    sleeps.clear();
}

std::vector<DWORD> Sleeps() {
    std::lock_guard guard(lock);
    return sleeps;
}

} // namespace host

HLOCAL LocalAlloc(UINT flags, SIZE_T bytes) {
    if (auto code = host::detail::Enter("LocalAlloc")) {
        SetLastError(*code);
        return nullptr;
    }
    void* block = std::malloc(bytes == 0 ? 1 : bytes);
    if (block == nullptr) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return nullptr;
    }
    if (flags & LMEM_ZEROINIT)
        std::memset(block, 0, bytes);
    {
        std::lock_guard guard(lock);
        blocks.insert(block);
    }
    host::detail::HandleOpened();
    return block;
}

HLOCAL LocalFree(HLOCAL memory) {
    if (auto code = host::detail::Enter("LocalFree")) {
        SetLastError(*code);
        return memory;
    }
    if (memory == nullptr)
        return nullptr;
    {
        std::lock_guard guard(lock);
        if (blocks.erase(memory) == 0) {
            SetLastError(ERROR_INVALID_HANDLE);
            return memory;
        }
    }
    std::free(memory);
    host::detail::HandleClosed();
    return nullptr;
}

DWORD FormatMessageA(DWORD flags, LPCVOID, DWORD messageId, DWORD languageId, LPSTR buffer, DWORD size,
                     va_list*) {
    if (auto code = host::detail::Enter("FormatMessageA")) {
        SetLastError(*code);
        return 0;
    }
    if (!(flags & FORMAT_MESSAGE_FROM_SYSTEM) || (flags & (FORMAT_MESSAGE_FROM_STRING | FORMAT_MESSAGE_FROM_HMODULE)) ||
        buffer == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    // Language 0 finds the English texts, as do neutral and US English.
    if (languageId != 0 && languageId != 0x0400 && languageId != 0x0409) {
        SetLastError(ERROR_RESOURCE_LANG_NOT_FOUND);
        return 0;
    }
    std::string text;
    {
        std::lock_guard guard(lock);
        if (auto set = testTexts.find(messageId); set != testTexts.end()) {
            text = set->second;
        } else if (auto known = systemTexts.find(messageId); known != systemTexts.end()) {
            text = known->second;
        } else {
            SetLastError(ERROR_MR_MID_NOT_FOUND);
            return 0;
        }
    }
    if (!(flags & FORMAT_MESSAGE_IGNORE_INSERTS) && HasInserts(text)) {
        // Arguments are not substituted here; without any, Windows fails the same way.
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    DWORD length = static_cast<DWORD>(text.size());
    if (flags & FORMAT_MESSAGE_ALLOCATE_BUFFER) {
        auto* block = static_cast<char*>(LocalAlloc(LMEM_FIXED, std::max<SIZE_T>(length + 1, size)));
        if (block == nullptr)
            return 0;
        std::memcpy(block, text.c_str(), length + 1);
        *reinterpret_cast<char**>(buffer) = block;
        return length;
    }
    if (size < length + 1) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return 0;
    }
    std::memcpy(buffer, text.c_str(), length + 1);
    return length;
}

DWORD GetModuleFileNameA(HMODULE module, LPSTR fileName, DWORD size) {
    if (auto code = host::detail::Enter("GetModuleFileNameA")) {
        SetLastError(*code);
        return 0;
    }
    if (module != nullptr) {
        SetLastError(ERROR_MOD_NOT_FOUND);
        return 0;
    }
    return CopyPath(OwnModulePath(), fileName, size);
}

DWORD GetModuleFileNameW(HMODULE module, LPWSTR fileName, DWORD size) {
    if (auto code = host::detail::Enter("GetModuleFileNameW")) {
        SetLastError(*code);
        return 0;
    }
    if (module != nullptr) {
        SetLastError(ERROR_MOD_NOT_FOUND);
        return 0;
    }
    return CopyPath(host::detail::Widen(OwnModulePath()), fileName, size);
}

void Sleep(DWORD milliseconds) {
    host::detail::Enter("Sleep");
    {
        std::lock_guard guard(lock);
        if (recordSleeps) {
            sleeps.push_back(milliseconds);
            return;
        }
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
}

// The Application event log as one JSON object per line under <root>/eventlog.
#include <chrono>
#include <cstdio>
#include <ctime>
#include <mutex>
#include <nlohmann/json.hpp>
#include <set>

#include "internal.h"

namespace {

struct EventSource {
    std::string name;
};

std::mutex sourcesLock;
std::set<EventSource*> sources;

bool IsOpen(HANDLE handle) {
    std::lock_guard guard(sourcesLock);
    return sources.count(static_cast<EventSource*>(handle)) != 0;
}

// Each byte stands as the code point of the same value, so nothing is lost.
std::string Latin1ToUtf8(const char* text) {
    std::string out;
    for (const unsigned char* p = reinterpret_cast<const unsigned char*>(text); *p; ++p) {
        if (*p < 0x80) {
            out += static_cast<char>(*p);
        } else {
            out += static_cast<char>(0xC0 | (*p >> 6));
            out += static_cast<char>(0x80 | (*p & 0x3F));
        }
    }
    return out;
}

std::string NowUtc() {
    auto now = std::chrono::system_clock::now();
    std::time_t seconds = std::chrono::system_clock::to_time_t(now);
    auto micros = std::chrono::duration_cast<std::chrono::microseconds>(now.time_since_epoch()).count() % 1000000;
    std::tm utc{};
    gmtime_r(&seconds, &utc);
    char text[64];
    std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02d.%06lldZ", utc.tm_year + 1900,
                  utc.tm_mon + 1, utc.tm_mday, utc.tm_hour, utc.tm_min, utc.tm_sec,
                  static_cast<long long>(micros));
    return text;
}

} // namespace

HANDLE RegisterEventSourceA(LPCSTR serverName, LPCSTR sourceName) {
    if (auto code = host::detail::Enter("RegisterEventSourceA")) {
        SetLastError(*code);
        return nullptr;
    }
    if (serverName && *serverName) {
        SetLastError(1722); // RPC_S_SERVER_UNAVAILABLE: there is only this machine
        return nullptr;
    }
    if (sourceName == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    auto* source = new EventSource{sourceName};
    {
        std::lock_guard guard(sourcesLock);
        sources.insert(source);
    }
    host::detail::HandleOpened();
    return source;
}

BOOL DeregisterEventSource(HANDLE eventLog) {
    if (auto code = host::detail::Enter("DeregisterEventSource")) {
        SetLastError(*code);
        return FALSE;
    }
    std::lock_guard guard(sourcesLock);
    auto* source = static_cast<EventSource*>(eventLog);
    if (sources.erase(source) == 0) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    delete source;
    host::detail::HandleClosed();
    return TRUE;
}

BOOL ReportEventA(HANDLE eventLog, WORD type, WORD category, DWORD eventId, PSID, WORD numStrings,
                  DWORD dataSize, LPCSTR* strings, LPVOID rawData) {
    if (auto code = host::detail::Enter("ReportEventA")) {
        SetLastError(*code);
        return FALSE;
    }
    if (!IsOpen(eventLog)) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    if ((numStrings > 0 && strings == nullptr) || (dataSize > 0 && rawData == nullptr)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    nlohmann::json texts = nlohmann::json::array();
    for (WORD i = 0; i < numStrings; ++i) {
        if (strings[i] == nullptr) {
            SetLastError(ERROR_INVALID_PARAMETER);
            return FALSE;
        }
        texts.push_back(Latin1ToUtf8(strings[i]));
    }
    nlohmann::json entry = {{"time", NowUtc()},
                            {"source", Latin1ToUtf8(static_cast<EventSource*>(eventLog)->name.c_str())},
                            {"type", type},
                            {"category", category},
                            {"event_id", eventId},
                            {"strings", texts}};
    if (!host::detail::AppendLine(host::Root() / "eventlog" / "Application.jsonl", entry.dump())) {
        SetLastError(1502); // ERROR_LOG_FILE_FULL
        return FALSE;
    }
    return TRUE;
}

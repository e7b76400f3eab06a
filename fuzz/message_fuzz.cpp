// Received bytes to event log entry, the way the receive loop handles one
// datagram: at most 1023 bytes into a 1024-byte buffer, terminated, its end
// prepared, then written. The event log calls are replaced here by a recorder,
// so each input costs no file write and the entry can be checked.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "platform/platform.h"
#include "relay/relay.h"

namespace {

struct Recorded {
    int opened = 0;
    int reports = 0;
    int closed = 0;
    WORD type = 0;
    WORD category = 0;
    DWORD eventId = 0;
    std::string text;
} recorded;

char sourceToken;

void Check(bool holds) {
    if (!holds)
        std::abort();
}

} // namespace

HANDLE RegisterEventSourceA(LPCSTR serverName, LPCSTR sourceName) {
    Check(serverName == nullptr && std::strcmp(sourceName, "VezOzuD") == 0);
    ++recorded.opened;
    return &sourceToken;
}

BOOL DeregisterEventSource(HANDLE source) {
    Check(source == &sourceToken);
    ++recorded.closed;
    return TRUE;
}

BOOL ReportEventA(HANDLE source, WORD type, WORD category, DWORD eventId, PSID sid, WORD numStrings,
                  DWORD dataSize, LPCSTR* strings, LPVOID data) {
    Check(source == &sourceToken && sid == nullptr && numStrings == 1 && dataSize == 0 &&
          data == nullptr && strings != nullptr && strings[0] != nullptr);
    ++recorded.reports;
    recorded.type = type;
    recorded.category = category;
    recorded.eventId = eventId;
    recorded.text = strings[0];
    return TRUE;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    constexpr std::size_t capacity = 1023;
    std::size_t received = size < capacity ? size : capacity;
    char buffer[capacity + 1];
    std::memcpy(buffer, data, received);
    buffer[received] = '\0';
    PrepareMessageText(buffer);

    // The text is the datagram up to its first NUL, less at most a final
    // line feed and the carriage return before it.
    std::size_t whole = strnlen(reinterpret_cast<const char*>(data), received);
    std::size_t kept = std::strlen(buffer);
    Check(kept <= whole && whole - kept <= 2 && std::memcmp(buffer, data, kept) == 0);
    std::string cut(reinterpret_cast<const char*>(data) + kept, whole - kept);
    Check(cut.empty() || cut == "\n" || cut == "\r" || cut == "\r\n");

    std::int32_t priority = 0;
    bool hasPriority = ReadPriority(buffer, &priority);
    recorded = Recorded{};
    WriteSyslogEvent(buffer);

    // The header is "<" and then what strtol reads as a decimal number; where
    // that number is short, its value is the priority.
    bool opens = buffer[0] == '<';
    char* end = nullptr;
    long expected = opens ? std::strtol(buffer + 1, &end, 10) : 0;
    Check(hasPriority == (opens && end != buffer + 1));
    if (hasPriority && end - (buffer + 1) < 12)
        Check(static_cast<std::int32_t>(static_cast<std::uint32_t>(expected)) == priority);

    if (!hasPriority) {
        Check(recorded.opened == 0 && recorded.reports == 0 && recorded.closed == 0);
        return 0;
    }
    Check(recorded.opened == 1 && recorded.reports == 1 && recorded.closed == 1);
    int severity = priority & 7;
    WORD type = severity < 4    ? EVENTLOG_ERROR_TYPE
                : severity == 4 ? EVENTLOG_WARNING_TYPE
                                : EVENTLOG_INFORMATION_TYPE;
    Check(recorded.type == type && recorded.eventId == 0);
    Check(recorded.category == static_cast<WORD>((priority >> 3) + 1));
    const char* close = std::strchr(buffer, '>');
    Check(recorded.text == (close ? close + 1 : buffer));
    return 0;
}

#include <cstring>

#include "platform/platform.h"
#include "relay/relay.h"
#include "shell/names.h"

bool ReadPriority(const char* text, std::int32_t* priority) {
    if (*text != '<')
        return false;
    const char* p = text + 1;
    while (*p == ' ' || (*p >= '\t' && *p <= '\r'))
        ++p;
    bool negative = *p == '-';
    if (*p == '-' || *p == '+')
        ++p;
    if (*p < '0' || *p > '9')
        return false;
    // Any number of digits, wrapping modulo 2^32 as a scanned %d does.
    std::uint32_t value = 0;
    for (; *p >= '0' && *p <= '9'; ++p)
        value = value * 10u + static_cast<std::uint32_t>(*p - '0');
    if (negative)
        value = 0u - value;
    *priority = static_cast<std::int32_t>(value);
    return true;
}

void WriteSyslogEvent(const char* text) {
    std::int32_t priority;
    if (!ReadPriority(text, &priority))
        return;
    // A header with no ">" at all keeps the whole text rather than losing it.
    const char* close = std::strchr(text, '>');
    const char* message = close ? close + 1 : text;
    int severity = priority & 7;
    WORD type = severity < 4    ? EVENTLOG_ERROR_TYPE
                : severity == 4 ? EVENTLOG_WARNING_TYPE
                                : EVENTLOG_INFORMATION_TYPE;
    WORD category = static_cast<WORD>((priority >> 3) + 1);
    HANDLE source = RegisterEventSourceA(nullptr, serviceName);
    if (source == nullptr)
        return;
    ReportEventA(source, type, category, 0, nullptr, 1, 0, &message, nullptr);
    DeregisterEventSource(source);
}

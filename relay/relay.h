// The receive loop on UDP port 514 and the writing of each message to the event log.
#pragma once

#include <atomic>
#include <cstdint>

extern std::atomic<bool> stopRequested;

void RunSyslogListener(std::uint32_t argc, char** argv);
void RequestListenerStop();

// Cuts a received datagram, already NUL-terminated, down to its message text:
// up to its first NUL, without a final line feed or the carriage return before it.
void PrepareMessageText(char* buffer);

// Reads the "<PRI>" header. Returns false when no number follows the "<".
bool ReadPriority(const char* text, std::int32_t* priority);

void WriteSyslogEvent(const char* text);

// The POSIX side of the host sockets, kept apart because libc and Winsock share
// names. Errors come back as Winsock codes.
#pragma once

#include <cstdint>

namespace host::posix {

int UdpSocket(int* error);
int Bind(int fd, std::uint32_t addressNet, std::uint16_t portNet, int* error);
// Waits up to timeoutMicros (< 0: for ever) until one of fds is readable; marks
// readable[i]. Returns the number readable, or -1.
int WaitReadable(const int* fds, int count, bool* readable, long long timeoutMicros, int* error);
// Reads one datagram; *truncated tells that it did not fit and its rest is gone.
int Receive(int fd, char* buffer, int length, bool* truncated, int* error);
void Close(int fd);

} // namespace host::posix

#include <cstdio>
#include <cstring>

#include "platform/platform.h"
#include "relay/relay.h"
#include "shell/status.h"

std::atomic<bool> stopRequested{false};

namespace {
constexpr int bufferSize = 1024;
constexpr u_short syslogPort = 514;
constexpr int drainLimit = 1024;

} // namespace

void RequestListenerStop() { stopRequested = true; }

void PrepareMessageText(char* buffer) {
    // The event log takes NUL-terminated strings: an embedded NUL ends the message.
    int length = static_cast<int>(std::strlen(buffer));
    if (length > 0 && buffer[length - 1] == '\n')
        buffer[--length] = '\0';
    if (length > 0 && buffer[length - 1] == '\r')
        buffer[--length] = '\0';
}

namespace {

// One pass of the loop: waits up to the time-out for a datagram and hands it
// on. Returns whether the socket was readable.
bool RunPass(SOCKET listener, char* buffer, long timeoutMicros) {
    fd_set readSet;
    FD_ZERO(&readSet);
    FD_SET(listener, &readSet);
    timeval timeout = {0, timeoutMicros};
    if (select(0, &readSet, nullptr, nullptr, &timeout) == SOCKET_ERROR)
        return false;
    if (!FD_ISSET(listener, &readSet))
        return false;
    int received = recv(listener, buffer, bufferSize - 1, 0);
    // An oversized datagram still leaves its first bytes in the buffer: keep them.
    if (received == SOCKET_ERROR && WSAGetLastError() == WSAEMSGSIZE)
        received = bufferSize - 1;
    if (received <= 0)
        return true;
    buffer[received] = '\0';
    PrepareMessageText(buffer);
    if (consoleMode) {
        std::printf("Recv: %s\n", buffer);
        std::fflush(stdout);
    }
    WriteSyslogEvent(buffer);
    return true;
}

} // namespace

void RunSyslogListener(std::uint32_t, char**) {
    stopRequested = false;
    if (!ReportServiceStatus(SERVICE_START_PENDING, 0, 3000))
        return;

    WSADATA wsaData;
    if (WSAStartup(MAKEWORD(1, 1), &wsaData) != 0) {
        LogServiceError("Error calling WSAStartup");
        return;
    }
    if (wsaData.wVersion != MAKEWORD(1, 1)) {
        LogServiceError("Incompatible WINSOCK version");
        WSACleanup();
        return;
    }
    SOCKET listener = socket(AF_INET, SOCK_DGRAM, 0);
    if (listener == INVALID_SOCKET) {
        LogServiceError("Error creating socket");
        WSACleanup();
        return;
    }

    sockaddr_in local = {};
    local.sin_family = AF_INET;
    local.sin_port = htons(syslogPort);
    local.sin_addr.s_addr = htonl(INADDR_ANY);
    if (bind(listener, reinterpret_cast<sockaddr*>(&local), sizeof local) != 0) {
        LogServiceError("Error binding socket to port 514");
    } else if (ReportServiceStatus(SERVICE_RUNNING, 0, 0)) {
        char buffer[bufferSize];
        while (!stopRequested)
            RunPass(listener, buffer, 100);
        // Datagrams already queued when the stop came are still written, up to
        // a bound, so that a flood cannot hold the stop up.
        for (int i = 0; i < drainLimit && RunPass(listener, buffer, 0); ++i) {
        }
    }
    shutdown(listener, SD_RECEIVE);
    closesocket(listener);
    WSACleanup();
}

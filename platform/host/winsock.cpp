// Winsock semantics over the POSIX sockets: per-thread error codes, counted
// start-up, sockets as handles, select over a counted set, and recv that fails
// with WSAEMSGSIZE for a datagram that does not fit.
#include <algorithm>
#include <cstring>
#include <map>
#include <mutex>

#include "internal.h"
#include "posix_net.h"

namespace {

struct Socket {
    int fd;
    bool receiveShut;
};

std::mutex socketsLock;
std::map<SOCKET, Socket> sockets;
int startups = 0;
SOCKET nextSocket = 0x100;
WORD forcedVersion = 0;

int Fail(int code) {
    SetLastError(static_cast<DWORD>(code));
    return SOCKET_ERROR;
}

// Looks up a socket under socketsLock; sets the error when there is none.
Socket* Find(SOCKET s) {
    if (startups == 0) {
        Fail(WSANOTINITIALISED);
        return nullptr;
    }
    auto found = sockets.find(s);
    if (found == sockets.end()) {
        Fail(WSAENOTSOCK);
        return nullptr;
    }
    return &found->second;
}

} // namespace

namespace host {
void SetWinsockVersion(WORD version) { forcedVersion = version; }
} // namespace host

int WSAStartup(WORD versionRequested, LPWSADATA data) {
    if (auto code = host::detail::Enter("WSAStartup")) {
        SetLastError(*code);
        return static_cast<int>(*code);
    }
    if (data == nullptr)
        return WSAEFAULT;
    if (LOBYTE(versionRequested) < 1)
        return WSAVERNOTSUPPORTED;
    // The library offers 2.2 at most and agrees to anything from 1.0 up to that.
    WORD agreed = versionRequested;
    if (LOBYTE(versionRequested) > 2 || (LOBYTE(versionRequested) == 2 && HIBYTE(versionRequested) > 2))
        agreed = MAKEWORD(2, 2);
    if (forcedVersion != 0)
        agreed = forcedVersion;
    std::memset(data, 0, sizeof *data);
    data->wVersion = agreed;
    data->wHighVersion = MAKEWORD(2, 2);
    std::strcpy(data->szDescription, "WinSock 2.0");
    std::strcpy(data->szSystemStatus, "Running");
    std::lock_guard guard(socketsLock);
    ++startups;
    return 0;
}

int WSACleanup() {
    if (auto code = host::detail::Enter("WSACleanup"))
        return Fail(static_cast<int>(*code));
    std::lock_guard guard(socketsLock);
    if (startups == 0)
        return Fail(WSANOTINITIALISED);
    // The last clean-up closes every socket the process still holds, as Winsock does.
    if (--startups == 0) {
        for (auto& [handle, open] : sockets) {
            host::posix::Close(open.fd);
            host::detail::HandleClosed();
        }
        sockets.clear();
    }
    return 0;
}

int WSAGetLastError() { return static_cast<int>(GetLastError()); }
void WSASetLastError(int code) { SetLastError(static_cast<DWORD>(code)); }

SOCKET socket(int af, int type, int protocol) {
    if (auto code = host::detail::Enter("socket")) {
        Fail(static_cast<int>(*code));
        return INVALID_SOCKET;
    }
    std::lock_guard guard(socketsLock);
    if (startups == 0) {
        Fail(WSANOTINITIALISED);
        return INVALID_SOCKET;
    }
    if (af != AF_INET) {
        Fail(WSAEAFNOSUPPORT);
        return INVALID_SOCKET;
    }
    if (type != SOCK_DGRAM) {
        Fail(WSAESOCKTNOSUPPORT);
        return INVALID_SOCKET;
    }
    if (protocol != 0 && protocol != 17) {
        Fail(WSAEPROTONOSUPPORT);
        return INVALID_SOCKET;
    }
    int error = 0;
    int fd = host::posix::UdpSocket(&error);
    if (fd < 0) {
        Fail(error);
        return INVALID_SOCKET;
    }
    SOCKET handle = nextSocket;
    nextSocket += 4;
    sockets[handle] = Socket{fd, false};
    host::detail::HandleOpened();
    return handle;
}

int bind(SOCKET s, const sockaddr* name, int nameLength) {
    if (auto code = host::detail::Enter("bind"))
        return Fail(static_cast<int>(*code));
    int fd;
    {
        std::lock_guard guard(socketsLock);
        Socket* open = Find(s);
        if (!open)
            return SOCKET_ERROR;
        fd = open->fd;
    }
    if (name == nullptr || nameLength < static_cast<int>(sizeof(sockaddr_in)))
        return Fail(WSAEFAULT);
    sockaddr_in address;
    std::memcpy(&address, name, sizeof address);
    if (address.sin_family != AF_INET)
        return Fail(WSAEAFNOSUPPORT);
    int error = 0;
    if (host::posix::Bind(fd, address.sin_addr.s_addr, address.sin_port, &error) != 0)
        return Fail(error);
    return 0;
}

int __WSAFDIsSet(SOCKET s, fd_set* set) {
    for (unsigned int i = 0; i < set->fd_count; ++i)
        if (set->fd_array[i] == s)
            return 1;
    return 0;
}

// nfds is ignored, as Winsock ignores it. Only readability is ever waited for
// here; write and except sets come back empty.
int select(int, fd_set* readSet, fd_set* writeSet, fd_set* exceptSet, const timeval* timeout) {
    if (auto code = host::detail::Enter("select"))
        return Fail(static_cast<int>(*code));
    unsigned int watched = (readSet ? readSet->fd_count : 0) + (writeSet ? writeSet->fd_count : 0) +
                           (exceptSet ? exceptSet->fd_count : 0);
    int fds[FD_SETSIZE];
    int count = readSet ? static_cast<int>(readSet->fd_count) : 0;
    {
        std::lock_guard guard(socketsLock);
        if (startups == 0)
            return Fail(WSANOTINITIALISED);
        if (watched == 0)
            return Fail(WSAEINVAL);
        for (int i = 0; i < count; ++i) {
            Socket* open = Find(readSet->fd_array[i]);
            if (!open)
                return SOCKET_ERROR;
            fds[i] = open->fd;
        }
    }
    if (timeout && (timeout->tv_sec < 0 || timeout->tv_usec < 0))
        return Fail(WSAEINVAL);
    long long micros = timeout ? timeout->tv_sec * 1000000LL + timeout->tv_usec : -1;
    bool readable[FD_SETSIZE] = {};
    int error = 0;
    int ready = host::posix::WaitReadable(fds, count, readable, micros, &error);
    if (ready < 0)
        return Fail(error);
    unsigned int kept = 0;
    for (int i = 0; i < count; ++i)
        if (readable[i])
            readSet->fd_array[kept++] = readSet->fd_array[i];
    if (readSet)
        readSet->fd_count = kept;
    if (writeSet)
        writeSet->fd_count = 0;
    if (exceptSet)
        exceptSet->fd_count = 0;
    return ready;
}

int recv(SOCKET s, char* buffer, int length, int) {
    if (auto code = host::detail::Enter("recv"))
        return Fail(static_cast<int>(*code));
    int fd;
    {
        std::lock_guard guard(socketsLock);
        Socket* open = Find(s);
        if (!open)
            return SOCKET_ERROR;
        if (open->receiveShut)
            return Fail(WSAESHUTDOWN);
        fd = open->fd;
    }
    if (buffer == nullptr || length < 0)
        return Fail(WSAEFAULT);
    bool truncated = false;
    int error = 0;
    int got = host::posix::Receive(fd, buffer, length, &truncated, &error);
    if (got < 0)
        return Fail(error);
    if (truncated)
        return Fail(WSAEMSGSIZE);
    return got;
}

int shutdown(SOCKET s, int how) {
    if (auto code = host::detail::Enter("shutdown"))
        return Fail(static_cast<int>(*code));
    std::lock_guard guard(socketsLock);
    Socket* open = Find(s);
    if (!open)
        return SOCKET_ERROR;
    if (how < SD_RECEIVE || how > SD_BOTH)
        return Fail(WSAEINVAL);
    // A datagram socket needs no connection to be shut down on Winsock.
    if (how != SD_SEND)
        open->receiveShut = true;
    return 0;
}

int closesocket(SOCKET s) {
    if (auto code = host::detail::Enter("closesocket"))
        return Fail(static_cast<int>(*code));
    std::lock_guard guard(socketsLock);
    Socket* open = Find(s);
    if (!open)
        return SOCKET_ERROR;
    host::posix::Close(open->fd);
    sockets.erase(s);
    host::detail::HandleClosed();
    return 0;
}

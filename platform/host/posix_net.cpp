#include "posix_net.h"

#include <cerrno>
#include <chrono>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>
#include <vector>

namespace host::posix {
namespace {

int WinsockError(int e) {
    switch (e) {
    case EINTR: return 10004;
    case EBADF: return 10009;
    case EACCES:
    case EPERM: return 10013;
    case EFAULT: return 10014;
    case EINVAL: return 10022;
    case EMFILE:
    case ENFILE: return 10024;
    case EAGAIN: return 10035;
    case ENOTSOCK: return 10038;
    case EMSGSIZE: return 10040;
    case EPROTONOSUPPORT: return 10043;
    case EAFNOSUPPORT: return 10047;
    case EADDRINUSE: return 10048;
    case EADDRNOTAVAIL: return 10049;
    case ENETDOWN: return 10050;
    case ENOBUFS:
    case ENOMEM: return 10055;
    default: return 10022;
    }
}

int Fail(int* error) {
    *error = WinsockError(errno);
    return -1;
}

} // namespace

int UdpSocket(int* error) {
    int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    return fd < 0 ? Fail(error) : fd;
}

int Bind(int fd, std::uint32_t addressNet, std::uint16_t portNet, int* error) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = portNet;
    address.sin_addr.s_addr = addressNet;
    if (::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0)
        return Fail(error);
    return 0;
}

int WaitReadable(const int* fds, int count, bool* readable, long long timeoutMicros, int* error) {
    std::vector<pollfd> polled(count);
    for (int i = 0; i < count; ++i)
        polled[i] = pollfd{fds[i], POLLIN, 0};
    // Winsock's select is not cut short by a console event: a signal here restarts
    // the wait for what is left of it.
    auto deadline = std::chrono::steady_clock::now() + std::chrono::microseconds(timeoutMicros);
    int ready;
    for (;;) {
        timespec timeout{};
        timespec* limit = nullptr;
        if (timeoutMicros >= 0) {
            auto left = std::chrono::duration_cast<std::chrono::nanoseconds>(
                deadline - std::chrono::steady_clock::now());
            long long nanos = left.count() > 0 ? left.count() : 0;
            timeout.tv_sec = nanos / 1000000000;
            timeout.tv_nsec = nanos % 1000000000;
            limit = &timeout;
        }
        ready = ::ppoll(polled.data(), polled.size(), limit, nullptr);
        if (ready >= 0)
            break;
        if (errno != EINTR)
            return Fail(error);
    }
    int marked = 0;
    for (int i = 0; i < count; ++i) {
        readable[i] = (polled[i].revents & (POLLIN | POLLERR | POLLHUP)) != 0;
        marked += readable[i];
    }
    return marked;
}

int Receive(int fd, char* buffer, int length, bool* truncated, int* error) {
    iovec part{buffer, static_cast<size_t>(length)};
    msghdr message{};
    message.msg_iov = &part;
    message.msg_iovlen = 1;
    ssize_t got;
    do
        got = ::recvmsg(fd, &message, 0);
    while (got < 0 && errno == EINTR);
    if (got < 0)
        return Fail(error);
    *truncated = (message.msg_flags & MSG_TRUNC) != 0;
    return static_cast<int>(got);
}

void Close(int fd) { ::close(fd); }

} // namespace host::posix

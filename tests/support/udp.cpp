#include "udp.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <stdexcept>
#include <sys/socket.h>
#include <unistd.h>

namespace {
sockaddr_in Address(std::uint32_t host, std::uint16_t port) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(host);
    return address;
}
} // namespace

void SendDatagram(const std::string& bytes, std::uint16_t port) {
    int fd = ::socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in to = Address(INADDR_LOOPBACK, port);
    ssize_t sent = ::sendto(fd, bytes.data(), bytes.size(), 0, reinterpret_cast<sockaddr*>(&to), sizeof to);
    ::close(fd);
    if (sent != static_cast<ssize_t>(bytes.size()))
        throw std::runtime_error("datagram not sent");
}

int HoldUdpPort(std::uint16_t port) {
    int fd = ::socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in local = Address(INADDR_ANY, port);
    if (::bind(fd, reinterpret_cast<sockaddr*>(&local), sizeof local) != 0) {
        ::close(fd);
        throw std::runtime_error("port not held");
    }
    return fd;
}

void ReleaseUdpPort(int fd) { ::close(fd); }

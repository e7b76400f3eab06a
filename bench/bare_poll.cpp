// The idle baseline: a loop that does nothing but wait for readability on a
// bound UDP socket with a 100-microsecond time-out, and check a stop flag.
#include <atomic>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <netinet/in.h>
#include <sys/select.h>
#include <sys/socket.h>

namespace {
std::atomic<bool> stop{false};
void OnSignal(int) { stop = true; }
} // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s PORT\n", argv[0]);
        return 2;
    }
    std::signal(SIGINT, OnSignal);
    int fd = ::socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in local{};
    local.sin_family = AF_INET;
    local.sin_port = htons(static_cast<uint16_t>(std::atoi(argv[1])));
    local.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::bind(fd, reinterpret_cast<sockaddr*>(&local), sizeof local) != 0) {
        std::perror("bind");
        return 1;
    }
    std::printf("bound\n");
    std::fflush(stdout);
    while (!stop) {
        fd_set readSet;
        FD_ZERO(&readSet);
        FD_SET(fd, &readSet);
        timeval timeout{0, 100};
        select(fd + 1, &readSet, nullptr, nullptr, &timeout);
    }
    return 0;
}

// The baseline: one blocking recv per datagram into a 1024-byte buffer and
// nothing else. The count of datagrams received goes to a shared counter file,
// so the benchmark can watch it without disturbing the loop.
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/mman.h>
#include <sys/socket.h>
#include <unistd.h>

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: %s PORT COUNTER_FILE\n", argv[0]);
        return 2;
    }
    int counterFd = ::open(argv[2], O_RDWR | O_CREAT, 0644);
    if (counterFd < 0 || ::ftruncate(counterFd, sizeof(long long)) != 0)
        return 1;
    auto* counter = static_cast<std::atomic<long long>*>(
        ::mmap(nullptr, sizeof(long long), PROT_READ | PROT_WRITE, MAP_SHARED, counterFd, 0));
    if (counter == MAP_FAILED)
        return 1;
    int fd = ::socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in local{};
    local.sin_family = AF_INET;
    local.sin_port = htons(static_cast<uint16_t>(std::atoi(argv[1])));
    local.sin_addr.s_addr = htonl(INADDR_ANY);
    if (::bind(fd, reinterpret_cast<sockaddr*>(&local), sizeof local) != 0) {
        std::perror("bind");
        return 1;
    }
    std::printf("bound\n");
    std::fflush(stdout);
    char buffer[1024];
    for (;;) {
        // Ended by a signal; its default action is all the stop it needs.
        if (::recv(fd, buffer, sizeof buffer - 1, 0) > 0)
            counter->fetch_add(1, std::memory_order_relaxed);
    }
}

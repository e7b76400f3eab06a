// Windows Sockets 1.1 as this system uses it: one UDP socket, bind, select, recv.
// Winsock's fd_set is a counted array of sockets, not a bitmap; libc's fd_set and
// select are already declared by the C headers, so ours goes by a macro name.
#pragma once

#include <sys/select.h>
#include "base.h"

#undef FD_SETSIZE
#undef FD_ZERO
#undef FD_SET
#undef FD_CLR
#undef FD_ISSET

using SOCKET = UINT_PTR;
using u_short = unsigned short;

#define INVALID_SOCKET ((SOCKET)(~0))
#define SOCKET_ERROR (-1)

#define AF_INET 2
#define SOCK_DGRAM 2
#define INADDR_ANY ((std::uint32_t)0x00000000)
#define SD_RECEIVE 0x00
#define SD_SEND 0x01
#define SD_BOTH 0x02

#define WSABASEERR 10000
#define WSAEINTR 10004L
#define WSAEBADF 10009L
#define WSAEACCES 10013L
#define WSAEFAULT 10014L
#define WSAEINVAL 10022L
#define WSAEMFILE 10024L
#define WSAEWOULDBLOCK 10035L
#define WSAENOTSOCK 10038L
#define WSAEMSGSIZE 10040L
#define WSAEPROTOTYPE 10041L
#define WSAEPROTONOSUPPORT 10043L
#define WSAESOCKTNOSUPPORT 10044L
#define WSAEOPNOTSUPP 10045L
#define WSAEAFNOSUPPORT 10047L
#define WSAEADDRINUSE 10048L
#define WSAEADDRNOTAVAIL 10049L
#define WSAENETDOWN 10050L
#define WSAENOBUFS 10055L
#define WSAENOTCONN 10057L
#define WSAESHUTDOWN 10058L
#define WSASYSNOTREADY 10091L
#define WSAVERNOTSUPPORTED 10092L
#define WSANOTINITIALISED 10093L

#define WSADESCRIPTION_LEN 256
#define WSASYS_STATUS_LEN 128

// The 64-bit layout, where the vendor pointer comes before the descriptions.
struct WSADATA {
    WORD wVersion;
    WORD wHighVersion;
    unsigned short iMaxSockets;
    unsigned short iMaxUdpDg;
    char* lpVendorInfo;
    char szDescription[WSADESCRIPTION_LEN + 1];
    char szSystemStatus[WSASYS_STATUS_LEN + 1];
};
using LPWSADATA = WSADATA*;

struct in_addr {
    std::uint32_t s_addr;
};

struct sockaddr {
    u_short sa_family;
    char sa_data[14];
};

struct sockaddr_in {
    short sin_family;
    u_short sin_port;
    in_addr sin_addr;
    char sin_zero[8];
};
using SOCKADDR = sockaddr;
using SOCKADDR_IN = sockaddr_in;

#define FD_SETSIZE 64
#define fd_set WinsockFdSet
struct fd_set {
    unsigned int fd_count;
    SOCKET fd_array[FD_SETSIZE];
};

int __WSAFDIsSet(SOCKET s, fd_set* set);

inline void WinsockFdSetAdd(SOCKET s, fd_set* set) {
    unsigned int i = 0;
    while (i < set->fd_count && set->fd_array[i] != s)
        ++i;
    if (i == set->fd_count && set->fd_count < FD_SETSIZE)
        set->fd_array[set->fd_count++] = s;
}

#define FD_ZERO(set) (((fd_set*)(set))->fd_count = 0)
#define FD_SET(s, set) WinsockFdSetAdd((SOCKET)(s), (fd_set*)(set))
#define FD_ISSET(s, set) __WSAFDIsSet((SOCKET)(s), (fd_set*)(set))

int WSAStartup(WORD versionRequested, LPWSADATA data);
int WSACleanup();
int WSAGetLastError();
void WSASetLastError(int code);

SOCKET socket(int af, int type, int protocol);
int bind(SOCKET s, const sockaddr* name, int nameLength);
int select(int nfds, fd_set* readSet, fd_set* writeSet, fd_set* exceptSet, const timeval* timeout);
int recv(SOCKET s, char* buffer, int length, int flags);
int shutdown(SOCKET s, int how);
int closesocket(SOCKET s);

constexpr u_short htons(u_short v) { return (u_short)(((v & 0xff) << 8) | ((v >> 8) & 0xff)); }
constexpr std::uint32_t htonl(std::uint32_t v) {
    return ((v & 0xffu) << 24) | ((v & 0xff00u) << 8) | ((v >> 8) & 0xff00u) | (v >> 24);
}

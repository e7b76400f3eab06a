// Real datagrams from a plain POSIX socket, as another machine would send them.
#pragma once

#include <cstdint>
#include <string>

void SendDatagram(const std::string& bytes, std::uint16_t port = 514);

// Binds the port on every interface, as another program holding it would.
int HoldUdpPort(std::uint16_t port = 514);
void ReleaseUdpPort(int fd);

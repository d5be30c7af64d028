#pragma once

#include <cstdint>
#include <string>

// Sends one UDP datagram through a socket descriptor that a socket object on
// another thread owns (a bound QUdpSocket): the operating system lets any
// thread send on it, so a sender need not wait for the owner's thread. The
// caller keeps the descriptor alive meanwhile. Returns the bytes sent, or -1
// with the reason in error (a full send buffer is a failure too: nothing waits).
int64_t sendDatagram(intptr_t descriptor, uint32_t ipv4, uint16_t port, const uint8_t *bytes, int n,
                     std::string *error);

#include "datagram_send.h"

#include <winsock2.h>

int64_t sendDatagram(intptr_t descriptor, uint32_t ipv4, uint16_t port, const uint8_t *bytes, int n,
                     std::string *error)
{
    sockaddr_in to {};
    to.sin_family = AF_INET;
    to.sin_port = htons(port);
    to.sin_addr.s_addr = htonl(ipv4);
    const int sent
            = ::sendto(static_cast<SOCKET>(descriptor), reinterpret_cast<const char *>(bytes), n, 0,
                       reinterpret_cast<const sockaddr *>(&to), sizeof to);
    if (sent == SOCKET_ERROR) {
        if (error)
            *error = "socket error " + std::to_string(WSAGetLastError());
        return -1;
    }
    return sent;
}

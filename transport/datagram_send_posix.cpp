#include "datagram_send.h"

#include <arpa/inet.h>
#include <cerrno>
#include <cstring>
#include <netinet/in.h>
#include <sys/socket.h>

int64_t sendDatagram(intptr_t descriptor, uint32_t ipv4, uint16_t port, const uint8_t *bytes, int n,
                     std::string *error)
{
    sockaddr_in to {};
    to.sin_family = AF_INET;
    to.sin_port = htons(port);
    to.sin_addr.s_addr = htonl(ipv4);
    const ssize_t sent = ::sendto(static_cast<int>(descriptor), bytes, static_cast<size_t>(n),
                                  MSG_DONTWAIT, reinterpret_cast<const sockaddr *>(&to), sizeof to);
    if (sent < 0) {
        if (error)
            *error = std::strerror(errno);
        return -1;
    }
    return sent;
}

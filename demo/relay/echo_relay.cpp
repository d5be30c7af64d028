#include "echo_relay.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace demo {

EchoRelay::~EchoRelay()
{
    if (m_fd >= 0)
        ::close(m_fd);
}

bool EchoRelay::open(const std::string &address, int port, std::string *error)
{
    sockaddr_in addr {};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(static_cast<std::uint16_t>(port));
    if (port < 0 || port > 65535 || inet_pton(AF_INET, address.c_str(), &addr.sin_addr) != 1) {
        if (error)
            *error = "not an IPv4 address and port: " + address + ":" + std::to_string(port);
        return false;
    }
    const int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd < 0 || ::bind(fd, reinterpret_cast<sockaddr *>(&addr), sizeof addr) != 0) {
        if (error)
            *error = std::string("cannot bind: ") + std::strerror(errno);
        if (fd >= 0)
            ::close(fd);
        return false;
    }
    socklen_t len = sizeof addr;
    ::getsockname(fd, reinterpret_cast<sockaddr *>(&addr), &len);
    if (m_fd >= 0)
        ::close(m_fd);
    m_fd = fd;
    m_port = ntohs(addr.sin_port);
    return true;
}

std::vector<std::uint8_t> EchoRelay::reply(std::uint32_t counter, const std::uint8_t *payload,
                                           std::size_t len)
{
    const std::size_t body = len < maxReply - headerSize ? len : maxReply - headerSize;
    std::vector<std::uint8_t> out(headerSize + body);
    out[0] = static_cast<std::uint8_t>(counter >> 24);
    out[1] = static_cast<std::uint8_t>(counter >> 16);
    out[2] = static_cast<std::uint8_t>(counter >> 8);
    out[3] = static_cast<std::uint8_t>(counter);
    if (body)
        std::memcpy(out.data() + headerSize, payload, body);
    return out;
}

bool EchoRelay::serveOne(int waitMs)
{
    if (m_fd < 0)
        return false;
    pollfd p {m_fd, POLLIN, 0};
    if (::poll(&p, 1, waitMs) <= 0 || !(p.revents & POLLIN))
        return false;
    std::uint8_t buf[65536];
    sockaddr_in from {};
    socklen_t fromLen = sizeof from;
    const ssize_t n
            = ::recvfrom(m_fd, buf, sizeof buf, 0, reinterpret_cast<sockaddr *>(&from), &fromLen);
    if (n < 0)
        return false;
    const std::uint32_t seq = ++m_counter;
    const std::vector<std::uint8_t> out = reply(seq, buf, static_cast<std::size_t>(n));
    const ssize_t sent = ::sendto(m_fd, out.data(), out.size(), 0,
                                  reinterpret_cast<sockaddr *>(&from), fromLen);
    if (m_log) {
        char peer[INET_ADDRSTRLEN] = {};
        inet_ntop(AF_INET, &from.sin_addr, peer, sizeof peer);
        m_log("#" + std::to_string(seq) + " " + std::to_string(n) + " bytes from " + peer + ":"
              + std::to_string(ntohs(from.sin_port))
              + (sent < 0 ? std::string(", answer failed: ") + std::strerror(errno)
                          : ", answered " + std::to_string(sent) + " bytes"));
    }
    return true;
}

void EchoRelay::run(const std::atomic<bool> &stop, int pollMs)
{
    while (!stop)
        serveOne(pollMs);
}

} // namespace demo

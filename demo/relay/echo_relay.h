#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace demo {

// UDP echo with a counter: every datagram is answered to its sender with a
// 32-bit big-endian sequence number (from 1) followed by the payload. The
// answer is cut to maxReply bytes, the most the program can hand to the key
// in one message.
class EchoRelay
{
public:
    static constexpr std::size_t maxReply = 1018;
    static constexpr std::size_t headerSize = 4;

    EchoRelay() = default;
    ~EchoRelay();
    EchoRelay(const EchoRelay &) = delete;
    EchoRelay &operator=(const EchoRelay &) = delete;

    // Binds address:port (IPv4 text; port 0 picks one). False with a reason on failure.
    bool open(const std::string &address, int port, std::string *error);
    int port() const { return m_port; }

    // Serves until stop is set; checks it at least every pollMs milliseconds.
    void run(const std::atomic<bool> &stop, int pollMs = 100);
    // Answers at most one pending datagram; false when none arrived within waitMs.
    bool serveOne(int waitMs);

    std::uint32_t answered() const { return m_counter; }
    void setLog(std::function<void(const std::string &)> log) { m_log = std::move(log); }

    static std::vector<std::uint8_t> reply(std::uint32_t counter, const std::uint8_t *payload,
                                           std::size_t len);

private:
    int m_fd = -1;
    int m_port = -1;
    std::atomic<std::uint32_t> m_counter {0};
    std::function<void(const std::string &)> m_log;
};

} // namespace demo

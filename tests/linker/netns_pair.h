#pragma once

#include <QString>
#include <QtGlobal>

#include <atomic>
#include <cstdint>
#include <thread>

// A local UDP port (any IPv4 address) that is free right now.
quint16 freeUdpPort();

// A network namespace joined to this one by a veth pair with a private /30 on
// it. The relay link binds the server's port on all local addresses, so a
// server on the same port has to live in a namespace of its own. Needs root.
class NetnsPair
{
public:
    NetnsPair();
    ~NetnsPair();
    NetnsPair(const NetnsPair &) = delete;
    NetnsPair &operator=(const NetnsPair &) = delete;

    // Empty when namespaces can be made here, otherwise the reason why not.
    static QString unavailableReason();

    bool setUp(QString *error);
    void tearDown();

    QString hostAddress() const { return hostAddr; }
    QString peerAddress() const { return peerAddr; }

    // A UDP socket created inside the namespace and bound to the peer address.
    // Returns the descriptor (the caller owns it) or -1.
    int udpSocketInside(uint16_t port) const;

private:
    QString ns, hostIf, peerIf, hostAddr, peerAddr;
    bool made = false;
};

// Echoes every datagram back to its sender on its own thread until stopped.
class UdpEcho
{
public:
    explicit UdpEcho(int fd);
    ~UdpEcho();
    UdpEcho(const UdpEcho &) = delete;
    UdpEcho &operator=(const UdpEcho &) = delete;

    void stop();
    int echoed() const { return count.load(); }

private:
    void run();

    int sock;
    int wake[2] = {-1, -1};
    std::atomic<int> count {0};
    std::thread worker;
};

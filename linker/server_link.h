#pragma once

#include "event_counter.h"

#include <QHostAddress>
#include <QList>
#include <QObject>

#include <atomic>
#include <cstdint>
#include <functional>

class QThread;
class QUdpSocket;

// UDP link between the key and the relay server it names. The local port is
// bound to the server's port number on all IPv4 addresses; every datagram that
// arrives there is handed on once, in arrival order.
//
// The object lives on the thread that made it (the GUI thread); its socket
// lives on a relay thread of its own and is only ever touched there. open() and
// close() wait for that thread, which never blocks on anything else. send() and
// handleDataReceived() may be called from any thread; datagrams are read on the
// relay thread, at most kBatch per turn of its event loop.
class srvLink : public QObject
{
    Q_OBJECT
public:
    // Host lookup: every address the name resolves to (empty when it does not).
    using Resolver = std::function<QList<QHostAddress>(const QString &name)>;
    // Asked on the relay thread before each datagram is read: false leaves the
    // rest in the socket until handleDataReceived() is called again.
    using ReadGate = std::function<bool()>;

    // Largest datagram handed on; anything longer is dropped, never cut.
    static constexpr int rxCapacity = 1024;
    // Datagrams read per turn of the relay thread's event loop.
    static constexpr int kBatch = 16;
    // Datagrams handed to send() and not yet written; more are dropped.
    static constexpr int kMaxPendingSends = 1024;

    explicit srvLink(QObject *parent = nullptr, Resolver resolver = {});
    ~srvLink() override;

    // The instance created by the linker, or null before that.
    static srvLink *get();

    bool open(const char *host, int port);
    bool close();
    bool resolveHostAddress(const char *name, QHostAddress *out);

    // Before the first open().
    void setReadGate(ReadGate gate);

    bool isOpen() const { return linkMode.load() == 1; }
    QHostAddress peer() const { return peerAddress; }
    int port() const { return peerPort; }

signals:
    // A datagram from the server, emitted on the relay thread: connect with
    // Qt::DirectConnection. The buffer is valid only during the emission.
    void dataReceived(const uint8_t *buff, int len);

public slots:
    // Reads what is pending (at most kBatch datagrams) on the relay thread.
    void handleDataReceived();
    // Hands one datagram to the relay thread, which sends it to the server; the
    // caller's buffer is copied. Returns len, or -1 when the link is closed or
    // too many datagrams are waiting. A datagram the socket refuses is logged.
    int send(const uint8_t *buff, int len);

private:
    static QList<QHostAddress> systemLookup(const QString &name);
    // The following run on the relay thread only.
    void readBatch();
    void writeNow(const QByteArray &datagram);
    bool bindNow(quint16 port, QString *error);
    template<class F>
    void onRelayThread(F call);

    QHostAddress peerAddress;
    int peerPort = 0;
    std::atomic<int> linkMode {0};
    Resolver resolve;
    ReadGate readGate;
    std::atomic<int> pendingSends {0};
    EventCounter sendDrops;
    EventCounter sendErrors;
    EventCounter oversize;

    QThread *relayThread = nullptr;
    QObject *relayContext = nullptr; // lives on the relay thread, owns the socket
    // Relay thread only:
    QUdpSocket *udpSocket = nullptr;
    QHostAddress relayPeer;
    quint16 relayPort = 0;
    uint8_t rxBuffer[rxCapacity] = {};
    int rxLength = 0;
};

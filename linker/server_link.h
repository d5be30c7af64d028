#pragma once

#include "event_counter.h"

#include <QHostAddress>
#include <QList>
#include <QMutex>
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
// object lives on a relay thread of its own and is only ever used there: it is
// bound, read and closed on that thread. open() and close() wait for it, and it
// never blocks on anything else. Datagrams are read on the relay thread, at
// most kBatch per turn of its event loop. send() may be called from any thread
// and sends at once on the socket's descriptor, under a lock that close() takes
// before the socket goes (so no caller waits for the relay thread).
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
    // Reads what is pending (at most kBatch datagrams) on the relay thread;
    // from another thread it asks the relay thread to.
    void handleDataReceived();
    // Sends len bytes as one datagram to the server. Bytes sent, a negative
    // value when the socket refused it (logged), or -1 when the link is closed.
    int send(const uint8_t *buff, int len);

private:
    static QList<QHostAddress> systemLookup(const QString &name);
    // Runs call on the relay thread and waits for it.
    template<class F>
    void onRelayThread(F call);
    // On the relay thread only.
    void readBatch();
    // Reads once when nothing seemed pending, so the socket notifies again.
    void readLate();
    bool bindNow(quint16 port, QString *error);
    // Stops send() from using the descriptor; before the socket closes.
    void forgetDescriptor();

    QHostAddress peerAddress;
    int peerPort = 0;
    std::atomic<int> linkMode {0};
    Resolver resolve;
    ReadGate readGate;
    EventCounter sendErrors;
    // What send() uses; set on the relay thread after a bind, cleared before the
    // socket is closed.
    QMutex sendLock;
    intptr_t sendDescriptor = -1;
    quint32 sendPeer = 0;
    quint16 sendPort = 0;
    EventCounter oversize;

    QThread *relayThread = nullptr;
    QObject *relayContext = nullptr; // lives on the relay thread, owns the socket
    // Relay thread only:
    QUdpSocket *udpSocket = nullptr;
    uint8_t rxBuffer[rxCapacity + 1] = {};
    int rxLength = 0;
};

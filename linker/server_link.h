#pragma once

#include <QHostAddress>
#include <QList>
#include <QObject>

#include <cstdint>
#include <functional>

class QUdpSocket;

// UDP link between the key and the relay server it names. The local port is
// bound to the server's port number on all IPv4 addresses; every datagram that
// arrives there is handed on once, in arrival order.
class srvLink : public QObject
{
    Q_OBJECT
public:
    // Host lookup: every address the name resolves to (empty when it does not).
    using Resolver = std::function<QList<QHostAddress>(const QString &name)>;

    // Largest datagram handed on; anything longer is dropped, never cut.
    static constexpr int rxCapacity = 1024;

    explicit srvLink(QObject *parent = nullptr, Resolver resolver = {});
    ~srvLink() override;

    // The instance created by the linker, or null before that.
    static srvLink *get();

    bool open(const char *host, int port);
    bool close();
    bool resolveHostAddress(const char *name, QHostAddress *out);

    bool isOpen() const { return linkMode == 1; }
    QHostAddress peer() const { return peerAddress; }
    int port() const { return peerPort; }

signals:
    // Valid only during the emission: the buffer is reused for the next datagram.
    void dataReceived(const uint8_t *buff, int len);

public slots:
    void handleDataReceived();
    int send(const uint8_t *buff, int len);

private:
    static QList<QHostAddress> systemLookup(const QString &name);

    uint8_t rxBuffer[rxCapacity] = {};
    int rxLength = 0;
    QHostAddress peerAddress;
    QUdpSocket *udpSocket = nullptr;
    int peerPort = 0;
    int linkMode = 0;
    Resolver resolve;
};

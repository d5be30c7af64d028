#include "server_link.h"

#include <QHostInfo>
#include <QLoggingCategory>
#include <QUdpSocket>

Q_LOGGING_CATEGORY(lcServerLink, "server_link")

namespace {
srvLink *instance = nullptr;
}

srvLink::srvLink(QObject *parent, Resolver resolver)
    : QObject(parent)
    , udpSocket(new QUdpSocket(this))
    , resolve(resolver ? std::move(resolver) : Resolver(&srvLink::systemLookup))
{
    connect(udpSocket, &QUdpSocket::readyRead, this, &srvLink::handleDataReceived);
    if (!instance)
        instance = this;
}

srvLink::~srvLink()
{
    if (instance == this)
        instance = nullptr;
}

srvLink *srvLink::get()
{
    return instance;
}

QList<QHostAddress> srvLink::systemLookup(const QString &name)
{
    // A dotted address needs no lookup at all.
    QHostAddress literal;
    if (literal.setAddress(name))
        return {literal};
    const QHostInfo info = QHostInfo::fromName(name);
    if (info.error() != QHostInfo::NoError)
        return {};
    return info.addresses();
}

bool srvLink::resolveHostAddress(const char *name, QHostAddress *out)
{
    if (!name || !out || !*name)
        return false;
    const QList<QHostAddress> found = resolve(QString::fromUtf8(name));
    if (found.isEmpty())
        return false;
    for (const QHostAddress &a : found) {
        if (a.protocol() == QAbstractSocket::IPv4Protocol) {
            *out = QHostAddress(a.toIPv4Address());
            return true;
        }
    }
    if (found.first().protocol() == QAbstractSocket::IPv6Protocol)
        qCDebug(lcServerLink) << "IP version 6 not supported";
    return false;
}

bool srvLink::open(const char *host, int port)
{
    qCDebug(lcServerLink) << "Opening server connection";
    if (linkMode == 1)
        return true;

    if (!resolveHostAddress(host, &peerAddress)) {
        qCDebug(lcServerLink) << "could not get address";
        peerAddress.clear();
        return false;
    }
    // Port 0 would bind a random local port and send to nowhere.
    if (port <= 0 || port > 0xFFFF) {
        qCDebug(lcServerLink) << "invalid server port" << port;
        peerAddress.clear();
        return false;
    }
    peerPort = port;

    if (udpSocket->bind(QHostAddress::AnyIPv4, static_cast<quint16>(port))) {
        qCDebug(lcServerLink) << "UDP Connected";
        linkMode = 1;
        return true;
    }
    const QString error = udpSocket->errorString();
    udpSocket->abort();
    qCDebug(lcServerLink) << error;
    return false;
}

bool srvLink::close()
{
    if (linkMode == 1) {
        qCDebug(lcServerLink) << "Closing UDP connection";
        udpSocket->abort();
        linkMode = 0;
    }
    return true;
}

int srvLink::send(const uint8_t *buff, int len)
{
    if (linkMode == 0)
        return -1;
    if (!buff || len < 0)
        return -1;
    const qint64 written = udpSocket->writeDatagram(reinterpret_cast<const char *>(buff), len,
                                                    peerAddress, static_cast<quint16>(peerPort));
    if (written < 0)
        qCDebug(lcServerLink) << udpSocket->errorString();
    return static_cast<int>(written);
}

void srvLink::handleDataReceived()
{
    if (linkMode == 0)
        return;
    // Each datagram is handed on by itself, so none is lost or sent twice; the
    // receiver may close the link meanwhile, which ends the loop.
    while (linkMode == 1 && udpSocket->hasPendingDatagrams()) {
        const qint64 size = udpSocket->pendingDatagramSize();
        if (size < 0 || size > rxCapacity) {
            char sink = 0;
            if (udpSocket->readDatagram(&sink, 0) < 0)
                break;
            qCDebug(lcServerLink) << "dropped datagram of" << size << "bytes";
            continue;
        }
        const qint64 got = udpSocket->readDatagram(reinterpret_cast<char *>(rxBuffer), rxCapacity);
        if (got < 0)
            break;
        rxLength = static_cast<int>(got);
        emit dataReceived(rxBuffer, rxLength);
    }
}

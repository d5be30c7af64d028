#include "server_link.h"

#include "datagram_send.h"

#include <QHostInfo>
#include <QLoggingCategory>
#include <QThread>
#include <QUdpSocket>

Q_LOGGING_CATEGORY(lcServerLink, "server_link")

namespace {
srvLink *instance = nullptr;
}

srvLink::srvLink(QObject *parent, Resolver resolver)
    : QObject(parent)
    , resolve(resolver ? std::move(resolver) : Resolver(&srvLink::systemLookup))
    , sendErrors(lcServerLink(), QtDebugMsg)
    , oversize(lcServerLink(), QtDebugMsg)
    , relayThread(new QThread(this))
    , relayContext(new QObject)
    , udpSocket(new QUdpSocket(relayContext))
{
    relayThread->setObjectName(QStringLiteral("relay"));
    relayContext->moveToThread(relayThread);
    connect(udpSocket, &QUdpSocket::readyRead, relayContext, [this] { readBatch(); });
    // The socket goes with its thread, on that thread.
    connect(relayThread, &QThread::finished, relayContext, &QObject::deleteLater);
    relayThread->start();
    if (!instance)
        instance = this;
}

srvLink::~srvLink()
{
    // The socket is deleted on its thread as that thread ends, which unbinds it.
    forgetDescriptor();
    relayThread->quit();
    relayThread->wait();
    if (instance == this)
        instance = nullptr;
}

srvLink *srvLink::get()
{
    return instance;
}

template<class F>
void srvLink::onRelayThread(F call)
{
    if (QThread::currentThread() == relayThread)
        call();
    else
        QMetaObject::invokeMethod(relayContext, std::move(call), Qt::BlockingQueuedConnection);
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

void srvLink::setReadGate(ReadGate gate)
{
    readGate = std::move(gate);
}

bool srvLink::open(const char *host, int port)
{
    qCDebug(lcServerLink) << "Opening server connection";
    if (linkMode.load() == 1)
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

    bool bound = false;
    QString error;
    onRelayThread([&] {
        bound = bindNow(static_cast<quint16>(port), &error);
        if (bound) {
            QMutexLocker guard(&sendLock);
            sendDescriptor = udpSocket->socketDescriptor();
            sendPeer = peerAddress.toIPv4Address();
            sendPort = static_cast<quint16>(port);
        }
    });
    if (bound) {
        qCDebug(lcServerLink) << "UDP Connected";
        linkMode.store(1);
        return true;
    }
    qCDebug(lcServerLink) << error;
    return false;
}

bool srvLink::bindNow(quint16 port, QString *error)
{
    if (udpSocket->bind(QHostAddress::AnyIPv4, port))
        return true;
    *error = udpSocket->errorString();
    udpSocket->abort();
    return false;
}

bool srvLink::close()
{
    if (linkMode.load() == 1) {
        qCDebug(lcServerLink) << "Closing UDP connection";
        onRelayThread([this] {
            forgetDescriptor();
            udpSocket->abort();
        });
        linkMode.store(0);
    }
    return true;
}

void srvLink::forgetDescriptor()
{
    QMutexLocker guard(&sendLock);
    sendDescriptor = -1;
}

int srvLink::send(const uint8_t *buff, int len)
{
    if (!buff || len < 0)
        return -1;
    std::string error;
    int64_t sent = -1;
    {
        QMutexLocker guard(&sendLock);
        if (sendDescriptor < 0)
            return -1;
        sent = sendDatagram(sendDescriptor, sendPeer, sendPort, buff, len, &error);
    }
    if (sent < 0)
        sendErrors.count([&error] { return QString::fromStdString(error); });
    return static_cast<int>(sent);
}

void srvLink::handleDataReceived()
{
    if (QThread::currentThread() == relayThread)
        readBatch();
    else
        QMetaObject::invokeMethod(
                relayContext, [this] { readBatch(); }, Qt::QueuedConnection);
}

void srvLink::readBatch()
{
    // A bounded batch per turn; the socket notifies again while more is pending.
    for (int i = 0; i < kBatch; ++i) {
        if (udpSocket->state() != QAbstractSocket::BoundState)
            return;
        if (!udpSocket->hasPendingDatagrams()) {
            readLate();
            return;
        }
        if (readGate && !readGate())
            return;
        const qint64 size = udpSocket->pendingDatagramSize();
        if (size < 0 || size > rxCapacity) {
            char sink = 0;
            if (udpSocket->readDatagram(&sink, 0) < 0)
                return;
            oversize.count(
                    [size] { return QStringLiteral("dropped datagram of %1 bytes").arg(size); });
            continue;
        }
        const qint64 got = udpSocket->readDatagram(reinterpret_cast<char *>(rxBuffer), rxCapacity);
        if (got < 0)
            return;
        rxLength = static_cast<int>(got);
        emit dataReceived(rxBuffer, rxLength);
    }
}

void srvLink::readLate()
{
    // The socket notifies again only after a read since its last notification, and
    // that notification may come after another call has already read the socket
    // empty. A read that finds nothing starts the notifications again; a datagram
    // that arrived just now is taken as any other (the buffer's extra byte tells
    // an oversize one).
    const qint64 got = udpSocket->readDatagram(reinterpret_cast<char *>(rxBuffer), sizeof rxBuffer);
    if (got < 0)
        return;
    if (got > rxCapacity) {
        oversize.count([] {
            return QStringLiteral("dropped datagram of more than %1 bytes").arg(rxCapacity);
        });
        return;
    }
    rxLength = static_cast<int>(got);
    emit dataReceived(rxBuffer, rxLength);
}

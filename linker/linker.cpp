#include "linker.h"

#include "decimal_text.h"
#include "kmsg.h"
#include "linker_log.h"
#include "server_link.h"
#include "usb_link.h"

#include <QDateTime>
#include <QTimer>

#include <algorithm>
#include <climits>
#include <cstring>

Q_LOGGING_CATEGORY(lcLinker, "linker")

namespace {
cLinker *instance = nullptr;

} // namespace

cLinker::cLinker(usbLink *link, QObject *parent)
    : QThread(parent)
    , usb(link)
    , clock([] { return static_cast<int64_t>(QDateTime::currentSecsSinceEpoch()); })
    , oversizeDrops(lcLinker(), QtDebugMsg)
{
    if (!instance)
        instance = this;

    serverLink = srvLink::get();
    if (!serverLink)
        serverLink = new srvLink(this);
    // Relay payload from the server goes straight from the relay thread to the
    // key's writer, and waits in the socket while the writer's relay share is full.
    connect(serverLink, &srvLink::dataReceived, this, &cLinker::relayFromServer,
            Qt::DirectConnection);
    connect(this, &cLinker::sendToServer, serverLink, &srvLink::send);

    if (usb) {
        srvLink *relay = serverLink;
        serverLink->setReadGate([link] { return link->writer().relayHasRoom(); });
        usb->writer().setRelayRoomCallback([relay] { relay->handleDataReceived(); });
        usb->setPayloadTap([this](const QByteArray &payload) { return relayFromKey(payload); });
        connect(usb, &usbLink::received, this, &cLinker::receiveFromLink);
        connect(usb, &usbLink::usbConnected, this, &cLinker::tryConnectKey);
    }

    if (usb && !usb->isRunning())
        usb->start(QThread::NormalPriority);
}

cLinker::~cLinker()
{
    // Nothing from the relay threads reaches this object from here on.
    if (usb) {
        usb->setPayloadTap({});
        usb->writer().setRelayRoomCallback({});
    }
    if (serverLink && serverLink->parent() == this) {
        delete serverLink;
        serverLink = nullptr;
    } else if (serverLink) {
        disconnect(serverLink, nullptr, this, nullptr);
    }

    if (keyNotReady == 0)
        qCDebug(lcLinker) << "Disconnect KEY";
    // The goodbye goes first: what is still queued for the key is of no use now,
    // and the whole end is bounded (usbLink::stop).
    if (usb)
        usb->writer().discardQueued();
    KMsg bye(MSG_REQUEST);
    bye.add<KTagUInt8>(TAG_DISCONNECT, 0);
    sendMessage(bye);

    // The link's thread ends cleanly: its pending read is cancelled and joined,
    // and the goodbye above is written, or given up when the key takes nothing in time.
    if (usb) {
        usb->stop();
        qCDebug(lcLinker) << "usbLink::get()->stop()";
    }
    if (instance == this)
        instance = nullptr;
}

cLinker *cLinker::get()
{
    if (!instance)
        new cLinker(usbLink::get());
    return instance;
}

void cLinker::destroyInstance()
{
    delete instance;
}

void cLinker::setClock(Clock c)
{
    if (c)
        clock = std::move(c);
}

void cLinker::tryConnectKey(bool stat)
{
    if (stat)
        connectKeynew();
    else
        emit setLayout(0);
    emit usbConnected(stat);
}

void cLinker::connectKeynew()
{
    qCDebug(lcLinker) << "connectKeynew";
    KMsg msg(MSG_REQUEST);
    msg.add<KTagUInt32>(TAG_CONNECT, 0u);
    sendMessage(msg);
    emit setLayout(1);
}

void cLinker::connectKey()
{
    connectKeynew();
}

void cLinker::disConnectKey()
{
    qCDebug(lcLinker) << "Try Disconnect key";
    sendRequest(MSG_REQUEST, TAG_DISCONNECT);
    keyNotReady = 1;
    publishRelayState();
    emit setLayout(0);
}

int cLinker::sendRequest(uint8_t type, uint8_t tagId)
{
    KMsg msg(type);
    msg.add<KTagBytes>(tagId, nullptr, 0);
    return sendMessage(msg);
}

void cLinker::requestScanTag()
{
    qCDebug(lcLinker) << "requestScanTag...";
    sendRequest(MSG_REQUEST, TAG_SCAN);
}

void cLinker::requestOpen()
{
    qCDebug(lcLinker) << "requestOpen...";
    statusText = QStringLiteral("Unlocking...");
    sendRequest(MSG_REQUEST, TAG_OPEN);
}

void cLinker::requestClose()
{
    qCDebug(lcLinker) << "requestClose...";
    statusText = QStringLiteral("Locking...");
    sendRequest(MSG_REQUEST, TAG_CLOSE);
}

void cLinker::requestTransfer()
{
    qCDebug(lcLinker) << "Request Data transfer...";
    KMsg msg(MSG_SET);
    msg.add<KTagNull>(TAG_TRANSFER);
    sendMessage(msg);
}

void cLinker::receiveFromLink(QByteArray payload)
{
    receiveUSB(std::move(payload));
    guiBacklog.fetch_sub(1);
}

void cLinker::receiveUSB(QByteArray payload)
{
    emit TransferBusy(1);
    std::unique_ptr<KMsg> msg
            = KMsg::parse(reinterpret_cast<const uint8_t *>(payload.constData()), payload.size());
    if (!msg)
        return;
    switch (msg->type()) {
    case MSG_SET:
        handleSet(msg.get());
        break;
    case MSG_REQUEST:
        handleRequset(msg.get());
        break;
    case MSG_DATA: {
        // The payload is the first tag's value, whatever its identifier.
        const KTag *tag = msg->first();
        if (!tag)
            break;
        const int n = tag->getBytes(workBuffer, 1024);
        emit sendToServer(workBuffer, n);
        emit TransferBusy(2);
        break;
    }
    default:
        break;
    }
}

bool cLinker::relayFromKey(const QByteArray &payload)
{
    const auto *bytes = reinterpret_cast<const uint8_t *>(payload.constData());
    std::unique_ptr<KMsg> msg;
    // Only relay data, and only while nothing from the key waits for the GUI
    // thread, so the server sees it in the order the key sent it.
    if (guiBacklog.load() == 0 && !payload.isEmpty() && bytes[0] == MSG_DATA)
        msg = KMsg::parse(bytes, payload.size());
    if (!msg || msg->type() != MSG_DATA) {
        guiBacklog.fetch_add(1);
        return false;
    }
    noteTraffic(1);
    if (const KTag *tag = msg->first()) {
        uint8_t data[1024];
        serverLink->send(data, tag->getBytes(data, sizeof data));
        noteTraffic(2);
    }
    return true;
}

void cLinker::sendUSB(const uint8_t *buff, int len)
{
    emit TransferBusy(3);
    if (keyNotReady == 1 || !fitsKeyMessage(len))
        return;
    sendMessage(*dataMessage(buff, len));
}

void cLinker::relayFromServer(const uint8_t *buff, int len)
{
    noteTraffic(3);
    const int state = relayState.load();
    if (!(state & KeyReady) || !fitsKeyMessage(len))
        return;
    uint8_t out[1025];
    const int n = dataMessage(buff, len)->serialize(out, 1024);
    if (n == 0)
        return;
    out[n] = 0; // filler byte
    noteTraffic(0);
    queueForKey(out, n + 1, state & PacedKey, true);
}

std::unique_ptr<KMsg> cLinker::dataMessage(const uint8_t *buff, int len)
{
    auto msg = std::make_unique<KMsg>(MSG_DATA);
    msg->add<KTagBytes>(TAG_DATA, buff, len);
    return msg;
}

bool cLinker::fitsKeyMessage(int len)
{
    if (len <= maxRelayPayload)
        return true;
    oversizeDrops.count([len] {
        return QStringLiteral("server payload of %1 bytes does not fit a key message, dropped")
                .arg(len);
    });
    return false;
}

int cLinker::sendMessage(const KMsg &msg)
{
    emit TransferBusy(0);
    const int n = msg.serialize(workBuffer, 1024);
    if (n == 0)
        return 0;
    workBuffer[n] = 0; // filler byte the key expects after every message
    queueForKey(workBuffer, n + 1, swVersion >= 0x603, false);
    return n;
}

int cLinker::queueForKey(const uint8_t *payload, int n, bool paced, bool fromRelay)
{
    if (!usb)
        return usbLink::NotAttached;
    return usb->queueFrame(payload, n, paced ? KeyWriter::Pacing::Pieces : KeyWriter::Pacing::Whole,
                           fromRelay ? KeyWriter::Origin::Relay : KeyWriter::Origin::Program);
}

void cLinker::publishRelayState()
{
    relayState.store((keyNotReady == 0 ? KeyReady : 0) | (swVersion >= 0x603 ? PacedKey : 0));
}

void cLinker::noteTraffic(int direction)
{
    // At most one update in flight and one per kTrafficMs, however many
    // datagrams pass: the arrows stay lit for about a second anyway.
    pendingTraffic.fetch_or(1 << direction);
    if (!trafficScheduled.exchange(true))
        QMetaObject::invokeMethod(this, &cLinker::emitTraffic, Qt::QueuedConnection);
}

void cLinker::emitTraffic()
{
    const int directions = pendingTraffic.exchange(0);
    for (int direction : {1, 2, 3, 0}) {
        if (directions & (1 << direction))
            emit TransferBusy(direction);
    }
    if (directions == 0) {
        trafficScheduled.store(false);
        // Traffic noted just before the flag dropped still gets its update.
        if (pendingTraffic.load() && !trafficScheduled.exchange(true))
            emitTraffic();
        return;
    }
    QTimer::singleShot(kTrafficMs, this, &cLinker::emitTraffic);
}

void cLinker::parseVersion()
{
    const char *end = SW + strnlen(SW, sizeof SW);
    const char *dot1 = static_cast<const char *>(memchr(SW, '.', end - SW));
    long long second = 0;
    long long third = 0;
    if (dot1) {
        const char *start2 = dot1 + 1;
        const char *dot2 = static_cast<const char *>(memchr(start2, '.', end - start2));
        second = leadingNumber(start2, dot2 ? dot2 : end);
        if (dot2) {
            const char *start3 = dot2 + 1;
            const char *dot3 = static_cast<const char *>(memchr(start3, '.', end - start3));
            third = leadingNumber(start3, dot3 ? dot3 : end);
        }
    }
    const long long v = second * 256 + third;
    swVersion = static_cast<int>(std::clamp<long long>(v, INT_MIN, INT_MAX));
    publishRelayState();
}

void cLinker::tellOperator(OperatorPrompt::Kind kind, const QString &title, const QString &text)
{
    if (operatorPrompt)
        operatorPrompt->message(kind, title, text);
    else
        qCWarning(lcLinker) << title << text;
}

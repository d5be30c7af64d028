#include "linker.h"

#include "decimal_text.h"
#include "kmsg.h"
#include "linker_log.h"
#include "server_link.h"
#include "usb_link.h"

#include <QDateTime>

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
{
    if (!instance)
        instance = this;

    if (usb) {
        connect(usb, &usbLink::received, this, &cLinker::receiveUSB);
        connect(usb, &usbLink::usbConnected, this, &cLinker::tryConnectKey);
    }

    serverLink = srvLink::get();
    if (!serverLink)
        serverLink = new srvLink(this);
    connect(serverLink, &srvLink::dataReceived, this, &cLinker::sendUSB);
    connect(this, &cLinker::sendToServer, serverLink, &srvLink::send);

    if (usb && !usb->isRunning())
        usb->start(QThread::NormalPriority);
}

cLinker::~cLinker()
{
    if (keyNotReady == 0)
        qCDebug(lcLinker) << "Disconnect KEY";
    KMsg bye(MSG_REQUEST);
    bye.add<KTagUInt8>(TAG_DISCONNECT, 0);
    sendMessage(bye);

    // The link's thread ends cleanly: its pending read is cancelled and joined.
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

void cLinker::sendUSB(const uint8_t *buff, int len)
{
    emit TransferBusy(3);
    if (keyNotReady == 1)
        return;
    if (len > maxRelayPayload) {
        qCDebug(lcLinker) << "server payload of" << len
                          << "bytes does not fit a key message, dropped";
        return;
    }
    KMsg msg(MSG_DATA);
    msg.add<KTagBytes>(TAG_DATA, buff, len);
    sendMessage(msg);
}

int cLinker::sendMessage(const KMsg &msg)
{
    emit TransferBusy(0);
    const int n = msg.serialize(workBuffer, 1024);
    if (n == 0)
        return 0;
    workBuffer[n] = 0; // filler byte the key expects after every message
    if (usb) {
        if (swVersion >= 0x603)
            usb->framedSend(workBuffer, n + 1);
        else
            usb->send(workBuffer, n + 1);
    }
    return n;
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
    swVersion = static_cast<int>(qBound<long long>(INT_MIN, v, INT_MAX));
}

void cLinker::tellOperator(OperatorPrompt::Kind kind, const QString &title, const QString &text)
{
    if (operatorPrompt)
        operatorPrompt->message(kind, title, text);
    else
        qCWarning(lcLinker) << title << text;
}

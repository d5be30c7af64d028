#include "virtual_key.h"

#include "key_link.h"
#include "key_messages.h"
#include "kmsg.h"

#include <QDateTime>

namespace {

QString hex(const QByteArray &bytes)
{
    return QString::fromLatin1(bytes.toHex());
}

} // namespace

VirtualKey::VirtualKey(KeyLink *link, QObject *parent)
    : QObject(parent)
    , m_link(link)
{
    m_labels[0] = {QStringLiteral("Site: Demo packing point"), QStringLiteral("green")};
    m_labels[1] = {QStringLiteral("Operator key"), QStringLiteral("turkois")};
    m_labels[2] = {QStringLiteral("Firmware test build"), QStringLiteral("orange")};
    m_bar.setInterval(150);
    connect(&m_bar, &QTimer::timeout, this, &VirtualKey::barStep);
}

void VirtualKey::setRfids(const QList<QByteArray> &rfids)
{
    m_rfids = rfids;
    m_nextRfid = 0;
}

void VirtualKey::setLabel(int index, const KeyLabel &label)
{
    if (index < 0 || index > 2)
        return;
    m_labels[index] = label;
    KMsg msg(MSG_SET);
    msg.add<KTagUInt8>(TAG_LABEL_INDEX, static_cast<unsigned>(index));
    msg.add<KTagString>(TAG_LABEL_TEXT, label.text.toUtf8().constData());
    msg.add<KTagString>(TAG_LABEL_COLOR, label.colour.toUtf8().constData());
    send(msg);
}

void VirtualKey::send(const KMsg &msg)
{
    const QByteArray bytes = keymsg::bytes(msg);
    if (bytes.isEmpty()) {
        emit keyEvent(QStringLiteral("error"), QStringLiteral("message too large, not sent"));
        return;
    }
    m_link->sendMessage(bytes);
}

void VirtualKey::setBattery(int level)
{
    m_battery = qBound(0, level, 255);
    KMsg msg(MSG_SET);
    msg.add<KTagUInt8>(TAG_BATTERY, static_cast<unsigned>(m_battery));
    send(msg);
}

void VirtualKey::setMode(int bits)
{
    m_mode = bits & 0xFF;
    KMsg msg(MSG_SET);
    msg.add<KTagUInt8>(TAG_MODE, static_cast<unsigned>(m_mode));
    send(msg);
}

void VirtualKey::setTransferCount(std::uint32_t count)
{
    m_transferCount = count;
    KMsg msg(MSG_SET);
    msg.add<KTagUInt32>(TAG_TRANS_COUNT, m_transferCount);
    send(msg);
}

void VirtualKey::sendIdentity()
{
    // Everything in one message: the program takes the key as identified only
    // when all six identity tags arrive together.
    KMsg msg(MSG_SET);
    msg.add<KTagUInt32>(TAG_SERIAL, m_identity.serial);
    msg.add<KTagString>(TAG_BOX, m_identity.box.toUtf8().constData());
    msg.add<KTagString>(TAG_SW, m_identity.sw.toUtf8().constData());
    msg.add<KTagString>(TAG_HW, m_identity.hw.toUtf8().constData());
    msg.add<KTagString>(TAG_SERVER, m_identity.relayHost.toUtf8().constData());
    msg.add<KTagUInt16>(TAG_PORT, m_identity.relayPort);
    msg.add<KTagString>(TAG_SERVICE, m_identity.serviceHost.toUtf8().constData());
    msg.add<KTagUInt16>(TAG_SERVICE_PORT, m_identity.servicePort);
    msg.add<KTagUInt8>(TAG_BATTERY, static_cast<unsigned>(m_battery));
    msg.add<KTagUInt8>(TAG_MODE, static_cast<unsigned>(m_mode));
    msg.add<KTagUInt32>(TAG_TRANS_COUNT, m_transferCount);
    for (int i = 0; i < 3; ++i) {
        msg.add<KTagUInt8>(TAG_LABEL_INDEX, static_cast<unsigned>(i));
        msg.add<KTagString>(TAG_LABEL_TEXT, m_labels[i].text.toUtf8().constData());
        msg.add<KTagString>(TAG_LABEL_COLOR, m_labels[i].colour.toUtf8().constData());
    }
    m_keyBar = 128;
    msg.add<KTagUInt8>(TAG_KEY_BAR, 128u);
    send(msg);
}

void VirtualKey::scan()
{
    const QByteArray rfid = m_rfids.isEmpty() ? QByteArray() : m_rfids.at(m_nextRfid);
    if (!m_rfids.isEmpty())
        m_nextRfid = (m_nextRfid + 1) % m_rfids.size();
    KMsg msg(MSG_SET);
    msg.add<KTagBytes>(TAG_SCAN, reinterpret_cast<const uint8_t *>(rfid.constData()), rfid.size());
    send(msg);
    emit keyEvent(QStringLiteral("scanned"), hex(rfid));
}

void VirtualKey::requestRelayOpen()
{
    KMsg msg(MSG_REQUEST);
    msg.add<KTagNull>(TAG_CONNECT);
    send(msg);
}

void VirtualKey::requestRelayClose()
{
    KMsg msg(MSG_REQUEST);
    msg.add<KTagNull>(TAG_DISCONNECT);
    send(msg);
}

void VirtualKey::sendRelayPayload(const QByteArray &payload)
{
    KMsg msg(MSG_DATA);
    msg.add<KTagBytes>(TAG_DATA, reinterpret_cast<const uint8_t *>(payload.constData()),
                       payload.size());
    send(msg);
}

void VirtualKey::queryTime()
{
    KMsg msg(MSG_REQUEST);
    msg.add<KTagNull>(TAG_TIME);
    msg.add<KTagNull>(TAG_QUERY);
    msg.add<KTagNull>(TAG_QUERY_END);
    send(msg);
}

void VirtualKey::hostMessage(const QByteArray &payload)
{
    auto msg = KMsg::parse(reinterpret_cast<const uint8_t *>(payload.constData()), payload.size());
    if (!msg) {
        emit keyEvent(QStringLiteral("bad-message"), hex(payload));
        return;
    }
    switch (msg->type()) {
    case MSG_REQUEST:
        handleRequest(*msg);
        break;
    case MSG_SET:
        handleSet(*msg);
        break;
    case MSG_DATA: {
        const KTag *tag = msg->at(0);
        if (!tag)
            return;
        const QByteArray data(reinterpret_cast<const char *>(tag->data()), tag->len());
        m_relayReceived.append(data);
        emit keyEvent(QStringLiteral("relay-data"), hex(data));
        break;
    }
    default:
        emit keyEvent(QStringLiteral("bad-message"), hex(payload));
    }
}

void VirtualKey::handleRequest(KMsg &msg)
{
    msg.first();
    while (const KTag *tag = msg.next()) {
        switch (tag->id()) {
        case TAG_CONNECT:
            emit keyEvent(QStringLiteral("connect-request"), QString());
            sendIdentity();
            break;
        case TAG_DISCONNECT: {
            m_bar.stop();
            emit keyEvent(QStringLiteral("disconnect-request"), QString());
            KMsg ack(MSG_SET);
            ack.add<KTagNull>(TAG_DISCONNECT);
            send(ack);
            break;
        }
        case TAG_SCAN:
            emit keyEvent(QStringLiteral("scan-request"), QString());
            scan();
            break;
        case TAG_OPEN:
            emit keyEvent(QStringLiteral("open-request"), QString());
            startBar(0, 100, 10, false);
            break;
        case TAG_CLOSE:
            emit keyEvent(QStringLiteral("close-request"), QString());
            startBar(0, 100, 10, false);
            break;
        default:
            emit keyEvent(QStringLiteral("unknown-request"), QString::number(tag->id()));
        }
    }
}

void VirtualKey::handleSet(KMsg &msg)
{
    msg.first();
    while (const KTag *tag = msg.next()) {
        switch (tag->id()) {
        case TAG_TRANSFER:
            emit keyEvent(QStringLiteral("transfer-request"), QString());
            startBar(129, 228, 11, true);
            break;
        case TAG_CONNECT:
            m_relayOpen = true;
            emit keyEvent(QStringLiteral("relay-open"), QString());
            break;
        case TAG_DISCONNECT:
            m_relayOpen = false;
            emit keyEvent(QStringLiteral("relay-closed"), QString());
            break;
        case TAG_TIME: {
            const qint64 now = QDateTime::currentSecsSinceEpoch();
            const std::uint32_t t = tag->getUInt32();
            // The answer holds the low 32 bits of the program's clock.
            const qint64 skew = static_cast<qint64>(t) - (now & 0xFFFFFFFF);
            emit keyEvent(QStringLiteral("time"), QStringLiteral("%1 skew %2 s").arg(t).arg(skew));
            break;
        }
        case TAG_QUERY:
        case TAG_QUERY_END:
            emit keyEvent(QStringLiteral("value"),
                          QStringLiteral("%1=%2").arg(tag->id()).arg(tag->getUInt32(), 8, 16,
                                                                     QLatin1Char('0')));
            break;
        default:
            emit keyEvent(QStringLiteral("unknown-set"), QString::number(tag->id()));
        }
    }
}

void VirtualKey::startBar(int from, int to, int step, bool transfer)
{
    m_barValue = from;
    m_barEnd = to;
    m_barStep = step;
    m_barTransfer = transfer;
    barStep();
    m_bar.start();
}

void VirtualKey::barStep()
{
    KMsg msg(MSG_SET);
    const bool last = m_barValue >= m_barEnd;
    const int value = last ? m_barEnd : m_barValue;
    if (last && !m_barTransfer) {
        // Progress reached 100: the key reports ready again.
        msg.add<KTagUInt8>(TAG_KEY_BAR, static_cast<unsigned>(value));
        send(msg);
        KMsg ready(MSG_SET);
        ready.add<KTagUInt8>(TAG_KEY_BAR, 128u);
        send(ready);
        m_keyBar = 128;
    } else {
        msg.add<KTagUInt8>(TAG_KEY_BAR, static_cast<unsigned>(value));
        if (last) // 228 means the transfer is complete
            msg.add<KTagUInt32>(TAG_TRANS_COUNT, ++m_transferCount);
        send(msg);
        m_keyBar = value;
    }
    if (last) {
        m_bar.stop();
        emit keyEvent(m_barTransfer ? QStringLiteral("transfer-done") : QStringLiteral("bar-done"),
                      QString::number(m_transferCount));
    } else {
        m_barValue = qMin(m_barValue + m_barStep, m_barEnd);
    }
}

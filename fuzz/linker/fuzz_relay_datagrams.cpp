// Datagrams of any size and content from the relay server, through the relay link
// and the linker to the key: each datagram that fits a key message reaches the key
// once, whole and in order; larger ones are dropped; nothing else is sent.
#include "linker_rig.h"

#include <QUdpSocket>

#include <cstddef>
#include <cstdint>

namespace {

quint16 relayPort = 0;

QByteArray identity(quint16 port)
{
    KMsg msg(MSG_SET);
    msg.add<KTagUInt32>(TAG_SERIAL, 0x1A2Bu);
    msg.add<KTagString>(TAG_BOX, "BOX");
    msg.add<KTagString>(TAG_SW, "9.6.2"); // one transfer per message
    msg.add<KTagString>(TAG_HW, "2.1");
    msg.add<KTagString>(TAG_SERVER, "relay");
    msg.add<KTagUInt16>(TAG_PORT, port);
    uint8_t buf[kMsgMaxSize];
    return QByteArray(reinterpret_cast<const char *>(buf), msg.serialize(buf, sizeof buf));
}

QByteArray connectRequest()
{
    KMsg msg(MSG_REQUEST);
    msg.add<KTagBytes>(TAG_CONNECT, nullptr, 0);
    uint8_t buf[kMsgMaxSize];
    return QByteArray(reinterpret_cast<const char *>(buf), msg.serialize(buf, sizeof buf));
}

// The relay payload of a message to the key, or a null array for any other message.
QByteArray relayed(const QByteArray &payload)
{
    auto msg = KMsg::parse(reinterpret_cast<const uint8_t *>(payload.constData()),
                           payload.size() - 1);
    if (!msg || msg->type() != MSG_DATA || !msg->first())
        return QByteArray();
    const KTag *tag = msg->first();
    QByteArray value(""); // empty, not null
    if (tag->len() > 0)
        value = QByteArray(reinterpret_cast<const char *>(tag->data()), tag->len());
    return value;
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    startQuietApplication();
    QUdpSocket probe;
    probe.bind(QHostAddress(QHostAddress::LocalHost), 0);
    relayPort = probe.localPort();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    LinkerRig rig;
    if (!rig.attached())
        return 0;
    rig.fromKey(identity(relayPort));
    rig.fromKey(connectRequest());
    if (!rig.relay.isOpen())
        return 0;

    // Records of two header bytes and data: bit 7 of the first byte repeats the next
    // byte to the length in the low 11 bits, so that large datagrams need little input.
    QList<QByteArray> datagrams;
    size_t pos = 0;
    while (pos + 2 <= size && datagrams.size() < 64) {
        const bool fill = data[pos] & 0x80;
        const int length = ((data[pos] & 0x07) << 8) | data[pos + 1];
        pos += 2;
        QByteArray datagram;
        if (fill) {
            datagram = QByteArray(length, pos < size ? char(data[pos]) : 'x');
            pos += pos < size ? 1 : 0;
        } else {
            const size_t n = size_t(length) < size - pos ? size_t(length) : size - pos;
            datagram = QByteArray(reinterpret_cast<const char *>(data + pos), int(n));
            pos += n;
        }
        datagrams << datagram;
    }
    const QByteArray sentinel("end of input");
    datagrams << sentinel;
    QUdpSocket server;
    for (const QByteArray &datagram : datagrams)
        server.writeDatagram(datagram, QHostAddress::LocalHost, relayPort);
    const bool arrived = pumpUntil([&] {
        const QVector<QByteArray> sent = rig.sentPayloads();
        return !sent.isEmpty() && relayed(sent.last()) == sentinel;
    });
    require(arrived);

    QList<QByteArray> expected;
    for (const QByteArray &datagram : datagrams) {
        if (datagram.size() <= cLinker::maxRelayPayload)
            expected << datagram;
    }
    // Writes to the key may be made on another thread, in their own time: only the
    // relay payload is compared, whatever else the linker sent around it.
    QList<QByteArray> got;
    for (const QByteArray &payload : rig.sentPayloads()) {
        const QByteArray data = relayed(payload);
        if (!data.isNull())
            got << data;
    }
    require(got == expected);
    return 0;
}

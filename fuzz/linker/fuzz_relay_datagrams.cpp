// Datagrams of any size and content from the relay server, through the relay link
// and the linker to the key: each datagram that fits a key message reaches the key
// once, whole and in order; larger ones are dropped; nothing else is sent.
//
// One linker, attached and relaying, serves every input: its threads are started
// once, and each input only sends datagrams and waits for them at the key.
#include "linker_rig.h"

#include <QDeadlineTimer>
#include <QUdpSocket>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>

namespace {

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

// Datagrams in flight at most, each no larger than 2047 bytes: far less than a
// socket's default receive buffer holds.
constexpr int kGroup = 16;

quint16 freeLoopbackPort()
{
    QUdpSocket probe;
    probe.bind(QHostAddress(QHostAddress::LocalHost), 0);
    return probe.localPort();
}

// The linker with its relay open on a free port, and the server's socket.
struct RelayRig
{
    RelayRig()
        : port(freeLoopbackPort())
    {
        if (!linker.attached())
            return;
        linker.fromKey(identity(port));
        linker.fromKey(connectRequest());
        // What the linker answered the key is no datagram.
        linker.takeSentPayloads(0);
    }
    bool ready() const { return port != 0 && linker.relay.isOpen(); }

    quint16 port;
    LinkerRig linker;
    QUdpSocket server;
};

RelayRig *rig = nullptr;

} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    startQuietApplication();
    // Made after the application object, so it is destroyed (threads joined) before it.
    static RelayRig relayRig;
    if (!relayRig.ready()) {
        std::fprintf(stderr, "the relay link did not open\n");
        std::abort();
    }
    rig = &relayRig;
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
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
    // Sent in groups, each followed by a marker that must reach the key before the
    // next group goes: a burst of large datagrams could overflow the socket's receive
    // buffer, and the kernel would drop some before the relay link sees them. The
    // last marker also ensures nothing of this input reaches the key during the next.
    // Writes to the key may be made on another thread, in their own time: only the
    // relay payload is compared, whatever else the linker sent around it.
    QList<QByteArray> expected;
    QList<QByteArray> got;
    QDeadlineTimer deadline(3000);
    for (int first = 0; first == 0 || first < datagrams.size(); first += kGroup) {
        const int end = std::min(first + kGroup, int(datagrams.size()));
        const QByteArray marker = "end of group " + QByteArray::number(first / kGroup);
        for (int i = first; i < end; ++i) {
            rig->server.writeDatagram(datagrams[i], QHostAddress::LocalHost, rig->port);
            if (datagrams[i].size() <= cLinker::maxRelayPayload)
                expected << datagrams[i];
        }
        rig->server.writeDatagram(marker, QHostAddress::LocalHost, rig->port);
        expected << marker;
        while (got.size() < expected.size() && !deadline.hasExpired()) {
            for (const QByteArray &payload : rig->linker.takeSentPayloads(1)) {
                const QByteArray data = relayed(payload);
                if (!data.isNull())
                    got << data;
            }
        }
    }
    // The linker's traffic updates, posted from the relay threads.
    QCoreApplication::processEvents();
    if (got != expected) {
        int same = 0;
        while (same < got.size() && same < expected.size() && got[same] == expected[same])
            ++same;
        std::fprintf(stderr,
                     "relay payloads at the key: %d of %d expected (%s); the first %d "
                     "as sent, then %d bytes where %d were sent\n",
                     int(got.size()), int(expected.size()),
                     deadline.hasExpired() ? "gave up waiting" : "in time", same,
                     same < got.size() ? int(got[same].size()) : -1,
                     same < expected.size() ? int(expected[same].size()) : -1);
        std::abort();
    }
    return 0;
}

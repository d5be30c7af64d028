// End to end through libusb and an emulated key: identity, relay connect,
// relay payload to an echo server in its own network namespace and back.
#include "emulated_key.h"
#include "frame_codec.h"
#include "key_rig.h"
#include "kmsg.h"
#include "libusb_device.h"
#include "netns_pair.h"
#include "server_link.h"

#include <QCoreApplication>
#include <QSignalSpy>
#include <QTest>
#include <QUdpSocket>

#include <cstdio>

class TestLinkerEmulatedKey : public QObject
{
    Q_OBJECT
private slots:
    void identityRelayConnectAndEchoRoundTrip()
    {
        const QString why = NetnsPair::unavailableReason();
        if (!why.isEmpty())
            QSKIP(qPrintable(why));
        NetnsPair net;
        QString error;
        QVERIFY2(net.setUp(&error), qPrintable(error));
        const quint16 port = freeUdpPort();
        const int fd = net.udpSocketInside(port);
        QVERIFY(fd >= 0);
        UdpEcho echo(fd);

        EmulatedBus bus;
        EmulatedKey key(bus);
        QVERIFY(key.plug());
        usbLink link(std::make_unique<LibusbDevice>());
        cLinker linker(&link);
        QSignalSpy ready(&linker, &cLinker::nvmReady);
        QSignalSpy attached(&linker, &cLinker::usbConnected);

        // Attached: the connect request arrives at the key.
        QByteArray payload;
        QVERIFY(QTest::qWaitFor([&] { return key.takeFrame(payload, 10); }, 10000));
        QCOMPARE(payload, hex("01 01 1A 02 00 04 00 00 00 00 00"));
        QCOMPARE(attached.count(), 1);

        auto fromKey = [&key](const std::function<void(KMsg &)> &build, uint8_t type) {
            KMsg msg(type);
            build(msg);
            uint8_t buf[kMsgMaxSize + 1] = {};
            const int n = msg.serialize(buf, kMsgMaxSize);
            key.queueFromKey(frameOf(QByteArray(reinterpret_cast<const char *>(buf), n + 1)));
        };
        const QByteArray server = net.peerAddress().toLatin1();
        fromKey(
                [&](KMsg &m) {
                    m.add<KTagUInt32>(TAG_SERIAL, 0xC0FFEEu);
                    m.add<KTagString>(TAG_BOX, "BOX-1");
                    m.add<KTagString>(TAG_SW, "1.6.3");
                    m.add<KTagString>(TAG_HW, "3");
                    m.add<KTagString>(TAG_SERVER, server.constData());
                    m.add<KTagUInt16>(TAG_PORT, port);
                },
                MSG_SET);
        QTRY_COMPARE_WITH_TIMEOUT(ready.count(), 1, 5000);
        QCOMPARE(ready.at(0).at(1).toString(), QStringLiteral("00C0FFEE"));
        QCOMPARE(linker.softwareVersion(), 0x603); // from here on sent in 63-byte pieces

        fromKey([](KMsg &m) { m.add<KTagNull>(TAG_CONNECT); }, MSG_REQUEST);
        QVERIFY(QTest::qWaitFor([&] { return key.takeFrame(payload, 10); }, 5000));
        QCOMPARE(payload, hex("00 01 1A 05 00 00 00"));
        QVERIFY(linker.relay()->isOpen());

        const QByteArray data(300, '\x7e');
        fromKey(
                [&](KMsg &m) {
                    m.add<KTagBytes>(TAG_DATA, reinterpret_cast<const uint8_t *>(data.constData()),
                                     data.size());
                },
                MSG_DATA);
        QVERIFY(QTest::qWaitFor([&] { return key.takeFrame(payload, 10); }, 5000));
        QCOMPARE(payload, hex("05 01 25 05 01 2C") + data + QByteArray(1, '\0'));
        QCOMPARE(echo.echoed(), 1);
    }
};

int main(int argc, char **argv)
{
    if (!EmulatedBus::ensurePreloaded(argc, argv)) {
        std::fprintf(stderr, "cannot run under the umockdev preload\n");
        return 1;
    }
    QCoreApplication app(argc, argv);
    TestLinkerEmulatedKey t;
    return QTest::qExec(&t, argc, argv);
}

#include "tst_linker_emukey.moc"

// Relay through the linker with real UDP sockets: key -> program -> server and
// back, a burst from the server, and payloads too large for one key message.
#include "expect_log.h"
#include "key_rig.h"
#include "kmsg.h"
#include "netns_pair.h"
#include "server_link.h"

#include <QCoreApplication>
#include <QRegularExpression>
#include <QTest>
#include <QThread>
#include <QUdpSocket>

namespace {

QByteArray dataMessage(const QByteArray &payload)
{
    KMsg msg(MSG_DATA);
    msg.add<KTagBytes>(TAG_DATA, reinterpret_cast<const uint8_t *>(payload.constData()),
                       payload.size());
    uint8_t buf[kMsgMaxSize];
    const int n = msg.serialize(buf, sizeof buf);
    return QByteArray(reinterpret_cast<const char *>(buf), n);
}

// What the key receives for a relayed payload: the message and the filler byte.
QByteArray toKey(const QByteArray &payload)
{
    return dataMessage(payload) + QByteArray(1, '\0');
}
} // namespace

class TestLinkerRelay : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase() { testlog::serialize(); }
    void keyToEchoServerAndBack()
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

        KeyRig rig;
        QVERIFY(rig.attach());
        rig.identify("9.6.2", net.peerAddress().toLatin1().constData(), port);
        // The key's requests come through the USB link, as frames.
        rig.script->feed(frameOf(hex("01 01 1A 00 00 00 00")));
        QVERIFY(rig.waitForSent(1));
        QCOMPARE(rig.takeSent(), QList<QByteArray> {hex("00 01 1A 05 00 00 00")});

        const QByteArray payload("\x7e\x7d relay \x00 bytes", 16);
        rig.script->feed(frameOf(dataMessage(payload) + QByteArray(1, '\0')));
        QVERIFY(rig.waitForSent(1));
        QCOMPARE(rig.takeSent(), QList<QByteArray> {toKey(payload)});
        QCOMPARE(echo.echoed(), 1);

        // Closed by the key: nothing more goes out.
        rig.script->feed(frameOf(hex("01 01 1B 00 00 00 00")));
        QVERIFY(rig.waitForSent(1));
        QCOMPARE(rig.takeSent(), QList<QByteArray> {hex("00 01 1B 05 00 00 00")});
        rig.script->feed(frameOf(dataMessage("late") + QByteArray(1, '\0')));
        QTest::qWait(100);
        QCOMPARE(echo.echoed(), 1);
        QVERIFY(rig.takeSent().isEmpty());
    }

    void relayKeepsKeyOrderAndShowsTrafficOnWindowThread()
    {
        QList<int> traffic;
        bool offThread = false;
        KeyRig rig;
        QVERIFY(rig.attach());
        // Our own sends to 127.0.0.1 at the bound port come back to the link.
        const quint16 port = freeUdpPort();
        rig.identify("1.6.3", "127.0.0.1", port);
        QObject::connect(rig.linker.get(), &cLinker::TransferBusy, [&](int direction) {
            traffic << direction;
            offThread |= QThread::currentThread() != qApp->thread();
        });
        rig.takeSent();
        // Relay data right behind the connect request, in the same read: it
        // must not overtake the request and meet a closed link.
        const QByteArray payload(200, 'r');
        rig.script->feed(frameOf(hex("01 01 1A 00 00 00 00"))
                         + frameOf(dataMessage(payload) + QByteArray(1, '\0')));
        QVERIFY(rig.waitForSent(2));
        const QList<QByteArray> writes = rig.takeWrites();
        QByteArray stream;
        for (const QByteArray &w : writes) {
            QVERIFY(w.size() <= 63); // the key's software wants 63-byte pieces
            stream += w;
        }
        QCOMPARE(framesIn(stream),
                 (QList<QByteArray> {hex("00 01 1A 05 00 00 00"), toKey(payload)}));
        for (int direction : {0, 1, 2, 3})
            QTRY_VERIFY(traffic.contains(direction));
        QVERIFY(!offThread);
    }

    void burstFromServerReachesKeyOnceInOrder()
    {
        KeyRig rig;
        QVERIFY(rig.attach());
        const quint16 port = freeUdpPort();
        rig.identify("9.6.2", "127.0.0.1", port);
        rig.fromKey(hex("01 01 1A 00 00 00"));
        QVERIFY(rig.linker->relay()->isOpen());
        rig.takeSent();

        QUdpSocket server;
        QList<QByteArray> got;
        for (int i = 0; i < 1000; ++i) {
            const QByteArray d = "datagram " + QByteArray::number(i);
            QCOMPARE(server.writeDatagram(d, QHostAddress::LocalHost, port), qint64(d.size()));
            // Bursts of 100 back to back, paced so the kernel queue never overflows.
            if (i % 100 == 99) {
                QVERIFY(QTest::qWaitFor(
                        [&] {
                            got += rig.takeSent();
                            return got.size() >= i + 1;
                        },
                        5000));
            }
        }
        QTest::qWait(20);
        got += rig.takeSent();
        QCOMPARE(got.size(), 1000);
        for (int i = 0; i < 1000; ++i)
            QCOMPARE(got[i], toKey("datagram " + QByteArray::number(i)));
    }

    void payloadTooLargeForKeyIsDroppedWithReason()
    {
        KeyRig rig;
        QVERIFY(rig.attach());
        const quint16 port = freeUdpPort();
        rig.identify("9.6.2", "127.0.0.1", port);
        rig.fromKey(hex("01 01 1A 00 00 00"));
        rig.takeSent();

        QUdpSocket server;
        expectLog(QtDebugMsg,
                  QRegularExpression(
                          "^server payload of 1019 bytes does not fit a key message, dropped "));
        expectLog(QtDebugMsg, QRegularExpression("^dropped datagram of 1025 bytes "));
        server.writeDatagram(QByteArray(1019, 'a'), QHostAddress::LocalHost, port);
        server.writeDatagram(QByteArray(1025, 'b'), QHostAddress::LocalHost, port);
        server.writeDatagram(QByteArray(1018, 'c'), QHostAddress::LocalHost, port);
        QList<QByteArray> got;
        QVERIFY(QTest::qWaitFor(
                [&] {
                    got += rig.takeSent();
                    return !got.isEmpty();
                },
                3000));
        QTest::qWait(50);
        got += rig.takeSent();
        QCOMPARE(got, QList<QByteArray> {toKey(QByteArray(1018, 'c'))});
    }

    void serverDataBeforeIdentityIsDropped()
    {
        KeyRig rig;
        QVERIFY(rig.attach());
        const quint16 port = freeUdpPort();
        rig.identify("9.6.2", "127.0.0.1", port);
        rig.fromKey(hex("01 01 1A 00 00 00"));
        rig.linker->disConnectKey(); // the key counts as not identified again
        rig.takeSent();
        QUdpSocket server;
        server.writeDatagram("x", QHostAddress::LocalHost, port);
        QTest::qWait(100);
        QVERIFY(rig.takeSent().isEmpty());
        QVERIFY(rig.linker->relay()->isOpen());
    }
};

QTEST_GUILESS_MAIN(TestLinkerRelay)
#include "tst_linker_relay.moc"

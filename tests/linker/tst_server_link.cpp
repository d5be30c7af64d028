#include "expect_log.h"
#include "netns_pair.h"
#include "server_link.h"

#include <QMutex>
#include <QRegularExpression>
#include <QSemaphore>
#include <QTest>
#include <QUdpSocket>

#include <atomic>
#include <memory>
#include <vector>

// Collects what the link hands on. It is handed on on the link's relay thread
// and the buffer is only valid during the emission, so the bytes are copied.
struct Received
{
    void attach(srvLink &link)
    {
        QObject::connect(
                &link, &srvLink::dataReceived, &link,
                [this](const uint8_t *b, int n) {
                    QMutexLocker guard(&mutex);
                    datagrams.emplace_back(reinterpret_cast<const char *>(b), n);
                },
                Qt::DirectConnection);
    }
    size_t count() const
    {
        QMutexLocker guard(&mutex);
        return datagrams.size();
    }
    QByteArray at(size_t i) const
    {
        QMutexLocker guard(&mutex);
        return datagrams.at(i);
    }

private:
    mutable QMutex mutex;
    std::vector<QByteArray> datagrams;
};

class TestServerLink : public QObject
{
    Q_OBJECT
private:
    static int sendTo(const QByteArray &bytes, quint16 port)
    {
        QUdpSocket sender;
        return static_cast<int>(sender.writeDatagram(bytes, QHostAddress::LocalHost, port));
    }

private slots:
    void initTestCase() { testlog::serialize(); }
    void singleInstanceIsTheFirstOne()
    {
        QVERIFY(srvLink::get() == nullptr);
        {
            srvLink first;
            srvLink second;
            QCOMPARE(srvLink::get(), &first);
        }
        QVERIFY(srvLink::get() == nullptr);
    }

    void openBindsServerPortAndRelaysBothWays()
    {
        srvLink link;
        Received rx;
        rx.attach(link);
        const quint16 port = freeUdpPort();
        QVERIFY(link.open("127.0.0.1", port));
        QVERIFY(link.isOpen());

        // Bound to the server's port: another sender's datagram comes out.
        QCOMPARE(sendTo(QByteArray(20, 'a'), port), 20);
        QTRY_COMPARE(rx.count(), size_t(1));
        QCOMPARE(rx.at(0), QByteArray(20, 'a'));

        // Sent to the server at its port, here our own socket on loopback.
        const QByteArray hello("hello");
        QCOMPARE(link.send(reinterpret_cast<const uint8_t *>(hello.constData()), hello.size()), 5);
        QTRY_COMPARE(rx.count(), size_t(2));
        QCOMPARE(rx.at(1), hello);
    }

    void secondOpenKeepsTheFirstServer()
    {
        srvLink link;
        Received rx;
        rx.attach(link);
        const quint16 port = freeUdpPort();
        QVERIFY(link.open("127.0.0.1", port));
        QVERIFY(link.open("127.0.0.2", port == 65535 ? 1024 : port + 1));
        QCOMPARE(link.peer(), QHostAddress(QStringLiteral("127.0.0.1")));
        QCOMPARE(link.port(), int(port));
        const uint8_t byte = 0x42;
        QCOMPARE(link.send(&byte, 1), 1);
        QTRY_COMPARE(rx.count(), size_t(1));
        QCOMPARE(rx.at(0), QByteArray(1, 0x42));
    }

    void unresolvableHostLeavesLinkClosed()
    {
        srvLink link;
        const uint8_t byte = 1;
        expectLog(QtDebugMsg, "Opening server connection");
        expectLog(QtDebugMsg, "could not get address");
        // Not a valid host name, so no lookup leaves this machine.
        QVERIFY(!link.open("no..such..host", freeUdpPort()));
        QVERIFY(!link.isOpen());
        QVERIFY(link.peer().isNull());
        QCOMPARE(link.send(&byte, 1), -1);
        QVERIFY(!link.open("", freeUdpPort()));
        QVERIFY(!link.open(nullptr, freeUdpPort()));
    }

    void lookupTakesFirstIpv4AndRejectsIpv6Only()
    {
        QList<QHostAddress> answer;
        srvLink link(nullptr, [&answer](const QString &) { return answer; });
        QHostAddress out;

        answer = {QHostAddress(QStringLiteral("::1")), QHostAddress(QStringLiteral("127.0.0.3")),
                  QHostAddress(QStringLiteral("127.0.0.4"))};
        QVERIFY(link.resolveHostAddress("server.example", &out));
        QCOMPARE(out, QHostAddress(QStringLiteral("127.0.0.3")));

        answer = {QHostAddress(QStringLiteral("::1"))};
        expectLog(QtDebugMsg, "IP version 6 not supported");
        QVERIFY(!link.resolveHostAddress("v6only.example", &out));

        answer.clear();
        QVERIFY(!link.resolveHostAddress("nothing.example", &out));
    }

    void systemLookupResolvesLiteralAndLocalhost()
    {
        srvLink link;
        QHostAddress out;
        QVERIFY(link.resolveHostAddress("127.0.0.9", &out));
        QCOMPARE(out, QHostAddress(QStringLiteral("127.0.0.9")));
        QVERIFY(link.resolveHostAddress("localhost", &out));
        QCOMPARE(out.protocol(), QAbstractSocket::IPv4Protocol);
        QVERIFY(out.isLoopback());
    }

    void portInUseFailsAndLeavesLinkUsable()
    {
        QUdpSocket blocker;
        QVERIFY(blocker.bind(QHostAddress(QHostAddress::AnyIPv4), 0));
        const quint16 port = blocker.localPort();
        srvLink link;
        QVERIFY(!link.open("127.0.0.1", port));
        QVERIFY(!link.isOpen());
        const uint8_t byte = 1;
        QCOMPARE(link.send(&byte, 1), -1);
        blocker.close();
        QVERIFY(link.open("127.0.0.1", port));
        QVERIFY(link.isOpen());
    }

    void invalidPortIsRefused()
    {
        srvLink link;
        QVERIFY(!link.open("127.0.0.1", 0));
        QVERIFY(!link.open("127.0.0.1", 70000));
        QVERIFY(!link.isOpen());
        QVERIFY(link.peer().isNull());
    }

    void closeIsIdempotentAndUnbinds()
    {
        srvLink link;
        Received rx;
        rx.attach(link);
        const quint16 port = freeUdpPort();
        QVERIFY(link.open("127.0.0.1", port));
        expectLog(QtDebugMsg, "Closing UDP connection");
        QVERIFY(link.close());
        QVERIFY(link.close()); // closed already: no second line
        QVERIFY(!link.isOpen());
        // Unbound: the port is free again, nothing is read.
        QUdpSocket other;
        QVERIFY(other.bind(QHostAddress::AnyIPv4, port));
        other.close();
        sendTo("late", port);
        QTest::qWait(50);
        QCOMPARE(rx.count(), size_t(0));
    }

    void notificationWithNothingPendingRelaysNothing()
    {
        srvLink link;
        Received rx;
        rx.attach(link);
        const quint16 port = freeUdpPort();
        QVERIFY(link.open("127.0.0.1", port));
        sendTo("one", port);
        QTRY_COMPARE(rx.count(), size_t(1));
        link.handleDataReceived();
        link.handleDataReceived();
        QCOMPARE(rx.count(), size_t(1));
    }

    // The read that room in the key's queue asks for can empty the socket before the
    // socket's own notification of that datagram is handled: datagrams sent after
    // that still arrive.
    void datagramsArriveAfterAReadThatOutranTheNotification()
    {
        QSemaphore gateEntered;
        QSemaphore gateReleased;
        std::atomic<bool> holdNext {true};
        srvLink link;
        // The first read waits for the test, then finds the key's queue full.
        link.setReadGate([&] {
            if (!holdNext.exchange(false))
                return true;
            gateEntered.release();
            gateReleased.acquire();
            return false;
        });
        Received rx;
        rx.attach(link);
        const quint16 port = freeUdpPort();
        QVERIFY(link.open("127.0.0.1", port));
        sendTo("first", port);
        QVERIFY(gateEntered.tryAcquire(1, 5000));
        link.handleDataReceived(); // the queue has room again
        gateReleased.release();
        QTRY_COMPARE(rx.count(), size_t(1));
        for (const char *later : {"second", "third"}) {
            sendTo(later, port);
            QTRY_COMPARE_WITH_TIMEOUT(rx.at(rx.count() - 1), QByteArray(later), 2000);
        }
        QCOMPARE(rx.count(), size_t(3));
    }

    void burstArrivesOnceInOrder()
    {
        srvLink link;
        Received rx;
        rx.attach(link);
        const quint16 port = freeUdpPort();
        QVERIFY(link.open("127.0.0.1", port));
        QUdpSocket sender;
        // Sent in bursts of 100 back to back, so many are pending at each notification;
        // waiting between bursts keeps the kernel's receive queue from overflowing.
        for (int i = 0; i < 1000; ++i) {
            const QByteArray d = QByteArray::number(i).rightJustified(6, '0');
            QCOMPARE(sender.writeDatagram(d, QHostAddress::LocalHost, port), qint64(6));
            if (i % 100 == 99)
                QTRY_COMPARE_WITH_TIMEOUT(rx.count(), size_t(i + 1), 5000);
        }
        QTest::qWait(20);
        QCOMPARE(rx.count(), size_t(1000));
        for (int i = 0; i < 1000; ++i)
            QCOMPARE(rx.at(size_t(i)), QByteArray::number(i).rightJustified(6, '0'));
    }

    void oversizeDatagramDroppedNotTruncated()
    {
        srvLink link;
        Received rx;
        rx.attach(link);
        const quint16 port = freeUdpPort();
        QVERIFY(link.open("127.0.0.1", port));
        expectLog(QtDebugMsg, QRegularExpression("^dropped datagram of 1025 bytes "));
        QUdpSocket sender;
        sender.writeDatagram(QByteArray(1025, 'x'), QHostAddress::LocalHost, port);
        sender.writeDatagram(QByteArray(1024, 'y'), QHostAddress::LocalHost, port);
        sender.writeDatagram(QByteArray(), QHostAddress::LocalHost, port);
        sender.writeDatagram("z", QHostAddress::LocalHost, port);
        QTRY_COMPARE(rx.count(), size_t(3));
        QCOMPARE(rx.at(0), QByteArray(1024, 'y'));
        QCOMPARE(rx.at(1), QByteArray());
        QCOMPARE(rx.at(2), QByteArray("z"));
    }

    void echoServerInNamespaceRoundTrip()
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

        srvLink link;
        Received rx;
        rx.attach(link);
        QVERIFY(link.open(net.peerAddress().toLatin1().constData(), port));
        const QByteArray payload("relay payload \x01\x02\x7e", 17);
        QCOMPARE(link.send(reinterpret_cast<const uint8_t *>(payload.constData()), payload.size()),
                 payload.size());
        QTRY_COMPARE(rx.count(), size_t(1));
        QCOMPARE(rx.at(0), payload);
        // The echo counts after it has sent, so the reply can be here first.
        QTRY_COMPARE(echo.echoed(), 1);
    }
};

QTEST_GUILESS_MAIN(TestServerLink)
#include "tst_server_link.moc"

// The demo relay server on loopback: answers, counter, size limit, shutdown.
#include "echo_relay.h"

#include <QElapsedTimer>
#include <QHostAddress>
#include <QTest>
#include <QUdpSocket>

#include <atomic>
#include <thread>

using demo::EchoRelay;

namespace {

QByteArray ask(QUdpSocket &socket, int port, const QByteArray &payload)
{
    socket.writeDatagram(payload, QHostAddress::LocalHost, static_cast<quint16>(port));
    if (!socket.waitForReadyRead(3000))
        return {};
    QByteArray answer(static_cast<int>(socket.pendingDatagramSize()), '\0');
    socket.readDatagram(answer.data(), answer.size());
    return answer;
}

quint32 counterOf(const QByteArray &answer)
{
    if (answer.size() < 4)
        return 0;
    const auto *b = reinterpret_cast<const uchar *>(answer.constData());
    return (quint32(b[0]) << 24) | (quint32(b[1]) << 16) | (quint32(b[2]) << 8) | b[3];
}

} // namespace

class DemoRelayTest : public QObject
{
    Q_OBJECT

private slots:
    void replyCarriesCounterAndPayload()
    {
        const uint8_t payload[] = {'h', 'i'};
        const auto out = EchoRelay::reply(0x01020304, payload, sizeof payload);
        QCOMPARE(out, (std::vector<uint8_t> {1, 2, 3, 4, 'h', 'i'}));
        QCOMPARE(EchoRelay::reply(7, nullptr, 0), (std::vector<uint8_t> {0, 0, 0, 7}));

        // The program forwards at most 1018 bytes to the key in one message.
        std::vector<uint8_t> big(2000, 0xAB);
        const auto cut = EchoRelay::reply(1, big.data(), big.size());
        QCOMPARE(cut.size(), EchoRelay::maxReply);
        QCOMPARE(int(cut.back()), 0xAB);
    }

    void answersEverySenderWithARunningCounter()
    {
        EchoRelay relay;
        std::string error;
        QVERIFY2(relay.open("127.0.0.1", 0, &error), error.c_str());
        std::atomic<bool> stop {false};
        std::thread server([&] { relay.run(stop, 20); });

        QUdpSocket a;
        QUdpSocket b;
        QVERIFY(a.bind(QHostAddress(QHostAddress::LocalHost), 0));
        QVERIFY(b.bind(QHostAddress(QHostAddress::LocalHost), 0));
        const QByteArray first = ask(a, relay.port(), "one");
        const QByteArray second = ask(b, relay.port(), "two");
        const QByteArray third = ask(a, relay.port(), QByteArray());
        stop = true;
        server.join();

        QCOMPARE(first.mid(4), QByteArray("one"));
        QCOMPARE(second.mid(4), QByteArray("two"));
        QCOMPARE(counterOf(first), 1u);
        QCOMPARE(counterOf(second), 2u);
        QCOMPARE(third.size(), 4);
        QCOMPARE(counterOf(third), 3u);
        QCOMPARE(relay.answered(), 3u);
    }

    void refusesBadOrBusyEndpoints()
    {
        EchoRelay first;
        std::string error;
        QVERIFY(first.open("127.0.0.1", 0, &error));
        EchoRelay second;
        QVERIFY(!second.open("127.0.0.1", first.port(), &error));
        QVERIFY(error.find("bind") != std::string::npos);
        QVERIFY(!second.open("relay.example", 5000, &error));
        QVERIFY(!second.open("127.0.0.1", 70000, &error));
        QVERIFY(!second.serveOne(0));
    }

    void stopsPromptly()
    {
        EchoRelay relay;
        QVERIFY(relay.open("127.0.0.1", 0, nullptr));
        std::atomic<bool> stop {false};
        QElapsedTimer timer;
        std::thread server([&] { relay.run(stop, 50); });
        QTest::qWait(20);
        timer.start();
        stop = true;
        server.join();
        QVERIFY(timer.elapsed() < 1000);
    }
};

QTEST_GUILESS_MAIN(DemoRelayTest)
#include "test_demo_relay.moc"

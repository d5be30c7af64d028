// The relay namespace script: the relay answers from its own namespace over the
// veth pair to a socket bound like the program's, and everything is removed
// when the script is stopped. Runs in a private network namespace of its own;
// skipped where that cannot be had.
#include <QHostAddress>
#include <QProcess>
#include <QTest>
#include <QUdpSocket>

#include <sched.h>

class RelayNetnsTest : public QObject
{
    Q_OBJECT

private:
    bool m_isolated = false;

    static QString links()
    {
        QProcess ip;
        ip.start("ip", {"-o", "link", "show"});
        ip.waitForFinished(5000);
        return QString::fromLocal8Bit(ip.readAllStandardOutput());
    }

private slots:
    void initTestCase()
    {
        // Never touch the machine's own namespace.
        if (unshare(CLONE_NEWNET) != 0)
            QSKIP("no private network namespace (needs root)");
        m_isolated = true;
        QCOMPARE(QProcess::execute("ip", {"link", "set", "lo", "up"}), 0);
    }

    void relayAnswersAcrossThePairAndCleansUp()
    {
        QVERIFY(m_isolated);
        QProcess script;
        script.setProcessChannelMode(QProcess::MergedChannels);
        script.start("bash", {BW_RELAY_SCRIPT, BW_RELAY_BINARY, "5077"});
        QVERIFY(script.waitForStarted(5000));
        QString log;
        QTRY_VERIFY_WITH_TIMEOUT((log += QString::fromLocal8Bit(script.readAll()),
                                  log.contains("relay listening on 10.213.77.2:5077")),
                                 10000);
        QVERIFY(links().contains("bwrh"));

        // Bound to the relay port on every address, as the program binds it.
        QUdpSocket socket;
        QVERIFY(socket.bind(QHostAddress(QHostAddress::AnyIPv4), 5077));
        const QHostAddress relay("10.213.77.2");
        for (quint32 n = 1; n <= 3; ++n) {
            const QByteArray payload = "payload " + QByteArray::number(n);
            QCOMPARE(socket.writeDatagram(payload, relay, 5077), qint64(payload.size()));
            QVERIFY(socket.waitForReadyRead(3000));
            QHostAddress from;
            quint16 port = 0;
            QByteArray answer(int(socket.pendingDatagramSize()), '\0');
            socket.readDatagram(answer.data(), answer.size(), &from, &port);
            QCOMPARE(from.toString(), QString("10.213.77.2"));
            QCOMPARE(port, quint16(5077));
            QCOMPARE(answer.left(4), QByteArray::fromHex("0000000" + QByteArray::number(n)));
            QCOMPARE(answer.mid(4), payload);
        }

        script.terminate();
        QVERIFY(script.waitForFinished(5000));
        QCOMPARE(script.exitStatus(), QProcess::NormalExit);
        QVERIFY2(!links().contains("bwrh"), qPrintable(links()));
    }

    void unusableRelayIsReported()
    {
        QVERIFY(m_isolated);
        QProcess script;
        script.setProcessChannelMode(QProcess::MergedChannels);
        script.start("bash", {BW_RELAY_SCRIPT, "/nonexistent/relay", "5078"});
        QVERIFY(script.waitForFinished(10000));
        QVERIFY(script.exitCode() != 0);
        QVERIFY(!links().contains("bwrh"));
    }
};

QTEST_GUILESS_MAIN(RelayNetnsTest)
#include "test_relay_netns.moc"

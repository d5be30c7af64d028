// The linker's own messages to the key, their framing and the choice of send
// path, message dispatch, relay in both directions and the linker's lifetime.
#include "expect_log.h"
#include "key_rig.h"
#include "kmsg.h"
#include "server_link.h"

#include <QElapsedTimer>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTest>

#include <chrono>
#include <thread>

class TestLinkerMessages : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase() { testlog::serialize(); }
    void attachSendsConnectRequestAndShowsDashboard()
    {
        KeyRig rig(false);
        SignalLog log(rig.linker.get());
        QTRY_VERIFY(!rig.script->writes().isEmpty());
        QCOMPARE(rig.takeSent(), QList<QByteArray> {hex("01 01 1A 02 00 04 00 00 00 00 00")});
        QCOMPARE(log.take(), QStringList({"TransferBusy(0)", "setLayout(1)", "usbConnected(1)"}));
    }

    void losingTheKeyShowsWaitingView()
    {
        KeyRig rig;
        QVERIFY(rig.attach());
        SignalLog log(rig.linker.get());
        rig.linker->tryConnectKey(false);
        QCOMPARE(log.take(), QStringList({"setLayout(0)", "usbConnected(0)"}));
        QVERIFY(rig.takeSent().isEmpty());
    }

    void requestsAreByteExact_data()
    {
        QTest::addColumn<QString>("request");
        QTest::addColumn<QByteArray>("payload");
        QTest::newRow("scan") << "requestScanTag" << hex("01 01 13 05 00 00 00");
        QTest::newRow("open") << "requestOpen" << hex("01 01 15 05 00 00 00");
        QTest::newRow("close") << "requestClose" << hex("01 01 16 05 00 00 00");
        QTest::newRow("transfer") << "requestTransfer" << hex("00 01 21 00 00 00 00");
        QTest::newRow("disconnect") << "disConnectKey" << hex("01 01 1B 05 00 00 00");
        QTest::newRow("connect") << "connectKey" << hex("01 01 1A 02 00 04 00 00 00 00 00");
    }
    void requestsAreByteExact()
    {
        QFETCH(QString, request);
        QFETCH(QByteArray, payload);
        KeyRig rig;
        QVERIFY(rig.attach());
        QVERIFY(QMetaObject::invokeMethod(rig.linker.get(), request.toLatin1().constData()));
        QCOMPARE(rig.takeSent(), QList<QByteArray> {payload});
    }

    void openRequestFramedWithFillerInOneTransfer()
    {
        KeyRig rig;
        QVERIFY(rig.attach());
        rig.linker->requestOpen();
        const QList<QByteArray> writes = rig.takeWrites();
        QCOMPARE(writes.size(), 1);
        // 7E, message and filler, FCS low then high, 7E.
        QCOMPARE(writes[0], frameOf(hex("01 01 15 05 00 00 00")));
        QCOMPARE(writes[0].left(8), hex("7E 01 01 15 05 00 00 00"));
        QCOMPARE(writes[0].size(), 11);
    }

    void disconnectForgetsKeyAndShowsWaitingView()
    {
        KeyRig rig;
        QVERIFY(rig.attach());
        rig.identify();
        QVERIFY(rig.linker->isKeyReady());
        SignalLog log(rig.linker.get());
        rig.linker->disConnectKey();
        QVERIFY(!rig.linker->isKeyReady());
        QCOMPARE(log.take(), QStringList({"TransferBusy(0)", "setLayout(0)"}));
    }

    void sendPathFollowsSoftwareVersion_data()
    {
        QTest::addColumn<QByteArray>("sw");
        QTest::addColumn<int>("version");
        QTest::addColumn<bool>("chunked");
        QTest::newRow("0.6.3") << QByteArray("0.6.3") << 0x603 << true;
        QTest::newRow("9.6.2") << QByteArray("9.6.2") << 0x602 << false;
        QTest::newRow("1.7.0") << QByteArray("1.7.0") << 0x700 << true;
    }
    void sendPathFollowsSoftwareVersion()
    {
        QFETCH(QByteArray, sw);
        QFETCH(int, version);
        QFETCH(bool, chunked);
        KeyRig rig;
        QVERIFY(rig.attach());
        rig.identify(sw.constData());
        QCOMPARE(rig.linker->softwareVersion(), version);
        rig.takeWrites();

        // 100 payload bytes of 0x41: message 106 bytes, filler, FCS: a 113-byte frame
        // unless the FCS needs escaping.
        const QByteArray payload(100, 'A');
        rig.linker->sendUSB(reinterpret_cast<const uint8_t *>(payload.constData()), payload.size());
        const QList<QByteArray> writes = rig.takeWrites();
        QByteArray frame;
        for (const QByteArray &w : writes)
            frame += w;
        QCOMPARE(frame, frameOf(hex("05 01 25 05 00 64") + payload + QByteArray(1, '\0')));
        if (chunked) {
            QCOMPARE(writes.size(), (frame.size() + 62) / 63);
            for (int i = 0; i + 1 < writes.size(); ++i)
                QCOMPARE(writes[i].size(), 63);
        } else {
            QCOMPARE(writes.size(), 1);
        }
    }

    void parseVersionReadsSecondAndThirdNumber_data()
    {
        QTest::addColumn<QByteArray>("sw");
        QTest::addColumn<int>("version");
        QTest::newRow("1.6.3") << QByteArray("1.6.3") << 1539;
        QTest::newRow("2.6.2") << QByteArray("2.6.2") << 0x602;
        QTest::newRow("1.6") << QByteArray("1.6") << 0x600;
        QTest::newRow("no dot") << QByteArray("163") << 0;
        QTest::newRow("blanks sign suffix") << QByteArray("v1. +6. 3rc1") << 0x603;
        QTest::newRow("fourth number") << QByteArray("1.2.3.4") << 0x203;
        QTest::newRow("empty parts") << QByteArray("1..5") << 5;
        QTest::newRow("huge") << QByteArray("1.99999999999999999999.1") << INT_MAX;
    }
    void parseVersionReadsSecondAndThirdNumber()
    {
        QFETCH(QByteArray, sw);
        QFETCH(int, version);
        KeyRig rig;
        rig.identify(sw.constData());
        QCOMPARE(rig.linker->swText(), QString::fromLatin1(sw));
        QCOMPARE(rig.linker->softwareVersion(), version);
    }

    void dataFromKeyGoesToServerWhateverTheTag()
    {
        KeyRig rig;
        SignalLog log(rig.linker.get());
        // MSG_DATA whose first tag is TAG_SERIAL: its four value bytes are the payload.
        rig.fromKey(hex("05 02 00 02 00 04 DE AD BE EF 25 05 00 01 99"));
        QCOMPARE(log.take(),
                 QStringList({"TransferBusy(1)", "sendToServer(de ad be ef)", "TransferBusy(2)"}));
        rig.fromKey(hex("05 00"));
        QCOMPARE(log.take(), QStringList({"TransferBusy(1)"}));
    }

    void otherTypesAndGarbageOnlyShowTraffic()
    {
        KeyRig rig;
        QVERIFY(rig.attach());
        SignalLog log(rig.linker.get());
        rig.fromKey(hex("07 01 0C 04 00 01 5A")); // unknown type with a battery tag
        rig.fromKey(hex("00 02 0C 04 00 01 5A")); // count byte disagrees
        rig.fromKey(hex("00"));
        rig.fromKey(QByteArray());
        QCOMPARE(log.take(),
                 QStringList({"TransferBusy(1)", "TransferBusy(1)", "TransferBusy(1)",
                              "TransferBusy(1)"}));
        QVERIFY(rig.takeSent().isEmpty());
    }

    void messageArrivesThroughTheUsbLink()
    {
        KeyRig rig;
        QVERIFY(rig.attach());
        QSignalSpy battery(rig.linker.get(), &cLinker::setBattery);
        // A filler byte after the message, as the key sends it.
        rig.script->feed(frameOf(hex("00 01 0C 04 00 01 5A 00")));
        QTRY_COMPARE(battery.count(), 1);
        QCOMPARE(battery.at(0).at(0).toInt(), 90);
    }

    void serverPayloadWaitsForIdentifiedKey()
    {
        KeyRig rig;
        QVERIFY(rig.attach());
        SignalLog log(rig.linker.get());
        const uint8_t bytes[3] = {1, 2, 3};
        rig.linker->sendUSB(bytes, 3);
        QCOMPARE(log.take(), QStringList({"TransferBusy(3)"}));
        QVERIFY(rig.takeSent().isEmpty());

        rig.identify();
        rig.takeSent();
        rig.linker->sendUSB(bytes, 3);
        QCOMPARE(rig.takeSent(), QList<QByteArray> {hex("05 01 25 05 00 03 01 02 03 00")});
    }

    void serverPayloadLimitIs1018Bytes()
    {
        KeyRig rig;
        QVERIFY(rig.attach());
        rig.identify();
        rig.takeSent();
        const QByteArray fits(1018, '\x7e');
        rig.linker->sendUSB(reinterpret_cast<const uint8_t *>(fits.constData()), fits.size());
        QCOMPARE(rig.takeSent(), QList<QByteArray> {hex("05 01 25 05 03 FA") + fits + hex("00")});

        const QByteArray tooBig(1019, 'x');
        expectLog(QtDebugMsg,
                  QRegularExpression(
                          "^server payload of 1019 bytes does not fit a key message, dropped "));
        rig.linker->sendUSB(reinterpret_cast<const uint8_t *>(tooBig.constData()), tooBig.size());
        QVERIFY(rig.takeWrites().isEmpty());
    }

    void destructionSaysGoodbyeAndStopsLink()
    {
        KeyRig rig;
        QVERIFY(rig.attach());
        rig.identify();
        rig.takeSent();
        expectLog(QtDebugMsg, "Disconnect KEY");
        rig.linker.reset();
        QCOMPARE(rig.takeSent(), QList<QByteArray> {hex("01 01 1B 04 00 01 00 00")});
        QVERIFY(!rig.link->isRunning());
        QVERIFY(srvLink::get() == nullptr);
    }

    void endOfSessionSaysGoodbyeFirstWithinBound()
    {
        const QByteArray scan = hex("01 01 13 05 00 00 00");
        const QByteArray goodbye = hex("01 01 1B 04 00 01 00 00");
        {
            // The key stalls with commands queued and takes data again as the
            // session ends: the goodbye follows the command under way, the rest is dropped.
            KeyRig rig;
            QVERIFY(rig.attach());
            rig.identify();
            rig.takeSent();
            rig.script->setWriteStall(true, 600000);
            for (int i = 0; i < 5; ++i)
                rig.linker->requestScanTag();
            QTest::qWait(100); // the first scan is under way
            std::thread release([&rig] {
                std::this_thread::sleep_for(std::chrono::milliseconds(300));
                rig.script->setWriteStall(false);
            });
            rig.linker.reset();
            release.join();
            const QList<QByteArray> sent = rig.takeSent();
            QVERIFY2(sent.size() <= 2, qPrintable(QString::number(sent.size())));
            QCOMPARE(sent.first(), sent.size() == 2 ? scan : goodbye);
            QCOMPARE(sent.last(), goodbye);
        }
        {
            // A key that takes nothing any more holds the end up for the bound alone.
            KeyRig rig;
            QVERIFY(rig.attach());
            rig.identify();
            rig.takeSent();
            rig.script->setWriteStall(true, 600000);
            for (int i = 0; i < 5; ++i)
                rig.linker->requestScanTag();
            QElapsedTimer timer;
            timer.start();
            rig.linker.reset();
            rig.link.reset();
            QVERIFY2(timer.elapsed() < usbLink::kStopBudgetMs + 1000,
                     qPrintable(QString::number(timer.elapsed())));
            QVERIFY(rig.script->writesAborted());
        }
    }

    void destructionWithoutKeySendsNothing()
    {
        auto script = std::make_shared<FakeUsbDevice::Script>();
        script->setReconnectFails(true);
        usbLink link(std::make_unique<FakeUsbDevice>(script));
        auto linker = std::make_unique<cLinker>(&link);
        QTRY_VERIFY(script->reconnectCount() >= 1);
        QVERIFY(link.isRunning());
        linker.reset();
        QVERIFY(script->writes().isEmpty());
        QVERIFY(!link.isRunning());
    }

    void singleInstanceLifecycle()
    {
        auto script = std::make_shared<FakeUsbDevice::Script>();
        usbLink link(std::make_unique<FakeUsbDevice>(script));
        auto *first = new cLinker(&link);
        QCOMPARE(cLinker::get(), first);
        QCOMPARE(srvLink::get(), first->relay());
        cLinker::destroyInstance();
        QVERIFY(srvLink::get() == nullptr);
        QVERIFY(!link.isRunning());
    }
};

QTEST_GUILESS_MAIN(TestLinkerMessages)
#include "tst_linker_messages.moc"

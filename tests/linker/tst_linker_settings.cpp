// Settings and status from the key: identity set, key bar, mode, labels,
// disconnection acknowledgement and scanned tags.
#include "expect_log.h"
#include "key_rig.h"
#include "kmsg.h"

#include <QTest>

namespace {
// Serialized MSG_SET from tags built by the caller.
QByteArray setMessage(const std::function<void(KMsg &)> &build)
{
    KMsg msg(MSG_SET);
    build(msg);
    uint8_t buf[kMsgMaxSize];
    const int n = msg.serialize(buf, sizeof buf);
    return QByteArray(reinterpret_cast<const char *>(buf), n);
}
} // namespace

class TestLinkerSettings : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase() { testlog::serialize(); }
    void completeIdentityInAnyOrderIsReportedOnceAtTheEnd()
    {
        KeyRig rig;
        SignalLog log(rig.linker.get());
        expectLog(QtDebugMsg, "Server relay.example");
        expectLog(QtDebugMsg, "Port 0080");
        rig.fromKey(setMessage([](KMsg &m) {
            m.add<KTagUInt16>(TAG_PORT, 80);
            m.add<KTagString>(TAG_SERVER, "relay.example");
            m.add<KTagUInt8>(TAG_BATTERY, 77);
            m.add<KTagString>(TAG_HW, "HW-3");
            m.add<KTagString>(TAG_SW, "1.6.3");
            m.add<KTagString>(TAG_BOX, "Box A");
            m.add<KTagUInt32>(TAG_SERIAL, 0xDEADBEEF);
        }));
        QCOMPARE(log.take(),
                 QStringList({"TransferBusy(1)", "setBattery(77)", "updateLabel(3,DEADBEEF)",
                              "nvmReady(Box A,DEADBEEF,1.6.3,HW-3,relay.example)"}));
        QVERIFY(rig.linker->isKeyReady());
        QCOMPARE(rig.linker->softwareVersion(), 1539);
        QCOMPARE(rig.linker->serverPortText(), QStringLiteral("0080"));
    }

    void identitySplitOverTwoMessagesIsNotComplete()
    {
        KeyRig rig;
        SignalLog log(rig.linker.get());
        rig.fromKey(setMessage([](KMsg &m) {
            m.add<KTagUInt32>(TAG_SERIAL, 1);
            m.add<KTagString>(TAG_BOX, "b");
            m.add<KTagString>(TAG_SW, "1.6.3");
        }));
        rig.fromKey(setMessage([](KMsg &m) {
            m.add<KTagString>(TAG_HW, "h");
            m.add<KTagString>(TAG_SERVER, "s");
            m.add<KTagUInt16>(TAG_PORT, 1);
        }));
        QVERIFY(!rig.linker->isKeyReady());
        QCOMPARE(rig.linker->softwareVersion(), 0);
        QVERIFY(!log.entries.join(' ').contains("nvmReady"));
        // The texts are still stored.
        QCOMPARE(rig.linker->serverText(), QStringLiteral("s"));
        QCOMPARE(rig.linker->boxText(), QStringLiteral("b"));
    }

    void textsThatDoNotFitKeepPreviousValueButCount()
    {
        KeyRig rig;
        const QByteArray box31(31, 'b');
        const QByteArray box32(32, 'c');
        const QByteArray server63(63, 's');
        rig.fromKey(setMessage([&](KMsg &m) {
            m.add<KTagString>(TAG_BOX, box31.constData());
            m.add<KTagString>(TAG_SERVER, server63.constData());
        }));
        QCOMPARE(rig.linker->boxText(), QString::fromLatin1(box31));
        QCOMPARE(rig.linker->serverText(), QString::fromLatin1(server63));

        SignalLog log(rig.linker.get());
        rig.fromKey(setMessage([&](KMsg &m) {
            m.add<KTagUInt32>(TAG_SERIAL, 0x1A2B);
            m.add<KTagString>(TAG_BOX, box32.constData());
            m.add<KTagString>(TAG_SW, "1.6.3");
            m.add<KTagString>(TAG_HW, "h");
            m.add<KTagString>(TAG_SERVER, QByteArray(64, 't').constData());
            m.add<KTagUInt16>(TAG_PORT, 443);
        }));
        QCOMPARE(rig.linker->boxText(), QString::fromLatin1(box31));
        QCOMPARE(rig.linker->serverText(), QString::fromLatin1(server63));
        QCOMPARE(rig.linker->serialText(), QStringLiteral("00001A2B"));
        QCOMPARE(rig.linker->serverPortText(), QStringLiteral("0443"));
        QVERIFY(rig.linker->isKeyReady());
        QCOMPARE(log.entries.last(),
                 QStringLiteral("nvmReady(%1,00001A2B,1.6.3,h,%2)")
                         .arg(QString(box31), QString(server63)));
    }

    void portsAndServiceEndpoint()
    {
        KeyRig rig;
        rig.fromKey(setMessage([](KMsg &m) {
            m.add<KTagUInt16>(TAG_PORT, 8080);
            m.add<KTagString>(TAG_SERVICE, "service.local");
            m.add<KTagUInt16>(TAG_SERVICE_PORT, 80);
        }));
        QCOMPARE(rig.linker->serverPortText(), QStringLiteral("8080"));
        QCOMPARE(rig.linker->serviceHostText(), QStringLiteral("service.local"));
        QCOMPARE(rig.linker->servicePortText(), QStringLiteral("0080"));
        rig.fromKey(setMessage([](KMsg &m) { m.add<KTagUInt16>(TAG_SERVICE_PORT, 65535); }));
        QCOMPARE(rig.linker->servicePortText(), QStringLiteral("65535"));
    }

    void keyBarRows_data()
    {
        QTest::addColumn<int>("mode");
        QTest::addColumn<int>("bar");
        QTest::addColumn<QStringList>("signals_");
        const QStringList ready = {"updateStatus(READY)", "updateStatusColor(green)",
                                   "setBtnEnabled(1)", "updatePbar(-1)"};
        QTest::newRow("128") << 0 << 128 << (ready + QStringList {"progressBar(128)"});
        QTest::newRow("228") << 0 << 228 << (ready + QStringList {"progressBar(228)"});
        QTest::newRow("229") << 0 << 229
                             << QStringList {"updatePbarColor(1)", "updatePbar(101)",
                                             "updateStatus(DATA TRANSFER BUSY)",
                                             "updateStatusColor(turkois)", "progressBar(229)"};
        QTest::newRow("129") << 0 << 129
                             << QStringList {"updatePbarColor(1)", "updatePbar(1)",
                                             "updateStatus(DATA TRANSFER BUSY)",
                                             "updateStatusColor(turkois)", "progressBar(129)"};
        QTest::newRow("127") << 0 << 127
                             << QStringList {"updatePbarColor(0)", "updatePbar(127)",
                                             "updateStatus(Unlocking...)",
                                             "updateStatusColor(yellow)", "progressBar(127)"};
        QTest::newRow("40 orange") << 2 << 40
                                   << QStringList {"updatePbarColor(2)", "updatePbar(40)",
                                                   "updateStatus(Unlocking...)",
                                                   "updateStatusColor(yellow)", "progressBar(40)"};
        QTest::newRow("0") << 1 << 0
                           << QStringList {"updatePbarColor(0)", "updatePbar(0)",
                                           "updateStatus(Unlocking...)",
                                           "updateStatusColor(yellow)", "progressBar(0)"};
    }
    void keyBarRows()
    {
        QFETCH(int, mode);
        QFETCH(int, bar);
        QFETCH(QStringList, signals_);
        KeyRig rig;
        rig.linker->requestOpen(); // leaves "Unlocking..." as the status text
        rig.fromKey(setMessage([&](KMsg &m) { m.add<KTagUInt8>(TAG_MODE, unsigned(mode)); }));
        SignalLog log(rig.linker.get());
        expectLog(QtDebugMsg, qPrintable(QStringLiteral("SET::TAG_KEY_BAR::%1").arg(bar)));
        rig.fromKey(setMessage([&](KMsg &m) { m.add<KTagUInt8>(TAG_KEY_BAR, unsigned(bar)); }));
        QCOMPARE(log.take(), QStringList {"TransferBusy(1)"} + signals_);
    }

    void statusTextFollowsLastRequest()
    {
        KeyRig rig;
        SignalLog log(rig.linker.get());
        rig.fromKey(setMessage([](KMsg &m) { m.add<KTagUInt8>(TAG_KEY_BAR, 10); }));
        QVERIFY(log.take().contains("updateStatus()"));
        rig.linker->requestClose();
        rig.fromKey(setMessage([](KMsg &m) { m.add<KTagUInt8>(TAG_KEY_BAR, 10); }));
        QVERIFY(log.take().contains("updateStatus(Locking...)"));
    }

    void modeBitsAndCounters()
    {
        KeyRig rig;
        SignalLog log(rig.linker.get());
        rig.fromKey(setMessage([](KMsg &m) {
            m.add<KTagUInt8>(TAG_MODE, 3);
            m.add<KTagUInt8>(TAG_MODE, 0xFC); // upper bits ignored
            m.add<KTagUInt32>(TAG_TRANS_COUNT, 0xFFFFFFFE);
            m.add<KTagUInt8>(TAG_BATTERY, 0);
        }));
        QCOMPARE(log.take(),
                 QStringList({"TransferBusy(1)", "setManual(1)", "setManual(0)",
                              "setTransCount(-2)", "setBattery(0)"}));
    }

    void labelsFollowTheSelectedIndex()
    {
        KeyRig rig;
        SignalLog log(rig.linker.get());
        rig.fromKey(setMessage([](KMsg &m) {
            m.add<KTagString>(TAG_LABEL_TEXT, "before");
            m.add<KTagUInt8>(TAG_LABEL_INDEX, 2);
            m.add<KTagString>(TAG_LABEL_TEXT, "Sealed");
            m.add<KTagString>(TAG_LABEL_COLOR, "red");
            m.add<KTagUInt8>(TAG_LABEL_INDEX, 3);
            m.add<KTagString>(TAG_LABEL_TEXT, QByteArray(64, 'x').constData()); // does not fit
            m.add<KTagString>(TAG_LABEL_TEXT, QByteArray(63, 'y').constData());
        }));
        QCOMPARE(log.take(),
                 QStringList({"TransferBusy(1)", "updateLabel(4294967295,before)",
                              "updateLabel(2,Sealed)", "updateLabelColor(2,red)",
                              "updateLabel(3," + QString(63, 'y') + ")"}));
    }

    void disconnectAcknowledgeEndsTheMessage()
    {
        KeyRig rig;
        SignalLog log(rig.linker.get());
        expectLog(QtDebugMsg, "Disconnection acknowledge");
        rig.fromKey(setMessage([](KMsg &m) {
            m.add<KTagUInt32>(TAG_SERIAL, 1);
            m.add<KTagString>(TAG_BOX, "b");
            m.add<KTagString>(TAG_SW, "1.6.3");
            m.add<KTagString>(TAG_HW, "h");
            m.add<KTagString>(TAG_SERVER, "s");
            m.add<KTagUInt16>(TAG_PORT, 1);
            m.add<KTagBytes>(TAG_DISCONNECT, nullptr, 0);
            m.add<KTagUInt8>(TAG_BATTERY, 50);
        }));
        QCOMPARE(log.take(),
                 QStringList({"TransferBusy(1)", "updateLabel(3,00000001)", "keyDisconnected()"}));
        QVERIFY(!rig.linker->isKeyReady());
    }

    void scanDecodesToDecimal_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QString>("text");
        QTest::newRow("three bytes") << hex("04 A3 1F") << "303903";
        QTest::newRow("nine bytes") << hex("01 02 03 04 05 06 07 08 09") << "144964032628459529";
        QTest::newRow("top bit") << hex("FF FF FF FF FF FF FF FF") << "-1";
        QTest::newRow("one byte") << hex("07") << "7";
    }
    void scanDecodesToDecimal()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(QString, text);
        KeyRig rig;
        expectLog(QtDebugMsg, qPrintable("x = " + text));
        rig.fromKey(setMessage([&](KMsg &m) {
            m.add<KTagBytes>(TAG_SCAN, reinterpret_cast<const uint8_t *>(bytes.constData()),
                             bytes.size());
        }));
        QCOMPARE(rig.linker->scannedTag(), text);
        QCOMPARE(rig.linker->workflowStarts, QStringList {text});
        QVERIFY(rig.prompt.shown.isEmpty());
    }

    void scanStepLinesShowRunningNumber()
    {
        KeyRig rig;
        expectLog(QtDebugMsg, "0 - 4  -  4");
        expectLog(QtDebugMsg, "1 - 163  -  1187");
        expectLog(QtDebugMsg, "2 - 31  -  303903");
        rig.fromKey(setMessage([](KMsg &m) {
            const uint8_t b[3] = {0x04, 0xA3, 0x1F};
            m.add<KTagBytes>(TAG_SCAN, b, 3);
        }));
    }

    void emptyScanWarnsAndStops_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::newRow("00 00") << hex("00 00");
        QTest::newRow("no bytes") << QByteArray();
        QTest::newRow("lost leading byte") << hex("01 00 00 00 00 00 00 00 00");
    }
    void emptyScanWarnsAndStops()
    {
        QFETCH(QByteArray, bytes);
        KeyRig rig;
        rig.fromKey(setMessage([&](KMsg &m) {
            m.add<KTagBytes>(TAG_SCAN, reinterpret_cast<const uint8_t *>(bytes.constData()),
                             bytes.size());
        }));
        QCOMPARE(rig.prompt.shown, QStringList {"warning|Error|No lock scanned."});
        QVERIFY(rig.linker->workflowStarts.isEmpty());
        QCOMPARE(rig.linker->scannedTag(), QStringLiteral("0"));
    }

    void wrongTypeCodesReadSafely()
    {
        KeyRig rig;
        SignalLog log(rig.linker.get());
        // TAG_BATTERY as an empty bytes value, TAG_SERIAL as one byte, TAG_BOX as
        // raw bytes without a terminator.
        rig.fromKey(hex("00 03 0C 05 00 00 00 04 00 01 2A 01 05 00 03 41 42 43"));
        QCOMPARE(log.take(),
                 QStringList({"TransferBusy(1)", "setBattery(0)", "updateLabel(3,0000002A)"}));
        QCOMPARE(rig.linker->boxText(), QStringLiteral("ABC"));
    }

    void requestMessagesAreNotSettings()
    {
        KeyRig rig;
        SignalLog log(rig.linker.get());
        rig.fromKey(hex("01 01 0C 04 00 01 5A"));
        QCOMPARE(log.take(), QStringList({"TransferBusy(1)"}));
    }
};

QTEST_GUILESS_MAIN(TestLinkerSettings)
#include "tst_linker_settings.moc"

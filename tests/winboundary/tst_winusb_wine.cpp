// Whole runs through the program's own SetupAPI and WinUSB calls
// (winusb_calls_win.cpp) against test keys on named pipes, under Wine.

#include "demo_api.h"
#include "demo_catalog.h"
#include "demo_server.h"
#include "key_descriptors.h"
#include "linker.h"
#include "pipe_key.h"
#include "seal_log.h"
#include "system_usb_device.h"
#include "usb_link.h"
#include "virtual_key.h"
#include "win_boundary.h"
#include "workflow_harness.h"

#include <QSettings>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>

#include <algorithm>
#include <chrono>
#include <future>

namespace {

// A test key with the virtual key's behaviour behind its pipe.
struct ServedKey
{
    explicit ServedKey(const PipeKey::Options &options = PipeKey::Options {})
        : pipe(options)
        , key(&pipe)
    {
        QObject::connect(&pipe, &PipeKey::hostMessage, &key, &VirtualKey::hostMessage);
        QObject::connect(&key, &VirtualKey::keyEvent,
                         [this](const QString &name, const QString &) { events << name; });
    }

    PipeKey pipe;
    VirtualKey key;
    QStringList events;
};

// Stops the link; false when that took longer than a pending read's abort may.
bool stopLink(usbLink &link)
{
    std::future<void> stopped = std::async(std::launch::async, [&link] { link.stop(); });
    if (stopped.wait_for(std::chrono::seconds(5)) == std::future_status::ready)
        return true;
    winboundary::addViolation("the link did not stop while its read was pending");
    winboundary::cancelPendingReads(); // lets the run end and report
    stopped.wait();
    return false;
}

// The program's link and linker on the system device layer.
struct Program
{
    Program()
        : link(makeSystemUsbDevice())
        , linker(&link)
        , ready(&linker, &cLinker::nvmReady)
        , attached(&linker, &cLinker::usbConnected)
        , battery(&linker, &cLinker::setBattery)
    {
    }
    ~Program() { stopLink(link); }

    usbLink link;
    cLinker linker;
    QSignalSpy ready;
    QSignalSpy attached; // usbConnected(bool)
    QSignalSpy battery;
};

QStringList states(const QSignalSpy &spy)
{
    QStringList out;
    for (const QList<QVariant> &args : spy)
        out << (args.at(0).toBool() ? "attached" : "lost");
    return out;
}

// The emulated key's configuration with its bulk endpoints turned into interrupt ones.
QByteArray withoutBulkPipes(QByteArray configuration)
{
    auto *bytes = reinterpret_cast<unsigned char *>(configuration.data());
    for (int at = 0; at + 7 <= configuration.size() && bytes[at] > 0; at += bytes[at]) {
        if (bytes[at + 1] == 0x05 && (bytes[at + 3] & 3) == 2)
            bytes[at + 3] = 3;
    }
    return configuration;
}

} // namespace

class WineKeyTest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanup();
    void attachIdentityStatusAndInStall();
    void scanToPackingLogAgainstDemoService();
    void relayRoundTrip();
    void unplugDuringPendingReadThenReplug();
    void stopDuringPendingRead();
    void outStallThenRecovery();
    void wrongClassAndNoBulkPipeIgnored();

private:
    QTemporaryDir m_config;
    QTemporaryDir m_work;
};

void WineKeyTest::initTestCase()
{
    QVERIFY(m_config.isValid());
    QVERIFY(m_work.isValid());
    QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, m_config.path());
    QVERIFY(QDir::setCurrent(m_work.path()));
    QCoreApplication::setApplicationName("boxwright");
}

void WineKeyTest::cleanup()
{
    const std::vector<std::string> violations = winboundary::takeViolations();
    for (const std::string &violation : violations)
        qWarning("boundary: %s", violation.c_str());
    QVERIFY2(violations.empty(), "the program misused SetupAPI or WinUSB");
}

void WineKeyTest::attachIdentityStatusAndInStall()
{
    ServedKey served;
    served.pipe.plug();
    Program program;
    QTRY_COMPARE_WITH_TIMEOUT(program.ready.count(), 1, 10000);
    QCOMPARE(program.ready.at(0).at(0).toString(), QStringLiteral("BOX-DEMO-01"));
    QCOMPARE(program.ready.at(0).at(1).toString(), QStringLiteral("00B0C4A1"));
    QCOMPARE(program.ready.at(0).at(2).toString(), QStringLiteral("1.6.3"));
    served.key.setBattery(40);
    QTRY_COMPARE_WITH_TIMEOUT(program.battery.last().at(0).toInt(), 40, 5000);

    // The IN pipe halts under a pending read: the program resets it and the
    // key stays attached, its next status arriving as before.
    served.pipe.stallIn();
    served.key.setBattery(12);
    QTRY_COMPARE_WITH_TIMEOUT(program.battery.last().at(0).toInt(), 12, 5000);
    QCOMPARE(states(program.attached), QStringList {"attached"});
    QCOMPARE(served.events.count("connect-request"), 1);
    QCOMPARE(served.pipe.opens(), 1);
}

void WineKeyTest::scanToPackingLogAgainstDemoService()
{
    demo::DemoCatalog catalog;
    demo::SealLog seals(m_work.filePath("seals.jsonl"));
    demo::DemoApi api(catalog, &seals);
    demo::DemoServer server(api);
    const int port = server.start(0);
    QVERIFY(port > 0);

    PipeKey pipe;
    pipe.plug();
    WorkflowHarness::Key side;
    side.device = makeSystemUsbDevice();
    side.send = [&pipe](const QByteArray &frame) { pipe.queueFromKey(frame); };
    side.attached = [&pipe] { return pipe.framesFromHost() > 0; };
    {
        WorkflowHarness h(nullptr, std::move(side));
        QByteArray connectRequest;
        QVERIFY(pipe.takeFrame(connectRequest, 10000));
        QVERIFY(connectRequest.startsWith(QByteArray::fromHex("01011a02")));
        h.keySendsIdentity(0xB0C4A1, "1.6.3", "HW-2.1");
        h.keySendsService("127.0.0.1", QString::number(port));
        h.scan("303903");
        QVERIFY(h.dialogs.lastIs(ScriptedDialogs::Kind::Login));
        h.loginNext("demo", "packing");
        QVERIFY(h.dialogs.lastIs(ScriptedDialogs::Kind::Timetables));
        QVERIFY(!h.dialogs.last().tables.isEmpty());
        h.timetableNext(h.dialogs.last().tables.first().data());
        h.sealFirstCentre("under wine");
        if (QTest::currentTestFailed())
            return;
        QCOMPARE(h.prompt.texts(), QStringList {"Success|Packed"});
        QCOMPARE(h.logLines(),
                 QStringList {"2024-03-05 14:07:09    CenterName:North Hall 1    "
                              "Subject:Mathematics Paper 1    LockId:L7    ScannedRfid:303903"});
        QVERIFY(stopLink(*h.link));
    }
    QFile sealed(seals.path());
    QVERIFY(sealed.open(QIODevice::ReadOnly));
    QCOMPARE(sealed.readAll().count('\n'), 1);
}

void WineKeyTest::relayRoundTrip()
{
    // IP:PORT of a UDP echo; the program binds the relay port on every local
    // address, so the echo lives in a network namespace of its own.
    const QStringList relay = QString::fromLocal8Bit(qgetenv("BW_WINE_RELAY")).split(':');
    if (relay.size() != 2)
        QSKIP("needs BW_WINE_RELAY, a UDP echo outside this network namespace "
              "(tests/winboundary/relay-wine.sh)");
    ServedKey served;
    served.key.identity().relayHost = relay.at(0);
    served.key.identity().relayPort = relay.at(1).toUShort();
    served.pipe.plug();
    Program program;
    QTRY_COMPARE_WITH_TIMEOUT(program.ready.count(), 1, 10000);
    served.key.requestRelayOpen();
    QTRY_VERIFY_WITH_TIMEOUT(served.key.relayOpen(), 5000);
    const QByteArray payload(300, '\x5a');
    served.key.sendRelayPayload(payload);
    QTRY_COMPARE_WITH_TIMEOUT(served.key.relayReceived().size(), 1, 5000);
    QCOMPARE(served.key.relayReceived().first(), payload);
}

void WineKeyTest::unplugDuringPendingReadThenReplug()
{
    ServedKey served;
    served.pipe.plug();
    Program program;
    QTRY_COMPARE_WITH_TIMEOUT(program.ready.count(), 1, 10000);
    // The link waits in its read; the key goes away under it.
    QTest::qWait(200);
    served.pipe.unplug();
    QTRY_COMPARE_WITH_TIMEOUT(states(program.attached), (QStringList {"attached", "lost"}), 5000);
    served.pipe.plug();
    QTRY_COMPARE_WITH_TIMEOUT(program.ready.count(), 2, 10000);
    QCOMPARE(states(program.attached), (QStringList {"attached", "lost", "attached"}));
    QCOMPARE(served.events.count("connect-request"), 2);
    served.key.setBattery(55);
    QTRY_VERIFY_WITH_TIMEOUT(
            !program.battery.isEmpty() && program.battery.last().at(0).toInt() == 55, 5000);
}

void WineKeyTest::stopDuringPendingRead()
{
    ServedKey served;
    served.pipe.plug();
    auto program = std::make_unique<Program>();
    QTRY_COMPARE_WITH_TIMEOUT(program->ready.count(), 1, 10000);
    QTest::qWait(200);
    // Stopping aborts the pending read; its OVERLAPPED outlives the abort.
    QVERIFY2(stopLink(program->link), "the link did not stop while its read was pending");
    program.reset();
    QCOMPARE(served.pipe.opens(), 1);
}

void WineKeyTest::outStallThenRecovery()
{
    ServedKey served;
    served.pipe.plug();
    Program program;
    QTRY_COMPARE_WITH_TIMEOUT(program.ready.count(), 1, 10000);
    // The OUT pipe halts: the program's answer fails, the program resets the
    // pipe, and its next answer reaches the key without a reconnect.
    served.pipe.stallOut();
    served.key.queryTime();
    QTest::qWait(500);
    served.key.queryTime();
    QTRY_VERIFY_WITH_TIMEOUT(served.events.contains("time"), 5000);
    QCOMPARE(states(program.attached), QStringList {"attached"});
}

void WineKeyTest::wrongClassAndNoBulkPipeIgnored()
{
    PipeKey::Options otherClass;
    otherClass.interfaceClass
            = {0x42CA71ED, 0xCE1C, 0x44C2, {0x82, 0xDE, 0x87, 0xD8, 0xD8, 0xFF, 0x6C, 0x1E}};
    ServedKey other(otherClass);
    PipeKey::Options noBulk;
    noBulk.configuration = withoutBulkPipes(keydesc::configurationDescriptor());
    ServedKey interruptOnly(noBulk);
    other.pipe.plug();
    interruptOnly.pipe.plug();
    Program program;
    // The search runs once a second: give it a few turns.
    QTRY_COMPARE_WITH_TIMEOUT(std::min(interruptOnly.pipe.opens(), 2), 2, 5000);
    QCOMPARE(other.pipe.opens(), 0);
    QVERIFY(program.attached.isEmpty());
    QCOMPARE(interruptOnly.pipe.framesFromHost(), 0);

    // A proper key is taken once it is the one present.
    interruptOnly.pipe.unplug();
    ServedKey good;
    good.pipe.plug();
    QTRY_COMPARE_WITH_TIMEOUT(program.ready.count(), 1, 10000);
    QCOMPARE(other.pipe.opens(), 0);
}

QTEST_GUILESS_MAIN(WineKeyTest)
#include "tst_winusb_wine.moc"

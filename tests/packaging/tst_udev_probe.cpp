#include "emulated_key.h"
#include "udev_probe.h"

#include <QElapsedTimer>
#include <QProcess>
#include <QtTest>

#include <memory>

namespace {

struct ProbeRun
{
    int exitCode = -1;
    QByteArray out;
    QByteArray err;
    qint64 ms = 0;
};

const QByteArray kMatch = QByteArray(kKeyProperty) + "=1\n";
const QString kKeyGuid = QStringLiteral("{42CA71EC-CE1C-44c2-82DE-87D8D8FF6C1E}");

EmulatedKeyConfig keyConfig(EmulatedKeyConfig::Identity identity, int devnum = 2, int busnum = 1)
{
    EmulatedKeyConfig c;
    c.identity = identity;
    c.busnum = busnum;
    c.devnum = devnum;
    c.idleReapDelayMs = 0;
    return c;
}

} // namespace

class TestUdevProbe : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void cleanupTestCase();
    void recognisesTheKey_data();
    void recognisesTheKey();
    void devicesThatRefuseTheRequestsAreNotKeys_data();
    void devicesThatRefuseTheRequestsAreNotKeys();
    void asksTheDeviceAtTheGivenAddressOnly();
    void takesTheAddressFromUdevsEnvironmentOrNode();
    void missingDeviceIsAnErrorNotAVerdict();
    void targetParsing_data();
    void targetParsing();

private:
    ProbeRun run(const QStringList &args, const QProcessEnvironment &extra = {});

    std::unique_ptr<EmulatedBus> bus_; // one per process
};

void TestUdevProbe::initTestCase()
{
    bus_ = std::make_unique<EmulatedBus>();
}

void TestUdevProbe::cleanupTestCase()
{
    bus_.reset();
}

ProbeRun TestUdevProbe::run(const QStringList &args, const QProcessEnvironment &extra)
{
    QProcessEnvironment env = bus_->childEnvironment();
    env.remove(QStringLiteral("BUSNUM"));
    env.remove(QStringLiteral("DEVNUM"));
    env.insert(extra);
    QProcess p;
    p.setProcessEnvironment(env);
    QElapsedTimer t;
    t.start();
    p.start(QStringLiteral(BW_UDEV_PROBE_PATH), args);
    ProbeRun r;
    if (!p.waitForFinished(20000)) {
        p.kill();
        p.waitForFinished(2000);
        return r;
    }
    r.ms = t.elapsed();
    r.exitCode = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
    r.out = p.readAllStandardOutput();
    r.err = p.readAllStandardError();
    return r;
}

void TestUdevProbe::recognisesTheKey_data()
{
    QTest::addColumn<int>("identity");
    QTest::addColumn<bool>("multiString");
    QTest::addColumn<QString>("guid");
    QTest::addColumn<bool>("match");

    const int v20 = EmulatedKeyConfig::MsOs20;
    const int v10 = EmulatedKeyConfig::MsOs10Only;
    QTest::newRow("2.0 GUID") << v20 << false << kKeyGuid << true;
    QTest::newRow("2.0 GUIDs") << v20 << true << kKeyGuid << true;
    QTest::newRow("1.0 GUID") << v10 << false << kKeyGuid << true;
    QTest::newRow("1.0 GUIDs") << v10 << true << kKeyGuid << true;
    QTest::newRow("2.0 lower case, no braces")
            << v20 << false << QStringLiteral("42ca71ec-ce1c-44c2-82de-87d8d8ff6c1e") << true;
    QTest::newRow("2.0 other GUID")
            << v20 << false << QStringLiteral("{42CA71EC-CE1C-44c2-82DE-87D8D8FF6C1F}") << false;
    QTest::newRow("1.0 other GUIDs")
            << v10 << true << QStringLiteral("{00000000-CE1C-44c2-82DE-87D8D8FF6C1E}") << false;
}

void TestUdevProbe::recognisesTheKey()
{
    QFETCH(int, identity);
    QFETCH(bool, multiString);
    QFETCH(QString, guid);
    QFETCH(bool, match);

    EmulatedKeyConfig c = keyConfig(static_cast<EmulatedKeyConfig::Identity>(identity));
    c.multiString = multiString;
    c.guid = guid;
    EmulatedKey key(*bus_, c);
    QVERIFY(key.plug());

    const ProbeRun r = run({QStringLiteral("1"), QStringLiteral("2")});
    QVERIFY2(r.exitCode == 0, r.err.constData());
    QCOMPARE(r.out, match ? kMatch : QByteArray());
}

void TestUdevProbe::devicesThatRefuseTheRequestsAreNotKeys_data()
{
    QTest::addColumn<bool>("failing");
    // No Microsoft descriptors: the device stalls the BOS, 0xEE and vendor requests.
    QTest::newRow("stalls") << false;
    // Every control request ends in an I/O error.
    QTest::newRow("errors") << true;
}

void TestUdevProbe::devicesThatRefuseTheRequestsAreNotKeys()
{
    QFETCH(bool, failing);
    EmulatedKey key(*bus_, keyConfig(EmulatedKeyConfig::NoMsOs));
    QVERIFY(key.plug());
    key.setFailing(failing);

    const ProbeRun r = run({QStringLiteral("001"), QStringLiteral("002")});
    QVERIFY2(r.exitCode == 0, r.err.constData());
    QCOMPARE(r.out, QByteArray());
    // udev waits for the probe: refusals must not cost whole time-outs.
    QVERIFY2(r.ms < 5000, qPrintable(QString::number(r.ms)));
}

void TestUdevProbe::asksTheDeviceAtTheGivenAddressOnly()
{
    // The emulation puts one device on each bus.
    EmulatedKey other(*bus_, keyConfig(EmulatedKeyConfig::NoMsOs, 3, 1));
    EmulatedKey key(*bus_, keyConfig(EmulatedKeyConfig::MsOs10Only, 3, 2));
    QVERIFY(other.plug());
    QVERIFY(key.plug());

    QCOMPARE(run({QStringLiteral("2"), QStringLiteral("3")}).out, kMatch);
    const quint64 before = key.requestCount();
    const ProbeRun r = run({QStringLiteral("1"), QStringLiteral("3")});
    QCOMPARE(r.exitCode, 0);
    QCOMPARE(r.out, QByteArray());
    QCOMPARE(key.requestCount(), before);
}

void TestUdevProbe::takesTheAddressFromUdevsEnvironmentOrNode()
{
    EmulatedKey key(*bus_, keyConfig(EmulatedKeyConfig::MsOs20, 7));
    QVERIFY(key.plug());

    QProcessEnvironment udevEnv;
    udevEnv.insert(QStringLiteral("BUSNUM"), QStringLiteral("001"));
    udevEnv.insert(QStringLiteral("DEVNUM"), QStringLiteral("007"));
    QCOMPARE(run({}, udevEnv).out, kMatch);
    QCOMPARE(run({key.deviceNode()}).out, kMatch);

    udevEnv.insert(QStringLiteral("DEVNUM"), QStringLiteral("008"));
    const ProbeRun r = run({}, udevEnv);
    QCOMPARE(r.exitCode, 1);
    QCOMPARE(r.out, QByteArray());
}

void TestUdevProbe::missingDeviceIsAnErrorNotAVerdict()
{
    const ProbeRun none = run({QStringLiteral("1"), QStringLiteral("9")});
    QCOMPARE(none.exitCode, 1);
    QCOMPARE(none.out, QByteArray());
    QVERIFY2(none.err.contains("no USB device at bus 1 address 9"), none.err.constData());

    const ProbeRun usage = run({QStringLiteral("1"), QStringLiteral("2"), QStringLiteral("3")});
    QCOMPARE(usage.exitCode, 2);
    QCOMPARE(usage.out, QByteArray());
    QVERIFY(usage.err.contains("usage"));
}

void TestUdevProbe::targetParsing_data()
{
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<QString>("envBus");
    QTest::addColumn<QString>("envDev");
    QTest::addColumn<int>("bus");
    QTest::addColumn<int>("address"); // 0: rejected

    QTest::newRow("numbers") << QStringList {"3", "17"} << ""
                             << "" << 3 << 17;
    QTest::newRow("padded") << QStringList {"003", "017"} << ""
                            << "" << 3 << 17;
    QTest::newRow("node") << QStringList {"/dev/bus/usb/002/127"} << ""
                          << "" << 2 << 127;
    QTest::newRow("env") << QStringList {} << "004"
                         << "001" << 4 << 1;
    QTest::newRow("args win over env") << QStringList {"1", "2"} << "4"
                                       << "5" << 1 << 2;
    QTest::newRow("no env") << QStringList {} << ""
                            << "" << 0 << 0;
    QTest::newRow("address 0") << QStringList {"1", "0"} << ""
                               << "" << 0 << 0;
    QTest::newRow("address 128") << QStringList {"1", "128"} << ""
                                 << "" << 0 << 0;
    QTest::newRow("bus 256") << QStringList {"256", "1"} << ""
                             << "" << 0 << 0;
    QTest::newRow("negative") << QStringList {"-1", "1"} << ""
                              << "" << 0 << 0;
    QTest::newRow("hex") << QStringList {"0x1", "2"} << ""
                         << "" << 0 << 0;
    QTest::newRow("trailing text") << QStringList {"1", "2;rm"} << ""
                                   << "" << 0 << 0;
    QTest::newRow("long digits") << QStringList {"0001", "2"} << ""
                                 << "" << 0 << 0;
    QTest::newRow("other node") << QStringList {"/dev/sda"} << ""
                                << "" << 0 << 0;
    QTest::newRow("node escape") << QStringList {"/dev/bus/usb/001/../002"} << ""
                                 << "" << 0 << 0;
}

void TestUdevProbe::targetParsing()
{
    QFETCH(QStringList, args);
    QFETCH(QString, envBus);
    QFETCH(QString, envDev);
    QFETCH(int, bus);
    QFETCH(int, address);

    ProbeTarget t;
    QString error;
    const bool ok = parseProbeTarget(args, envBus, envDev, t, error);
    QCOMPARE(ok, address != 0);
    if (ok) {
        QCOMPARE(t.bus, bus);
        QCOMPARE(t.address, address);
    } else {
        QVERIFY(!error.isEmpty());
    }
}

int main(int argc, char **argv)
{
    if (!EmulatedBus::ensurePreloaded(argc, argv)) {
        std::fprintf(stderr, "cannot run under the umockdev preload\n");
        return 1;
    }
    QCoreApplication app(argc, argv);
    TestUdevProbe t;
    return QTest::qExec(&t, argc, argv);
}

#include "tst_udev_probe.moc"

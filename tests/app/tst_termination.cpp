#include <QElapsedTimer>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

#include <csignal>
#include <memory>

#include "emulated_key.h"
#include "frame_test_util.h"
#include "kmsg.h"

// The program itself with a key on the emulated bus, told by the session to
// end: it says goodbye to the key and exits with status 0, also while a message
// box holds it in a nested event loop.
class TerminationTest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();
    void sessionEndSaysGoodbye_data();
    void sessionEndSaysGoodbye();
    void sessionEndIsBoundedWhenKeyTakesNoData();

private:
    std::unique_ptr<EmulatedBus> m_bus;
};

namespace {

QByteArray serialized(const KMsg &msg)
{
    uint8_t buf[kMsgMaxSize];
    const int n = msg.serialize(buf, sizeof buf);
    return QByteArray(reinterpret_cast<const char *>(buf), n);
}

} // namespace

void TerminationTest::initTestCase()
{
    QVERIFY(EmulatedBus::preloaded());
    m_bus = std::make_unique<EmulatedBus>();
}

void TerminationTest::cleanupTestCase()
{
    m_bus.reset();
}

void TerminationTest::sessionEndSaysGoodbye_data()
{
    QTest::addColumn<int>("signalNumber");
    QTest::addColumn<bool>("boxOpen");
    QTest::newRow("SIGTERM with a message box open") << int(SIGTERM) << true;
    QTest::newRow("SIGHUP") << int(SIGHUP) << false;
    QTest::newRow("SIGINT") << int(SIGINT) << false;
}

void TerminationTest::sessionEndSaysGoodbye()
{
    QFETCH(int, signalNumber);
    QFETCH(bool, boxOpen);
    EmulatedKey key(*m_bus);
    QVERIFY(key.plug());
    QTemporaryDir home;
    QVERIFY(QDir(home.path()).mkdir("runtime"));
    QFile::setPermissions(home.path() + "/runtime",
                          QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    QProcessEnvironment env = m_bus->childEnvironment();
    env.insert("QT_QPA_PLATFORM", "offscreen");
    env.insert("QT_LOGGING_RULES", "linker.debug=true");
    env.insert("XDG_CONFIG_HOME", home.path() + "/config");
    env.insert("XDG_RUNTIME_DIR", home.path() + "/runtime");
    QProcess program;
    program.setProcessEnvironment(env);
    program.setWorkingDirectory(home.path());
    program.start(QStringLiteral(BW_PROGRAM_PATH), QStringList());
    QVERIFY(program.waitForStarted(5000));
    QByteArray payload;
    QVERIFY2(key.takeFrame(payload, 20000), "no connect request from the program");

    if (boxOpen) {
        // A scan before the key named its web service: a warning box opens.
        KMsg scan(MSG_SET);
        const uint8_t tag[] = {0x04, 0xa3, 0x1f};
        scan.add<KTagBytes>(TAG_SCAN, tag, int(sizeof tag));
        key.queueFromKey(encodeFrame(serialized(scan) + '\0')); // with its filler byte
        QByteArray err;
        QTRY_VERIFY_WITH_TIMEOUT(
                (err += program.readAllStandardError()).contains("No service details"), 20000);
    }
    QVERIFY(::kill(static_cast<pid_t>(program.processId()), signalNumber) == 0);
    QVERIFY(program.waitForFinished(20000));
    QCOMPARE(program.exitStatus(), QProcess::NormalExit);
    QCOMPARE(program.exitCode(), 0);

    KMsg bye(MSG_REQUEST);
    bye.add<KTagUInt8>(TAG_DISCONNECT, 0);
    bool goodbye = false;
    while (!goodbye && key.takeFrame(payload, 2000))
        goodbye = payload.startsWith(serialized(bye));
    QVERIFY2(goodbye, "the key got no last disconnect");
}

void TerminationTest::sessionEndIsBoundedWhenKeyTakesNoData()
{
    EmulatedKey key(*m_bus);
    QVERIFY(key.plug());
    QTemporaryDir home;
    QVERIFY(QDir(home.path()).mkdir("runtime"));
    QFile::setPermissions(home.path() + "/runtime",
                          QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    QProcessEnvironment env = m_bus->childEnvironment();
    env.insert("QT_QPA_PLATFORM", "offscreen");
    env.insert("XDG_CONFIG_HOME", home.path() + "/config");
    env.insert("XDG_RUNTIME_DIR", home.path() + "/runtime");
    QProcess program;
    program.setProcessEnvironment(env);
    program.setWorkingDirectory(home.path());
    program.start(QStringLiteral(BW_PROGRAM_PATH), QStringList());
    QVERIFY(program.waitForStarted(5000));
    QByteArray payload;
    QVERIFY2(key.takeFrame(payload, 20000), "no connect request from the program");

    // The key stops taking data: the goodbye waits on the pipe, and the session
    // end must not wait out the pipe's time-out over and over (Windows ends a
    // program that takes longer at log-off).
    key.setTakesNoData(true);
    QElapsedTimer sinceSignal;
    sinceSignal.start();
    QVERIFY(::kill(static_cast<pid_t>(program.processId()), SIGTERM) == 0);
    QVERIFY(program.waitForFinished(20000));
    const qint64 ms = sinceSignal.elapsed();
    QCOMPARE(program.exitStatus(), QProcess::NormalExit);
    QCOMPARE(program.exitCode(), 0);
    // 2 s for the teardown, with room for the process's exit on a loaded machine.
    QVERIFY2(ms < 3500, qPrintable(QStringLiteral("ended %1 ms after the signal").arg(ms)));
}

int main(int argc, char **argv)
{
    if (!EmulatedBus::ensurePreloaded(argc, argv)) {
        qCritical("cannot run under the umockdev preload");
        return 1;
    }
    QCoreApplication app(argc, argv);
    TerminationTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_termination.moc"

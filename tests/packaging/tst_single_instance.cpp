#include "instance_guard.h"
#include "single_instance.h"

#include <QElapsedTimer>
#include <QFile>
#include <QLocalSocket>
#include <QProcess>
#include <QScopeGuard>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QWidget>
#include <QtTest>

#include <future>

namespace {
// A later start runs on its own thread: its waits are blocking, while the first
// instance needs this thread's event loop to answer.
std::future<SingleInstance::Role> startLater(const QString &dir, int waitMs)
{
    return std::async(std::launch::async, [dir, waitMs] {
        SingleInstance later(QStringLiteral("bw"), dir);
        return later.claim(waitMs);
    });
}

SingleInstance::Role waitWhileServing(std::future<SingleInstance::Role> &role)
{
    QElapsedTimer t;
    t.start();
    while (role.wait_for(std::chrono::milliseconds(0)) != std::future_status::ready) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        if (t.elapsed() > 10000)
            qFatal("later start never returned");
    }
    return role.get();
}
} // namespace

class TestSingleInstance : public QObject
{
    Q_OBJECT
private slots:
    void secondStartRaisesTheFirst();
    void leftoversOfADeadInstanceDoNotBlock();
    void lockFromAnotherMachineDoesNotBlock();
    void silentHolderIsReportedWithinTheWait();
    void junkOnTheSocketDoesNotRaiseOrBlock();
    void endingTheFirstFreesTheName();
    void laterStartBringsTheWindowForward_data();
    void laterStartBringsTheWindowForward();
    void anotherUserCannotBlockTheStart();
};

void TestSingleInstance::secondStartRaisesTheFirst()
{
    QTemporaryDir dir;
    SingleInstance first(QStringLiteral("bw"), dir.path());
    QSignalSpy raised(&first, &SingleInstance::activationRequested);
    QCOMPARE(first.claim(), SingleInstance::Role::Primary);
    QVERIFY(QFile::exists(first.socketPath()));

    for (int i = 0; i < 2; ++i) {
        auto later = startLater(dir.path(), 3000);
        QCOMPARE(waitWhileServing(later), SingleInstance::Role::Forwarded);
        QCOMPARE(raised.count(), i + 1);
    }
    // The first keeps its role: the lock and the socket are still there.
    QVERIFY(QFile::exists(first.lockPath()));
    QVERIFY(QFile::exists(first.socketPath()));
}

void TestSingleInstance::leftoversOfADeadInstanceDoNotBlock()
{
    QTemporaryDir dir;
    // A process that has ended leaves its lock file and socket file behind.
    QProcess gone;
    gone.start(QStringLiteral("true"), QStringList());
    QVERIFY(gone.waitForStarted(5000));
    const qint64 deadPid = gone.processId();
    QVERIFY(gone.waitForFinished(5000));
    SingleInstance probe(QStringLiteral("bw"), dir.path());
    QFile lock(probe.lockPath());
    QVERIFY(lock.open(QIODevice::WriteOnly));
    lock.write(QByteArray::number(deadPid) + "\nboxwright\n" + QSysInfo::machineHostName().toUtf8()
               + "\n");
    lock.close();
    QFile sock(probe.socketPath());
    QVERIFY(sock.open(QIODevice::WriteOnly));
    sock.close();

    SingleInstance next(QStringLiteral("bw"), dir.path());
    QSignalSpy raised(&next, &SingleInstance::activationRequested);
    QCOMPARE(next.claim(500), SingleInstance::Role::Primary);
    auto later = startLater(dir.path(), 3000);
    QCOMPARE(waitWhileServing(later), SingleInstance::Role::Forwarded);
    QCOMPARE(raised.count(), 1);
}

void TestSingleInstance::lockFromAnotherMachineDoesNotBlock()
{
    // Carried over by a roaming profile: a killed instance's lock, written on another
    // machine with a process id that may well be alive here.
    QTemporaryDir dir;
    SingleInstance probe(QStringLiteral("bw"), dir.path());
    QFile lock(probe.lockPath());
    QVERIFY(lock.open(QIODevice::WriteOnly));
    lock.write(QByteArray::number(QCoreApplication::applicationPid()) + "\nboxwright\nother-pc\n");
    lock.close();

    SingleInstance next(QStringLiteral("bw"), dir.path());
    QCOMPARE(next.claim(500), SingleInstance::Role::Primary);
    QCOMPARE(next.holderPid(), QCoreApplication::applicationPid());
}

void TestSingleInstance::silentHolderIsReportedWithinTheWait()
{
    QTemporaryDir dir;
    SingleInstance first(QStringLiteral("bw"), dir.path());
    QCOMPARE(first.claim(), SingleInstance::Role::Primary);
    // A hung first instance: it holds the lock, but this thread never serves its socket.
    SingleInstance later(QStringLiteral("bw"), dir.path());
    QElapsedTimer t;
    t.start();
    QCOMPARE(later.claim(400), SingleInstance::Role::NoAnswer);
    QVERIFY2(t.elapsed() < 3000, qPrintable(QString::number(t.elapsed())));
    QCOMPARE(later.holderPid(), QCoreApplication::applicationPid());
}

void TestSingleInstance::junkOnTheSocketDoesNotRaiseOrBlock()
{
    QTemporaryDir dir;
    SingleInstance first(QStringLiteral("bw"), dir.path());
    QSignalSpy raised(&first, &SingleInstance::activationRequested);
    QCOMPARE(first.claim(), SingleInstance::Role::Primary);

    QLocalSocket junk;
    junk.connectToServer(first.socketPath());
    QVERIFY(junk.waitForConnected(1000));
    junk.write(QByteArray(200, 'x')); // no line end, longer than any request
    junk.flush();
    QLocalSocket wrong;
    wrong.connectToServer(first.socketPath());
    QVERIFY(wrong.waitForConnected(1000));
    wrong.write("quit\n");
    wrong.flush();
    QLocalSocket silent; // connects and says nothing: dropped after its time
    silent.connectToServer(first.socketPath());
    QVERIFY(silent.waitForConnected(1000));
    QTRY_COMPARE_WITH_TIMEOUT(junk.state(), QLocalSocket::UnconnectedState, 3000);
    QTRY_COMPARE_WITH_TIMEOUT(wrong.state(), QLocalSocket::UnconnectedState, 3000);
    QTRY_COMPARE_WITH_TIMEOUT(silent.state(), QLocalSocket::UnconnectedState, 5000);
    QCOMPARE(raised.count(), 0);

    auto later = startLater(dir.path(), 3000);
    QCOMPARE(waitWhileServing(later), SingleInstance::Role::Forwarded);
    QCOMPARE(raised.count(), 1);
}

void TestSingleInstance::endingTheFirstFreesTheName()
{
    QTemporaryDir dir;
    QString socketPath;
    {
        SingleInstance first(QStringLiteral("bw"), dir.path());
        QCOMPARE(first.claim(), SingleInstance::Role::Primary);
        socketPath = first.socketPath();
    }
    QVERIFY(!QFile::exists(socketPath));
    SingleInstance next(QStringLiteral("bw"), dir.path());
    QCOMPARE(next.claim(300), SingleInstance::Role::Primary);
}

void TestSingleInstance::laterStartBringsTheWindowForward_data()
{
    QTest::addColumn<bool>("minimised");
    QTest::newRow("minimised") << true;
    QTest::newRow("hidden") << false;
}

void TestSingleInstance::laterStartBringsTheWindowForward()
{
    QFETCH(bool, minimised);
    QTemporaryDir dir;
    SingleInstance first(QStringLiteral("bw"), dir.path());
    QCOMPARE(first.claim(), SingleInstance::Role::Primary);
    QWidget window;
    raiseWhenAsked(first, &window);
    if (minimised) {
        window.showMinimized();
        QVERIFY(window.windowState() & Qt::WindowMinimized);
    }
    QCOMPARE(window.isVisible(), minimised);

    auto later = startLater(dir.path(), 3000);
    QCOMPARE(waitWhileServing(later), SingleInstance::Role::Forwarded);
    QTRY_VERIFY(window.isVisible());
    QVERIFY(!(window.windowState() & Qt::WindowMinimized));
}

void TestSingleInstance::anotherUserCannotBlockTheStart()
{
    // The squatter is a process of user "nobody"; only root can start one here.
    const QStringList asNobody = {"--reuid=65534", "--regid=65534", "--clear-groups"};
    if (QProcess::execute("setpriv", asNobody + QStringList {"true"}) != 0)
        QSKIP("cannot run a process as another user here");

    QTemporaryDir tmp;
    QVERIFY(QFile::setPermissions(tmp.path(), QFile::Permissions(0x7777)));
    QVERIFY(QDir(tmp.path()).mkdir("cache"));
    const QByteArray savedTmp = qgetenv("TMPDIR");
    const QByteArray savedRuntime = qgetenv("XDG_RUNTIME_DIR");
    const QByteArray savedCache = qgetenv("XDG_CACHE_HOME");
    const QByteArray savedUser = qgetenv("USER");
    qputenv("TMPDIR", tmp.path().toLocal8Bit());
    qunsetenv("XDG_RUNTIME_DIR");
    qputenv("XDG_CACHE_HOME", tmp.filePath("cache").toLocal8Bit());
    qputenv("USER", "bwtest");
    const auto restore = qScopeGuard([&] {
        qputenv("TMPDIR", savedTmp);
        qputenv("XDG_RUNTIME_DIR", savedRuntime);
        qputenv("XDG_CACHE_HOME", savedCache);
        qputenv("USER", savedUser);
    });

    // The squatter takes every shared name before the first start: the runtime folder
    // the toolkit falls back to, the per-user folder and the old shared lock file, each
    // with a lock held by its live process.
    const QString runtime = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
    QVERIFY(runtime.startsWith(tmp.path()));
    QVERIFY(QDir(runtime).removeRecursively());
    const QString named = tmp.filePath("bw-bwtest");
    const QString sharedLock = tmp.filePath("bw.lock");
    QProcess squatter;
    squatter.start("setpriv",
                   asNobody
                           + QStringList {"sh", "-c",
                                          "umask 0; for d in \"$1\" \"$2\"; do mkdir \"$d\" && "
                                          "printf '%s\\nsleep\\n\\n' $$ > \"$d/bw.lock\"; done; "
                                          "printf '%s\\nsleep\\n\\n' $$ > \"$3\"; exec sleep 60",
                                          "sh", runtime, named, sharedLock});
    QVERIFY(squatter.waitForStarted(5000));
    const auto stop = qScopeGuard([&] {
        squatter.kill();
        squatter.waitForFinished(5000);
    });
    QTRY_VERIFY_WITH_TIMEOUT(QFileInfo(sharedLock).size() > 0, 5000);

    SingleInstance first(QStringLiteral("bw"));
    QCOMPARE(first.claim(), SingleInstance::Role::Primary);
    const QFileInfo folder(QFileInfo(first.lockPath()).absolutePath());
    QCOMPARE(folder.ownerId(), QFileInfo(tmp.path()).ownerId());
    QCOMPARE(int(folder.permissions() & 0x0777), 0x0700);
    auto later = startLater(QString(), 3000);
    QCOMPARE(waitWhileServing(later), SingleInstance::Role::Forwarded);
}

QTEST_MAIN(TestSingleInstance)
#include "tst_single_instance.moc"

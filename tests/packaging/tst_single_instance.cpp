#include "instance_guard.h"
#include "single_instance.h"

#include <QElapsedTimer>
#include <QFile>
#include <QLocalSocket>
#include <QProcess>
#include <QSignalSpy>
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
    void silentHolderIsReportedWithinTheWait();
    void junkOnTheSocketDoesNotRaiseOrBlock();
    void endingTheFirstFreesTheName();
    void laterStartBringsTheWindowForward_data();
    void laterStartBringsTheWindowForward();
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
    QTRY_COMPARE_WITH_TIMEOUT(junk.state(), QLocalSocket::UnconnectedState, 3000);
    QTRY_COMPARE_WITH_TIMEOUT(wrong.state(), QLocalSocket::UnconnectedState, 3000);
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

QTEST_MAIN(TestSingleInstance)
#include "tst_single_instance.moc"

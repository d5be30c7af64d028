// The single-instance guard between real processes, on every platform: a second
// start hands over to the running instance, and an instance that was killed leaves
// nothing behind that blocks the next start.
#include "single_instance.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

#include <future>

namespace {
const QString kName = QStringLiteral("bwguard");

// The instance a test starts and kills: claims, marks "ready", and marks "raised"
// when a later start asks for its window.
int holdInstance(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const QDir dir(QString::fromLocal8Bit(argv[2]));
    SingleInstance instance(kName, dir.path());
    if (instance.claim(2000) != SingleInstance::Role::Primary)
        return 3;
    QObject::connect(&instance, &SingleInstance::activationRequested, [&dir] {
        QFile(dir.filePath(QStringLiteral("raised"))).open(QIODevice::WriteOnly);
    });
    QFile(dir.filePath(QStringLiteral("ready"))).open(QIODevice::WriteOnly);
    return app.exec();
}
} // namespace

class TestInstanceGuard : public QObject
{
    Q_OBJECT
private slots:
    void secondStartHandsOverAndAKilledInstanceDoesNotBlock();
};

void TestInstanceGuard::secondStartHandsOverAndAKilledInstanceDoesNotBlock()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    QProcess holder;
    holder.start(QCoreApplication::applicationFilePath(), {QStringLiteral("--hold"), dir.path()});
    QVERIFY(holder.waitForStarted(10000));
    QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(dir.filePath(QStringLiteral("ready"))), 30000);

    {
        SingleInstance second(kName, dir.path());
        QCOMPARE(second.claim(5000), SingleInstance::Role::Forwarded);
        // The process a "does not respond" message would name.
        QCOMPARE(second.holderPid(), holder.processId());
    }
    QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(dir.filePath(QStringLiteral("raised"))), 10000);

    // Killed: no clean exit, nothing released by the program itself.
    holder.kill();
    QVERIFY(holder.waitForFinished(10000));
    SingleInstance next(kName, dir.path());
    QElapsedTimer t;
    t.start();
    QCOMPARE(next.claim(3000), SingleInstance::Role::Primary);
    QVERIFY2(t.elapsed() < 2000, qPrintable(QString::number(t.elapsed())));

    // The new instance is found by the start after it.
    auto later = std::async(std::launch::async, [&dir] {
        SingleInstance third(kName, dir.path());
        return third.claim(5000);
    });
    while (later.wait_for(std::chrono::milliseconds(0)) != std::future_status::ready)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    QCOMPARE(later.get(), SingleInstance::Role::Forwarded);
}

int main(int argc, char **argv)
{
    if (argc == 3 && qstrcmp(argv[1], "--hold") == 0)
        return holdInstance(argc, argv);
    QCoreApplication app(argc, argv);
    TestInstanceGuard test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_instance_guard.moc"

#include "install_checks.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QtTest>

class TestDebPackage : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void controlFields();
    void dependsOnTheRuntimeLibraries();
    void contentsLieUnderUsrAndFitTogether();
    void maintainerScriptsReloadUdev_data();
    void maintainerScriptsReloadUdev();

private:
    QString field(const QString &name);

    QTemporaryDir dir_;
    QString deb_;
};

void TestDebPackage::initTestCase()
{
    QVERIFY(dir_.isValid());
    const QString out = dir_.filePath(QStringLiteral("out"));
    const CommandResult r = runCommand(
            QStringLiteral(BW_CPACK_COMMAND),
            {QStringLiteral("-G"), QStringLiteral("DEB"), QStringLiteral("--config"),
             QStringLiteral(BW_BUILD_DIR "/CPackConfig.cmake"), QStringLiteral("-B"), out});
    QVERIFY2(r.exitCode == 0, r.out + r.err);
    const QStringList debs = QDir(out).entryList({QStringLiteral("*.deb")}, QDir::Files);
    QCOMPARE(debs.size(), 1);
    deb_ = QDir(out).filePath(debs.first());
}

QString TestDebPackage::field(const QString &name)
{
    const CommandResult r
            = runCommand(QStringLiteral("dpkg-deb"), {QStringLiteral("-f"), deb_, name});
    return r.exitCode == 0 ? QString::fromUtf8(r.out).trimmed() : QString();
}

void TestDebPackage::controlFields()
{
    const CommandResult arch = runCommand(QStringLiteral("dpkg"), {"--print-architecture"});
    QCOMPARE(arch.exitCode, 0);
    QCOMPARE(field(QStringLiteral("Package")), QStringLiteral("boxwright"));
    QCOMPARE(field(QStringLiteral("Version")), QStringLiteral(BW_PROJECT_VERSION));
    QCOMPARE(field(QStringLiteral("Architecture")), QString::fromUtf8(arch.out).trimmed());
    QCOMPARE(QFileInfo(deb_).fileName(),
             QStringLiteral("boxwright_%1_%2.deb")
                     .arg(QStringLiteral(BW_PROJECT_VERSION),
                          QString::fromUtf8(arch.out).trimmed()));
    QVERIFY(!field(QStringLiteral("Maintainer")).isEmpty());
    QVERIFY(!field(QStringLiteral("Description")).isEmpty());
    QCOMPARE(field(QStringLiteral("Recommends")), QStringLiteral("udev"));
}

void TestDebPackage::dependsOnTheRuntimeLibraries()
{
    const QString depends = field(QStringLiteral("Depends"));
    QStringList names;
    const QStringList entries = depends.split(QLatin1Char(','), Qt::SkipEmptyParts);
    for (const QString &e : entries)
        names << e.trimmed().section(QLatin1Char(' '), 0, 0);
    // The Qt the package was built with, and not the other one.
    const bool qt6 = QT_VERSION_MAJOR == 6;
    const QStringList qt5Libs {"libqt5core5a", "libqt5gui5", "libqt5widgets5", "libqt5network5"};
    const QStringList qt6Libs {"libqt6core6", "libqt6gui6", "libqt6widgets6", "libqt6network6"};
    const QStringList needed
            = QStringList {"libc6", "libstdc++6", "libusb-1.0-0"} + (qt6 ? qt6Libs : qt5Libs);
    for (const QString &n : needed) {
        QVERIFY2(names.contains(n),
                 qPrintable(QStringLiteral("%1 missing from: %2").arg(n, depends)));
    }
    for (const QString &n : qAsConst(names)) {
        QVERIFY2(!n.startsWith(qt6 ? QStringLiteral("libqt5") : QStringLiteral("libqt6")),
                 qPrintable(depends));
        // Build and test libraries have no business on an operator's machine.
        QVERIFY2(!n.endsWith(QStringLiteral("-dev")) && !n.contains(QStringLiteral("umockdev"))
                         && !n.contains(QStringLiteral("benchmark")),
                 qPrintable(depends));
    }
    // Qt's private ABI changes with each release: its version must be pinned from below.
    const QString pin = qt6 ? QStringLiteral("libqt6core6 \\(>= 6\\.")
                            : QStringLiteral("libqt5core5a \\(>= 5\\.15");
    QVERIFY2(depends.contains(QRegularExpression(pin)), qPrintable(depends));
}

void TestDebPackage::contentsLieUnderUsrAndFitTogether()
{
    const CommandResult list = runCommand(QStringLiteral("dpkg-deb"), {QStringLiteral("-c"), deb_});
    QCOMPARE(list.exitCode, 0);
    const QStringList lines
            = QString::fromUtf8(list.out).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    QVERIFY(!lines.isEmpty());
    for (const QString &line : lines) {
        const QStringList cols = line.simplified().split(QLatin1Char(' '));
        QVERIFY2(cols.size() >= 6, qPrintable(line));
        QCOMPARE(cols[1], QStringLiteral("root/root"));
        QVERIFY2(cols[5] == QStringLiteral("./") || cols[5].startsWith(QStringLiteral("./usr/")),
                 qPrintable(line));
    }

    const QString root = dir_.filePath(QStringLiteral("unpacked"));
    const CommandResult x
            = runCommand(QStringLiteral("dpkg-deb"), {QStringLiteral("-x"), deb_, root});
    QVERIFY2(x.exitCode == 0, x.err.constData());
    const QString prefix = QDir(root).filePath(QStringLiteral("usr"));
    const QStringList problems = installedTreeProblems(prefix);
    QVERIFY2(problems.isEmpty(), qPrintable(problems.join(QLatin1Char('\n'))));
    const QString lookup = imageLookupProblem(prefix);
    QVERIFY2(lookup.isEmpty(), qPrintable(lookup));
}

void TestDebPackage::maintainerScriptsReloadUdev_data()
{
    QTest::addColumn<QString>("script");
    QTest::addColumn<QString>("action");
    QTest::addColumn<int>("udevadmExit"); // -1: no udevadm on the machine
    QTest::addColumn<QStringList>("calls");

    const QString reload = QStringLiteral("control --reload-rules");
    const QString trigger = QStringLiteral("trigger --subsystem-match=usb --action=change");
    QTest::newRow("install") << "postinst"
                             << "configure" << 0 << QStringList {reload, trigger};
    // Containers and chroots: the package still installs.
    QTest::newRow("install, udev down") << "postinst"
                                        << "configure" << 1 << QStringList {reload, trigger};
    QTest::newRow("install, no udev") << "postinst"
                                      << "configure" << -1 << QStringList {};
    QTest::newRow("failed upgrade") << "postinst"
                                    << "abort-upgrade" << 0 << QStringList {};
    QTest::newRow("remove") << "postrm"
                            << "remove" << 0 << QStringList {reload};
    QTest::newRow("purge, udev down") << "postrm"
                                      << "purge" << 1 << QStringList {reload};
    QTest::newRow("upgrade") << "postrm"
                             << "upgrade" << 0 << QStringList {};
}

void TestDebPackage::maintainerScriptsReloadUdev()
{
    QFETCH(QString, script);
    QFETCH(QString, action);
    QFETCH(int, udevadmExit);
    QFETCH(QStringList, calls);

    QTemporaryDir work;
    const QString control = work.filePath(QStringLiteral("control"));
    const CommandResult e
            = runCommand(QStringLiteral("dpkg-deb"), {QStringLiteral("-e"), deb_, control});
    QCOMPARE(e.exitCode, 0);
    const QString path = QDir(control).filePath(script);
    QVERIFY(QFileInfo::exists(path));
    QCOMPARE(QFileInfo(path).permissions() & 0x7777,
             QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner | QFile::ReadUser
                     | QFile::WriteUser | QFile::ExeUser | QFile::ReadGroup | QFile::ExeGroup
                     | QFile::ReadOther | QFile::ExeOther);

    // A stand-in udevadm that records its arguments.
    const QString bin = work.filePath(QStringLiteral("bin"));
    const QString log = work.filePath(QStringLiteral("udevadm.log"));
    QVERIFY(QDir().mkpath(bin));
    if (udevadmExit >= 0) {
        QFile fake(QDir(bin).filePath(QStringLiteral("udevadm")));
        QVERIFY(fake.open(QIODevice::WriteOnly));
        fake.write(QStringLiteral("#!/bin/sh\necho \"$*\" >> '%1'\nexit %2\n")
                           .arg(log)
                           .arg(udevadmExit)
                           .toUtf8());
        fake.close();
        QVERIFY(fake.setPermissions(fake.permissions() | QFile::ExeOwner));
    }
    QProcessEnvironment env;
    env.insert(QStringLiteral("PATH"), bin);
    const CommandResult r = runCommand(QStringLiteral("/bin/sh"), {path, action}, QString(), env);
    QVERIFY2(r.exitCode == 0, r.err.constData());

    QFile recorded(log);
    QStringList seen;
    if (recorded.open(QIODevice::ReadOnly))
        seen = QString::fromUtf8(recorded.readAll()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    QCOMPARE(seen, calls);
}

QTEST_GUILESS_MAIN(TestDebPackage)
#include "tst_deb_package.moc"

#include <QtTest>

#include <QSettings>

#include <QTemporaryDir>

#include "workflow_packlog.h"

// The packing log file on its own: location, line format, appending, failures.
class PackingLogTest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void folderIsTheSettingsFolderOfVarnex();
    void windowsFolderIsVarnexInRoamingAppData();
    void lineFormatIsExact();
    void appendsWithoutTruncating();
    void createsTheFolderWithItsParents();
    void unwritableLogWarnsWithThePath();

private:
    QTemporaryDir m_config;
    QString m_nativeFolder; // before the test moves the settings folder
};

namespace {

PackLogEntry entry(const QString &centre, const QString &rfid)
{
    PackLogEntry e;
    e.when = QDateTime(QDate(2024, 3, 5), QTime(14, 7, 9));
    e.centerName = centre;
    e.subject = "Mathematics";
    e.lockId = "L7";
    e.scannedRfid = rfid;
    return e;
}

QByteArray readAll(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

} // namespace

void PackingLogTest::initTestCase()
{
    QVERIFY(m_config.isValid());
    QCoreApplication::setApplicationName("boxwright");
    m_nativeFolder = PackingLog::settingsFolder();
    QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, m_config.path());
}

void PackingLogTest::folderIsTheSettingsFolderOfVarnex()
{
    QCOMPARE(PackingLog::settingsFolder(), m_config.path() + "/Varnex");
    const PackingLog log;
    QCOMPARE(log.filePath(), m_config.path() + "/Varnex/Packlog.txt");
    // Only the folder is used: no settings file appears.
    log.ensureFolder();
    QVERIFY(log.append(entry("North Hall", "303903")));
    QCOMPARE(QDir(log.folder()).entryList(QDir::Files), QStringList {"Packlog.txt"});
}

void PackingLogTest::windowsFolderIsVarnexInRoamingAppData()
{
    if (QSysInfo::kernelType() != QLatin1String("winnt"))
        QSKIP("Windows only");
    qInfo("packing log folder: %s", qPrintable(m_nativeFolder));
    QCOMPARE(m_nativeFolder,
             QDir::fromNativeSeparators(qEnvironmentVariable("APPDATA")) + "/Varnex");
}

void PackingLogTest::lineFormatIsExact()
{
    QCOMPARE(PackingLog::formatLine(entry("North Hall", "303903")),
             QByteArray("2024-03-05 14:07:09    CenterName:North Hall    Subject:Mathematics"
                        "    LockId:L7    ScannedRfid:303903\r\n"));
    // 24-hour clock, zero padded; empty values still keep their labels.
    PackLogEntry late;
    late.when = QDateTime(QDate(2025, 12, 31), QTime(23, 5, 1));
    QCOMPARE(PackingLog::formatLine(late),
             QByteArray("2025-12-31 23:05:01    CenterName:    Subject:    LockId:"
                        "    ScannedRfid:\r\n"));
}

void PackingLogTest::appendsWithoutTruncating()
{
    QTemporaryDir dir;
    const PackingLog log(dir.path());
    {
        QFile seed(log.filePath());
        QVERIFY(seed.open(QIODevice::WriteOnly));
        seed.write("earlier line\r\n");
    }
    QVERIFY(log.append(entry("North Hall", "1")));
    QVERIFY(log.append(entry("Central", "2")));
    const QByteArray bytes = readAll(log.filePath());
    QVERIFY(bytes.startsWith("earlier line\r\n2024-03-05 14:07:09    CenterName:North Hall"));
    QCOMPARE(bytes.count("\r\n"), 3);
    QCOMPARE(bytes.count('\n'), 3); // no newline translation
    QVERIFY(bytes.endsWith("CenterName:Central    Subject:Mathematics    LockId:L7"
                           "    ScannedRfid:2\r\n"));
}

void PackingLogTest::createsTheFolderWithItsParents()
{
    QTemporaryDir dir;
    const PackingLog log(dir.path() + "/home/.config/Varnex");
    QVERIFY(log.append(entry("North Hall", "1")));
    QCOMPARE(readAll(log.filePath()).count("\r\n"), 1);
}

void PackingLogTest::unwritableLogWarnsWithThePath()
{
    QTemporaryDir dir;
    // The "folder" is a plain file: nothing can be created below it.
    const QString blocker = dir.path() + "/Varnex";
    {
        QFile f(blocker);
        QVERIFY(f.open(QIODevice::WriteOnly));
    }
    const PackingLog log(blocker);
    log.ensureFolder();
    QTest::ignoreMessage(QtWarningMsg,
                         QRegularExpression(QRegularExpression::escape("packing log not written: "
                                                                       + log.filePath())));
    QVERIFY(!log.append(entry("North Hall", "1")));
    QCOMPARE(QFileInfo(blocker).size(), 0);
}

QTEST_GUILESS_MAIN(PackingLogTest)
#include "tst_packing_log.moc"

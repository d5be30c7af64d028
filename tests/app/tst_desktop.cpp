// What a desktop user and support meet: the command line, the About box and
// the diagnostics file, on a key and web service of the workflow rig.
#include "about_box.h"
#include "build_info.h"
#include "diagnostics.h"
#include "json.h"
#include "log_capture.h"
#include "ossarequesthandler.h"
#include "program_facts.h"
#include "program_menu.h"
#include "seals_today.h"
#include "workflow_harness.h"

#include <QApplication>
#include <QCryptographicHash>
#include <QDir>
#include <QLabel>
#include <QMenu>
#include <QPlainTextEdit>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

class TestDesktop : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void commandLineAnswersWithoutADisplay();
    void aboutAndDiagnosticsNameTheKeyAndHideSecrets();
    void sealsTodayListsTodaysLinesNewestFirst();

private:
    QTemporaryDir config_;
};

namespace {

struct Run
{
    int exitCode = -1;
    QString out;
    QString err;
};

Run runProgram(const QStringList &args, const QProcessEnvironment &env)
{
    QProcess p;
    p.setProcessEnvironment(env);
    p.start(QStringLiteral(BW_PROGRAM), args);
    Run r;
    if (!p.waitForFinished(20000)) {
        p.kill();
        p.waitForFinished();
        return r;
    }
    r.exitCode = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
    r.out = QString::fromLocal8Bit(p.readAllStandardOutput());
    r.err = QString::fromLocal8Bit(p.readAllStandardError());
    return r;
}

} // namespace

void TestDesktop::initTestCase()
{
    QVERIFY(config_.isValid());
    qputenv("XDG_CONFIG_HOME", config_.path().toLocal8Bit());
}

void TestDesktop::commandLineAnswersWithoutADisplay()
{
    // No display and a window system that cannot start: only an answer that
    // comes before any window exists gets out.
    QProcessEnvironment noDisplay = QProcessEnvironment::systemEnvironment();
    noDisplay.remove(QStringLiteral("DISPLAY"));
    noDisplay.remove(QStringLiteral("WAYLAND_DISPLAY"));
    noDisplay.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));

    const Run version = runProgram({QStringLiteral("--version")}, noDisplay);
    QCOMPARE(version.exitCode, 0);
    QVERIFY2(version.out.startsWith(QStringLiteral("boxwright %1 (").arg(programVersion())),
             qPrintable(version.out));

    const Run help = runProgram({QStringLiteral("--help")}, noDisplay);
    QCOMPARE(help.exitCode, 0);
    QVERIFY2(help.out.contains(QStringLiteral("--version")), qPrintable(help.out));

    // A mistyped option is refused with a message instead of starting the program.
    QProcessEnvironment offscreen = QProcessEnvironment::systemEnvironment();
    offscreen.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    const Run typo = runProgram({QStringLiteral("--verison")}, offscreen);
    QCOMPARE(typo.exitCode, 2);
    QVERIFY2(typo.err.contains(QStringLiteral("Unknown option 'verison'")), qPrintable(typo.err));
}

void TestDesktop::aboutAndDiagnosticsNameTheKeyAndHideSecrets()
{
    LogRing ring;
    LogCapture capture(ring);
    WorkflowHarness h;
    seedStandardData(h.web);
    h.keySendsIdentity(0x00B0C4A1, QStringLiteral("SW 2.4.1"), QStringLiteral("HW rev C"));
    const QString comment = QStringLiteral("Box taped twice, seal number 4471");
    h.runToCentres(QStringLiteral("303903"));
    h.sealFirstCentre(comment);
    QCOMPARE(h.logLines().size(), 1);

    // What the rig's login sent and got: the password as its digest, and a token.
    const QByteArray digest
            = QCryptographicHash::hash("s3cret", QCryptographicHash::Md5).toHex().toUpper();
    const QByteArray token = h.workflow->service()->requestHandler()->getToken();
    QVERIFY(!token.isEmpty());
    // A careless trace that a later change might add.
    qWarning() << "careless trace" << digest << token << comment;

    AboutBox about(collectFacts(*h.linker, *h.link));
    // The version heads the box; the rows below it are its text.
    bool versionShown = false;
    for (const QLabel *label : about.findChildren<QLabel *>())
        versionShown |= label->text().contains("Boxwright " + programVersion());
    QVERIFY(versionShown);
    for (const QString &shown : {QString::fromLatin1(qVersion()), usbStackDescription(),
                                 QStringLiteral("00B0C4A1"), QStringLiteral("SW 2.4.1"),
                                 QStringLiteral("HW rev C"), h.workflow->packingLog().filePath()})
        QVERIFY2(about.text().contains(shown), qPrintable(shown + " missing in\n" + about.text()));

    QTemporaryDir folder;
    const DiagnosticsSaved saved = saveDiagnostics(folder.path(), *h.linker, *h.link, ring);
    QVERIFY2(saved.error.isEmpty(), qPrintable(saved.error));
    QCOMPARE(QFileInfo(saved.path).absolutePath(), QDir(folder.path()).absolutePath());
    QFile file(saved.path);
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QByteArray text = file.readAll();

    for (const QByteArray &present :
         {QByteArray("00B0C4A1"), QByteArray("SW 2.4.1"), QByteArray("HW rev C"),
          QStringLiteral("http://127.0.0.1:%1").arg(h.web.port()).toUtf8(),
          h.workflow->packingLog().filePath().toUtf8(), QByteArray("Packing lines:  1"),
          // The service client's console trace and the careless line were captured.
          QByteArray("VALID USER DETAILS"), QByteArray("careless trace")})
        QVERIFY2(text.contains(present), present.constData());
    for (const QByteArray &secret : {digest, digest.toLower(), token, comment.toUtf8()})
        QVERIFY2(!text.contains(secret), secret.constData());
}

void TestDesktop::sealsTodayListsTodaysLinesNewestFirst()
{
    WorkflowHarness h;
    seedStandardData(h.web);
    h.web.setLock("555", FakeWebService::lock("L9", "COMMISSIONED"));
    // A log of years: far more than is read, all of it before today.
    const QString path = h.workflow->packingLog().filePath();
    QVERIFY(h.workflow->packingLog().ensureFolder());
    {
        QFile old(path);
        QVERIFY(old.open(QIODevice::WriteOnly));
        const QByteArray line = QDate::currentDate().addDays(-1).toString("yyyy-MM-dd").toLatin1()
                + " 09:00:00    CenterName:Old Hall    Subject:History    LockId:L1    "
                  "ScannedRfid:1\r\n";
        for (int i = 0; i < 20000; ++i)
            QVERIFY(old.write(line) == line.size());
    }
    h.now = QDateTime(QDate::currentDate(), QTime(10, 0, 0));
    h.runToCentres("303903");
    h.sealFirstCentre();
    h.now = h.now.addSecs(300);
    h.scan("555");
    h.sealFirstCentre();
    if (QTest::currentTestFailed())
        return;

    QWidget window;
    ProgramMenu menu(&window, h.linker.get(), h.link.get(), nullptr);
    auto *action = menu.menu()->findChild<QAction *>(QStringLiteral("actionSealsToday"));
    QVERIFY(action);
    QCOMPARE(action->text(), QString::fromUtf8("Seals today\u2026"));
    QStringList shown;
    QString summary;
    QString fileText;
    QTimer::singleShot(0, [&] {
        auto *dialog = qobject_cast<SealsTodayDialog *>(QApplication::activeModalWidget());
        if (!dialog)
            return;
        shown = dialog->findChild<QPlainTextEdit *>()->toPlainText().split('\n');
        summary = dialog->summary();
        fileText = dialog->findChild<QLabel *>(QStringLiteral("lblFile"))->text();
        dialog->reject();
    });
    action->trigger();

    const QString today = QDate::currentDate().toString("yyyy-MM-dd");
    QCOMPARE(shown,
             (QStringList {today
                                   + " 10:05:00    CenterName:North Hall    "
                                     "Subject:Mathematics    LockId:L9    ScannedRfid:555",
                           today
                                   + " 10:00:00    CenterName:North Hall    "
                                     "Subject:Mathematics    LockId:L7    "
                                     "ScannedRfid:303903"}));
    QCOMPARE(summary, QString("2 seals recorded in the packing log today, newest first:"));
    QVERIFY2(fileText.contains(QDir::toNativeSeparators(path)), qPrintable(fileText));
}

QTEST_MAIN(TestDesktop)
#include "tst_desktop.moc"

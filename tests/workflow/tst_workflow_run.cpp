#include <QtTest>

#include <QSettings>
#include <QTcpServer>
#include <QTemporaryDir>

#include "expect_log.h"
#include "json.h"
#include "workflow_harness.h"

using Kind = ScriptedDialogs::Kind;

// Whole packing runs: scans, the web service on loopback, dialogs and message
// boxes scripted, the packing log read back from a temporary settings folder.
class WorkflowRunTest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();

    void noServiceHostWarnsUntilTheKeySendsOne();
    void cancelledLoginOpensANewLoginOnTheNextScan();
    void wrongCredentialsThenRightOnes();
    void unreachableServiceSaysWhy_data();
    void unreachableServiceSaysWhy();
    void fullSealHasItsLineOnDiskBeforePacked();
    void secondScanGoesStraightToTheCentreList();
    void notCreatedTimetableWarnsOnceThenListsCentres_data();
    void notCreatedTimetableWarnsOnceThenListsCentres();
    void commissionStateDecidesValidation_data();
    void commissionStateDecidesValidation();
    void unknownLockStopsBeforeConfirm();
    void backFromConfirmAndCentresFetchesAgain();
    void failedFetchesShowTheirBox();
    void failedSealWritesNothing();
    void scanAndSecondPressDuringAWaitAreIgnored();
    void scanWhilePackedBoxIsOpenDoesNotChangeTheLogLine();
    void logNamesTheTagThatFoundTheSealedLock();
    void unwritableLogShowsTheLineBeforePacked();
    void staleFinishSealsNothing();
    void serviceTextsCannotAddALogLine();

private:
    QTemporaryDir m_config;
    QTemporaryDir m_work;
};

void WorkflowRunTest::initTestCase()
{
    testlog::serialize();
    QVERIFY(m_config.isValid());
    QVERIFY(m_work.isValid());
    // The settings location is resolved once per process: set it before any use.
    // A fresh account: ~/.config itself is missing (init() removes it).
    QSettings::setPath(QSettings::IniFormat, QSettings::UserScope,
                       m_config.path() + "/home/.config");
    // The client leaves trace files in the working directory.
    QVERIFY(QDir::setCurrent(m_work.path()));
    QCoreApplication::setApplicationName("boxwright");
    QVERIFY(PackingLog::settingsFolder().startsWith(m_config.path()));
}

void WorkflowRunTest::init()
{
    // Each test starts without ~/.config: the seal has to create it.
    QDir(m_config.path() + "/home").removeRecursively();
}

void WorkflowRunTest::noServiceHostWarnsUntilTheKeySendsOne()
{
    WorkflowHarness h;
    seedStandardData(h.web);
    h.scan("303903");
    QCOMPARE(h.prompt.texts(), QStringList {"Error|No service details recieved from key."});
    QCOMPARE(h.prompt.boxes.first().kind, OperatorPrompt::Kind::Warning);
    QVERIFY(h.dialogs.shown.isEmpty());
    QVERIFY(!h.workflow->service());

    h.keySendsLoopbackService();
    h.scan("303903");
    QVERIFY(h.workflow->service());
    QCOMPARE(h.prompt.boxes.size(), 1);
    QVERIFY(h.dialogs.lastIs(Kind::Login));
    QCOMPARE(h.dialogs.last().target, QString("127.0.0.1:%1").arg(h.web.port()));
    QVERIFY(h.web.requests().isEmpty());
}

void WorkflowRunTest::cancelledLoginOpensANewLoginOnTheNextScan()
{
    WorkflowHarness h;
    seedStandardData(h.web);
    h.keySendsLoopbackService();
    h.scan("303903");
    QCOMPARE(h.dialogs.countOf(Kind::Login), 1);
    // Cancel only closes the dialog: nothing reaches the workflow.
    h.scan("303903");
    QCOMPARE(h.dialogs.countOf(Kind::Login), 2);
    QCOMPARE(h.dialogs.shown.size(), 2);
    QVERIFY(h.prompt.boxes.isEmpty());
    QVERIFY(h.web.requests().isEmpty());
}

void WorkflowRunTest::wrongCredentialsThenRightOnes()
{
    WorkflowHarness h;
    seedStandardData(h.web);
    h.keySendsLoopbackService();
    h.scan("303903");
    h.loginNext("packer", "wrong");
    QCOMPARE(h.prompt.texts(),
             QStringList {QString("Error|Could not log into service.\nThe service at "
                                  "127.0.0.1:%1 answered and refused the login.")
                                  .arg(h.web.port())});
    QVERIFY(!h.workflow->service()->loggedIn);
    QCOMPARE(h.dialogs.countOf(Kind::Timetables), 0);

    // Asked again at once, with the user name kept.
    QVERIFY(h.dialogs.lastIs(Kind::Login));
    QCOMPARE(h.dialogs.countOf(Kind::Login), 2);
    QCOMPARE(h.dialogs.last().user, QString("packer"));
    QCOMPARE(h.dialogs.last().tag, QString("303903"));
    h.loginNext("packer", "s3cret");
    QVERIFY(h.workflow->service()->loggedIn);
    QCOMPARE(h.prompt.boxes.size(), 1);
    QVERIFY(h.dialogs.lastIs(Kind::Timetables));
    const auto tables = h.dialogs.last().tables;
    QCOMPARE(tables.size(), 2);
    QCOMPARE(tables.at(0)->subject, QString("Mathematics"));
    QCOMPARE(tables.at(1)->subject, QString("Physics"));
    QCOMPARE(h.web.count("POST /taviservice/login"), 2);
    QCOMPARE(h.web.count("GET /taviservice/timetable"), 1);
}

void WorkflowRunTest::unreachableServiceSaysWhy_data()
{
    QTest::addColumn<bool>("listening");
    QTest::addColumn<QString>("reason");
    QTest::newRow("no answer in time")
            << true << "The service at 127.0.0.1:%1 did not answer within 0.3 seconds.";
    QTest::newRow("nothing listening")
            << false
            << "The connection to 127.0.0.1:%1 was refused or the host could not be found.";
}

void WorkflowRunTest::unreachableServiceSaysWhy()
{
    QFETCH(bool, listening);
    QFETCH(QString, reason);
    WorkflowHarness h;
    seedStandardData(h.web);
    int port = h.web.port();
    if (!listening) {
        QTcpServer closed; // a port nobody listens on once it goes
        QVERIFY(closed.listen(QHostAddress::LocalHost));
        port = closed.serverPort();
    }
    h.keySendsService("127.0.0.1", QString::number(port));
    h.scan("303903");
    QVERIFY(h.workflow->service());
    ServiceTimeLimits limits;
    limits.login = 300;
    h.workflow->service()->setTimeLimits(limits);
    h.web.hold("/taviservice/login");
    h.loginNext("packer", "s3cret");
    h.web.release();

    QCOMPARE(h.prompt.texts(),
             QStringList {"Error|Could not log into service.\n" + reason.arg(port)});
    QVERIFY(h.dialogs.lastIs(Kind::Login));
    QCOMPARE(h.dialogs.last().user, QString("packer"));
}

void WorkflowRunTest::fullSealHasItsLineOnDiskBeforePacked()
{
    WorkflowHarness h;
    seedStandardData(h.web);
    h.runToCentres("303903");
    if (QTest::currentTestFailed())
        return;
    const auto centres = h.dialogs.last().centres;
    QCOMPARE(centres.size(), 3);
    QCOMPARE(h.dialogs.last().timetable->tableId, QString("T1"));

    h.centreNext(centres.first().data());
    QVERIFY(h.dialogs.lastIs(Kind::Confirm));
    QCOMPARE(h.dialogs.last().confirmTexts, (QStringList {"Mathematics", "North Hall", "MA1_NH"}));
    QCOMPARE(h.dialogs.last().tag, QString("303903"));
    QCOMPARE(h.web.count("POST /taviservice/lock/validate"), 0);

    // The program could be killed while "Packed" is shown: by then the line,
    // with the time of the seal, is in the file, ~/.config created for it.
    QVERIFY(!QDir(m_config.path() + "/home/.config").exists());
    QByteArray onDiskWhilePacked;
    h.prompt.whileOpen = [&](const ScriptedPrompt::Box &) {
        onDiskWhilePacked = h.logBytes();
        h.now = h.now.addSecs(90); // the operator closes the box later
    };
    h.confirmPacking("sealed at desk 2");

    QCOMPARE(h.prompt.texts(), QStringList {"Success|Packed"});
    QCOMPARE(h.prompt.boxes.first().kind, OperatorPrompt::Kind::Information);
    const QByteArray line("2024-03-05 14:07:09    CenterName:North Hall    "
                          "Subject:Mathematics    LockId:L7    ScannedRfid:303903\r\n");
    QCOMPARE(onDiskWhilePacked, line);
    QCOMPARE(h.logBytes(), line);
    const auto bodies = h.web.sealBodies();
    QCOMPARE(bodies.size(), 1);
    QCOMPARE(bodies.first().value("pointId").toString(), QString("P1"));
    QCOMPARE(bodies.first().value("tableId").toString(), QString("T1"));
    QCOMPARE(bodies.first().value("apId").toString(), QString("L7"));
    QCOMPARE(bodies.first().value("comment").toString(), QString("sealed at desk 2"));

    // Each wait said what it waited for, and ended.
    QCOMPARE(h.dialogs.waits,
             QString::fromUtf8("Logging in to 127.0.0.1:%1…|Fetching timetables…|"
                               "Fetching exam centres…|Looking up lock…|"
                               "Recording seal…")
                     .arg(h.web.port())
                     .split('|'));
    QVERIFY(!h.dialogs.busy);

    // Finished once: the same confirmation cannot seal again.
    expectLog(QtDebugMsg, QRegularExpression("ConfirmPacking ignored"));
    h.confirmPacking("again");
    QCOMPARE(h.web.sealBodies().size(), 1);
}

void WorkflowRunTest::secondScanGoesStraightToTheCentreList()
{
    WorkflowHarness h;
    seedStandardData(h.web);
    h.web.setLock("144964032628459529", FakeWebService::lock("L9", "UNCOMMISSIONED"));
    h.runToCentres("303903");
    h.sealFirstCentre();
    if (QTest::currentTestFailed())
        return;
    h.web.clearRequests();
    const int shownBefore = h.dialogs.shown.size();

    h.now = h.now.addSecs(75);
    h.scan("144964032628459529");
    QCOMPARE(h.dialogs.shown.size(), shownBefore + 1);
    QVERIFY(h.dialogs.lastIs(Kind::Centres));
    QCOMPARE(h.dialogs.last().timetable->tableId, QString("T1"));
    QCOMPARE(h.web.requests(), QStringList {"GET /taviservice/examschedule?tableId=T1"});

    h.centreNext(h.dialogs.last().centres.at(2).data());
    QCOMPARE(h.dialogs.last().confirmTexts,
             (QStringList {"Mathematics", "River School", "MA1_RS"}));
    h.confirmPacking(QString());
    const QStringList lines = h.logLines();
    QCOMPARE(lines.size(), 2);
    QCOMPARE(lines.at(1),
             QString("2024-03-05 14:08:24    CenterName:River School    "
                     "Subject:Mathematics    LockId:L9    "
                     "ScannedRfid:144964032628459529"));
}

void WorkflowRunTest::notCreatedTimetableWarnsOnceThenListsCentres_data()
{
    QTest::addColumn<qint64>("start");
    QTest::addColumn<qint64>("end");
    QTest::addColumn<bool>("warned");
    QTest::newRow("start 0") << qint64(0) << qint64(1777892400) << true;
    QTest::newRow("end one second early") << qint64(1388534400) << qint64(1388534399) << true;
    QTest::newRow("both before") << qint64(5) << qint64(6) << true;
    QTest::newRow("exactly the cut-off") << qint64(1388534400) << qint64(1388534400) << false;
}

void WorkflowRunTest::notCreatedTimetableWarnsOnceThenListsCentres()
{
    QFETCH(qint64, start);
    QFETCH(qint64, end);
    QFETCH(bool, warned);
    WorkflowHarness h;
    seedStandardData(h.web);
    h.web.setTimetables({FakeWebService::timetable("T1", start, end, "Mathematics", "MA1")});
    h.runToCentres("303903");
    if (QTest::currentTestFailed())
        return;
    QCOMPARE(h.prompt.texts(),
             warned ? QStringList {"Error|TimeTable Not Created."} : QStringList {});
    QCOMPARE(h.dialogs.last().centres.size(), 3);
}

void WorkflowRunTest::commissionStateDecidesValidation_data()
{
    QTest::addColumn<QString>("commission");
    QTest::addColumn<bool>("validationSucceeds");
    QTest::addColumn<int>("validations");
    QTest::addColumn<bool>("confirmed");
    QTest::newRow("commissioned") << "COMMISSIONED" << false << 0 << true;
    QTest::newRow("uncommissioned") << "UNCOMMISSIONED" << false << 0 << true;
    QTest::newRow("empty") << "" << false << 0 << true;
    QTest::newRow("other, valid") << "DECOMMISSIONED" << true << 1 << true;
    QTest::newRow("lower case is other, invalid") << "commissioned" << false << 1 << false;
}

void WorkflowRunTest::commissionStateDecidesValidation()
{
    QFETCH(QString, commission);
    QFETCH(bool, validationSucceeds);
    QFETCH(int, validations);
    QFETCH(bool, confirmed);
    WorkflowHarness h;
    seedStandardData(h.web);
    h.web.setLock("303903", FakeWebService::lock("L7", commission));
    h.web.setValidationSucceeds(validationSucceeds);
    h.runToCentres("303903");
    if (QTest::currentTestFailed())
        return;
    h.centreNext(h.dialogs.last().centres.first().data());

    QCOMPARE(h.web.count("POST /taviservice/lock/validate"), validations);
    QCOMPARE(h.dialogs.countOf(Kind::Confirm), confirmed ? 1 : 0);
    QCOMPARE(h.prompt.texts(),
             confirmed ? QStringList {}
                       : QStringList {"ERROR|Lock could not be found. Try open and/or closing "
                                      "the lock."});
    if (!confirmed) {
        // Nothing can be sealed from here, not even by a stale "Finish".
        expectLog(QtDebugMsg, QRegularExpression("ConfirmPacking ignored"));
        h.confirmPacking("x");
        QCOMPARE(h.web.sealBodies().size(), 0);
    }
}

void WorkflowRunTest::unknownLockStopsBeforeConfirm()
{
    WorkflowHarness h;
    seedStandardData(h.web);
    h.runToCentres("999");
    if (QTest::currentTestFailed())
        return;
    h.centreNext(h.dialogs.last().centres.first().data());
    QCOMPARE(h.prompt.texts(), QStringList {"ERROR|Could not retrieve lock."});
    QCOMPARE(h.web.count("GET /taviservice/lock/find/by/rf/999"), 1);
    QCOMPARE(h.dialogs.countOf(Kind::Confirm), 0);
}

void WorkflowRunTest::backFromConfirmAndCentresFetchesAgain()
{
    WorkflowHarness h;
    seedStandardData(h.web);
    h.runToCentres("303903");
    if (QTest::currentTestFailed())
        return;
    const TimetablePtr firstMaths = h.dialogs.shown.at(1).tables.first();
    h.centreNext(h.dialogs.last().centres.at(1).data());
    QVERIFY(h.dialogs.lastIs(Kind::Confirm));

    h.confirmBack();
    QCOMPARE(h.dialogs.countOf(Kind::Centres), 2);
    QVERIFY(h.dialogs.lastIs(Kind::Centres));
    QCOMPARE(h.web.count("GET /taviservice/examschedule"), 2);

    h.centreBack();
    QVERIFY(h.dialogs.lastIs(Kind::Timetables));
    QCOMPARE(h.web.count("GET /taviservice/timetable"), 2);
    // The list was fetched again; the choice made before is kept until replaced.
    QCOMPARE(h.workflow->chosenTimetable(), firstMaths);
    QCOMPARE(h.workflow->chosenTimetable()->subject, QString("Mathematics"));

    // A record from the replaced list still works (the old dialog may still be open).
    h.timetableNext(firstMaths.data());
    QVERIFY(h.dialogs.lastIs(Kind::Centres));
    h.sealFirstCentre("after going back");
    QCOMPARE(h.logLines().size(), 1);
    QVERIFY(h.logLines().first().contains("CenterName:North Hall    Subject:Mathematics"));
}

void WorkflowRunTest::failedFetchesShowTheirBox()
{
    WorkflowHarness h;
    seedStandardData(h.web);
    h.web.setBroken("/taviservice/timetable");
    h.keySendsLoopbackService();
    h.scan("303903");
    h.loginNext("packer", "s3cret");
    QCOMPARE(h.prompt.texts(), QStringList {"Error|Could not retrieve Tables."});
    QCOMPARE(h.dialogs.countOf(Kind::Timetables), 0);

    h.web.setBroken("/taviservice/examschedule");
    h.scan("303903"); // logged in, no timetable yet: the list is fetched again
    QVERIFY(h.dialogs.lastIs(Kind::Timetables));
    h.timetableNext(h.dialogs.last().tables.first().data());
    QCOMPARE(h.prompt.texts().last(), QString("Error|Could not retrieve Centers."));
    QCOMPARE(h.dialogs.countOf(Kind::Centres), 0);
}

void WorkflowRunTest::failedSealWritesNothing()
{
    WorkflowHarness h;
    seedStandardData(h.web);
    h.web.setSealSucceeds(false);
    h.runToCentres("303903");
    h.sealFirstCentre("will fail");
    if (QTest::currentTestFailed())
        return;
    QCOMPARE(h.prompt.texts(), QStringList {"Error|Could not Pack Seal."});
    QCOMPARE(h.web.sealBodies().size(), 1);
    QVERIFY(!QFile::exists(h.workflow->packingLog().filePath()));

    // The service recovers: the same confirmation can be sent again.
    h.web.setSealSucceeds(true);
    h.confirmPacking("second try");
    QCOMPARE(h.logLines().size(), 1);
}

void WorkflowRunTest::scanAndSecondPressDuringAWaitAreIgnored()
{
    WorkflowHarness h;
    seedStandardData(h.web);
    h.runToCentres("303903");
    if (QTest::currentTestFailed())
        return;
    ExamSchedule *centre = h.dialogs.last().centres.first().data();
    const int shownBefore = h.dialogs.shown.size();
    h.web.hold("/taviservice/lock/find");
    bool stepWasRunning = false;
    QTimer::singleShot(50, [&] {
        stepWasRunning = h.workflow->stepRunning();
        expectLog(QtDebugMsg, QRegularExpression("startWorkflow ignored"));
        h.scan("555");
        expectLog(QtDebugMsg, QRegularExpression("CenterNext ignored"));
        h.centreNext(centre);
        h.web.release();
    });
    h.centreNext(centre);

    QVERIFY(stepWasRunning);
    QVERIFY(!h.workflow->stepRunning());
    QCOMPARE(h.dialogs.shown.size(), shownBefore + 1);
    QVERIFY(h.dialogs.lastIs(Kind::Confirm));
    QCOMPARE(h.web.count("GET /taviservice/lock/find"), 1);
    QCOMPARE(h.web.count("GET /taviservice/examschedule"), 1);
    QVERIFY(h.prompt.boxes.isEmpty());

    // The ignored scan did not replace the tag being sealed.
    h.confirmPacking(QString());
    QVERIFY(h.logLines().value(0).endsWith("ScannedRfid:303903"));
}

void WorkflowRunTest::scanWhilePackedBoxIsOpenDoesNotChangeTheLogLine()
{
    WorkflowHarness h;
    seedStandardData(h.web);
    h.runToCentres("303903");
    if (QTest::currentTestFailed())
        return;
    h.centreNext(h.dialogs.last().centres.first().data());
    const int shownBefore = h.dialogs.shown.size();
    h.prompt.whileOpen = [&](const ScriptedPrompt::Box &) {
        expectLog(QtDebugMsg, QRegularExpression("startWorkflow ignored"));
        h.scan("777");
    };
    h.confirmPacking(QString());
    QCOMPARE(h.dialogs.shown.size(), shownBefore);
    QCOMPARE(h.logLines().size(), 1);
    QVERIFY(h.logLines().first().endsWith("LockId:L7    ScannedRfid:303903"));
}

void WorkflowRunTest::logNamesTheTagThatFoundTheSealedLock()
{
    WorkflowHarness h;
    seedStandardData(h.web);
    h.runToCentres("303903");
    if (QTest::currentTestFailed())
        return;
    h.centreNext(h.dialogs.last().centres.first().data());
    QVERIFY(h.dialogs.lastIs(Kind::Confirm));
    // Another tag is scanned while the confirmation is still open; then the
    // open confirmation is finished: it seals the lock it showed.
    h.scan("144964032628459529");
    QVERIFY(h.dialogs.lastIs(Kind::Centres));
    h.confirmPacking(QString());
    QCOMPARE(h.web.sealBodies().value(0).value("apId").toString(), QString("L7"));
    QCOMPARE(h.logLines().size(), 1);
    QVERIFY(h.logLines().first().endsWith("LockId:L7    ScannedRfid:303903"));
}

void WorkflowRunTest::unwritableLogShowsTheLineBeforePacked()
{
    WorkflowHarness h;
    seedStandardData(h.web);
    QTemporaryDir dir;
    const QString blocker = dir.path() + "/Varnex";
    {
        QFile f(blocker); // a file where the folder should be
        QVERIFY(f.open(QIODevice::WriteOnly));
    }
    h.workflow->setPackingLog(PackingLog(blocker));
    h.runToCentres("303903");
    if (QTest::currentTestFailed())
        return;
    expectLog(QtWarningMsg, QRegularExpression("packing log not written: .*/Varnex/Packlog.txt"));
    expectLog(QtWarningMsg, QRegularExpression("packing log line lost: "));
    h.sealFirstCentre();
    QCOMPARE(h.prompt.boxes.size(), 2);
    const ScriptedPrompt::Box warning = h.prompt.boxes.first();
    QCOMPARE(warning.kind, OperatorPrompt::Kind::Warning);
    QVERIFY2(warning.text.contains(QDir::toNativeSeparators(blocker + "/Packlog.txt")),
             qPrintable(warning.text));
    QVERIFY(warning.text.contains("seal is recorded"));
    QVERIFY(warning.text.endsWith("2024-03-05 14:07:09    CenterName:North Hall    "
                                  "Subject:Mathematics    LockId:L7    ScannedRfid:303903"));
    QCOMPARE(h.prompt.texts().last(), QString("Success|Packed"));
    QCOMPARE(h.web.sealBodies().size(), 1);
    QCOMPARE(QFileInfo(blocker).size(), 0);
}

void WorkflowRunTest::staleFinishSealsNothing()
{
    WorkflowHarness h;
    seedStandardData(h.web);
    h.web.setLock("555", FakeWebService::lock("L9", "COMMISSIONED"));
    h.runToCentres("303903");
    if (QTest::currentTestFailed())
        return;
    h.centreNext(h.dialogs.last().centres.first().data());
    const ConfirmationId forL7 = h.dialogs.lastConfirmation();
    const int confirmL7 = h.dialogs.shown.size() - 1;

    // Another tag, another centre: a new confirmation for L9; the first closes.
    h.scan("555");
    h.centreNext(h.dialogs.last().centres.at(1).data());
    const ConfirmationId forL9 = h.dialogs.lastConfirmation();
    QVERIFY(forL9 != forL7);
    QVERIFY(h.dialogs.shown.at(confirmL7).closedByWorkflow);
    expectLog(QtDebugMsg, QRegularExpression("ConfirmPacking ignored"));
    h.confirmPacking(forL7, "stale");

    // A lookup that fails voids the open confirmation too.
    h.scan("999");
    h.centreNext(h.dialogs.last().centres.first().data());
    QCOMPARE(h.prompt.texts(), QStringList {"ERROR|Could not retrieve lock."});
    expectLog(QtDebugMsg, QRegularExpression("ConfirmPacking ignored"));
    h.confirmPacking(forL9, "stale");
    QVERIFY(h.web.sealBodies().isEmpty());
    QVERIFY(h.logLines().isEmpty());

    // Looked up again, L9 is sealed once, with what its dialog showed.
    h.scan("555");
    h.centreNext(h.dialogs.last().centres.at(1).data());
    QCOMPARE(h.dialogs.last().confirmTexts, (QStringList {"Mathematics", "Central", "MA1_NORC"}));
    h.confirmPacking(QString());
    QCOMPARE(h.web.sealBodies().size(), 1);
    QCOMPARE(h.web.sealBodies().first().value("apId").toString(), QString("L9"));
    QCOMPARE(h.logLines(),
             QStringList {"2024-03-05 14:07:09    CenterName:Central    Subject:Mathematics"
                          "    LockId:L9    ScannedRfid:555"});
}

void WorkflowRunTest::serviceTextsCannotAddALogLine()
{
    WorkflowHarness h;
    seedStandardData(h.web);
    h.web.setTimetables({FakeWebService::timetable("T1", 1777881600, 1777892400,
                                                   "Maths\r\n2024-03-05 14:07:09    CenterName:"
                                                   "Fake",
                                                   "MA1")});
    h.web.setSchedules("T1", {FakeWebService::schedule(11, "P1", "T1", "North\nHall\t", "NH")});
    h.runToCentres("303903");
    h.sealFirstCentre();
    if (QTest::currentTestFailed())
        return;
    QCOMPARE(h.logBytes().count('\n'), 1);
    QCOMPARE(h.logLines(),
             QStringList {"2024-03-05 14:07:09    CenterName:North Hall     Subject:Maths  "
                          "2024-03-05 14:07:09    CenterName:Fake    LockId:L7    "
                          "ScannedRfid:303903"});
}

QTEST_GUILESS_MAIN(WorkflowRunTest)
#include "tst_workflow_run.moc"

#include <QtTest>

#include <QTemporaryDir>

#include "expect_log.h"
#include "json.h"
#include "workflow_harness.h"

using Kind = ScriptedDialogs::Kind;

namespace {
const QString sealPath = QStringLiteral("/taviservice/timetable/seal");
const QString noAnswerText = QStringLiteral(
        "Error|Could not Pack Seal.\nThe service did not answer in time: the seal may have been "
        "recorded.");
} // namespace

// Whole runs against the web service on loopback where the service is slow, its
// records carry no usable key, or the user name needs care: nothing is lost and
// nothing is sealed twice by accident.
class WorkflowCertaintyTest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void sealAnsweredLateIsPackedWithOneLine();
    void unansweredSealAsksBeforeSealingAgain();
    void pagesOfRecordsWithoutKeysLoad();
    void repeatedPageEndsTheFetch();
    void loginNameGoesOutAsTyped();

private:
    QTemporaryDir m_config;
    QTemporaryDir m_work;
};

void WorkflowCertaintyTest::initTestCase()
{
    testlog::serialize();
    useTestFolders(m_config, m_work);
}

void WorkflowCertaintyTest::sealAnsweredLateIsPackedWithOneLine()
{
    WorkflowHarness h;
    seedStandardData(h.web);
    h.runToCentres("303903");
    if (QTest::currentTestFailed())
        return;
    h.centreNext(h.dialogs.last().centres.first().data());
    QVERIFY(h.dialogs.lastIs(Kind::Confirm));
    QByteArray onDiskWhilePacked;
    h.prompt.whileOpen = [&](const ScriptedPrompt::Box &box) {
        if (box.title == QLatin1String("Success"))
            onDiskWhilePacked = h.logBytes();
    };
    // Each outcome is logged (and so goes into the diagnostics file).
    expectLog(QtWarningMsg, QRegularExpression("seal of lock L7 not answered in time"));
    expectLog(QtInfoMsg, QRegularExpression("seal of lock L7 sent at .* recorded late"));
    // The service records the seal but answers after 3.5 s, past the 3 s limit.
    h.web.hold(sealPath);
    QTimer::singleShot(3500, [&] { h.web.release(); });
    h.confirmPacking(QString());
    QCOMPARE(h.prompt.texts(), QStringList {noAnswerText});
    QVERIFY(h.logLines().isEmpty());

    QTRY_COMPARE_WITH_TIMEOUT(h.prompt.boxes.size(), 2, 15000);
    QCOMPARE(h.prompt.texts().last(),
             QString("Success|Packed\nThe service recorded the seal late."));
    const QByteArray line("2024-03-05 14:07:09    CenterName:North Hall    "
                          "Subject:Mathematics    LockId:L7    ScannedRfid:303903\r\n");
    QCOMPARE(onDiskWhilePacked, line);
    QCOMPARE(h.logBytes(), line);
    QCOMPARE(h.web.count("POST " + sealPath), 1);
    QVERIFY(!h.workflow->sealUnanswered("L7"));
}

void WorkflowCertaintyTest::unansweredSealAsksBeforeSealingAgain()
{
    WorkflowHarness h;
    seedStandardData(h.web);
    h.runToCentres("303903");
    if (QTest::currentTestFailed())
        return;
    ServiceTimeLimits limits;
    limits.seal = 300;
    limits.lateSeal = 700;
    h.workflow->service()->setTimeLimits(limits);
    h.web.hold(sealPath);
    expectLog(QtWarningMsg, QRegularExpression("seal of lock L7 not answered in time"));
    expectLog(QtWarningMsg, QRegularExpression("seal of lock L7 sent at .* never answered"));
    h.sealFirstCentre();
    QCOMPARE(h.prompt.texts(), QStringList {noAnswerText});
    // The late window runs out; an answer after it no longer counts.
    QTRY_COMPARE_WITH_TIMEOUT(h.workflow->service()->lateSealsWaiting(), 0, 5000);
    h.web.release();
    QTest::qWait(200);
    QCOMPARE(h.prompt.boxes.size(), 1);
    QVERIFY(h.logLines().isEmpty());

    // The next Finish for L7 asks first; "No" records nothing.
    h.now = h.now.addSecs(120);
    h.scan("303903");
    h.sealFirstCentre("again");
    QCOMPARE(h.prompt.boxes.size(), 2);
    const ScriptedPrompt::Box question = h.prompt.boxes.last();
    QCOMPARE(question.kind, OperatorPrompt::Kind::Question);
    QCOMPARE(question.title, QString("Seal again?"));
    QVERIFY2(question.text.contains("lock L7") && question.text.contains("14:07:09"),
             qPrintable(question.text));
    QCOMPARE(h.web.count("POST " + sealPath), 1);
    QVERIFY(h.logLines().isEmpty());

    // "Yes" seals it.
    h.prompt.answer = true;
    h.scan("303903");
    h.sealFirstCentre("again");
    QCOMPARE(h.web.count("POST " + sealPath), 2);
    QCOMPARE(h.prompt.texts().last(), QString("Success|Packed"));
    QCOMPARE(h.logLines().size(), 1);
}

void WorkflowCertaintyTest::pagesOfRecordsWithoutKeysLoad()
{
    WorkflowHarness h;
    seedStandardData(h.web);
    // Ids sent as numbers read as empty text: every record has the same key.
    QJsonArray tables;
    for (int i = 0; i < 250; ++i)
        tables.append(QJsonObject {{"tableId", 1000 + i},
                                   {"startTime", 1777881600},
                                   {"endTime", 1777892400},
                                   {"subject", QString("Subject %1").arg(i)}});
    h.web.setTimetables(tables);
    // Schedules without an "examSchedId", asked for with the empty table id.
    QJsonArray centres;
    for (int i = 0; i < 2500; ++i)
        centres.append(QJsonObject {{"pointId", QString("P%1").arg(i)},
                                    {"centerName", QString("Centre %1").arg(i)}});
    h.web.setSchedules(QString(), centres);

    h.runToCentres("303903");
    if (QTest::currentTestFailed())
        return;
    QVERIFY(h.prompt.boxes.isEmpty());
    const auto listed = h.dialogs.shown.at(1).tables;
    QCOMPARE(listed.size(), 250);
    QCOMPARE(listed.last()->subject, QString("Subject 249"));
    QCOMPARE(h.dialogs.last().centres.size(), 2500);
    QCOMPARE(h.dialogs.last().centres.last()->centerName, QString("Centre 2499"));
    QCOMPARE(h.web.count("GET /taviservice/timetable"), 3);
    QCOMPARE(h.web.count("GET /taviservice/examschedule"), 3);
}

void WorkflowCertaintyTest::repeatedPageEndsTheFetch()
{
    WorkflowHarness h;
    seedStandardData(h.web);
    QJsonArray tables;
    for (int i = 0; i < 150; ++i)
        tables.append(FakeWebService::timetable(QString("T%1").arg(i), 1777881600, 1777892400,
                                                "Mathematics", "MA1"));
    h.web.setTimetables(tables);
    h.web.setOffsetIgnored(true);
    h.keySendsLoopbackService();
    h.scan("303903");
    expectLog(QtWarningMsg, QRegularExpression("repeats the previous page"));
    h.loginNext("packer", "s3cret");
    QCOMPARE(h.prompt.texts(), QStringList {"Error|Could not retrieve Tables."});
    QCOMPARE(h.dialogs.countOf(Kind::Timetables), 0);
    // The second page told it: nothing more was asked for.
    QCOMPARE(h.web.count("GET /taviservice/timetable"), 2);
}

void WorkflowCertaintyTest::loginNameGoesOutAsTyped()
{
    WorkflowHarness h;
    seedStandardData(h.web);
    h.web.addUser("jo@school.org", "pw1");
    h.web.addUser("a&b=c", "pw2");
    h.keySendsLoopbackService();
    h.scan("303903");
    h.loginNext("jo@school.org", "pw1");
    QVERIFY(h.dialogs.lastIs(Kind::Timetables));
    QVERIFY2(h.web.loginBodies().value(0).startsWith("username=jo@school.org&password="),
             h.web.loginBodies().value(0).constData());

    // A name that would change the form's meaning is encoded, and still logs in.
    QVERIFY(h.workflow->logOut());
    h.scan("303903");
    h.loginNext("a&b=c", "pw2");
    QVERIFY(h.dialogs.lastIs(Kind::Timetables));
    QVERIFY2(h.web.loginBodies().value(1).startsWith("username=a%26b%3Dc&password="),
             h.web.loginBodies().value(1).constData());
    QVERIFY(h.prompt.boxes.isEmpty());
}

QTEST_GUILESS_MAIN(WorkflowCertaintyTest)
#include "tst_workflow_certainty.moc"

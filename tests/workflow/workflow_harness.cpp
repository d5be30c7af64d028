#include "workflow_harness.h"

#include <QDir>
#include <QTest>

#include "json.h"

WorkflowHarness::WorkflowHarness()
    : now(QDate(2024, 3, 5), QTime(14, 7, 9))
{
    workflow = std::make_unique<PackingWorkflow>(PackingLog(), [this] { return now; });
    workflow->setDialogs(&dialogs);
    workflow->setPrompt(&prompt);
    QFile::remove(workflow->packingLog().filePath());
}

WorkflowHarness::~WorkflowHarness()
{
    web.release();
}

void WorkflowHarness::keySendsService(const QString &host, const QString &port)
{
    m_host = host;
    m_port = port;
}

void WorkflowHarness::keySendsLoopbackService()
{
    keySendsService(web.host(), QString::number(web.port()));
}

void WorkflowHarness::scan(const QString &rfid)
{
    workflow->start(m_host, m_port, rfid);
}

void WorkflowHarness::loginNext(const QString &user, const QString &pass)
{
    workflow->loginNext(user, pass);
}

void WorkflowHarness::timetableNext(Timetable *timetable)
{
    workflow->timetableNext(timetable);
}

void WorkflowHarness::centreNext(ExamSchedule *centre)
{
    workflow->centreNext(centre);
}

void WorkflowHarness::centreBack()
{
    workflow->centreBack();
}

void WorkflowHarness::confirmPacking(const QString &comment)
{
    workflow->confirmPacking(comment);
}

void WorkflowHarness::confirmBack()
{
    workflow->confirmBack();
}

void WorkflowHarness::runToCentres(const QString &rfid)
{
    keySendsLoopbackService();
    scan(rfid);
    QVERIFY(dialogs.lastIs(ScriptedDialogs::Kind::Login));
    loginNext("packer", "s3cret");
    QVERIFY(dialogs.lastIs(ScriptedDialogs::Kind::Timetables));
    QVERIFY(!dialogs.last().tables.isEmpty());
    timetableNext(dialogs.last().tables.first().data());
    QVERIFY(dialogs.lastIs(ScriptedDialogs::Kind::Centres));
}

void WorkflowHarness::sealFirstCentre(const QString &comment)
{
    QVERIFY(dialogs.lastIs(ScriptedDialogs::Kind::Centres));
    QVERIFY(!dialogs.last().centres.isEmpty());
    centreNext(dialogs.last().centres.first().data());
    QVERIFY(dialogs.lastIs(ScriptedDialogs::Kind::Confirm));
    confirmPacking(comment);
}

QByteArray WorkflowHarness::logBytes() const
{
    QFile file(workflow->packingLog().filePath());
    if (!file.open(QIODevice::ReadOnly))
        return QByteArray();
    return file.readAll();
}

QStringList WorkflowHarness::logLines() const
{
    const QString text = QString::fromLocal8Bit(logBytes());
    QStringList lines = text.split(QStringLiteral("\r\n"));
    if (!lines.isEmpty() && lines.last().isEmpty())
        lines.removeLast();
    return lines;
}

void seedStandardData(FakeWebService &web)
{
    web.addUser("packer", "s3cret");
    web.setTimetables(
            {FakeWebService::timetable("T1", 1777881600, 1777892400, "Mathematics", "MA1"),
             FakeWebService::timetable("T2", 1777968000, 1777978800, "Physics", "PH1")});
    web.setSchedules("T1",
                     {FakeWebService::schedule(11, "P1", "T1", "North Hall", "NH"),
                      FakeWebService::schedule(12, "P2", "T1", "Central", "NORC"),
                      FakeWebService::schedule(13, "P3", "T1", "River School", "RS")});
    web.setSchedules("T2", {FakeWebService::schedule(21, "P1", "T2", "North Hall", "NH")});
    web.setLock("303903", FakeWebService::lock("L7", "COMMISSIONED"));
}

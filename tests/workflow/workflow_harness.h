#pragma once

#include <QDateTime>
#include <QFile>
#include <QString>
#include <QStringList>

#include <memory>

#include "fake_web_service.h"
#include "packing_workflow.h"
#include "scripted_doubles.h"

// One packing point: the web service on loopback, the scripted dialogs and
// message boxes, and the workflow the scans drive.
class WorkflowHarness
{
public:
    WorkflowHarness();
    ~WorkflowHarness();

    // The key reports its web service endpoint (empty host: none).
    void keySendsService(const QString &host, const QString &port);
    void keySendsLoopbackService();
    // The key reports a scanned tag with this decimal text.
    void scan(const QString &rfid);

    // Dialog buttons.
    void loginNext(const QString &user, const QString &pass);
    void timetableNext(Timetable *timetable);
    void centreNext(ExamSchedule *centre);
    void centreBack();
    void confirmPacking(const QString &comment);
    void confirmBack();

    // Logs in and picks the first timetable: the exam centre list is open.
    void runToCentres(const QString &rfid);
    // From the open exam centre list to the recorded seal.
    void sealFirstCentre(const QString &comment = QString());

    QStringList logLines() const;
    QByteArray logBytes() const;

    FakeWebService web;
    ScriptedDialogs dialogs;
    ScriptedPrompt prompt;
    QDateTime now;
    std::unique_ptr<PackingWorkflow> workflow;

private:
    QString m_host;
    QString m_port;
};

// The standard data set: two timetables, three centres for the first one, a
// commissioned lock for tag 303903.
void seedStandardData(FakeWebService &web);

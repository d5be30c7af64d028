#pragma once

#include <QDateTime>
#include <QString>

#include <functional>
#include <memory>

#include "exam_schedule.h"
#include "lock.h"
#include "timetable.h"
#include "workflow_packlog.h"

class JSON;
class OperatorPrompt;
class WorkflowDialogs;

// Drives one box from a scanned lock tag through login, timetable, exam centre,
// lock lookup (and validation), confirmation and seal to the packing log line.
// Where the workflow stands follows from the kept choices: once logged in and
// with a timetable chosen, the next scan goes straight to the exam centre list.
//
// Every service call waits in a nested event loop, so scans and button presses
// can arrive while a step runs. Such input is ignored (with a debug line); the
// operator scans again once the step has finished.
class PackingWorkflow
{
public:
    using Clock = std::function<QDateTime()>;

    // 2014-01-01 00:00:00 UTC: a timetable starting or ending before it was
    // never set up on the service.
    static constexpr qint64 notCreatedCutoff = 1388534400;

    explicit PackingWorkflow(PackingLog log = PackingLog(),
                             Clock clock = &QDateTime::currentDateTime);
    ~PackingWorkflow();
    PackingWorkflow(const PackingWorkflow &) = delete;
    PackingWorkflow &operator=(const PackingWorkflow &) = delete;

    void setDialogs(WorkflowDialogs *dialogs) { m_dialogs = dialogs; }
    void setPrompt(OperatorPrompt *prompt) { m_prompt = prompt; }
    void setClock(Clock clock) { m_clock = std::move(clock); }
    void setPackingLog(PackingLog log) { m_log = std::move(log); }

    // A lock tag was scanned (its text is not "0").
    void start(const QString &serviceHost, const QString &servicePort, const QString &scannedRfid);

    // What the dialogs' buttons lead to.
    void loginNext(const QString &user, const QString &pass);
    void timetableNext(Timetable *timetable);
    void centreNext(ExamSchedule *centre);
    void centreBack();
    void confirmPacking(const QString &comment);
    void confirmBack();

    bool stepRunning() const { return m_stepRunning; }
    JSON *service() const { return m_service.get(); }
    TimetablePtr chosenTimetable() const { return m_chosenTimetable; }
    ExamSchedulePtr chosenSchedule() const { return m_chosenSchedule; }
    LockPtr foundLock() const { return m_foundLock; }
    const PackingLog &packingLog() const { return m_log; }

private:
    class StepScope;

    bool beginStep(const char *entry);
    void showTimetables();
    void showCentres(const TimetablePtr &timetable);
    void warn(const QString &title, const QString &text);
    void inform(const QString &title, const QString &text);

    PackingLog m_log;
    Clock m_clock;
    WorkflowDialogs *m_dialogs = nullptr;
    OperatorPrompt *m_prompt = nullptr;

    std::unique_ptr<JSON> m_service;
    QString m_scannedRfid;
    TimetablePtr m_chosenTimetable;
    ExamSchedulePtr m_chosenSchedule;
    LockPtr m_foundLock;
    // The scan that found m_foundLock, so the log names the tag actually sealed.
    QString m_foundLockRfid;
    bool m_stepRunning = false;
};

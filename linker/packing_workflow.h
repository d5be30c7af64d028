#pragma once

#include <QDateTime>
#include <QString>
#include <QStringList>

#include <functional>
#include <memory>
#include <vector>

#include "exam_schedule.h"
#include "lock.h"
#include "timetable.h"
#include "workflow_dialogs.h"
#include "workflow_packlog.h"

class JSON;
class OperatorPrompt;
enum class LateSeal;

// Drives one box from a scanned lock tag through login, timetable, exam centre,
// lock lookup (and validation), confirmation and seal to the packing log line.
// Where the workflow stands follows from the kept choices: once logged in and
// with a timetable chosen, the next scan goes straight to the exam centre list.
//
// Every service call waits in a nested event loop, so scans and button presses
// can arrive while a step runs. Such input is ignored (with a debug line); the
// operator scans again once the step has finished.
//
// One workflow is on screen at a time: a scan while one of its dialogs is open
// brings that dialog forward instead of opening another. Before the lock lookup
// the open dialog then works for the new tag; a confirmation stays bound to the
// lookup that opened it and seals exactly what it shows.
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
    void confirmPacking(ConfirmationId confirmation, const QString &comment);
    void confirmBack();

    // Ends the service session and forgets the chosen timetable, so that the
    // next scan starts at the login; the workflow's dialogs close. Refused
    // (false) when nobody is logged in, while a step runs or once the program ends.
    bool logOut();
    bool loggedIn() const;

    // The program ends: no step starts from now on and no message box opens.
    // `stopped` runs once no seal is waiting for its reply (at once, or when
    // that seal has its answer and log line). A seal past its time limit, still
    // waiting for a late answer, does not hold the end up: it is logged as
    // unanswered and let go.
    void stop(std::function<void()> stopped);

    // True when a seal of this lock had no answer in time and no late answer
    // said whether it was recorded: a Finish for the lock asks first.
    bool sealUnanswered(const QString &lockId) const;

    bool stepRunning() const { return m_stepRunning; }
    JSON *service() const { return m_service.get(); }
    TimetablePtr chosenTimetable() const { return m_chosenTimetable; }
    ExamSchedulePtr chosenSchedule() const { return m_chosenSchedule; }
    const PackingLog &packingLog() const { return m_log; }
    // The latest comments sent with a seal, oldest first, so that text handed
    // out for support can leave them out.
    const QStringList &recentComments() const { return m_recentComments; }
    static constexpr int maxRecentComments = 20;

private:
    class StepScope;

    // What an open confirm dialog shows, kept until it is sealed or voided.
    struct Confirmation
    {
        ConfirmationId id = 0;
        TimetablePtr timetable;
        ExamSchedulePtr schedule;
        LockPtr lock;
        QString rfid;
    };

    bool beginStep(const char *entry);
    bool raiseOpenDialog(const QString &scannedRfid);
    // Runs one service call with `text` on screen for as long as it waits.
    bool waitFor(const QString &text, const std::function<bool()> &call);
    void showSession();
    // Why the last login failed, in one line naming `target`; empty when unknown.
    QString loginFailure(const QString &target) const;
    void showTimetables();
    // chosen: the centre to show as chosen again when it is still on the list.
    void showCentres(const TimetablePtr &timetable, const ExamSchedulePtr &chosen = {});
    void voidConfirmation();
    // A seal that missed its time limit, until its late answer (if any) comes.
    struct UnansweredSeal
    {
        enum class State { Waiting, NoAnswer, Recorded, Refused };
        const JSON *service = nullptr; // seal numbers count per client
        quint64 number = 0;
        QDateTime sentAt;
        PackLogEntry entry; // the line to write if it is recorded late
        State state = State::Waiting;
    };

    void seal(const Confirmation &confirmation, const QString &comment);
    // False when the operator declines to seal a lock whose seal is unanswered.
    bool mayRepeatSeal(ConfirmationId confirmation, const QString &lockId);
    void watchLateSeals();
    void lateSealEnded(const JSON *service, quint64 number, LateSeal outcome);
    void dropFinishedServices();
    void logSeal(const PackLogEntry &entry);
    void warn(const QString &title, const QString &text);
    void inform(const QString &title, const QString &text);

    PackingLog m_log;
    Clock m_clock;
    WorkflowDialogs *m_dialogs = nullptr;
    OperatorPrompt *m_prompt = nullptr;

    std::vector<UnansweredSeal> m_unanswered;
    // Clients logged out of while a seal of theirs still waits for its answer.
    std::vector<std::unique_ptr<JSON>> m_retired;
    std::unique_ptr<JSON> m_service;
    QString m_scannedRfid;
    TimetablePtr m_chosenTimetable;
    ExamSchedulePtr m_chosenSchedule;
    Confirmation m_confirmation;
    ConfirmationId m_lastConfirmation = 0;
    QStringList m_recentComments;
    bool m_stepRunning = false;
    bool m_sealing = false;
    bool m_stopped = false;
    std::function<void()> m_whenStopped;
};

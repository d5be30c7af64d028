#pragma once

#include <QList>
#include <QString>
#include <QStringList>

#include <functional>

#include "operator_prompt.h"
#include "workflow_dialogs.h"

// Stands in for the four dialogs: records what the workflow opened, so a test
// can look at it and then "press" a button by calling the linker's slot.
class ScriptedDialogs : public WorkflowDialogs
{
public:
    enum class Kind { Login, Timetables, Centres, Confirm };
    struct Shown
    {
        Kind kind = Kind::Login;
        QString tag;
        QString target;
        QList<TimetablePtr> tables;
        QList<ExamSchedulePtr> centres;
        TimetablePtr timetable;
        QStringList confirmTexts; // subject, centre, lock text
        ConfirmationId confirmation = 0;
        bool closedByWorkflow = false;
        QString user; // login: the user name filled in
        ExamSchedulePtr chosen; // centres: the centre shown as chosen
    };

    void showLogin(const QString &tag, const QString &target, const QString &user) override
    {
        Shown &s = add(Kind::Login, tag);
        s.target = target;
        s.user = user;
        opened(s);
    }
    void showTimetables(const QString &tag, const QList<TimetablePtr> &tables) override
    {
        Shown &s = add(Kind::Timetables, tag);
        s.tables = tables;
        opened(s);
    }
    void showCentres(const QString &tag, const QList<ExamSchedulePtr> &centres,
                     const TimetablePtr &timetable, const ExamSchedulePtr &chosen) override
    {
        Shown &s = add(Kind::Centres, tag);
        s.centres = centres;
        s.timetable = timetable;
        s.chosen = chosen;
        opened(s);
    }
    void showConfirm(ConfirmationId id, const QString &tag, const QString &subject,
                     const QString &centre, const QString &lockText) override
    {
        Shown &s = add(Kind::Confirm, tag);
        s.confirmTexts = QStringList {subject, centre, lockText};
        s.confirmation = id;
        opened(s);
    }

    // The operator has closed each dialog by the time the workflow asks.
    WorkflowStep openStep() const override { return WorkflowStep::None; }
    void bringForward(const QString &) override { }
    void closeConfirmations() override
    {
        for (Shown &s : shown)
            s.closedByWorkflow = s.closedByWorkflow || s.kind == Kind::Confirm;
    }
    void closeAll() override
    {
        for (Shown &s : shown)
            s.closedByWorkflow = true;
    }

    // Every wait announced, in order; `busy` while one has not ended.
    void setBusy(const QString &text) override
    {
        waits << text;
        busy = true;
    }
    void clearBusy() override { busy = false; }
    void showSession(const QString &user, const TimetablePtr &timetable) override
    {
        sessionUser = user;
        sessionTimetable = timetable;
    }

    bool lastIs(Kind kind) const { return !shown.isEmpty() && shown.last().kind == kind; }
    const Shown &last() const { return shown.last(); }
    int countOf(Kind kind) const
    {
        int n = 0;
        for (const Shown &s : shown)
            n += s.kind == kind ? 1 : 0;
        return n;
    }
    // The newest confirm dialog's id; 0 when none was shown.
    ConfirmationId lastConfirmation() const
    {
        for (auto it = shown.crbegin(); it != shown.crend(); ++it) {
            if (it->kind == Kind::Confirm)
                return it->confirmation;
        }
        return 0;
    }

    QList<Shown> shown;
    std::function<void(const Shown &)> onShow;
    QStringList waits;
    bool busy = false;
    QString sessionUser;
    TimetablePtr sessionTimetable;

private:
    Shown &add(Kind kind, const QString &tag)
    {
        shown.append(Shown());
        shown.last().kind = kind;
        shown.last().tag = tag;
        return shown.last();
    }
    // A copy: the hook may open further dialogs.
    void opened(Shown s)
    {
        if (onShow)
            onShow(s);
    }
};

// Records every message box and "closes" it at once, after running an optional
// hook (which sees the box while it is still open).
class ScriptedPrompt : public OperatorPrompt
{
public:
    struct Box
    {
        Kind kind;
        QString title;
        QString text;
    };

    void message(Kind kind, const QString &title, const QString &text) override
    {
        boxes.append({kind, title, text});
        if (whileOpen)
            whileOpen(boxes.last());
    }

    // Questions are recorded as boxes of kind Question and answered with `answer`.
    bool ask(const QString &title, const QString &text) override
    {
        boxes.append({Kind::Question, title, text});
        if (whileOpen)
            whileOpen(boxes.last());
        return answer;
    }

    QStringList texts() const
    {
        QStringList out;
        for (const Box &b : boxes)
            out << b.title + QLatin1Char('|') + b.text;
        return out;
    }

    QList<Box> boxes;
    std::function<void(const Box &)> whileOpen;
    bool answer = false;
};

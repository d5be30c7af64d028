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
        Kind kind;
        QString tag;
        QString target;
        QList<TimetablePtr> tables;
        QList<ExamSchedulePtr> centres;
        TimetablePtr timetable;
        QStringList confirmTexts; // subject, centre, lock text
        ConfirmationId confirmation = 0;
        bool closedByWorkflow = false;
    };

    void showLogin(const QString &tag, const QString &target) override
    {
        add({Kind::Login, tag, target, {}, {}, {}, {}});
    }
    void showTimetables(const QString &tag, const QList<TimetablePtr> &tables) override
    {
        add({Kind::Timetables, tag, {}, tables, {}, {}, {}});
    }
    void showCentres(const QString &tag, const QList<ExamSchedulePtr> &centres,
                     const TimetablePtr &timetable) override
    {
        add({Kind::Centres, tag, {}, {}, centres, timetable, {}});
    }
    void showConfirm(ConfirmationId id, const QString &tag, const QString &subject,
                     const QString &centre, const QString &lockText) override
    {
        add({Kind::Confirm, tag, {}, {}, {}, {}, {subject, centre, lockText}, id});
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

private:
    void add(const Shown &s)
    {
        shown.append(s);
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

    QStringList texts() const
    {
        QStringList out;
        for (const Box &b : boxes)
            out << b.title + QLatin1Char('|') + b.text;
        return out;
    }

    QList<Box> boxes;
    std::function<void(const Box &)> whileOpen;
};

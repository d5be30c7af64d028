#pragma once

#include <QList>
#include <QString>

#include "exam_schedule.h"
#include "timetable.h"

// Names one confirmation: the lock lookup that opened a confirm dialog. Its
// "Finish" reaches ConfirmPacking with this id and seals only what it showed.
using ConfirmationId = quint64;

enum class WorkflowStep { None, Login, Timetables, Centres, Confirm };

// The four dialogs of the packing workflow as the linker sees them, with what the
// dashboard shows of the workflow. The program implements this with real widgets
// whose buttons reach the linker's workflow slots (loginnext, TTnext,
// CenterNext, CenterBack, ConfirmPacking, ConfirmBack); tests implement it with a
// double that presses the buttons by calling those slots. Each show call opens a
// new, non-modal dialog for the scanned tag `tag` (shown on it) and returns at
// once. The shared records stay alive for as long as a dialog holds them, even
// after a later fetch has replaced the client's lists.
class WorkflowDialogs
{
public:
    virtual ~WorkflowDialogs() = default;

    // target is "host:port" of the web service, shown in the heading; user is
    // filled in when the operator tries again.
    virtual void showLogin(const QString &tag, const QString &target, const QString &user) = 0;
    virtual void showTimetables(const QString &tag, const QList<TimetablePtr> &tables) = 0;
    // chosen: the centre picked on the list before, when the operator comes back
    // to it (a record of `centres`); the list then shows it, as it was filtered.
    virtual void showCentres(const QString &tag, const QList<ExamSchedulePtr> &centres,
                             const TimetablePtr &timetable, const ExamSchedulePtr &chosen)
            = 0;
    virtual void showConfirm(ConfirmationId id, const QString &tag, const QString &subject,
                             const QString &centre, const QString &lockText)
            = 0;

    // The step of the workflow dialog on screen; None when there is none.
    virtual WorkflowStep openStep() const = 0;
    // Brings the dialog on screen to the front, now naming `tag`.
    virtual void bringForward(const QString &tag) = 0;
    // Closes the confirm dialogs on screen, or every workflow dialog.
    virtual void closeConfirmations() = 0;
    virtual void closeAll() = 0;

    // The workflow waits for the service: the dialog whose button started the
    // step (or, with none open, the dashboard) says `text` and takes no input
    // until clearBusy().
    virtual void setBusy(const QString &text) = 0;
    virtual void clearBusy() = 0;

    // Who is logged in and the timetable later scans use; empty and null after
    // logging out.
    virtual void showSession(const QString &user, const TimetablePtr &timetable) = 0;
};

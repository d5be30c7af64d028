#pragma once

#include <QList>
#include <QString>

#include "exam_schedule.h"
#include "timetable.h"

// The four dialogs of the packing workflow as the linker sees them. The program
// implements this with real widgets whose buttons reach the linker's workflow
// slots (loginnext, TTnext, CenterNext, CenterBack, ConfirmPacking,
// ConfirmBack); tests implement it with a double that presses the buttons by
// calling those slots. Each call opens a new, non-modal dialog and returns at
// once. The shared records stay alive for as long as a dialog holds them, even
// after a later fetch has replaced the client's lists.
class WorkflowDialogs
{
public:
    virtual ~WorkflowDialogs() = default;

    // target is "host:port" of the web service, shown in the heading.
    virtual void showLogin(const QString &target) = 0;
    virtual void showTimetables(const QList<TimetablePtr> &tables) = 0;
    virtual void showCentres(const QList<ExamSchedulePtr> &centres, const TimetablePtr &timetable)
            = 0;
    virtual void showConfirm(const QString &subject, const QString &centre, const QString &lockText)
            = 0;
};

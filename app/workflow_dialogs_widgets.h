#pragma once

#include <QDialog>
#include <QList>
#include <QPointer>
#include <QTimer>

#include "workflow_dialogs.h"

class cLinker;
class KeyWindow;

// The workflow's dialogs as real, non-modal windows without a parent. Their
// buttons are connected to the linker's workflow slots; each title names the
// scanned tag. A dialog is deleted after it has closed, once no workflow step
// is running: a button clicked again during a service wait closes its dialog
// from inside a nested event loop while the first click's slot is still on the
// stack. Each dialog keeps the records it shows alive until it is deleted.
// The dashboard, when set, shows the session and the waits without a dialog.
class WidgetWorkflowDialogs : public WorkflowDialogs
{
public:
    // The linker must outlive this object.
    explicit WidgetWorkflowDialogs(cLinker *linker);
    // Detaches from the linker and deletes the dialogs still open.
    ~WidgetWorkflowDialogs() override;
    WidgetWorkflowDialogs(const WidgetWorkflowDialogs &) = delete;
    WidgetWorkflowDialogs &operator=(const WidgetWorkflowDialogs &) = delete;

    void setDashboard(KeyWindow *dashboard);

    void showLogin(const QString &tag, const QString &target, const QString &user) override;
    void showTimetables(const QString &tag, const QList<TimetablePtr> &tables) override;
    void showCentres(const QString &tag, const QList<ExamSchedulePtr> &centres,
                     const TimetablePtr &timetable, const ExamSchedulePtr &chosen) override;
    void showConfirm(ConfirmationId id, const QString &tag, const QString &subject,
                     const QString &centre, const QString &lockText) override;

    WorkflowStep openStep() const override;
    void bringForward(const QString &tag) override;
    void closeConfirmations() override;
    void closeAll() override;
    void setBusy(const QString &text) override;
    void clearBusy() override;
    void showSession(const QString &user, const TimetablePtr &timetable) override;

    // Dialogs on screen, oldest first.
    QList<QDialog *> openDialogs() const;
    // Dialogs created and not yet deleted (on screen or closed and waiting).
    int liveDialogs() const;

private:
    struct Shown
    {
        QPointer<QDialog> dialog;
        WorkflowStep step;
        QString title; // the form's own title, before the tag
    };

    void present(QDialog *dialog, WorkflowStep step, const QString &tag);
    const Shown *newestOpen() const;
    // Closes the open dialogs of one step, or all of them for None.
    void closeOpen(WorkflowStep only);
    void releaseClosed();

    cLinker *m_linker;
    QList<Shown> m_dialogs;
    QList<QPointer<QDialog>> m_closed;
    QTimer m_release;
    QPointer<KeyWindow> m_dashboard;
    // Where the current wait shows: a dialog, or the dashboard when null.
    QPointer<QDialog> m_busy;
    bool m_busyOnDashboard = false;
    // The exam centre list's filter when its "Next" was pressed last.
    QString m_centreFilter;
};

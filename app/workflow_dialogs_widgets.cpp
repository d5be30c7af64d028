#include "workflow_dialogs_widgets.h"

#include <QObject>

#include <algorithm>

#include "confirmgui.h"
#include "examcentregui.h"
#include "keywindow.h"
#include "linker.h"
#include "login.h"
#include "packing_workflow.h"
#include "timetablegui.h"
#include "waiting_look.h"

namespace {

// Retry interval while a workflow step is still waiting.
constexpr int releaseRetryMs = 20;

// Child of a dialog: holds shared references to the records the dialog shows,
// so a later fetch that replaces the client's lists cannot leave it dangling.
class RecordHold : public QObject
{
public:
    RecordHold(QDialog *dialog, QList<TimetablePtr> tables, QList<ExamSchedulePtr> centres)
        : QObject(dialog)
        , m_tables(std::move(tables))
        , m_centres(std::move(centres))
    {
    }

private:
    QList<TimetablePtr> m_tables;
    QList<ExamSchedulePtr> m_centres;
};

template<class T>
QList<T *> raw(const QList<QSharedPointer<T>> &shared)
{
    QList<T *> out;
    out.reserve(shared.size());
    for (const auto &p : shared)
        out.append(p.data());
    return out;
}

// "Confirm Details - tag 303903": which box the dialog is about.
QString titleFor(const QString &title, const QString &tag)
{
    return QStringLiteral("%1 - tag %2").arg(title, tag);
}

} // namespace

WidgetWorkflowDialogs::WidgetWorkflowDialogs(cLinker *linker)
    : m_linker(linker)
{
    m_release.setSingleShot(true);
    QObject::connect(&m_release, &QTimer::timeout, [this] { releaseClosed(); });
}

WidgetWorkflowDialogs::~WidgetWorkflowDialogs()
{
    m_linker->setWorkflowDialogs(nullptr);
    for (const Shown &shown : qAsConst(m_dialogs))
        delete shown.dialog.data();
}

void WidgetWorkflowDialogs::releaseClosed()
{
    if (m_linker->packingWorkflow().stepRunning()) {
        m_release.start(releaseRetryMs);
        return;
    }
    const QList<QPointer<QDialog>> closed = m_closed;
    m_closed.clear();
    for (const QPointer<QDialog> &dialog : closed) {
        delete dialog.data();
    }
    m_dialogs.erase(std::remove_if(m_dialogs.begin(), m_dialogs.end(),
                                   [](const Shown &shown) { return shown.dialog.isNull(); }),
                    m_dialogs.end());
}

QList<QDialog *> WidgetWorkflowDialogs::openDialogs() const
{
    QList<QDialog *> out;
    for (const Shown &shown : m_dialogs) {
        if (shown.dialog && shown.dialog->isVisible())
            out.append(shown.dialog.data());
    }
    return out;
}

int WidgetWorkflowDialogs::liveDialogs() const
{
    int n = 0;
    for (const Shown &shown : m_dialogs)
        n += shown.dialog ? 1 : 0;
    return n;
}

const WidgetWorkflowDialogs::Shown *WidgetWorkflowDialogs::newestOpen() const
{
    for (auto it = m_dialogs.crbegin(); it != m_dialogs.crend(); ++it) {
        if (it->dialog && it->dialog->isVisible())
            return &*it;
    }
    return nullptr;
}

WorkflowStep WidgetWorkflowDialogs::openStep() const
{
    const Shown *open = newestOpen();
    return open ? open->step : WorkflowStep::None;
}

void WidgetWorkflowDialogs::bringForward(const QString &tag)
{
    const Shown *open = newestOpen();
    if (!open)
        return;
    open->dialog->setWindowTitle(titleFor(open->title, tag));
    if (open->dialog->isMinimized())
        open->dialog->showNormal();
    open->dialog->raise();
    open->dialog->activateWindow();
}

void WidgetWorkflowDialogs::closeConfirmations()
{
    closeOpen(WorkflowStep::Confirm);
}

void WidgetWorkflowDialogs::closeAll()
{
    closeOpen(WorkflowStep::None);
}

void WidgetWorkflowDialogs::closeOpen(WorkflowStep only)
{
    // A copy: closing runs the dialogs' own code.
    const QList<Shown> shown = m_dialogs;
    for (const Shown &s : shown) {
        if (s.dialog && s.dialog->isVisible() && (only == WorkflowStep::None || s.step == only))
            s.dialog->close();
    }
}

void WidgetWorkflowDialogs::setDashboard(KeyWindow *dashboard)
{
    m_dashboard = dashboard;
}

void WidgetWorkflowDialogs::setBusy(const QString &text)
{
    clearBusy();
    // The step's own dialog is open while its slot runs; a scan's step has none.
    if (const Shown *open = newestOpen()) {
        m_busy = open->dialog;
        showWaiting(m_busy, text);
    } else if (m_dashboard) {
        m_busyOnDashboard = true;
        m_dashboard->setWorkflowWait(text);
    }
}

void WidgetWorkflowDialogs::clearBusy()
{
    if (m_busy)
        endWaiting(m_busy);
    m_busy = nullptr;
    if (m_busyOnDashboard && m_dashboard)
        m_dashboard->setWorkflowWait(QString());
    m_busyOnDashboard = false;
}

void WidgetWorkflowDialogs::showSession(const QString &user, const TimetablePtr &timetable)
{
    if (!m_dashboard)
        return;
    QString text;
    if (!user.isEmpty()) {
        text = QStringLiteral("Logged in as %1").arg(user);
        if (timetable)
            text += QStringLiteral("\nTimetable: %1").arg(TimeTableGui::describe(timetable.data()));
    }
    m_dashboard->setSessionText(text);
}

void WidgetWorkflowDialogs::present(QDialog *dialog, WorkflowStep step, const QString &tag)
{
    // Closing (a button, or the window's close control) ends in finished().
    QObject::connect(dialog, &QDialog::finished, [this, dialog] {
        m_closed.append(dialog);
        m_release.start(0);
    });
    m_dialogs.append({dialog, step, dialog->windowTitle()});
    dialog->setWindowTitle(titleFor(dialog->windowTitle(), tag));
    dialog->show();
}

void WidgetWorkflowDialogs::showLogin(const QString &tag, const QString &target,
                                      const QString &user)
{
    auto *dialog = new login(nullptr, target);
    if (!user.isEmpty())
        dialog->keepUser(user);
    QObject::connect(dialog, &login::loginnext, m_linker, &cLinker::loginnext);
    present(dialog, WorkflowStep::Login, tag);
}

void WidgetWorkflowDialogs::showTimetables(const QString &tag, const QList<TimetablePtr> &tables)
{
    auto *dialog = new TimeTableGui(raw(tables), nullptr);
    new RecordHold(dialog, tables, {});
    QObject::connect(dialog, &TimeTableGui::TTnext, m_linker, &cLinker::TTnext);
    present(dialog, WorkflowStep::Timetables, tag);
}

void WidgetWorkflowDialogs::showCentres(const QString &tag, const QList<ExamSchedulePtr> &centres,
                                        const TimetablePtr &timetable,
                                        const ExamSchedulePtr &chosen)
{
    auto *dialog = new ExamCentreGui(raw(centres), timetable.data(), nullptr);
    new RecordHold(dialog, {timetable}, centres);
    if (chosen)
        dialog->showChosen(m_centreFilter, chosen.data());
    // Kept before the step runs, for coming back to this list from the confirmation.
    QObject::connect(dialog, &ExamCentreGui::CenterNext, dialog,
                     [this, dialog] { m_centreFilter = dialog->filterText(); });
    QObject::connect(dialog, &ExamCentreGui::CenterNext, m_linker, &cLinker::CenterNext);
    QObject::connect(dialog, &ExamCentreGui::CenterBack, m_linker, &cLinker::CenterBack);
    present(dialog, WorkflowStep::Centres, tag);
}

void WidgetWorkflowDialogs::showConfirm(ConfirmationId id, const QString &tag,
                                        const QString &subject, const QString &centre,
                                        const QString &lockText)
{
    auto *dialog = new ConfirmGui(subject, centre, lockText, nullptr);
    cLinker *linker = m_linker;
    // "Finish" names the confirmation it belongs to.
    QObject::connect(dialog, &ConfirmGui::ConfirmFinish, m_linker,
                     [linker, id](const QString &comment) { linker->ConfirmPacking(id, comment); });
    QObject::connect(dialog, &ConfirmGui::ConfirmBack, m_linker, &cLinker::ConfirmBack);
    present(dialog, WorkflowStep::Confirm, tag);
}

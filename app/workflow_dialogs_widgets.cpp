#include "workflow_dialogs_widgets.h"

#include <QObject>

#include "confirmgui.h"
#include "examcentregui.h"
#include "linker.h"
#include "login.h"
#include "packing_workflow.h"
#include "timetablegui.h"

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
    for (const QPointer<QDialog> &dialog : qAsConst(m_dialogs))
        delete dialog.data();
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
    m_dialogs.removeAll(QPointer<QDialog>());
}

QList<QDialog *> WidgetWorkflowDialogs::openDialogs() const
{
    QList<QDialog *> out;
    for (const QPointer<QDialog> &dialog : m_dialogs) {
        if (dialog && dialog->isVisible())
            out.append(dialog.data());
    }
    return out;
}

int WidgetWorkflowDialogs::liveDialogs() const
{
    int n = 0;
    for (const QPointer<QDialog> &dialog : m_dialogs)
        n += dialog ? 1 : 0;
    return n;
}

void WidgetWorkflowDialogs::present(QDialog *dialog)
{
    // Closing (a button, or the window's close control) ends in finished().
    QObject::connect(dialog, &QDialog::finished, [this, dialog] {
        m_closed.append(dialog);
        m_release.start(0);
    });
    m_dialogs.removeAll(QPointer<QDialog>());
    m_dialogs.append(dialog);
    dialog->show();
}

void WidgetWorkflowDialogs::showLogin(const QString &target)
{
    auto *dialog = new login(nullptr, target);
    QObject::connect(dialog, &login::loginnext, m_linker, &cLinker::loginnext);
    present(dialog);
}

void WidgetWorkflowDialogs::showTimetables(const QList<TimetablePtr> &tables)
{
    auto *dialog = new TimeTableGui(raw(tables), nullptr);
    new RecordHold(dialog, tables, {});
    QObject::connect(dialog, &TimeTableGui::TTnext, m_linker, &cLinker::TTnext);
    present(dialog);
}

void WidgetWorkflowDialogs::showCentres(const QList<ExamSchedulePtr> &centres,
                                        const TimetablePtr &timetable)
{
    auto *dialog = new ExamCentreGui(raw(centres), timetable.data(), nullptr);
    new RecordHold(dialog, {timetable}, centres);
    QObject::connect(dialog, &ExamCentreGui::CenterNext, m_linker, &cLinker::CenterNext);
    QObject::connect(dialog, &ExamCentreGui::CenterBack, m_linker, &cLinker::CenterBack);
    present(dialog);
}

void WidgetWorkflowDialogs::showConfirm(const QString &subject, const QString &centre,
                                        const QString &lockText)
{
    auto *dialog = new ConfirmGui(subject, centre, lockText, nullptr);
    QObject::connect(dialog, &ConfirmGui::ConfirmFinish, m_linker, &cLinker::ConfirmPacking);
    QObject::connect(dialog, &ConfirmGui::ConfirmBack, m_linker, &cLinker::ConfirmBack);
    present(dialog);
}

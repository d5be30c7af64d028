#include "packing_workflow.h"

#include <QDir>

#include "json.h"
#include "linker_log.h"
#include "operator_prompt.h"
#include "workflow_dialogs.h"

namespace {
const QString errorTitle = QStringLiteral("Error");
const QString lockErrorTitle = QStringLiteral("ERROR");

// The record of `list` for the same exam centre as `chosen`, found by its
// identifiers (the list may have been fetched again); null when it is gone or
// `chosen` has no identifier.
ExamSchedulePtr sameCentre(const QList<ExamSchedulePtr> &list, const ExamSchedulePtr &chosen)
{
    if (!chosen || (chosen->pointId.isEmpty() && chosen->examSchedId < 0))
        return {};
    for (const ExamSchedulePtr &s : list) {
        if (s && s->pointId == chosen->pointId && s->examSchedId == chosen->examSchedId)
            return s;
    }
    return {};
}
} // namespace

// Marks a step as running for as long as it is on the stack, including the
// nested event loops of its service calls and message boxes.
class PackingWorkflow::StepScope
{
public:
    explicit StepScope(bool &flag)
        : m_flag(flag)
    {
        m_flag = true;
    }
    ~StepScope() { m_flag = false; }
    StepScope(const StepScope &) = delete;
    StepScope &operator=(const StepScope &) = delete;

private:
    bool &m_flag;
};

PackingWorkflow::PackingWorkflow(PackingLog log, Clock clock)
    : m_log(std::move(log))
    , m_clock(std::move(clock))
{
}

PackingWorkflow::~PackingWorkflow() = default;

bool PackingWorkflow::beginStep(const char *entry)
{
    if (m_stopped) {
        qCDebug(lcLinker) << entry << "ignored: the program is ending";
        return false;
    }
    if (m_stepRunning) {
        qCDebug(lcLinker) << entry << "ignored: another workflow step is still waiting";
        return false;
    }
    return true;
}

// Once the program is ending, nobody is left to close a box.
void PackingWorkflow::warn(const QString &title, const QString &text)
{
    qCDebug(lcLinker).noquote() << title << text;
    if (m_prompt && !m_stopped)
        m_prompt->message(OperatorPrompt::Kind::Warning, title, text);
}

void PackingWorkflow::inform(const QString &title, const QString &text)
{
    qCDebug(lcLinker).noquote() << title << text;
    if (m_prompt && !m_stopped)
        m_prompt->message(OperatorPrompt::Kind::Information, title, text);
}

void PackingWorkflow::stop(std::function<void()> stopped)
{
    m_stopped = true;
    for (const UnansweredSeal &u : m_unanswered) {
        if (u.state == UnansweredSeal::State::Waiting)
            qCWarning(lcLinker).noquote()
                    << QStringLiteral("program ending: the seal of lock %1 sent at %2 has had no "
                                      "answer; it may have been recorded on the service")
                               .arg(u.entry.lockId, u.sentAt.toString(Qt::ISODate));
    }
    if (m_sealing)
        m_whenStopped = std::move(stopped);
    else if (stopped)
        stopped();
}

bool PackingWorkflow::waitFor(const QString &text, const std::function<bool()> &call)
{
    if (m_dialogs)
        m_dialogs->setBusy(text);
    const bool ok = call();
    // Also when the call failed or the program is ending.
    if (m_dialogs)
        m_dialogs->clearBusy();
    return ok;
}

bool PackingWorkflow::loggedIn() const
{
    return m_service && m_service->loggedIn;
}

void PackingWorkflow::showSession()
{
    if (m_dialogs)
        m_dialogs->showSession(loggedIn() ? m_service->userName() : QString(),
                               loggedIn() ? m_chosenTimetable : TimetablePtr());
}

bool PackingWorkflow::logOut()
{
    if (!loggedIn() || !beginStep("logOut"))
        return false;
    qCDebug(lcLinker).noquote() << "logged out:" << m_service->userName();
    voidConfirmation();
    if (m_dialogs)
        m_dialogs->closeAll();
    m_chosenTimetable.reset();
    m_chosenSchedule.reset();
    // The client goes with its token and credentials; the next scan makes a new one.
    // One with a seal still waiting for its late answer stays until that answer.
    dropFinishedServices();
    if (m_service->lateSealsWaiting() > 0)
        m_retired.push_back(std::move(m_service));
    m_service.reset();
    showSession();
    return true;
}

bool PackingWorkflow::raiseOpenDialog(const QString &scannedRfid)
{
    const WorkflowStep open = m_dialogs ? m_dialogs->openStep() : WorkflowStep::None;
    if (open == WorkflowStep::None)
        return false;
    if (open == WorkflowStep::Confirm) {
        // Bound to its lookup: the operator finishes or cancels it first.
        qCDebug(lcLinker).noquote() << "scan of" << scannedRfid << "kept out: the confirmation for"
                                    << m_confirmation.rfid << "is open";
        m_dialogs->bringForward(m_confirmation.rfid);
        return true;
    }
    m_scannedRfid = scannedRfid;
    m_dialogs->bringForward(scannedRfid);
    return true;
}

void PackingWorkflow::start(const QString &serviceHost, const QString &servicePort,
                            const QString &scannedRfid)
{
    if (!beginStep("startWorkflow"))
        return;
    if (raiseOpenDialog(scannedRfid))
        return;
    StepScope step(m_stepRunning);
    m_scannedRfid = scannedRfid;

    if (!m_service) {
        if (serviceHost.isEmpty()) {
            warn(errorTitle, QStringLiteral("No service details recieved from key."));
            return;
        }
        // The client keeps this endpoint for the rest of the run.
        m_service = std::make_unique<JSON>(serviceHost, servicePort);
        watchLateSeals();
    }

    if (!m_service->loggedIn) {
        if (m_dialogs)
            m_dialogs->showLogin(m_scannedRfid, serviceHost + QLatin1Char(':') + servicePort,
                                 QString());
        return;
    }
    if (!m_chosenTimetable)
        showTimetables();
    else
        showCentres(m_chosenTimetable);
}

void PackingWorkflow::loginNext(const QString &user, const QString &pass)
{
    if (!m_service || !beginStep("loginnext"))
        return;
    StepScope step(m_stepRunning);

    const QString target = m_service->host() + QLatin1Char(':') + m_service->port();
    if (!waitFor(QStringLiteral("Logging in to %1\u2026").arg(target),
                 [&] { return m_service->Connect(user, pass); })) {
        const QString why = loginFailure(target);
        warn(errorTitle,
             QStringLiteral("Could not log into service.")
                     + (why.isEmpty() ? QString() : QLatin1Char('\n') + why));
        m_service->loggedIn = false;
        // The operator tries again without scanning; the user name stays.
        if (m_dialogs && !m_stopped)
            m_dialogs->showLogin(m_scannedRfid, target, user);
        return;
    }
    m_service->loggedIn = true;
    showSession();
    showTimetables();
}

QString PackingWorkflow::loginFailure(const QString &target) const
{
    switch (m_service->lastFailure()) {
    case ServiceFailure::Refused:
        return QStringLiteral("The service at %1 answered and refused the login.").arg(target);
    case ServiceFailure::TimedOut:
        return QStringLiteral("The service at %1 did not answer within %2 seconds.")
                .arg(target, QString::number(m_service->getTimeLimits().login / 1000.0));
    case ServiceFailure::Unreachable:
        // Also an unknown host: the client cannot tell the two apart.
        return QStringLiteral("The connection to %1 was refused or the host could not be found.")
                .arg(target);
    case ServiceFailure::BadReply:
        return QStringLiteral("The service at %1 sent a reply that could not be read.").arg(target);
    case ServiceFailure::None:
    case ServiceFailure::NotReady:
        break;
    }
    return QString();
}

void PackingWorkflow::showTimetables()
{
    if (!waitFor(QStringLiteral("Fetching timetables\u2026"),
                 [this] { return m_service->GetTables(); })) {
        warn(errorTitle, QStringLiteral("Could not retrieve Tables."));
        return;
    }
    if (m_dialogs)
        m_dialogs->showTimetables(m_scannedRfid, m_service->sharedTimetables());
}

void PackingWorkflow::timetableNext(Timetable *timetable)
{
    if (!m_service || !timetable || !beginStep("TTnext"))
        return;
    StepScope step(m_stepRunning);

    m_chosenTimetable = timetable->sharedFromThis();
    showSession();
    showCentres(m_chosenTimetable);
}

void PackingWorkflow::showCentres(const TimetablePtr &timetable, const ExamSchedulePtr &chosen)
{
    if (!timetable)
        return;
    if (!waitFor(QStringLiteral("Fetching exam centres\u2026"),
                 [&] { return m_service->GetSchedule(timetable->tableId); })) {
        warn(errorTitle, QStringLiteral("Could not retrieve Centers."));
        return;
    }
    if (timetable->startTime < notCreatedCutoff || timetable->endTime < notCreatedCutoff)
        warn(errorTitle, QStringLiteral("TimeTable Not Created."));
    if (m_dialogs)
        m_dialogs->showCentres(m_scannedRfid, m_service->sharedExamSchedules(), timetable,
                               sameCentre(m_service->sharedExamSchedules(), chosen));
}

void PackingWorkflow::centreBack()
{
    if (!m_service || !beginStep("CenterBack"))
        return;
    StepScope step(m_stepRunning);
    showTimetables();
}

void PackingWorkflow::voidConfirmation()
{
    m_confirmation = Confirmation();
    if (m_dialogs)
        m_dialogs->closeConfirmations();
}

void PackingWorkflow::centreNext(ExamSchedule *centre)
{
    if (!m_service || !centre || !m_chosenTimetable || !beginStep("CenterNext"))
        return;
    StepScope step(m_stepRunning);

    m_chosenSchedule = centre->sharedFromThis();
    // A new lookup voids any earlier confirmation: a "Finish" still open from
    // before must seal nothing, whether this lookup succeeds or fails.
    voidConfirmation();
    const QString rfid = m_scannedRfid;
    if (!waitFor(QStringLiteral("Looking up lock\u2026"), [&] { return m_service->GetLock(rfid); })
        || !m_service->sharedCurrentLock()) {
        warn(lockErrorTitle, QStringLiteral("Could not retrieve lock."));
        return;
    }
    const LockPtr lock = m_service->sharedCurrentLock();
    if (lock->commissionState == CommissionState::Other
        && !waitFor(QStringLiteral("Validating lock\u2026"),
                    [&] { return m_service->validateLock(lock->lockId, rfid); })) {
        warn(lockErrorTitle,
             QStringLiteral("Lock could not be found. Try open and/or closing the lock."));
        return;
    }
    // The lock found by the lookup, also when validation answered with another record.
    m_confirmation = {++m_lastConfirmation, m_chosenTimetable, m_chosenSchedule, lock, rfid};

    const QString lockText = m_chosenTimetable->abbreviation + QLatin1Char('_')
            + m_chosenSchedule->centerAbbreviation;
    if (m_dialogs)
        m_dialogs->showConfirm(m_confirmation.id, rfid, m_chosenTimetable->subject,
                               m_chosenSchedule->centerName, lockText);
}

void PackingWorkflow::confirmBack()
{
    if (!m_service || !m_chosenTimetable || !beginStep("ConfirmBack"))
        return;
    StepScope step(m_stepRunning);
    // Back to the list as the operator left it, the chosen centre still chosen.
    showCentres(m_chosenTimetable, m_chosenSchedule);
}

void PackingWorkflow::confirmPacking(ConfirmationId confirmation, const QString &comment)
{
    if (!m_service || !beginStep("ConfirmPacking"))
        return;
    if (confirmation == 0 || confirmation != m_confirmation.id) {
        qCDebug(lcLinker) << "ConfirmPacking ignored: that confirmation is no longer open";
        return;
    }
    StepScope step(m_stepRunning);
    if (!mayRepeatSeal(confirmation, m_confirmation.lock->lockId))
        return;
    if (comment.size() > 0) {
        m_recentComments.append(comment);
        while (m_recentComments.size() > maxRecentComments)
            m_recentComments.removeFirst();
    }
    m_sealing = true;
    // A copy: what is sealed and logged is exactly what the dialog showed.
    seal(Confirmation(m_confirmation), comment);
    m_sealing = false;
    if (m_whenStopped) {
        const std::function<void()> stopped = std::move(m_whenStopped);
        m_whenStopped = nullptr;
        stopped();
    }
}

#include "packing_workflow.h"

#include "json.h"
#include "linker_log.h"
#include "operator_prompt.h"
#include "workflow_dialogs.h"

namespace {
const QString errorTitle = QStringLiteral("Error");
const QString lockErrorTitle = QStringLiteral("ERROR");
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
    if (m_stepRunning) {
        qCDebug(lcLinker) << entry << "ignored: another workflow step is still waiting";
        return false;
    }
    return true;
}

void PackingWorkflow::warn(const QString &title, const QString &text)
{
    qCDebug(lcLinker).noquote() << title << text;
    if (m_prompt)
        m_prompt->message(OperatorPrompt::Kind::Warning, title, text);
}

void PackingWorkflow::inform(const QString &title, const QString &text)
{
    qCDebug(lcLinker).noquote() << title << text;
    if (m_prompt)
        m_prompt->message(OperatorPrompt::Kind::Information, title, text);
}

void PackingWorkflow::start(const QString &serviceHost, const QString &servicePort,
                            const QString &scannedRfid)
{
    if (!beginStep("startWorkflow"))
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
    }

    if (!m_service->loggedIn) {
        if (m_dialogs)
            m_dialogs->showLogin(serviceHost + QLatin1Char(':') + servicePort);
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

    if (!m_service->Connect(user, pass)) {
        warn(errorTitle, QStringLiteral("Could not log into service."));
        m_service->loggedIn = false;
        return;
    }
    m_service->loggedIn = true;
    showTimetables();
}

void PackingWorkflow::showTimetables()
{
    if (!m_service->GetTables()) {
        warn(errorTitle, QStringLiteral("Could not retrieve Tables."));
        return;
    }
    if (m_dialogs)
        m_dialogs->showTimetables(m_service->sharedTimetables());
}

void PackingWorkflow::timetableNext(Timetable *timetable)
{
    if (!m_service || !timetable || !beginStep("TTnext"))
        return;
    StepScope step(m_stepRunning);

    m_chosenTimetable = timetable->sharedFromThis();
    showCentres(m_chosenTimetable);
}

void PackingWorkflow::showCentres(const TimetablePtr &timetable)
{
    if (!timetable)
        return;
    if (!m_service->GetSchedule(timetable->tableId)) {
        warn(errorTitle, QStringLiteral("Could not retrieve Centers."));
        return;
    }
    if (timetable->startTime < notCreatedCutoff || timetable->endTime < notCreatedCutoff)
        warn(errorTitle, QStringLiteral("TimeTable Not Created."));
    if (m_dialogs)
        m_dialogs->showCentres(m_service->sharedExamSchedules(), timetable);
}

void PackingWorkflow::centreBack()
{
    if (!m_service || !beginStep("CenterBack"))
        return;
    StepScope step(m_stepRunning);
    showTimetables();
}

void PackingWorkflow::centreNext(ExamSchedule *centre)
{
    if (!m_service || !centre || !m_chosenTimetable || !beginStep("CenterNext"))
        return;
    StepScope step(m_stepRunning);

    m_chosenSchedule = centre->sharedFromThis();
    // A new lookup voids any earlier confirmation: a "Finish" still open from
    // before must not seal a lock that failed here.
    m_foundLock.reset();
    m_foundLockRfid.clear();
    const QString rfid = m_scannedRfid;
    if (!m_service->GetLock(rfid) || !m_service->sharedCurrentLock()) {
        warn(lockErrorTitle, QStringLiteral("Could not retrieve lock."));
        return;
    }
    const LockPtr lock = m_service->sharedCurrentLock();
    if (lock->commissionState == CommissionState::Other
        && !m_service->validateLock(lock->lockId, rfid)) {
        warn(lockErrorTitle,
             QStringLiteral("Lock could not be found. Try open and/or closing the lock."));
        return;
    }
    // The lock found by the lookup, also when validation answered with another record.
    m_foundLock = lock;
    m_foundLockRfid = rfid;

    const QString lockText = m_chosenTimetable->abbreviation + QLatin1Char('_')
            + m_chosenSchedule->centerAbbreviation;
    if (m_dialogs)
        m_dialogs->showConfirm(m_chosenTimetable->subject, m_chosenSchedule->centerName, lockText);
}

void PackingWorkflow::confirmBack()
{
    if (!m_service || !m_chosenTimetable || !beginStep("ConfirmBack"))
        return;
    StepScope step(m_stepRunning);
    showCentres(m_chosenTimetable);
}

void PackingWorkflow::confirmPacking(const QString &comment)
{
    if (!m_service || !m_chosenTimetable || !m_chosenSchedule || !beginStep("ConfirmPacking"))
        return;
    if (!m_foundLock) {
        qCDebug(lcLinker) << "ConfirmPacking ignored: no looked-up lock to seal";
        return;
    }
    StepScope step(m_stepRunning);

    // Held by value: what is logged is exactly what was sealed.
    PackLogEntry entry;
    entry.centerName = m_chosenSchedule->centerName;
    entry.subject = m_chosenTimetable->subject;
    entry.lockId = m_foundLock->lockId;
    entry.scannedRfid = m_foundLockRfid;

    if (!m_service->PackSeal(m_chosenSchedule->pointId, m_chosenTimetable->tableId,
                             m_foundLock->lockId, comment)) {
        warn(errorTitle, QStringLiteral("Could not Pack Seal."));
        return;
    }
    m_log.ensureFolder();
    inform(QStringLiteral("Success"), QStringLiteral("Packed"));
    // The time is taken once the operator has closed the box.
    entry.when = m_clock();
    m_log.append(entry);
}

// The seal itself: the request, its packing-log line, and a seal whose answer
// comes late or never.
#include "packing_workflow.h"

#include <QDir>

#include <algorithm>

#include "json.h"
#include "linker_log.h"
#include "operator_prompt.h"

namespace {
const QString errorTitle = QStringLiteral("Error");
} // namespace

void PackingWorkflow::seal(const Confirmation &confirmation, const QString &comment)
{
    const QDateTime sentAt = m_clock();
    PackLogEntry entry;
    entry.centerName = confirmation.schedule->centerName;
    entry.subject = confirmation.timetable->subject;
    entry.lockId = confirmation.lock->lockId;
    entry.scannedRfid = confirmation.rfid;

    if (!waitFor(QStringLiteral("Recording seal\u2026"), [&] {
            return m_service->PackSeal(confirmation.schedule->pointId,
                                       confirmation.timetable->tableId, confirmation.lock->lockId,
                                       comment);
        })) {
        if (m_service->lastFailure() != ServiceFailure::TimedOut) {
            warn(errorTitle, QStringLiteral("Could not Pack Seal."));
            return;
        }
        // The request runs on: its late answer decides (lateSealEnded).
        UnansweredSeal unanswered;
        unanswered.service = m_service.get();
        unanswered.number = m_service->lastSealNumber();
        unanswered.sentAt = sentAt;
        unanswered.entry = entry;
        m_unanswered.push_back(unanswered);
        qCWarning(lcLinker).noquote()
                << QStringLiteral("seal of lock %1 not answered in time; it may be recorded late")
                           .arg(entry.lockId);
        warn(errorTitle,
             QStringLiteral("Could not Pack Seal.\nThe service did not answer in time: the seal "
                            "may have been recorded."));
        return;
    }
    // Sealed: this confirmation cannot seal a second time.
    if (m_confirmation.id == confirmation.id)
        m_confirmation = Confirmation();

    entry.when = m_clock();
    // On the disk before the operator is told: a seal the service holds always
    // has its line, or the operator has the line to copy.
    logSeal(entry);
    inform(QStringLiteral("Success"), QStringLiteral("Packed"));
}

void PackingWorkflow::logSeal(const PackLogEntry &entry)
{
    QString reason;
    if (m_log.append(entry, &reason))
        return;
    const QString line = QString::fromLocal8Bit(PackingLog::formatLine(entry)).trimmed();
    qCWarning(lcLinker).noquote() << "packing log line lost:" << line;
    if (!m_prompt || m_stopped)
        return;
    m_prompt->messageToCopy(
            OperatorPrompt::Kind::Warning, errorTitle,
            QStringLiteral("The seal is recorded on the service, but its line could not be "
                           "written to the packing log\n%1\n(%2).\n\nAdd this line to the "
                           "packing log by hand:")
                    .arg(QDir::toNativeSeparators(m_log.filePath()), reason),
            line);
}

bool PackingWorkflow::sealUnanswered(const QString &lockId) const
{
    return std::any_of(m_unanswered.cbegin(), m_unanswered.cend(), [&](const UnansweredSeal &u) {
        return u.entry.lockId == lockId
                && (u.state == UnansweredSeal::State::Waiting
                    || u.state == UnansweredSeal::State::NoAnswer);
    });
}

bool PackingWorkflow::mayRepeatSeal(ConfirmationId confirmation, const QString &lockId)
{
    const auto open = std::find_if(m_unanswered.crbegin(), m_unanswered.crend(),
                                   [&](const UnansweredSeal &u) {
                                       return u.entry.lockId == lockId
                                               && (u.state == UnansweredSeal::State::Waiting
                                                   || u.state == UnansweredSeal::State::NoAnswer);
                                   });
    if (open == m_unanswered.crend())
        return true;
    const quint64 number = open->number;
    const JSON *service = open->service;
    const QString text
            = QStringLiteral("The seal of lock %1 sent at %2 has had no answer from the service. "
                             "It may have been recorded.\n\nSeal lock %1 again?")
                      .arg(lockId, open->sentAt.toString(QStringLiteral("HH:mm:ss")));
    qCDebug(lcLinker).noquote() << "Seal again?" << text;
    const bool again = m_prompt && !m_stopped && m_prompt->ask(QStringLiteral("Seal again?"), text);
    if (!again) {
        qCInfo(lcLinker).noquote() << "lock" << lockId << "not sealed again";
        return false;
    }
    // The box was open for a while: the late answer may have come, or the
    // confirmation gone, in the meantime.
    for (const UnansweredSeal &u : m_unanswered) {
        if (u.service == service && u.number == number
            && u.state == UnansweredSeal::State::Recorded) {
            qCInfo(lcLinker).noquote() << "lock" << lockId << "was recorded meanwhile; not again";
            return false;
        }
    }
    return !m_stopped && confirmation == m_confirmation.id;
}

void PackingWorkflow::watchLateSeals()
{
    JSON *service = m_service.get();
    QObject::connect(service, &JSON::lateSealEnded, service,
                     [this, service](quint64 number, LateSeal outcome) {
                         lateSealEnded(service, number, outcome);
                     });
}

void PackingWorkflow::lateSealEnded(const JSON *service, quint64 number, LateSeal outcome)
{
    auto it = std::find_if(m_unanswered.begin(), m_unanswered.end(), [&](const UnansweredSeal &u) {
        return u.service == service && u.number == number
                && u.state == UnansweredSeal::State::Waiting;
    });
    if (it == m_unanswered.end())
        return;
    const QString seal = QStringLiteral("seal of lock %1 sent at %2")
                                 .arg(it->entry.lockId, it->sentAt.toString(Qt::ISODate));
    switch (outcome) {
    case LateSeal::Recorded: {
        it->state = UnansweredSeal::State::Recorded;
        PackLogEntry entry = it->entry;
        qCInfo(lcLinker).noquote() << seal << "recorded late by the service";
        entry.when = m_clock();
        logSeal(entry);
        inform(QStringLiteral("Success"),
               QStringLiteral("Packed\nThe service recorded the seal late."));
        return;
    }
    case LateSeal::Refused:
        it->state = UnansweredSeal::State::Refused;
        qCWarning(lcLinker).noquote() << seal
                                      << "refused by the service's late answer; nothing "
                                         "recorded";
        return;
    case LateSeal::NoAnswer:
        it->state = UnansweredSeal::State::NoAnswer;
        qCWarning(lcLinker).noquote()
                << seal << "never answered; it may have been recorded on the service";
        return;
    }
}

void PackingWorkflow::dropFinishedServices()
{
    m_retired.erase(std::remove_if(m_retired.begin(), m_retired.end(),
                                   [](const std::unique_ptr<JSON> &s) {
                                       return s->lateSealsWaiting() == 0;
                                   }),
                    m_retired.end());
}

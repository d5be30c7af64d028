#include "json.h"

#include "console.h"
#include "json_body.h"
#include "lock_parser.h"
#include "ossarequesthandler.h"
#include "parser_json_login.h"
#include "parser_seal.h"
#include "parser_timetable.h"

#include <QEventLoop>
#include <QLoggingCategory>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QPointer>
#include <QTimer>

Q_LOGGING_CATEGORY(lcJson, "json")

namespace {

QByteArray utf8(const QString &text)
{
    return text.toUtf8();
}

} // namespace

JSON::JSON(const QString &host, const QString &port, QObject *parent)
    : QObject(parent)
    , hostName(host)
    , portText(port)
    , manager(new QNetworkAccessManager(this))
{
    qCDebug(lcJson).noquote() << host + QLatin1Char(':') + port;
}

JSON::~JSON()
{
    // Seals still waiting end unreported: their listeners may be going too.
    blockSignals(true);
    // The handler aborts what is still running before the manager goes.
    handler.reset();
}

void JSON::test()
{
    emit SigTEst();
}

QString JSON::baseUrl() const
{
    return QLatin1String("http://") + hostName + QLatin1Char(':') + portText;
}

bool JSON::ready(const char *operation)
{
    if (busy) {
        qCDebug(lcJson) << operation << "refused: another operation is still waiting";
        // The waiting operation keeps its own state.
        return false;
    }
    failure = ServiceFailure::None;
    httpStatus = 0;
    if (!handler && qstrcmp(operation, "Connect") != 0) {
        qCDebug(lcJson) << operation << "refused: not connected";
        return fail(ServiceFailure::NotReady);
    }
    return true;
}

bool JSON::fail(ServiceFailure why)
{
    if (failure == ServiceFailure::None)
        failure = why;
    return false;
}

std::shared_ptr<Result> JSON::takeResult(QNetworkReply *reply, qint64 *bodyBytes, QByteArray *body)
{
    ReplyOutcome outcome = handler->takeOutcome(reply);
    httpStatus = outcome.httpStatus;
    if (bodyBytes)
        *bodyBytes = outcome.bodyBytes;
    if (body)
        *body = outcome.body;
    switch (outcome.status) {
    case ReplyStatus::Ok:
        break;
    case ReplyStatus::NoConnection:
        fail(ServiceFailure::Unreachable);
        break;
    case ReplyStatus::HttpError:
        fail(ServiceFailure::Refused);
        break;
    case ReplyStatus::NotJson:
    case ReplyStatus::TooLarge:
        fail(ServiceFailure::BadReply);
        break;
    }
    return std::move(outcome.result);
}

bool JSON::waitForReply(QNetworkReply *reply, int limitMs, const Trace &trace, bool keepOnTimeout)
{
    if (trace)
        trace("Before Connects");
    QEventLoop loop;
    QTimer timer;
    timer.setSingleShot(true);
    connect(&timer, &QTimer::timeout, &loop, &QEventLoop::quit);
    connect(this, &JSON::SigTEst, &loop, &QEventLoop::quit);
    // Only this request's own reply ends the wait.
    connect(handler.get(), &OssaRequestHandler::replyProcessed, &loop,
            [this, reply](QNetworkReply *done) {
                if (done == reply)
                    test();
            });
    if (trace)
        trace("After Connects  before Timer Start");
    timer.start(limitMs);
    if (trace)
        trace("After Timer Start before loop");
    if (!handler->isFinished(reply))
        loop.exec();
    if (trace)
        trace("After loop  before tests of timer");
    if (!handler->isFinished(reply)) {
        if (!keepOnTimeout)
            handler->abandon(reply);
        return fail(ServiceFailure::TimedOut);
    }
    timer.stop();
    return true;
}

bool JSON::Connect(const QString &userName, const QString &password)
{
    if (!ready("Connect"))
        return false;
    BusyScope scope(busy);
    auto parser = std::make_shared<ParserJSONLogin>();
    handler = std::make_unique<OssaRequestHandler>(manager);
    QNetworkReply *reply = handler->sendLogin(
            parser, baseUrl() + QLatin1String("/taviservice/login"), userName, password);
    if (!waitForReply(reply, timeLimits.login)) {
        qCDebug(lcJson) << "Failed";
        return false;
    }
    qCDebug(lcJson) << "Success";
    const std::shared_ptr<Result> result = takeResult(reply);
    console("Result pointer: %p\n", static_cast<void *>(result.get()));
    const JSONLoginPtr login = result ? result->dataAs<JSONLogin>() : JSONLoginPtr();
    if (!login)
        return fail(ServiceFailure::Refused);
    console("ID: %s Name: %s \n", printable(login->userId).constData(),
            printable(login->userName).constData());
    user = userName;
    pass = password;
    return true;
}

void JSON::printLock() const
{
    console("ID: %s Description: %s Longitude: %s Latitude: %s \n",
            printable(lock->lockId).constData(), printable(lock->description).constData(),
            utf8(QString::number(lock->longitude)).constData(),
            utf8(QString::number(lock->latitude)).constData());
}

bool JSON::lockOperation(QNetworkReply *reply, const char *before, const char *after,
                         const char *failed, const char *succeeded)
{
    console("%s", before);
    const bool replied = waitForReply(reply, timeLimits.lock);
    console("%s", after);
    if (!replied) {
        qCDebug(lcJson).noquote() << failed;
        return false;
    }
    qCDebug(lcJson).noquote() << succeeded;
    const std::shared_ptr<Result> result = takeResult(reply);
    console("Result pointer: %p\n", static_cast<void *>(result.get()));
    const LockPtr found = result ? result->dataAs<Lock>() : LockPtr();
    if (!found)
        return fail(ServiceFailure::Refused);
    lock = found;
    printLock();
    return true;
}

bool JSON::GetLock(const QString &rfid)
{
    if (!ready("GetLock"))
        return false;
    BusyScope scope(busy);
    const QString url
            = baseUrl() + QLatin1String("/taviservice/lock/find/by/rf/") + encodeUrlText(rfid);
    console("Seindin to%s\n", printable(url).constData());
    QNetworkReply *reply = handler->sendGet(std::make_shared<SingleLockParser>(), url);
    return lockOperation(reply, "GetLock1\n", "GetLock2\n", "FailedLOCK", "SuccessLOCK");
}

QString JSON::validateBody(const QString &lockId, const QString &description)
{
    return QLatin1String("{\"lockId\":") + jsonQuote(lockId) + QLatin1String(",\"description\":")
            + jsonQuote(description) + QLatin1String(",\"type\":2}");
}

QString JSON::sealBody(const QString &pointId, const QString &tableId, const QString &apId,
                       const QString &comment)
{
    return QLatin1String("{\"pointId\":") + jsonQuote(pointId) + QLatin1String(",\"tableId\":")
            + jsonQuote(tableId) + QLatin1String(",\"apId\":") + jsonQuote(apId)
            + QLatin1String(",\"comment\":") + jsonQuote(comment) + QLatin1Char('}');
}

bool JSON::validateLock(const QString &lockId, const QString &description)
{
    if (!ready("validateLock"))
        return false;
    BusyScope scope(busy);
    QNetworkReply *reply = handler->sendPut(std::make_shared<SingleLockParser>(),
                                            baseUrl() + QLatin1String("/taviservice/lock/validate"),
                                            validateBody(lockId, description));
    return lockOperation(reply, "GetSEAL1\n", "GetSEAL2\n", "FailedSEAL", "SuccessSEAL");
}

bool JSON::PackSeal(const QString &pointId, const QString &tableId, const QString &apId,
                    const QString &comment)
{
    if (!ready("PackSeal"))
        return false;
    BusyScope scope(busy);
    QNetworkReply *reply
            = handler->sendPut(std::make_shared<ParserSeal>(),
                               baseUrl() + QLatin1String("/taviservice/timetable/seal"),
                               sealBody(pointId, tableId, apId, comment));
    const quint64 number = ++sealNumber;
    console("GetSEAL1\n");
    const bool replied = waitForReply(reply, timeLimits.seal, Trace(), reply != nullptr);
    console("GetSEAL2\n");
    if (!replied) {
        qCDebug(lcJson) << "FailedSEAL";
        // The service may still record it: its answer is awaited, not thrown away.
        if (failure == ServiceFailure::TimedOut && reply)
            awaitLateSeal(reply, number);
        return false;
    }
    qCDebug(lcJson) << "SuccessSEAL";
    const std::shared_ptr<Result> result = takeResult(reply);
    console("Result pointer: %p\n", static_cast<void *>(result.get()));
    const SealPtr seal = result ? result->dataAs<Seal>() : SealPtr();
    if (!seal)
        return fail(ServiceFailure::Refused);
    console("tableid: %s pointid: %s apid: %s examscehid: %d \n",
            printable(seal->tableId).constData(), printable(seal->pointId).constData(),
            printable(seal->apId).constData(), seal->examSchedId);
    return true;
}

void JSON::awaitLateSeal(QNetworkReply *reply, quint64 number)
{
    ++lateSeals;
    qCInfo(lcJson).nospace() << "seal " << number << " not answered in time; waiting up to "
                             << timeLimits.lateSeal << " ms more";
    const QPointer<OssaRequestHandler> owner = handler.get();
    // The timer is the context of the handler's connections: deleting it ends the wait.
    auto *timer = new QTimer(this);
    timer->setSingleShot(true);
    const auto ended = std::make_shared<bool>(false);
    const auto end = [this, timer, number, ended](LateSeal outcome) {
        if (*ended)
            return;
        *ended = true;
        timer->stop();
        timer->deleteLater();
        --lateSeals;
        emit lateSealEnded(number, outcome);
    };
    connect(owner.data(), &OssaRequestHandler::replyProcessed, timer,
            [owner, reply, end](QNetworkReply *done) {
                if (done != reply || !owner)
                    return;
                const ReplyOutcome outcome = owner->takeOutcome(reply);
                const bool recorded = outcome.status == ReplyStatus::Ok && outcome.result
                        && outcome.result->dataAs<Seal>();
                end(recorded ? LateSeal::Recorded : LateSeal::Refused);
            });
    // A new login replaces the handler, which aborts the request.
    connect(owner.data(), &QObject::destroyed, timer, [end] { end(LateSeal::NoAnswer); });
    connect(timer, &QTimer::timeout, this, [owner, reply, end] {
        if (owner)
            owner->abandon(reply);
        end(LateSeal::NoAnswer);
    });
    timer->start(timeLimits.lateSeal);
}

QList<Timetable *> JSON::timetables() const
{
    QList<Timetable *> out;
    out.reserve(timetableList.size());
    for (const TimetablePtr &record : timetableList)
        out.append(record.data());
    return out;
}

QList<ExamSchedule *> JSON::examSchedules() const
{
    QList<ExamSchedule *> out;
    out.reserve(examScheduleList.size());
    for (const ExamSchedulePtr &record : examScheduleList)
        out.append(record.data());
    return out;
}

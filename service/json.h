#pragma once

#include "exam_schedule.h"
#include "lock.h"
#include "timetable.h"

#include <QList>
#include <QObject>
#include <QString>
#include <functional>
#include <memory>

class QNetworkAccessManager;
class QNetworkReply;
class OssaRequestHandler;
class Result;

// Time limits of the operations, in milliseconds (per page for the two fetches).
struct ServiceTimeLimits
{
    int login = 3000;
    int lock = 3000;
    int seal = 3000;
    int tables = 3000;
    int schedule = 10000;
    // A seal without an answer in `seal` ms keeps waiting this much longer.
    int lateSeal = 60000;
};

// How a seal that was not answered in time ended.
enum class LateSeal {
    Recorded, // a success answer with a record: the service holds the seal
    Refused, // an answer without a seal (error status, no record, unusable body)
    NoAnswer, // nothing within the late limit, or the client let the request go
};

// Why the latest operation returned false, as far as the client can tell.
enum class ServiceFailure {
    None, // it succeeded
    NotReady, // not started: no Connect yet (a start refused because another operation
              // waits leaves this as the waiting one has it)
    Unreachable, // no answer: connection refused or reset, unknown host
    TimedOut, // no reply within the time limit
    Refused, // the service answered with an error status or without a record
    BadReply, // the reply was unusable: not JSON, too large, endless paging
};

template<class L>
struct PageFetch;

// The web service client of one endpoint: six blocking operations that wait for their
// reply in a nested event loop. See service/README.md for who owns the records.
class JSON : public QObject
{
    Q_OBJECT
public:
    JSON(const QString &host, const QString &port, QObject *parent = nullptr);
    ~JSON() override;

    void setTimeLimits(const ServiceTimeLimits &limits) { timeLimits = limits; }
    const ServiceTimeLimits &getTimeLimits() const { return timeLimits; }

    bool Connect(const QString &userName, const QString &password);
    bool GetLock(const QString &rfid);
    bool validateLock(const QString &lockId, const QString &description);
    bool PackSeal(const QString &pointId, const QString &tableId, const QString &apId,
                  const QString &comment);
    bool GetTables();
    bool GetSchedule(const QString &tableId);

    // Records of the latest fetch. The raw views stay valid until the next fetch of the
    // same kind; take a shared reference (sharedFromThis()) to keep a record longer.
    QList<Timetable *> timetables() const;
    QList<ExamSchedule *> examSchedules() const;
    const QList<TimetablePtr> &sharedTimetables() const { return timetableList; }
    const QList<ExamSchedulePtr> &sharedExamSchedules() const { return examScheduleList; }
    // Lock of the latest successful GetLock/validateLock; null before the first one.
    Lock *currentLock() const { return lock.data(); }
    LockPtr sharedCurrentLock() const { return lock; }

    const QString &host() const { return hostName; }
    const QString &port() const { return portText; }
    const QString &userName() const { return user; }
    const QString &password() const { return pass; }
    // True while an operation waits for its reply; a second one is then refused.
    bool isBusy() const { return busy; }
    // Why the latest operation failed (None after a success), and the HTTP status of
    // its latest reply (0 when none arrived).
    ServiceFailure lastFailure() const { return failure; }
    int lastHttpStatus() const { return httpStatus; }
    OssaRequestHandler *requestHandler() const { return handler.get(); }
    // Number of the latest PackSeal request (1 for the first).
    quint64 lastSealNumber() const { return sealNumber; }
    // Seals that timed out and still wait for a late answer.
    int lateSealsWaiting() const { return lateSeals; }

    // Written and read by the packing workflow after Connect.
    bool loggedIn = false;

    // Helpers exposed for tests: the two PUT bodies.
    static QString validateBody(const QString &lockId, const QString &description);
    static QString sealBody(const QString &pointId, const QString &tableId, const QString &apId,
                            const QString &comment);

signals:
    void SigTEst();
    // A PackSeal that returned false with TimedOut has ended (see LateSeal). Not
    // emitted for seals still waiting when the client is destroyed.
    void lateSealEnded(quint64 sealNumber, LateSeal outcome);

public slots:
    void test();

private:
    using Trace = std::function<void(const char *line)>;
    // Marks the client busy for the length of one operation.
    class BusyScope
    {
    public:
        explicit BusyScope(bool &flag)
            : flag(flag)
        {
            flag = true;
        }
        ~BusyScope() { flag = false; }
        BusyScope(const BusyScope &) = delete;
        BusyScope &operator=(const BusyScope &) = delete;

    private:
        bool &flag;
    };

    QString baseUrl() const;
    // Starts an operation: false (and NotReady) when it may not run now.
    bool ready(const char *operation);
    // A timed-out request is aborted, unless `keepOnTimeout` (the caller then owns it).
    bool waitForReply(QNetworkReply *reply, int limitMs, const Trace &trace = Trace(),
                      bool keepOnTimeout = false);
    // Waits for the late answer of a timed-out seal without blocking.
    void awaitLateSeal(QNetworkReply *reply, quint64 number);
    // The parsed reply of a finished request; records why when there is none.
    std::shared_ptr<Result> takeResult(QNetworkReply *reply, qint64 *bodyBytes = nullptr,
                                       QByteArray *body = nullptr);
    bool fail(ServiceFailure why);
    template<class L>
    bool fetchPages(const PageFetch<L> &fetch);
    bool lockOperation(QNetworkReply *reply, const char *before, const char *after,
                       const char *failed, const char *succeeded);
    void printLock() const;

    LockPtr lock;
    QString hostName;
    QString portText;
    QString user;
    QString pass;
    QNetworkAccessManager *manager;
    QList<TimetablePtr> timetableList;
    QList<ExamSchedulePtr> examScheduleList;
    std::unique_ptr<OssaRequestHandler> handler;
    ServiceTimeLimits timeLimits;
    bool busy = false;
    ServiceFailure failure = ServiceFailure::None;
    int httpStatus = 0;
    quint64 sealNumber = 0;
    int lateSeals = 0;
};

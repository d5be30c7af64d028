#pragma once

#include <QByteArray>
#include <QJsonArray>
#include <QJsonObject>
#include <QMap>
#include <QSet>
#include <QString>
#include <QStringList>

#include <condition_variable>
#include <memory>
#include <mutex>
#include <thread>

namespace httplib {
class Server;
struct Request;
struct Response;
} // namespace httplib

// The web service on loopback for the workflow tests: one HTTP server thread
// answering the six operations from data the test sets up. Requests are
// recorded so a test can tell what the client actually asked for.
class FakeWebService
{
public:
    FakeWebService();
    ~FakeWebService();
    FakeWebService(const FakeWebService &) = delete;
    FakeWebService &operator=(const FakeWebService &) = delete;

    QString host() const { return QStringLiteral("127.0.0.1"); }
    int port() const { return m_port; }

    void addUser(const QString &user, const QString &password);
    void setTimetables(const QJsonArray &tables);
    void setSchedules(const QString &tableId, const QJsonArray &schedules);
    void setLock(const QString &rfid, const QJsonObject &lock);
    void setValidationSucceeds(bool ok);
    void setSealSucceeds(bool ok);
    // Requests whose path starts with prefix get an HTML page instead of JSON.
    void setBroken(const QString &pathPrefix);

    // Every list request is answered with its first page, whatever the offset.
    void setOffsetIgnored(bool ignored);

    // Requests whose path starts with prefix are answered only after release().
    void hold(const QString &pathPrefix);
    void release();

    // "GET /path?query" or "POST /path", in arrival order.
    QStringList requests() const;
    int count(const QString &requestPrefix) const;
    QList<QJsonObject> sealBodies() const;
    // Login request bodies as they arrived, undecoded.
    QList<QByteArray> loginBodies() const;
    void clearRequests();

    static QJsonObject timetable(const QString &id, qint64 start, qint64 end,
                                 const QString &subject, const QString &abbreviation);
    static QJsonObject schedule(int id, const QString &pointId, const QString &tableId,
                                const QString &centerName, const QString &centerAbbreviation);
    static QJsonObject lock(const QString &lockId, const QString &commissionState);

private:
    void route();
    void answer(const httplib::Request &req, httplib::Response &res);
    QJsonValue resultFor(const httplib::Request &req, const QString &path, bool *setToken);
    void waitIfHeld(const QString &path);
    bool authorised(const httplib::Request &req) const;

    std::unique_ptr<httplib::Server> m_server;
    std::thread m_thread;
    int m_port = 0;

    mutable std::mutex m_mutex;
    std::condition_variable m_released;
    QString m_heldPrefix;
    QString m_brokenPrefix;
    QMap<QString, QString> m_passwordDigests; // user -> upper-case hex MD5
    QJsonArray m_timetables;
    QMap<QString, QJsonArray> m_schedules;
    QMap<QString, QJsonObject> m_locks;
    bool m_validationSucceeds = true;
    bool m_sealSucceeds = true;
    bool m_offsetIgnored = false;
    QList<QByteArray> m_loginBodies;
    QStringList m_requests;
    QList<QJsonObject> m_sealBodies;
    QSet<QByteArray> m_tokens;
    int m_nextToken = 1;
};

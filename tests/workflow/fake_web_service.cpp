#include "fake_web_service.h"

#include <QCryptographicHash>
#include <QJsonDocument>
#include <QUrlQuery>

#include <httplib.h>

#include <chrono>

namespace {

QString md5Hex(const QString &text)
{
    return QString::fromLatin1(
            QCryptographicHash::hash(text.toUtf8(), QCryptographicHash::Md5).toHex().toUpper());
}

QJsonObject page(const QJsonArray &all, int offset, int pageSize)
{
    QJsonArray items;
    for (int i = offset; i < all.size() && i < offset + pageSize; ++i)
        items.append(all.at(i));
    return QJsonObject {
            {"count", items.size()}, {"limit", pageSize}, {"offset", offset}, {"list", items}};
}

int offsetOf(const httplib::Request &req)
{
    return req.has_param("offset") ? std::stoi(req.get_param_value("offset")) : 0;
}

} // namespace

FakeWebService::FakeWebService()
    : m_server(std::make_unique<httplib::Server>())
{
    route();
    // Small replies go out at once instead of waiting for the client's ACK.
    m_server->set_tcp_nodelay(true);
    m_port = m_server->bind_to_any_port("127.0.0.1");
    m_thread = std::thread([this] { m_server->listen_after_bind(); });
    // The socket already listens after binding; connections queue until the loop runs.
}

FakeWebService::~FakeWebService()
{
    release();
    // A stop() before the accept loop runs is lost, and join() would then wait for ever.
    for (int i = 0; i < 1000 && !m_server->is_running(); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    m_server->stop();
    m_thread.join();
}

void FakeWebService::route()
{
    const auto handler
            = [this](const httplib::Request &req, httplib::Response &res) { answer(req, res); };
    m_server->Get(".*", handler);
    m_server->Post(".*", handler);
    m_server->Put(".*", handler);
}

void FakeWebService::answer(const httplib::Request &req, httplib::Response &res)
{
    const QString path = QString::fromStdString(req.path);
    QString line = QString::fromStdString(req.method) + QLatin1Char(' ') + path;
    if (!req.params.empty()) {
        QUrlQuery query;
        for (const auto &p : req.params)
            query.addQueryItem(QString::fromStdString(p.first), QString::fromStdString(p.second));
        line += QLatin1Char('?') + query.toString();
    }
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_requests.append(line);
    }
    waitIfHeld(path);
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (!m_brokenPrefix.isEmpty() && path.startsWith(m_brokenPrefix)) {
            res.status = 500;
            res.set_content("<html><body>Internal error</body></html>", "text/html");
            return;
        }
    }

    bool setToken = false;
    const QJsonValue result = resultFor(req, path, &setToken);
    if (setToken) {
        std::lock_guard<std::mutex> lock(m_mutex);
        const QByteArray token = "tok" + QByteArray::number(m_nextToken++);
        m_tokens.insert(token);
        res.set_header("MORV-Token", token.toStdString());
    }
    const QJsonObject envelope {{"rc", result.isNull() ? 1 : 0}, {"result", result}};
    res.set_content(QJsonDocument(envelope).toJson(QJsonDocument::Compact).toStdString(),
                    "application/json");
}

bool FakeWebService::authorised(const httplib::Request &req) const
{
    return m_tokens.contains(QByteArray::fromStdString(req.get_header_value("MORV-Token")));
}

QJsonValue FakeWebService::resultFor(const httplib::Request &req, const QString &path,
                                     bool *setToken)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    if (path == QLatin1String("/taviservice/login")) {
        m_loginBodies.append(QByteArray::fromStdString(req.body));
        const QString user = QString::fromStdString(req.get_param_value("username"));
        const QString digest = QString::fromStdString(req.get_param_value("password"));
        if (!m_passwordDigests.contains(user) || m_passwordDigests.value(user) != digest)
            return QJsonValue::Null;
        *setToken = true;
        return QJsonObject {{"userId", "U-" + user}, {"userName", user}};
    }
    if (!authorised(req))
        return QJsonValue::Null;

    const int offset = m_offsetIgnored ? 0 : offsetOf(req);
    if (path == QLatin1String("/taviservice/timetable"))
        return page(m_timetables, offset, 100);
    if (path == QLatin1String("/taviservice/examschedule")) {
        const QString tableId = QString::fromStdString(req.get_param_value("tableId"));
        return page(m_schedules.value(tableId), offset, 1000);
    }
    const QString lockPrefix = QStringLiteral("/taviservice/lock/find/by/rf/");
    if (path.startsWith(lockPrefix)) {
        const QString rfid = path.mid(lockPrefix.size());
        return m_locks.contains(rfid) ? QJsonValue(m_locks.value(rfid)) : QJsonValue::Null;
    }
    const QJsonObject body = QJsonDocument::fromJson(QByteArray::fromStdString(req.body)).object();
    const bool putOverride = req.get_header_value("X-HTTP-Method-Override") == "PUT";
    if (path == QLatin1String("/taviservice/lock/validate") && putOverride) {
        if (!m_validationSucceeds)
            return QJsonValue::Null;
        for (const QJsonObject &lock : qAsConst(m_locks)) {
            if (lock.value("lockId") == body.value("lockId"))
                return lock;
        }
        return QJsonValue::Null;
    }
    if (path == QLatin1String("/taviservice/timetable/seal") && putOverride) {
        m_sealBodies.append(body);
        if (!m_sealSucceeds)
            return QJsonValue::Null;
        return QJsonObject {{"tableId", body.value("tableId")},
                            {"pointId", body.value("pointId")},
                            {"apId", body.value("apId")},
                            {"examSchedId", m_sealBodies.size()}};
    }
    return QJsonValue::Null;
}

void FakeWebService::waitIfHeld(const QString &path)
{
    std::unique_lock<std::mutex> lock(m_mutex);
    if (m_heldPrefix.isEmpty() || !path.startsWith(m_heldPrefix))
        return;
    // Bounded, so a test that forgets to release cannot hang the server.
    m_released.wait_for(lock, std::chrono::seconds(20), [this] { return m_heldPrefix.isEmpty(); });
}

void FakeWebService::addUser(const QString &user, const QString &password)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_passwordDigests.insert(user, md5Hex(password));
}

void FakeWebService::setTimetables(const QJsonArray &tables)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_timetables = tables;
}

void FakeWebService::setSchedules(const QString &tableId, const QJsonArray &schedules)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_schedules.insert(tableId, schedules);
}

void FakeWebService::setLock(const QString &rfid, const QJsonObject &lock)
{
    std::lock_guard<std::mutex> guard(m_mutex);
    m_locks.insert(rfid, lock);
}

void FakeWebService::setValidationSucceeds(bool ok)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_validationSucceeds = ok;
}

void FakeWebService::setSealSucceeds(bool ok)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_sealSucceeds = ok;
}

void FakeWebService::setBroken(const QString &pathPrefix)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_brokenPrefix = pathPrefix;
}

void FakeWebService::setOffsetIgnored(bool ignored)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_offsetIgnored = ignored;
}

void FakeWebService::hold(const QString &pathPrefix)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_heldPrefix = pathPrefix;
}

void FakeWebService::release()
{
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_heldPrefix.clear();
    }
    m_released.notify_all();
}

QStringList FakeWebService::requests() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_requests;
}

int FakeWebService::count(const QString &requestPrefix) const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    int n = 0;
    for (const QString &r : m_requests)
        n += r.startsWith(requestPrefix) ? 1 : 0;
    return n;
}

QList<QJsonObject> FakeWebService::sealBodies() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_sealBodies;
}

QList<QByteArray> FakeWebService::loginBodies() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_loginBodies;
}

void FakeWebService::clearRequests()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_requests.clear();
    m_sealBodies.clear();
}

QJsonObject FakeWebService::timetable(const QString &id, qint64 start, qint64 end,
                                      const QString &subject, const QString &abbreviation)
{
    return QJsonObject {{"tableId", id},
                        {"startTime", start},
                        {"endTime", end},
                        {"subject", subject},
                        {"abbreviation", abbreviation}};
}

QJsonObject FakeWebService::schedule(int id, const QString &pointId, const QString &tableId,
                                     const QString &centerName, const QString &centerAbbreviation)
{
    return QJsonObject {{"examSchedId", id},
                        {"pointId", pointId},
                        {"tableId", tableId},
                        {"state", "OPEN"},
                        {"subjectAbbreviation", ""},
                        {"subjectName", ""},
                        {"centerAbbreviation", centerAbbreviation},
                        {"centerName", centerName},
                        {"start", 0},
                        {"end", 0}};
}

QJsonObject FakeWebService::lock(const QString &lockId, const QString &commissionState)
{
    return QJsonObject {{"lockId", lockId},  {"description", "lock " + lockId},
                        {"longitude", 28.0}, {"latitude", -26.0},
                        {"state", "CLOSED"}, {"commissionState", commissionState}};
}

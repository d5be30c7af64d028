#include "demo_api.h"

#include "seal_log.h"

#include <QCryptographicHash>
#include <QDateTime>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <cstdlib>
#include <random>

namespace demo {

namespace {

QString qs(const std::string &s)
{
    return QString::fromStdString(s);
}

// Reads a non-negative decimal parameter; absent gives fallback, anything
// else that is not a plain number is refused.
bool readCount(const QueryParams &query, const char *key, long long fallback, long long max,
               long long *out)
{
    auto it = query.find(key);
    if (it == query.end() || it->second.empty()) {
        *out = fallback;
        return true;
    }
    const std::string &text = it->second;
    if (text.size() > 9 || text.find_first_not_of("0123456789") != std::string::npos)
        return false;
    const long long value = std::atoll(text.c_str());
    if (value > max)
        return false;
    *out = value;
    return true;
}

// offset and limit of a paged list; a limit of 0 or over pageSize is refused.
bool readPage(const QueryParams &query, long long pageSize, long long *offset, long long *limit)
{
    return readCount(query, "offset", 0, 100000000, offset)
            && readCount(query, "limit", pageSize, pageSize, limit) && *limit > 0;
}

std::string param(const QueryParams &query, const char *key)
{
    auto it = query.find(key);
    return it == query.end() ? std::string() : it->second;
}

QJsonObject page(long long count, long long limit, long long offset, const QJsonArray &list)
{
    QJsonObject o;
    o.insert("count", static_cast<double>(count));
    o.insert("limit", static_cast<double>(limit));
    o.insert("offset", static_cast<double>(offset));
    o.insert("list", list);
    return o;
}

QJsonObject lockJson(const DemoLock &lock, const std::string &commissionState)
{
    QJsonObject o;
    o.insert("lockId", qs(lock.lockId));
    o.insert("description", qs(lock.description));
    o.insert("longitude", lock.longitude);
    o.insert("latitude", lock.latitude);
    o.insert("state", qs(lock.state));
    o.insert("commissionState", qs(commissionState));
    return o;
}

// Parses a JSON object body whose listed members must all be strings.
bool readStrings(const std::string &body, std::initializer_list<const char *> keys,
                 std::map<std::string, std::string> *out)
{
    QJsonParseError error {};
    const QJsonDocument doc = QJsonDocument::fromJson(QByteArray::fromStdString(body), &error);
    if (error.error != QJsonParseError::NoError || !doc.isObject())
        return false;
    const QJsonObject o = doc.object();
    for (const char *key : keys) {
        const QJsonValue v = o.value(QLatin1String(key));
        if (!v.isString())
            return false;
        (*out)[key] = v.toString().toStdString();
    }
    return true;
}

std::string newToken()
{
    static std::mutex mutex;
    static std::mt19937_64 engine {std::random_device {}()};
    std::lock_guard<std::mutex> lock(mutex);
    const std::uint64_t a = engine();
    const std::uint64_t b = engine();
    return QByteArray::number(static_cast<qulonglong>(a), 16).rightJustified(16, '0').toStdString()
            + QByteArray::number(static_cast<qulonglong>(b), 16)
                      .rightJustified(16, '0')
                      .toStdString();
}

ApiReply notLoggedIn()
{
    return DemoApi::envelope(403, DemoApi::NotLoggedIn, "Not logged in");
}

} // namespace

DemoApi::DemoApi(const DemoCatalog &catalog, SealLog *sealLog)
    : m_catalog(catalog)
    , m_sealLog(sealLog)
{
}

ApiReply DemoApi::envelope(int status, int rc, const QString &message, const QJsonValue &result)
{
    QJsonObject o;
    o.insert("rc", rc);
    o.insert("rm", message);
    o.insert("result", result);
    ApiReply reply;
    reply.status = status;
    reply.body = QJsonDocument(o).toJson(QJsonDocument::Compact).toStdString();
    return reply;
}

std::string DemoApi::md5Hex(const std::string &text)
{
    return QCryptographicHash::hash(QByteArray::fromStdString(text), QCryptographicHash::Md5)
            .toHex()
            .toUpper()
            .toStdString();
}

bool DemoApi::userFor(const std::string &token, std::string *user) const
{
    if (token.empty())
        return false;
    std::lock_guard<std::mutex> lock(m_mutex);
    auto it = m_sessions.find(token);
    if (it == m_sessions.end())
        return false;
    if (user)
        *user = it->second;
    return true;
}

ApiReply DemoApi::login(const std::string &formBody)
{
    // The client sends the user name unescaped, so it may itself hold '&' or
    // '='; the digest is whatever follows the last "&password=".
    static const std::string userKey = "username=";
    static const std::string passKey = "&password=";
    const std::size_t split = formBody.rfind(passKey);
    if (formBody.compare(0, userKey.size(), userKey) != 0 || split == std::string::npos
        || split < userKey.size())
        return envelope(400, BadRequest, "Malformed login form");
    const std::string user = formBody.substr(userKey.size(), split - userKey.size());
    const QByteArray digest
            = QByteArray::fromStdString(formBody.substr(split + passKey.size())).toUpper();

    if (user != DemoCredentials::userName
        || digest.toStdString() != md5Hex(DemoCredentials::password))
        return envelope(403, BadCredentials, "Invalid user name or password");

    const std::string token = newToken();
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_sessions[token] = user;
    }
    QJsonObject result;
    result.insert("userId", DemoCredentials::userId);
    result.insert("userName", qs(user));
    ApiReply reply = envelope(200, Ok, "OK", result);
    reply.headers.emplace_back(tokenHeader, token);
    return reply;
}

ApiReply DemoApi::timetables(const std::string &token, const QueryParams &query) const
{
    if (!userFor(token, nullptr))
        return notLoggedIn();
    long long offset = 0;
    long long limit = 0;
    if (!readPage(query, tablePageSize, &offset, &limit))
        return envelope(400, BadRequest, "Bad offset or limit");
    const std::string subject = param(query, "subject");
    const std::string abbreviation = param(query, "abbreviation");

    QJsonArray list;
    long long matched = 0;
    for (const DemoTimetable &t : m_catalog.timetables()) {
        if ((!subject.empty() && t.subject != subject)
            || (!abbreviation.empty() && t.abbreviation != abbreviation))
            continue;
        if (matched++ < offset || list.size() >= limit)
            continue;
        QJsonObject o;
        o.insert("tableId", qs(t.tableId));
        o.insert("startTime", static_cast<double>(t.startTime));
        o.insert("endTime", static_cast<double>(t.endTime));
        o.insert("subject", qs(t.subject));
        o.insert("abbreviation", qs(t.abbreviation));
        list.append(o);
    }
    return envelope(200, Ok, "OK", page(list.size(), limit, offset, list));
}

ApiReply DemoApi::examSchedules(const std::string &token, const QueryParams &query) const
{
    if (!userFor(token, nullptr))
        return notLoggedIn();
    long long offset = 0;
    long long limit = 0;
    if (!readPage(query, schedulePageSize, &offset, &limit))
        return envelope(400, BadRequest, "Bad offset or limit");
    const std::string tableId = param(query, "tableId");
    if (tableId.empty())
        return envelope(400, BadRequest, "tableId is required");
    const DemoTimetable *table = m_catalog.findTable(tableId);
    if (!table)
        return envelope(404, NotFound, "Unknown timetable");
    const std::string pointId = param(query, "pointId");
    const int tableIndex = m_catalog.tableIndex(*table);

    QJsonArray list;
    long long matched = 0;
    for (int i = 0; i < table->centreCount && list.size() < limit; ++i) {
        const DemoCentre &c = m_catalog.centres()[static_cast<std::size_t>(i)];
        if (!pointId.empty() && c.pointId != pointId)
            continue;
        if (matched++ < offset)
            continue;
        QJsonObject o;
        o.insert("examSchedId", DemoCatalog::examSchedId(tableIndex, i));
        o.insert("pointId", qs(c.pointId));
        o.insert("tableId", qs(table->tableId));
        o.insert("state", "SCHEDULED");
        o.insert("subjectAbbreviation", qs(table->abbreviation));
        o.insert("subjectName", qs(table->subject));
        o.insert("centerAbbreviation", qs(c.abbreviation));
        o.insert("centerName", qs(c.name));
        o.insert("start", static_cast<double>(table->startTime));
        o.insert("end", static_cast<double>(table->endTime));
        list.append(o);
    }
    return envelope(200, Ok, "OK", page(list.size(), limit, offset, list));
}

ApiReply DemoApi::findLock(const std::string &token, const std::string &rfid) const
{
    if (!userFor(token, nullptr))
        return notLoggedIn();
    const DemoLock *lock = m_catalog.findLockByRfid(rfid);
    if (!lock)
        return envelope(404, NotFound, "No lock with this tag");
    return envelope(200, Ok, "OK", lockJson(*lock, lock->commissionState));
}

ApiReply DemoApi::validateLock(const std::string &token, const std::string &body) const
{
    if (!userFor(token, nullptr))
        return notLoggedIn();
    std::map<std::string, std::string> fields;
    if (!readStrings(body, {"lockId", "description"}, &fields))
        return envelope(400, BadRequest, "Expected lockId and description");
    const DemoLock *lock = m_catalog.findLockById(fields["lockId"]);
    if (!lock)
        return envelope(404, NotFound, "Unknown lock");
    if (!lock->validates)
        return envelope(409, NotValidated, "Lock did not answer the validation");
    return envelope(200, Ok, "OK", lockJson(*lock, "COMMISSIONED"));
}

ApiReply DemoApi::packSeal(const std::string &token, const std::string &body)
{
    std::string user;
    if (!userFor(token, &user))
        return notLoggedIn();
    std::map<std::string, std::string> f;
    if (!readStrings(body, {"pointId", "tableId", "apId", "comment"}, &f))
        return envelope(400, BadRequest, "Expected pointId, tableId, apId and comment");
    const DemoTimetable *table = m_catalog.findTable(f["tableId"]);
    if (!table)
        return envelope(404, NotFound, "Unknown timetable");
    const int centre = m_catalog.centreIndex(*table, f["pointId"]);
    if (centre < 0)
        return envelope(404, NotFound, "The timetable is not written at this centre");
    if (!m_catalog.findLockById(f["apId"]))
        return envelope(404, NotFound, "Unknown lock");

    const int schedId = DemoCatalog::examSchedId(m_catalog.tableIndex(*table), centre);
    QJsonObject record;
    record.insert("time", QDateTime::currentDateTimeUtc().toString(Qt::ISODate));
    record.insert("user", qs(user));
    record.insert("tableId", qs(f["tableId"]));
    record.insert("pointId", qs(f["pointId"]));
    record.insert("apId", qs(f["apId"]));
    record.insert("examSchedId", schedId);
    record.insert("comment", qs(f["comment"]));
    if (!m_sealLog || !m_sealLog->append(record))
        return envelope(500, StorageFailed, "The seal could not be stored");

    QJsonObject result;
    result.insert("tableId", qs(f["tableId"]));
    result.insert("pointId", qs(f["pointId"]));
    result.insert("apId", qs(f["apId"]));
    result.insert("examSchedId", schedId);
    return envelope(200, Ok, "OK", result);
}

} // namespace demo

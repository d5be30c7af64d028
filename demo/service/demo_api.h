#pragma once

#include "demo_catalog.h"

#include <QJsonValue>

#include <map>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

namespace demo {

class SealLog;

struct ApiReply
{
    int status = 200;
    std::string body; // always a JSON object
    std::vector<std::pair<std::string, std::string>> headers;
};

using QueryParams = std::multimap<std::string, std::string>;

// The service's behaviour, independent of the HTTP server that carries it.
// Every answer is the envelope {"rc", "rm", "result"}; rc 0 means success.
// Safe to call from several server threads at once.
class DemoApi
{
public:
    enum Code {
        Ok = 0,
        BadCredentials = 1,
        NotLoggedIn = 2,
        NotFound = 3,
        BadRequest = 4,
        NotValidated = 5,
        StorageFailed = 6
    };

    DemoApi(const DemoCatalog &catalog, SealLog *sealLog);

    static constexpr const char *tokenHeader = "MORV-Token";
    static constexpr int tablePageSize = 100;
    static constexpr int schedulePageSize = 1000;

    ApiReply login(const std::string &formBody);
    ApiReply timetables(const std::string &token, const QueryParams &query) const;
    ApiReply examSchedules(const std::string &token, const QueryParams &query) const;
    ApiReply findLock(const std::string &token, const std::string &rfid) const;
    ApiReply validateLock(const std::string &token, const std::string &body) const;
    ApiReply packSeal(const std::string &token, const std::string &body);

    static ApiReply envelope(int status, int rc, const QString &message,
                             const QJsonValue &result = QJsonValue::Null);
    static std::string md5Hex(const std::string &text);

private:
    bool userFor(const std::string &token, std::string *user) const;

    const DemoCatalog &m_catalog;
    SealLog *m_sealLog;
    mutable std::mutex m_mutex;
    std::map<std::string, std::string> m_sessions; // token -> user name
};

} // namespace demo

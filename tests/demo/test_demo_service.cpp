// Contract of the demo web service, checked over real HTTP on loopback.
#include "demo_api.h"
#include "demo_catalog.h"
#include "demo_server.h"
#include "seal_log.h"

#include <httplib.h>

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSet>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

using namespace demo;

namespace {

QJsonObject json(const httplib::Result &res)
{
    if (!res)
        return {};
    return QJsonDocument::fromJson(QByteArray::fromStdString(res->body)).object();
}

const httplib::Headers form = {};

} // namespace

class DemoServiceTest : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_dir;
    DemoCatalog m_catalog;
    std::unique_ptr<SealLog> m_log;
    std::unique_ptr<DemoApi> m_api;
    std::unique_ptr<DemoServer> m_server;
    std::unique_ptr<httplib::Client> m_client;

    QString sealPath() const { return m_dir.filePath("seals.jsonl"); }

    httplib::Result login(const std::string &user, const std::string &password)
    {
        const std::string body = "username=" + user + "&password=" + DemoApi::md5Hex(password);
        return m_client->Post("/taviservice/login", body, "application/x-www-form-urlencoded");
    }

    std::string token()
    {
        auto res = login(DemoCredentials::userName, DemoCredentials::password);
        return res ? res->get_header_value("MORV-Token") : std::string();
    }

    httplib::Result get(const std::string &path, const std::string &tok)
    {
        httplib::Headers h;
        if (!tok.empty())
            h.emplace("MORV-Token", tok);
        h.emplace("Accept", "application/json");
        return m_client->Get(path.c_str(), h);
    }

    httplib::Result put(const std::string &path, const std::string &tok, const std::string &body,
                        bool overrideHeader = true)
    {
        httplib::Headers h {{"MORV-Token", tok}};
        if (overrideHeader)
            h.emplace("X-HTTP-Method-Override", "PUT");
        return m_client->Post(path.c_str(), h, body, "application/json");
    }

    QList<QByteArray> sealLines() const
    {
        QFile f(sealPath());
        if (!f.open(QIODevice::ReadOnly))
            return {};
        QList<QByteArray> lines = f.readAll().split('\n');
        if (!lines.isEmpty() && lines.last().isEmpty())
            lines.removeLast();
        return lines;
    }

private slots:
    void init()
    {
        QVERIFY(m_dir.isValid());
        QFile::remove(sealPath());
        m_log = std::make_unique<SealLog>(sealPath());
        m_api = std::make_unique<DemoApi>(m_catalog, m_log.get());
        m_server = std::make_unique<DemoServer>(*m_api);
        const int port = m_server->start(0);
        QVERIFY(port > 0);
        m_client = std::make_unique<httplib::Client>("127.0.0.1", port);
        m_client->set_read_timeout(5, 0);
    }

    void cleanup()
    {
        m_client.reset();
        m_server.reset();
        m_api.reset();
        m_log.reset();
    }

    void rfidTextFollowsTheProgramsRule()
    {
        QCOMPARE(rfidText({0x04, 0xA3, 0x1F}), std::string("303903"));
        QCOMPARE(rfidText({1, 2, 3, 4, 5, 6, 7, 8, 9}), std::string("144964032628459529"));
        QCOMPARE(rfidText({1, 0, 0, 0, 0, 0, 0, 0, 0}), std::string("0"));
        QCOMPARE(rfidText({}), std::string("0"));
        QCOMPARE(rfidText({0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}), std::string("-1"));
    }

    void loginChecksTheDigestAndHandsOutAToken()
    {
        auto bad = login(DemoCredentials::userName, "wrong");
        QVERIFY(bad);
        QVERIFY(!bad->has_header("MORV-Token"));
        QCOMPARE(json(bad).value("rc").toInt(), int(DemoApi::BadCredentials));
        QVERIFY(json(bad).value("result").isNull());

        // The plain password instead of its digest must not log in.
        auto plain
                = m_client->Post("/taviservice/login",
                                 std::string("username=demo&password=") + DemoCredentials::password,
                                 "application/x-www-form-urlencoded");
        QVERIFY(plain);
        QVERIFY(json(plain).value("result").isNull());

        auto good = login(DemoCredentials::userName, DemoCredentials::password);
        QVERIFY(good);
        QCOMPARE(good->status, 200);
        const std::string tok = good->get_header_value("MORV-Token");
        QVERIFY(tok.size() >= 16);
        const QJsonObject result = json(good).value("result").toObject();
        QCOMPARE(result.value("userName").toString(), QString(DemoCredentials::userName));
        QVERIFY(!result.value("userId").toString().isEmpty());

        // Each login is a session of its own.
        QVERIFY(token() != tok);
    }

    void loginRejectsOddForms()
    {
        // The client does not escape the user name; '&' and '=' must not confuse the reader.
        auto amp = login("de&mo=x", DemoCredentials::password);
        QVERIFY(amp);
        QCOMPARE(json(amp).value("rc").toInt(), int(DemoApi::BadCredentials));
        for (const char *body : {"", "password=", "username=demo", "&password=x"}) {
            auto res = m_client->Post("/taviservice/login", body,
                                      "application/x-www-form-urlencoded");
            QVERIFY(res);
            QVERIFY2(json(res).contains("rc"), body);
            QVERIFY(json(res).value("result").isNull());
            QVERIFY(!res->has_header("MORV-Token"));
        }
    }

    void everyOperationNeedsAValidToken()
    {
        const std::string lockPath = "/taviservice/lock/find/by/rf/303903";
        for (const std::string &tok : {std::string(), std::string("forged")}) {
            for (const char *path :
                 {"/taviservice/timetable?", "/taviservice/examschedule?tableId=T1001&",
                  lockPath.c_str()}) {
                auto res = get(path, tok);
                QVERIFY(res);
                QCOMPARE(json(res).value("rc").toInt(), int(DemoApi::NotLoggedIn));
                QVERIFY(json(res).value("result").isNull());
            }
            auto seal = put("/taviservice/timetable/seal", tok,
                            "{\"pointId\":\"P0001\",\"tableId\":\"T1001\",\"apId\":\"L7\","
                            "\"comment\":\"\"}");
            QVERIFY(seal);
            QVERIFY(json(seal).value("result").isNull());
        }
        QVERIFY(sealLines().isEmpty());
        QCOMPARE(get(lockPath, token())->status, 200);
    }

    void timetablesComeInPagesOfHundred()
    {
        const std::string tok = token();
        QSet<QString> ids;
        bool legacy = false;
        QList<int> counts;
        for (const char *query : {"", "offset=100&", "offset=200&"}) {
            auto res = get(std::string("/taviservice/timetable?") + query, tok);
            QVERIFY(res);
            const QJsonObject page = json(res).value("result").toObject();
            const QJsonArray list = page.value("list").toArray();
            QCOMPARE(page.value("count").toInt(), list.size());
            counts << list.size();
            for (const QJsonValue &v : list) {
                const QJsonObject t = v.toObject();
                QVERIFY(t.value("tableId").isString());
                QVERIFY(!t.value("subject").toString().isEmpty());
                ids.insert(t.value("tableId").toString());
                if (t.value("startTime").toDouble() < 1388534400)
                    legacy = true;
                QVERIFY(t.value("endTime").toDouble() > t.value("startTime").toDouble());
            }
        }
        QCOMPARE(counts, (QList<int> {100, 100, 50}));
        QCOMPARE(ids.size(), 250);
        QVERIFY(legacy);

        auto past = get("/taviservice/timetable?offset=300&", tok);
        QCOMPARE(json(past).value("result").toObject().value("count").toInt(), 0);

        for (const char *bad : {"offset=abc&", "offset=-5&", "offset=1e3&"}) {
            auto res = get(std::string("/taviservice/timetable?") + bad, tok);
            QVERIFY(res);
            QCOMPARE(res->status, 400);
            QVERIFY(json(res).value("result").isNull());
        }
    }

    void examSchedulesComeInPagesOfThousand()
    {
        const std::string tok = token();
        QList<int> counts;
        QSet<QString> points;
        for (const char *offset : {"", "offset=1000&", "offset=2000&"}) {
            auto res = get(std::string("/taviservice/examschedule?") + offset + "tableId=T1001&",
                           tok);
            QVERIFY(res);
            const QJsonObject page = json(res).value("result").toObject();
            counts << page.value("count").toInt();
            for (const QJsonValue &v : page.value("list").toArray()) {
                const QJsonObject s = v.toObject();
                QCOMPARE(s.value("tableId").toString(), QString("T1001"));
                QVERIFY(s.value("examSchedId").toInt() > 0);
                QVERIFY(!s.value("centerName").toString().isEmpty());
                points.insert(s.value("pointId").toString());
            }
        }
        QCOMPARE(counts, (QList<int> {1000, 1000, 500}));
        QCOMPARE(points.size(), 2500);

        // A small table ends after its first page.
        auto small = json(get("/taviservice/examschedule?tableId=T1002&", tok));
        const int n = small.value("result").toObject().value("count").toInt();
        QVERIFY(n > 0 && n < 1000);

        auto unknown = get("/taviservice/examschedule?tableId=NOPE&", tok);
        QCOMPARE(unknown->status, 404);
        QVERIFY(json(unknown).value("result").isNull());
        auto missing = get("/taviservice/examschedule?", tok);
        QCOMPARE(missing->status, 400);
        QVERIFY(json(missing).value("result").isNull());
    }

    void locksCoverEveryCommissionState()
    {
        const std::string tok = token();
        QSet<QString> states;
        for (const DemoLock &lock : m_catalog.locks()) {
            auto res = get("/taviservice/lock/find/by/rf/" + rfidText(lock.rfid), tok);
            QVERIFY(res);
            const QJsonValue result = json(res).value("result");
            if (lock.lockId.empty()) {
                QVERIFY(result.isNull());
                continue;
            }
            const QJsonObject o = result.toObject();
            QCOMPARE(o.value("lockId").toString(), QString::fromStdString(lock.lockId));
            states.insert(o.value("commissionState").toString());
        }
        QVERIFY(states.contains("COMMISSIONED"));
        QVERIFY(states.contains("UNCOMMISSIONED"));
        QCOMPARE(states.size(), 3); // and one the client has to validate
        QVERIFY(json(get("/taviservice/lock/find/by/rf/0", tok)).value("result").isNull());
    }

    void validationPassesForOneLockAndFailsForAnother()
    {
        const std::string tok = token();
        int passed = 0;
        int failed = 0;
        for (const DemoLock &lock : m_catalog.locks()) {
            if (lock.lockId.empty() || lock.commissionState == "COMMISSIONED"
                || lock.commissionState == "UNCOMMISSIONED")
                continue;
            const std::string body = "{\"lockId\":\"" + lock.lockId + "\",\"description\":\""
                    + rfidText(lock.rfid) + "\",\"type\":2}";
            auto res = put("/taviservice/lock/validate", tok, body);
            QVERIFY(res);
            const QJsonValue result = json(res).value("result");
            if (lock.validates) {
                QCOMPARE(result.toObject().value("commissionState").toString(),
                         QString("COMMISSIONED"));
                ++passed;
            } else {
                QVERIFY(result.isNull());
                QVERIFY(json(res).value("rc").toInt() != 0);
                ++failed;
            }
        }
        QCOMPARE(passed, 1);
        QCOMPARE(failed, 1);

        // A plain POST is not the update the client means.
        auto noOverride = put("/taviservice/lock/validate", tok,
                              "{\"lockId\":\"L23\",\"description\":\"x\",\"type\":2}", false);
        QCOMPARE(noOverride->status, 405);
        QVERIFY(json(noOverride).value("result").isNull());
    }

    void sealIsRecordedAsOneJsonLine()
    {
        const std::string tok = token();
        auto res = put("/taviservice/timetable/seal", tok,
                       "{\"pointId\":\"P0002\",\"tableId\":\"T1001\",\"apId\":\"L7\",\"comment\":"
                       "\"ok \\u00e9\"}");
        QVERIFY(res);
        QCOMPARE(res->status, 200);
        const QJsonObject seal = json(res).value("result").toObject();
        QCOMPARE(seal.value("apId").toString(), QString("L7"));
        QCOMPARE(seal.value("examSchedId").toInt(), DemoCatalog::examSchedId(0, 1));

        const QList<QByteArray> lines = sealLines();
        QCOMPARE(lines.size(), 1);
        const QJsonObject logged = QJsonDocument::fromJson(lines.first()).object();
        QCOMPARE(logged.value("user").toString(), QString("demo"));
        QCOMPARE(logged.value("pointId").toString(), QString("P0002"));
        QCOMPARE(logged.value("tableId").toString(), QString("T1001"));
        QCOMPARE(logged.value("comment").toString(), QString::fromUtf8("ok \xc3\xa9"));
        QVERIFY(!logged.value("time").toString().isEmpty());
    }

    void badSealsAreRefusedAndNotRecorded()
    {
        const std::string tok = token();
        // The client writes comments unescaped: a quote breaks the JSON.
        const std::string unescaped = std::string("{\"pointId\":\"P0001\",\"tableId\":\"T1001\",")
                + "\"apId\":\"L7\",\"comment\":\"say \"hi\"\"}";
        const char *bodies[] = {
                unescaped.c_str(),
                "{\"pointId\":\"P0001\",\"tableId\":\"T1001\",\"apId\":\"L7\"}",
                "{\"pointId\":1,\"tableId\":\"T1001\",\"apId\":\"L7\",\"comment\":\"\"}",
                "{\"pointId\":\"P2500\",\"tableId\":\"T1002\",\"apId\":\"L7\",\"comment\":\"\"}",
                "{\"pointId\":\"P0001\",\"tableId\":\"T9999\",\"apId\":\"L7\",\"comment\":\"\"}",
                "{\"pointId\":\"P0001\",\"tableId\":\"T1001\",\"apId\":\"NOPE\",\"comment\":\"\"}",
                "[]",
                "",
        };
        for (const char *body : bodies) {
            auto res = put("/taviservice/timetable/seal", tok, body);
            QVERIFY2(res, body);
            QVERIFY2(res->status >= 400, body);
            QVERIFY2(json(res).value("result").isNull(), body);
        }
        QVERIFY(sealLines().isEmpty());
    }

    void sealThatCannotBeStoredIsReportedAsFailure()
    {
        SealLog broken(m_dir.filePath("no/such/dir/seals.jsonl"));
        DemoApi api(m_catalog, &broken);
        const ApiReply login = api.login(std::string("username=demo&password=")
                                         + DemoApi::md5Hex(DemoCredentials::password));
        QCOMPARE(login.headers.size(), size_t(1));
        const ApiReply reply = api.packSeal(
                login.headers.front().second,
                "{\"pointId\":\"P0001\",\"tableId\":\"T1001\",\"apId\":\"L7\",\"comment\":\"\"}");
        QCOMPARE(reply.status, 500);
        const QJsonObject o
                = QJsonDocument::fromJson(QByteArray::fromStdString(reply.body)).object();
        QCOMPARE(o.value("rc").toInt(), int(DemoApi::StorageFailed));
        QVERIFY(o.value("result").isNull());
    }

    void unknownPathsAnswerWithJson()
    {
        auto res = get("/taviservice/nothing", token());
        QVERIFY(res);
        QCOMPARE(res->status, 404);
        QVERIFY(json(res).contains("rc"));
    }

    void busyPortIsReported()
    {
        DemoServer second(*m_api);
        QCOMPARE(second.start(m_server->port()), -1);
    }
};

QTEST_GUILESS_MAIN(DemoServiceTest)
#include "test_demo_service.moc"

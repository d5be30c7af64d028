// What the client puts on the wire, checked by a real HTTP server on loopback.
#include "tst_service_requests.h"

#include "ossarequesthandler.h"
#include "parser_json_login.h"
#include "parser_timetable.h"
#include "service_fixture.h"

#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QtTest>

namespace {

CannedReply route(const SeenRequest &request)
{
    if (request.path == "/taviservice/login")
        return loginReply("clerk", "tok-1");
    if (request.path.rfind("/taviservice/lock/", 0) == 0)
        return lockReply("L1");
    if (request.path == "/taviservice/timetable/seal")
        return sealReply();
    return jsonReply(R"({"rc":0,"result":{"count":0,"list":[]}})");
}

// Waits for one reply of a bare handler.
bool waitProcessed(OssaRequestHandler &handler, QNetworkReply *reply)
{
    return QTest::qWaitFor([&] { return handler.isFinished(reply); }, 5000);
}

} // namespace

void ServiceRequestsTest::loginSendsFormWithUpperCaseDigest()
{
    TestServer server;
    server.setResponder(route);
    auto client = clientFor(server);
    QVERIFY(client->Connect(QStringLiteral("clerk7"), QStringLiteral("secret")));
    QCOMPARE(client->userName(), QStringLiteral("clerk7"));
    QCOMPARE(client->password(), QStringLiteral("secret"));

    const SeenRequest login = server.last();
    QCOMPARE(login.method, std::string("POST"));
    QCOMPARE(login.target, std::string("/taviservice/login"));
    QCOMPARE(login.body, std::string("username=clerk7&password=5EBE2294ECD0E0F08EAB7690D2A6EE69"));
    QCOMPARE(login.header("Content-Type"), std::string("application/x-www-form-urlencoded"));
    QCOMPARE(login.header("Content-Length"), std::to_string(login.body.size()));
    QVERIFY(!login.has("MORV-Token"));
    QVERIFY(!login.has("Accept"));
    QVERIFY(!login.has("X-HTTP-Method-Override"));

    // The digest is of the password's UTF-8 bytes.
    QVERIFY(client->Connect(QStringLiteral("clerk7"), QStringLiteral("pässwörd")));
    QCOMPARE(server.last().body,
             std::string("username=clerk7&password=12841E4BA5E37D2FBFC78458C6714ADE"));
}

void ServiceRequestsTest::loginEncodesUserNameAsFormText()
{
    TestServer server;
    server.setResponder(route);
    auto client = clientFor(server);
    QVERIFY(client->Connect(QStringLiteral("op&password=x"), QStringLiteral("secret")));
    const SeenRequest login = server.last();
    QCOMPARE(login.body,
             std::string("username=op%26password%3Dx&password=5EBE2294ECD0E0F08EAB7690D2A6EE69"));
    // The server sees exactly two fields, the name intact.
    httplib::Params fields;
    httplib::detail::parse_query_text(login.body, fields);
    QCOMPARE(fields.size(), size_t(2));
    QCOMPARE(fields.find("username")->second, std::string("op&password=x"));
    QCOMPARE(client->userName(), QStringLiteral("op&password=x"));
}

void ServiceRequestsTest::tokenAbsentBeforeLoginPresentAfter()
{
    TestServer server;
    server.setResponder(route);
    OssaRequestHandler handler;
    const QString base = QStringLiteral("http://127.0.0.1:") + server.portText();

    QNetworkReply *get = handler.sendGet(std::make_shared<ParserTimetable>(),
                                         base + QStringLiteral("/taviservice/timetable?"));
    QVERIFY(waitProcessed(handler, get));
    QVERIFY(!server.last().has("MORV-Token"));
    QVERIFY(handler.getToken().isNull());

    QNetworkReply *login = handler.sendLogin(std::make_shared<ParserJSONLogin>(),
                                             base + QStringLiteral("/taviservice/login"),
                                             QStringLiteral("a"), QStringLiteral("b"));
    QVERIFY(waitProcessed(handler, login));
    QCOMPARE(handler.getToken(), QByteArray("tok-1"));
    QVERIFY(handler.takeResult(login));

    QNetworkReply *put = handler.sendPut(std::make_shared<ParserTimetable>(),
                                         base + QStringLiteral("/taviservice/lock/validate"),
                                         QStringLiteral("{}"));
    QVERIFY(waitProcessed(handler, put));
    QCOMPARE(server.last().header("MORV-Token"), std::string("tok-1"));
    QVERIFY(handler.getLastResult());
}

void ServiceRequestsTest::tokenReplacedKeptAndCleared()
{
    TestServer server;
    int step = 0;
    server.setResponder([&step](const SeenRequest &request) {
        if (request.path == "/taviservice/login")
            return loginReply("clerk", "tok-1");
        ++step;
        if (step == 1) // a record whose result names an empty user: token kept
            return jsonReply(R"({"result":{"lockId":"L1","userName":""}})");
        if (step == 2) { // a GET reply naming a user replaces the token
            CannedReply reply = jsonReply(R"({"result":{"lockId":"L1","userName":"x"}})");
            reply.headers.emplace_back("MORV-Token", "tok-2");
            return reply;
        }
        if (step == 3) // names a user but carries no token header: token cleared
            return jsonReply(R"({"result":{"lockId":"L1","userName":"x"}})");
        return lockReply("L1");
    });
    auto client = clientFor(server);
    QVERIFY(client->Connect(QStringLiteral("clerk"), QStringLiteral("pw")));
    QVERIFY(client->GetLock(QStringLiteral("1")));
    QCOMPARE(server.last().header("MORV-Token"), std::string("tok-1"));
    QVERIFY(client->GetLock(QStringLiteral("2")));
    QCOMPARE(server.last().header("MORV-Token"), std::string("tok-1"));
    QVERIFY(client->GetLock(QStringLiteral("3")));
    QCOMPARE(server.last().header("MORV-Token"), std::string("tok-2"));
    QVERIFY(client->GetLock(QStringLiteral("4")));
    QVERIFY(!server.last().has("MORV-Token"));
    QVERIFY(client->PackSeal(QStringLiteral("P"), QStringLiteral("T"), QStringLiteral("A"), {}));
    QVERIFY(!server.last().has("MORV-Token"));

    // A new login starts a fresh handler, without a token until its reply arrives.
    QVERIFY(client->Connect(QStringLiteral("clerk"), QStringLiteral("pw")));
    QVERIFY(!server.last().has("MORV-Token"));
    QVERIFY(client->GetLock(QStringLiteral("5")));
    QCOMPARE(server.last().header("MORV-Token"), std::string("tok-1"));
}

void ServiceRequestsTest::putBodiesByteForByte()
{
    TestServer server;
    server.setResponder(route);
    auto client = clientFor(server);
    QVERIFY(client->Connect(QStringLiteral("clerk"), QStringLiteral("pw")));

    QVERIFY(client->validateLock(QStringLiteral("L1"), QStringLiteral("305419896")));
    SeenRequest put = server.last();
    QCOMPARE(put.method, std::string("POST"));
    QCOMPARE(put.target, std::string("/taviservice/lock/validate"));
    QCOMPARE(put.body, std::string(R"({"lockId":"L1","description":"305419896","type":2})"));
    QCOMPARE(put.header("X-HTTP-Method-Override"), std::string("PUT"));
    QCOMPARE(put.header("Accept"), std::string("application/json"));
    QCOMPARE(put.header("Content-Type"), std::string("application/json"));
    QCOMPARE(put.header("Content-Length"), std::to_string(put.body.size()));
    QCOMPARE(put.headers.count("Content-Length"), size_t(1));
    QCOMPARE(put.headers.count("MORV-Token"), size_t(1));
    QCOMPARE(put.header("MORV-Token"), std::string("tok-1"));
    QCOMPARE(client->currentLock()->lockId, QStringLiteral("L1"));

    const QString comment = QStringLiteral("Größe \"7\"\\ok\n");
    QVERIFY(client->PackSeal(QStringLiteral("P1"), QStringLiteral("T1"), QStringLiteral("L1"),
                             comment));
    put = server.last();
    QCOMPARE(put.target, std::string("/taviservice/timetable/seal"));
    const std::string expected = "{\"pointId\":\"P1\",\"tableId\":\"T1\",\"apId\":\"L1\","
                                 "\"comment\":\"Gr\xc3\xb6\xc3\x9f"
                                 "e \\\"7\\\"\\\\ok\\n\"}";
    QCOMPARE(put.body, expected);
    // Content-Length counts UTF-8 bytes: two two-byte letters make it two more than characters.
    const int characters = JSON::sealBody(QStringLiteral("P1"), QStringLiteral("T1"),
                                          QStringLiteral("L1"), comment)
                                   .size();
    QCOMPARE(put.header("Content-Length"), std::to_string(characters + 2));
    QCOMPARE(put.header("Content-Length"), std::to_string(expected.size()));
    QCOMPARE(put.header("X-HTTP-Method-Override"), std::string("PUT"));
}

void ServiceRequestsTest::getUrlsAndHeaders()
{
    TestServer server;
    server.setResponder(route);
    auto client = clientFor(server);
    QVERIFY(client->Connect(QStringLiteral("clerk"), QStringLiteral("pw")));

    QVERIFY(client->GetLock(QStringLiteral("123")));
    SeenRequest get = server.last();
    QCOMPARE(get.method, std::string("GET"));
    QCOMPARE(get.target, std::string("/taviservice/lock/find/by/rf/123"));
    QCOMPARE(get.header("Accept"), std::string("application/json"));
    QCOMPARE(get.header("Content-Type"), std::string("application/json"));
    QCOMPARE(get.header("MORV-Token"), std::string("tok-1"));
    QVERIFY(!get.has("X-HTTP-Method-Override"));
    QVERIFY(get.body.empty());

    // Reserved characters of caller texts cannot change the path or add query fields.
    QVERIFY(client->GetLock(QStringLiteral("a/b?c=1 2")));
    QCOMPARE(server.last().target, std::string("/taviservice/lock/find/by/rf/a%2Fb%3Fc%3D1%202"));
    QCOMPARE(server.last().path, std::string("/taviservice/lock/find/by/rf/a/b?c=1 2"));

    QVERIFY(client->GetSchedule(QStringLiteral("T&pointId=9")));
    QCOMPARE(server.last().target,
             std::string("/taviservice/examschedule?tableId=T%26pointId%3D9&"));
}

void ServiceRequestsTest::operationsBeforeConnectAreRefused()
{
    TestServer server;
    server.setResponder(route);
    auto client = clientFor(server);
    QVERIFY(!client->GetLock(QStringLiteral("1")));
    QVERIFY(!client->validateLock(QStringLiteral("L"), QStringLiteral("1")));
    QVERIFY(!client->PackSeal({}, {}, {}, {}));
    QVERIFY(!client->GetTables());
    QVERIFY(!client->GetSchedule(QStringLiteral("T")));
    QVERIFY(!client->currentLock());
    QVERIFY(server.requests().empty());

    // A failed login still sets up requests, which then go out without a token.
    server.setResponder([](const SeenRequest &request) {
        return request.path == "/taviservice/login" ? jsonReply(R"({"rc":3,"result":null})")
                                                    : lockReply("L9");
    });
    QVERIFY(!client->Connect(QStringLiteral("x"), QStringLiteral("y")));
    QVERIFY(client->GetLock(QStringLiteral("1")));
    QVERIFY(!server.last().has("MORV-Token"));
}

void ServiceRequestsTest::abandonedReplyIsDiscarded()
{
    TestServer server;
    server.setResponder([](const SeenRequest &request) {
        CannedReply reply = request.path == "/taviservice/login" ? loginReply("late", "tok-late")
                                                                 : lockReply("L1");
        reply.delayMs = request.path == "/taviservice/login" ? 400 : 0;
        return reply;
    });
    OssaRequestHandler handler;
    QSignalSpy processed(&handler, &OssaRequestHandler::replyProcessed);
    std::vector<QNetworkReply *> seen; // pointers only; processed replies are deleted later
    connect(&handler, &OssaRequestHandler::replyProcessed,
            [&seen](QNetworkReply *reply) { seen.push_back(reply); });
    const QString base = QStringLiteral("http://127.0.0.1:") + server.portText();
    QNetworkReply *slow = handler.sendLogin(std::make_shared<ParserJSONLogin>(),
                                            base + QStringLiteral("/taviservice/login"),
                                            QStringLiteral("a"), QStringLiteral("b"));
    handler.abandon(slow);
    QNetworkReply *quick = handler.sendGet(std::make_shared<ParserJSONLogin>(),
                                           base + QStringLiteral("/taviservice/lock/find/by/rf/1"));
    QVERIFY(waitProcessed(handler, quick));
    QTest::qWait(700);
    // Only the request still wanted was processed; the abandoned login set no token.
    QCOMPARE(processed.count(), 1);
    QCOMPARE(seen.size(), size_t(1));
    QCOMPARE(seen.front(), quick);
    QVERIFY(handler.getToken().isNull());
    QVERIFY(!handler.isFinished(slow));
    QVERIFY(!handler.takeResult(slow));
}

void ServiceRequestsTest::sharedManagerGoneFirst()
{
    TestServer server;
    server.setResponder(route);
    auto manager = std::make_unique<QNetworkAccessManager>();
    OssaRequestHandler handler(manager.get());
    const QString url = QStringLiteral("http://127.0.0.1:") + server.portText()
            + QStringLiteral("/taviservice/timetable?");
    QNetworkReply *pending = handler.sendGet(std::make_shared<ParserTimetable>(), url);
    QVERIFY(pending);
    manager.reset(); // takes its replies with it
    QVERIFY(!handler.sendGet(std::make_shared<ParserTimetable>(), url));
    QVERIFY(!handler.sendPut(std::make_shared<ParserTimetable>(), url, QStringLiteral("{}")));
    QVERIFY(!handler.sendLogin(std::make_shared<ParserJSONLogin>(), url, {}, {}));
    QVERIFY(!handler.isFinished(pending));
}

QTEST_GUILESS_MAIN(ServiceRequestsTest)

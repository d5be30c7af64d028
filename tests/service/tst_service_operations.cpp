// The six operations end to end: paging, faults, time limits and record lifetimes.
#include "tst_service_operations.h"

#include "lock_parser.h"
#include "ossarequesthandler.h"
#include "resident_memory.h"
#include "service_fixture.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>
#include <QUrlQuery>
#include <QtTest>

#include <zlib.h>

namespace {

std::string timetableJson(int id)
{
    return R"({"tableId":"T)" + std::to_string(id) + R"(","startTime":)" + std::to_string(id)
            + R"(,"endTime":0,"subject":"S","abbreviation":"A"})";
}

// A timetable page reporting `count` and carrying `items` records numbered from `first`.
CannedReply timetablePage(int count, int first, int items)
{
    std::string list;
    for (int i = 0; i < items; ++i)
        list += (i ? "," : "") + timetableJson(first + i);
    return jsonReply(R"({"rc":0,"result":{"count":)" + std::to_string(count)
                     + R"(,"limit":100,"offset":0,"list":[)" + list + "]}}");
}

int offsetOf(const SeenRequest &request)
{
    const QUrlQuery query(QUrl(request.qtarget()).query());
    return query.queryItemValue(QStringLiteral("offset")).toInt();
}

QByteArray readFile(const QString &name)
{
    QFile file(name);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<missing>");
}

// A loopback server that resets every connection as soon as a request arrives.
class ResettingServer : public QTcpServer
{
public:
    ResettingServer()
    {
        connect(this, &QTcpServer::newConnection, this, [this] {
            while (QTcpSocket *socket = nextPendingConnection()) {
                connect(socket, &QTcpSocket::readyRead, socket, [socket] {
                    // Closing with unread data makes the kernel send a reset.
                    socket->abort();
                    socket->deleteLater();
                });
            }
        });
        listen(QHostAddress::LocalHost);
    }
};

// A gzip body that inflates to `megabytes` MB of zero bytes.
std::string gzipOfZeros(int megabytes)
{
    const std::string zeros(1 << 20, '\0');
    std::string out;
    char buffer[64 * 1024];
    z_stream z = {};
    deflateInit2(&z, 1, Z_DEFLATED, 16 + 15, 8, Z_DEFAULT_STRATEGY);
    for (int i = 0; i < megabytes; ++i) {
        z.next_in = reinterpret_cast<Bytef *>(const_cast<char *>(zeros.data()));
        z.avail_in = uInt(zeros.size());
        const int flush = i + 1 == megabytes ? Z_FINISH : Z_NO_FLUSH;
        do {
            z.next_out = reinterpret_cast<Bytef *>(buffer);
            z.avail_out = sizeof buffer;
            deflate(&z, flush);
            out.append(buffer, sizeof buffer - z.avail_out);
        } while (z.avail_out == 0);
    }
    deflateEnd(&z);
    return out;
}

// A loopback server that answers every request with the same raw bytes, written at once.
class OneShotServer : public QTcpServer
{
public:
    explicit OneShotServer(const QByteArray &response)
    {
        connect(this, &QTcpServer::newConnection, this, [this, response] {
            while (QTcpSocket *socket = nextPendingConnection()) {
                socket->setParent(this);
                connect(socket, &QTcpSocket::readyRead, socket, [socket, response] {
                    if (socket->readAll().contains("\r\n\r\n"))
                        socket->write(response);
                });
            }
        });
        listen(QHostAddress::LocalHost);
    }
};

} // namespace

void ServiceOperationsTest::initTestCase()
{
    QVERIFY(workDir.isValid());
    previousDir = QDir::currentPath();
    QVERIFY(QDir::setCurrent(workDir.path()));
}

void ServiceOperationsTest::cleanupTestCase()
{
    QDir::setCurrent(previousDir);
}

void ServiceOperationsTest::timetablesInThreePages()
{
    TestServer server;
    server.setResponder([](const SeenRequest &request) {
        if (request.path == "/taviservice/login")
            return loginReply("clerk", "tok");
        const int offset = offsetOf(request);
        const int items = std::min(100, 250 - offset);
        return timetablePage(items, offset, items);
    });
    auto client = clientFor(server);
    QVERIFY(client->Connect(QStringLiteral("clerk"), QStringLiteral("pw")));
    server.clear();
    QVERIFY(client->GetTables());

    const auto requests = server.requests();
    QCOMPARE(requests.size(), size_t(3));
    QCOMPARE(requests[0].target, std::string("/taviservice/timetable?"));
    QCOMPARE(requests[1].target, std::string("/taviservice/timetable?offset=100&"));
    QCOMPARE(requests[2].target, std::string("/taviservice/timetable?offset=200&"));
    for (const SeenRequest &r : requests) {
        QCOMPARE(r.method, std::string("GET"));
        QCOMPARE(r.header("MORV-Token"), std::string("tok"));
    }
    const QList<Timetable *> tables = client->timetables();
    QCOMPARE(tables.size(), 250);
    for (int i = 0; i < tables.size(); ++i)
        QCOMPARE(tables[i]->tableId, QStringLiteral("T%1").arg(i));

    // A second fetch replaces the list rather than adding to it.
    QVERIFY(client->GetTables());
    QCOMPARE(client->timetables().size(), 250);
}

void ServiceOperationsTest::pageCountDecidesPaging_data()
{
    QTest::addColumn<int>("firstCount");
    QTest::addColumn<int>("firstItems");
    QTest::addColumn<int>("requests");
    QTest::addColumn<int>("records");
    QTest::newRow("100 with fewer items asks again") << 100 << 3 << 2 << 5;
    QTest::newRow("99 ends") << 99 << 99 << 1 << 99;
    QTest::newRow("101 ends") << 101 << 101 << 1 << 101;
    QTest::newRow("100 without items ends") << 100 << 0 << 1 << 0;
}

void ServiceOperationsTest::pageCountDecidesPaging()
{
    QFETCH(int, firstCount);
    QFETCH(int, firstItems);
    QFETCH(int, requests);
    QFETCH(int, records);
    TestServer server;
    server.setResponder([=](const SeenRequest &request) {
        if (request.path == "/taviservice/login")
            return loginReply("clerk", "tok");
        if (offsetOf(request) == 0)
            return timetablePage(firstCount, 0, firstItems);
        return timetablePage(2, 100, 2);
    });
    auto client = clientFor(server);
    QVERIFY(client->Connect(QStringLiteral("clerk"), QStringLiteral("pw")));
    server.clear();
    QVERIFY(client->GetTables());
    QCOMPARE(int(server.requests().size()), requests);
    QCOMPARE(client->timetables().size(), records);
}

void ServiceOperationsTest::schedulesPagedByThousandWithTraceFiles()
{
    TestServer server;
    server.setResponder([](const SeenRequest &request) {
        if (request.path == "/taviservice/login")
            return loginReply("clerk", "tok");
        const bool firstPage = offsetOf(request) == 0;
        const std::string count = firstPage ? "1000" : "1";
        const std::string id = firstPage ? "1" : "2";
        return jsonReply(R"({"rc":0,"result":{"count":)" + count + R"(,"list":[{"examSchedId":)"
                         + id + R"(,"pointId":"P)" + id
                         + R"(","tableId":"T1","centerName":"C"}]}})");
    });
    // Links planted in the working folder: writing through them would clobber a file
    // elsewhere or create one there.
    QFile victim(QStringLiteral("victim.txt"));
    QVERIFY(victim.open(QIODevice::WriteOnly));
    victim.write("precious");
    victim.close();
    QVERIFY(QFile::link(QStringLiteral("victim.txt"), QStringLiteral("Data.txt")));
    QVERIFY(QFile::link(QStringLiteral("planted.txt"), QStringLiteral("GetSchedule.txt")));

    auto client = clientFor(server);
    QVERIFY(client->Connect(QStringLiteral("clerk"), QStringLiteral("pw")));
    server.clear();
    QVERIFY(client->GetSchedule(QStringLiteral("T1")));
    const auto requests = server.requests();
    QCOMPARE(requests.size(), size_t(2));
    QCOMPARE(requests[0].target, std::string("/taviservice/examschedule?tableId=T1&"));
    QCOMPARE(requests[1].target, std::string("/taviservice/examschedule?offset=1000&tableId=T1&"));
    const QList<ExamSchedule *> schedules = client->examSchedules();
    QCOMPARE(schedules.size(), 2);
    QCOMPARE(schedules[0]->pointId, QStringLiteral("P1"));
    QCOMPARE(schedules[1]->examSchedId, 2);

    QCOMPARE(readFile(QStringLiteral("victim.txt")), QByteArray("precious"));
    QVERIFY(!QFile::exists(QStringLiteral("planted.txt")));
    QVERIFY(!QFileInfo(QStringLiteral("Data.txt")).isSymLink());
    QCOMPARE(readFile(QStringLiteral("Data.txt")), QByteArray());
    // The trace holds the last page's wait only.
    QCOMPARE(readFile(QStringLiteral("GetSchedule.txt")),
             QByteArray("Before Connects\n"
                        "After Connects  before Timer Start\n"
                        "After Timer Start before loop\n"
                        "After loop  before tests of timer\n"
                        "After Test  Before getlastResult\n"
                        "After getlastResult\n"));

    // An empty table id sends no tableId part at all.
    QVERIFY(client->GetSchedule(QString()));
    QCOMPARE(server.last().target, std::string("/taviservice/examschedule?offset=1000&"));
}

void ServiceOperationsTest::failedPageKeepsEarlierRecords()
{
    TestServer server;
    server.setResponder([](const SeenRequest &request) {
        if (request.path == "/taviservice/login")
            return loginReply("clerk", "tok");
        if (offsetOf(request) == 0)
            return timetablePage(100, 0, 100);
        CannedReply html;
        html.status = 502;
        html.contentType = "text/html";
        html.body = "<html><body>Bad Gateway</body></html>";
        return html;
    });
    auto client = clientFor(server);
    QVERIFY(client->Connect(QStringLiteral("clerk"), QStringLiteral("pw")));
    QVERIFY(!client->GetTables());
    QCOMPARE(client->timetables().size(), 100);
    QVERIFY(!client->isBusy());
}

void ServiceOperationsTest::badReplies_data()
{
    QTest::addColumn<int>("status");
    QTest::addColumn<QByteArray>("contentType");
    QTest::addColumn<QByteArray>("body");
    QTest::newRow("HTML error page")
            << 404 << QByteArray("text/html") << QByteArray("<html><h1>Not Found</h1></html>");
    QTest::newRow("empty body") << 200 << QByteArray("application/json") << QByteArray();
    QTest::newRow("HTTP 500 with JSON object")
            << 500 << QByteArray("application/json")
            << QByteArray(R"({"rc":500,"rm":"internal","result":null})");
    QTest::newRow("result null") << 200 << QByteArray("application/json")
                                 << QByteArray(R"({"rc":0,"result":null})");
    QTest::newRow("result array") << 200 << QByteArray("application/json")
                                  << QByteArray(R"({"rc":0,"result":[{"lockId":"L1"}]})");
    QTest::newRow("result missing")
            << 200 << QByteArray("application/json") << QByteArray(R"({"rc":0,"lockId":"L1"})");
    QTest::newRow("JSON array body")
            << 200 << QByteArray("application/json") << QByteArray(R"([{"result":{}}])");
    QTest::newRow("truncated JSON")
            << 200 << QByteArray("application/json") << QByteArray(R"({"result":{"lockId":"L1")");
}

void ServiceOperationsTest::badReplies()
{
    QFETCH(int, status);
    QFETCH(QByteArray, contentType);
    QFETCH(QByteArray, body);
    TestServer server;
    server.setResponder([&](const SeenRequest &request) {
        if (request.path == "/taviservice/login" && request.body.find("username=clerk&") == 0)
            return loginReply("clerk", "tok");
        CannedReply reply;
        reply.status = status;
        reply.contentType = contentType.toStdString();
        reply.body = body.toStdString();
        return reply;
    });
    auto client = clientFor(server);
    QVERIFY(client->Connect(QStringLiteral("clerk"), QStringLiteral("pw")));
    QSignalSpy processed(client->requestHandler(), &OssaRequestHandler::replyProcessed);

    QVERIFY(!client->GetLock(QStringLiteral("1")));
    QVERIFY(!client->validateLock(QStringLiteral("L1"), QStringLiteral("1")));
    QVERIFY(!client->PackSeal(QStringLiteral("P"), QStringLiteral("T"), QStringLiteral("L"), {}));
    QVERIFY(!client->GetTables());
    QVERIFY(!client->GetSchedule(QStringLiteral("T1")));
    QVERIFY(!client->currentLock());
    // Each failed on its reply, not on the time limit.
    QCOMPARE(processed.count(), 5);
    QVERIFY(!client->Connect(QStringLiteral("other"), QStringLiteral("pw2")));
    QCOMPARE(client->userName(), QStringLiteral("clerk"));
}

void ServiceOperationsTest::errorStatusIsRefusalWithoutToken()
{
    // Success-shaped bodies under error statuses.
    TestServer server;
    server.setResponder([](const SeenRequest &request) {
        if (request.body.find("username=clerk&") == 0)
            return loginReply("clerk", "tok");
        CannedReply reply = lockReply("L9");
        reply.status = 500;
        if (request.path == "/taviservice/login") {
            reply = loginReply("mallory", "stolen");
            reply.status = 401;
        }
        return reply;
    });
    auto client = clientFor(server);
    QVERIFY(!client->Connect(QStringLiteral("mallory"), QStringLiteral("pw")));
    QCOMPARE(client->lastFailure(), ServiceFailure::Refused);
    QCOMPARE(client->lastHttpStatus(), 401);
    QVERIFY(client->requestHandler()->getToken().isNull());
    QVERIFY(client->userName().isEmpty());

    QVERIFY(client->Connect(QStringLiteral("clerk"), QStringLiteral("pw")));
    QCOMPARE(client->lastFailure(), ServiceFailure::None);
    QVERIFY(!client->GetLock(QStringLiteral("1")));
    QCOMPARE(client->lastHttpStatus(), 500);
    QVERIFY(!client->currentLock());
    QCOMPARE(client->requestHandler()->getToken(), QByteArray("tok"));
}

void ServiceOperationsTest::endlessPagingEndsAsFailure_data()
{
    QTest::addColumn<bool>("schedules");
    QTest::addColumn<bool>("newRecordEachPage");
    QTest::addColumn<QString>("logLine");
    QTest::addColumn<int>("requests");
    QTest::newRow("timetables: the same page again")
            << false << false << "repeats the previous page" << 2;
    // 1 MB pages: the fetch stops once the pages hold more than 32 MB.
    QTest::newRow("timetables: one new record each page")
            << false << true << "bytes; fetch stopped" << 32;
    QTest::newRow("schedules: the same page again")
            << true << false << "repeats the previous page" << 2;
}

void ServiceOperationsTest::endlessPagingEndsAsFailure()
{
    // Every page reports itself full but carries one record.
    QFETCH(bool, schedules);
    QFETCH(bool, newRecordEachPage);
    QFETCH(QString, logLine);
    QFETCH(int, requests);
    TestServer server;
    server.setResponder([=](const SeenRequest &request) {
        if (request.path == "/taviservice/login")
            return loginReply("clerk", "tok");
        if (newRecordEachPage) {
            return jsonReply(R"({"rc":0,"result":{"count":100,"list":[{"tableId":"T)"
                             + std::to_string(offsetOf(request)) + R"(","subject":")"
                             + std::string(1024 * 1024, 's') + R"("}]}})");
        }
        if (!schedules)
            return timetablePage(100, 7, 1);
        return jsonReply(R"({"rc":0,"result":{"count":1000,"list":[{"examSchedId":7,)"
                         R"("pointId":"P"}]}})");
    });
    auto client = clientFor(server);
    QVERIFY(client->Connect(QStringLiteral("clerk"), QStringLiteral("pw")));
    server.clear();
    QTest::ignoreMessage(QtWarningMsg, QRegularExpression(logLine));
    QVERIFY(!(schedules ? client->GetSchedule(QStringLiteral("T1")) : client->GetTables()));
    QCOMPARE(client->lastFailure(), ServiceFailure::BadReply);
    QCOMPARE(int(server.requests().size()), requests);
    QVERIFY(!client->isBusy());
}

void ServiceOperationsTest::endlessReplyEndsInBoundedMemory()
{
    TestServer server;
    server.setResponder([](const SeenRequest &request) {
        if (request.path == "/taviservice/login")
            return loginReply("clerk", "tok");
        if (request.path != "/taviservice/lock/find/by/rf/endless")
            return lockReply("L1");
        CannedReply reply = jsonReply(R"({"rc":0,"result":{"lockId":")");
        reply.endlessBlock = std::string(64 * 1024, 'x');
        return reply;
    });
    auto client = clientFor(server, 10000);
    QVERIFY(client->Connect(QStringLiteral("clerk"), QStringLiteral("pw")));
    resetPeakResident();
    QVERIFY(!client->GetLock(QStringLiteral("endless")));
    const long peakKb = peakResidentKb();
    qInfo("peak resident memory %ld kB", peakKb);
    // Cut off by its size, well before the time limit.
    QCOMPARE(client->lastFailure(), ServiceFailure::BadReply);
    if (residentMemoryMeaningful)
        QVERIFY2(peakKb > 0 && peakKb < 100 * 1024, qPrintable(QString::number(peakKb)));
    QVERIFY(client->GetLock(QStringLiteral("1")));
    QCOMPARE(client->currentLock()->lockId, QStringLiteral("L1"));
}

void ServiceOperationsTest::compressedReplyIsNotInflated()
{
    // 256 kB on the wire that would inflate to 256 MB, all of it at once in the socket.
    const QByteArray body = QByteArray::fromStdString(gzipOfZeros(256));
    OneShotServer server("HTTP/1.1 200 OK\r\nContent-Type: application/json\r\n"
                         "Content-Encoding: gzip\r\nContent-Length: "
                         + QByteArray::number(body.size()) + "\r\n\r\n" + body);
    QVERIFY(server.isListening());
    OssaRequestHandler handler;
    resetPeakResident();
    QNetworkReply *reply = handler.sendGet(
            std::make_shared<SingleLockParser>(),
            QStringLiteral("http://127.0.0.1:%1/taviservice/lock").arg(server.serverPort()));
    QVERIFY(QTest::qWaitFor([&] { return handler.isFinished(reply); }, 10000));
    const long peakKb = peakResidentKb();
    qInfo("peak resident memory %ld kB", peakKb);
    QVERIFY(!handler.takeResult(reply));
    if (residentMemoryMeaningful)
        QVERIFY2(peakKb > 0 && peakKb < 100 * 1024, qPrintable(QString::number(peakKb)));
}

void ServiceOperationsTest::connectionRefused()
{
    QTcpServer closed;
    QVERIFY(closed.listen(QHostAddress::LocalHost));
    const QString port = QString::number(closed.serverPort());
    closed.close();
    JSON client(QStringLiteral("127.0.0.1"), port);
    client.setTimeLimits(quickLimits(5000));
    QVERIFY(!client.Connect(QStringLiteral("clerk"), QStringLiteral("pw")));
    QCOMPARE(client.lastFailure(), ServiceFailure::Unreachable);
    QSignalSpy processed(client.requestHandler(), &OssaRequestHandler::replyProcessed);
    QVERIFY(!client.GetTables());
    QCOMPARE(processed.count(), 1);
    QVERIFY(client.userName().isEmpty());
}

void ServiceOperationsTest::connectionReset()
{
    ResettingServer server;
    QVERIFY(server.isListening());
    JSON client(QStringLiteral("127.0.0.1"), QString::number(server.serverPort()));
    client.setTimeLimits(quickLimits(5000));
    QVERIFY(!client.Connect(QStringLiteral("clerk"), QStringLiteral("pw")));
    QSignalSpy processed(client.requestHandler(), &OssaRequestHandler::replyProcessed);
    QVERIFY(!client.GetLock(QStringLiteral("1")));
    QCOMPARE(processed.count(), 1);
    QVERIFY(!client.currentLock());
}

void ServiceOperationsTest::noReplyWithinLimit()
{
    TestServer server;
    server.setResponder([](const SeenRequest &request) {
        CannedReply reply = request.path == "/taviservice/login" ? loginReply("clerk", "tok")
                                                                 : lockReply("L1");
        if (request.path != "/taviservice/login")
            reply.delayMs = 1500;
        return reply;
    });
    auto client = clientFor(server, 300);
    QVERIFY(client->Connect(QStringLiteral("clerk"), QStringLiteral("pw")));
    QSignalSpy processed(client->requestHandler(), &OssaRequestHandler::replyProcessed);
    QVERIFY(!client->GetLock(QStringLiteral("1")));
    QVERIFY(!client->GetTables());
    QVERIFY(!client->GetSchedule(QStringLiteral("T")));
    QVERIFY(!client->PackSeal({}, {}, {}, {}));
    QCOMPARE(client->lastFailure(), ServiceFailure::TimedOut);
    QCOMPARE(processed.count(), 0);
    QVERIFY(!client->currentLock());
    QVERIFY(!client->isBusy());
}

void ServiceOperationsTest::lateReplyDoesNotDecideNextOperation()
{
    // The lock reply comes just after its limit and would also parse as a seal; the seal
    // itself was not recorded. The seal must not be reported as recorded.
    TestServer server;
    server.setResponder([](const SeenRequest &request) {
        if (request.path == "/taviservice/login")
            return loginReply("clerk", "tok");
        if (request.path == "/taviservice/timetable/seal") {
            CannedReply reply = jsonReply(R"({"rc":9,"result":null})");
            reply.delayMs = 500;
            return reply;
        }
        CannedReply reply = jsonReply(
                R"({"rc":0,"result":{"lockId":"L1","tableId":"T1","pointId":"P1","apId":"L1"}})");
        if (request.path == "/taviservice/lock/find/by/rf/slow")
            reply.delayMs = 450;
        return reply;
    });
    auto client = clientFor(server, 2000);
    ServiceTimeLimits limits = quickLimits(2000);
    limits.lock = 300;
    client->setTimeLimits(limits);
    QVERIFY(client->Connect(QStringLiteral("clerk"), QStringLiteral("pw")));
    QVERIFY(!client->GetLock(QStringLiteral("slow")));
    QVERIFY(!client->PackSeal(QStringLiteral("P1"), QStringLiteral("T1"), QStringLiteral("L1"),
                              {}));
    QVERIFY(!client->currentLock());
    // The next lock operation gets its own answer.
    QVERIFY(client->GetLock(QStringLiteral("fast")));
    QCOMPARE(client->currentLock()->lockId, QStringLiteral("L1"));
}

void ServiceOperationsTest::operationWhileWaitingIsRefused()
{
    TestServer server;
    server.setResponder([](const SeenRequest &request) {
        if (request.path == "/taviservice/login")
            return loginReply("clerk", "tok");
        CannedReply reply = timetablePage(1, 0, 1);
        reply.delayMs = 400;
        return reply;
    });
    auto client = clientFor(server);
    QVERIFY(client->Connect(QStringLiteral("clerk"), QStringLiteral("pw")));
    server.clear();
    bool nestedStarted = false;
    bool nestedResult = true;
    bool busyDuringWait = false;
    QTimer::singleShot(100, client.get(), [&] {
        nestedStarted = true;
        busyDuringWait = client->isBusy();
        nestedResult = client->GetLock(QStringLiteral("1"))
                || client->Connect(QStringLiteral("x"), QStringLiteral("y"));
    });
    QVERIFY(client->GetTables());
    QVERIFY(nestedStarted);
    QVERIFY(busyDuringWait);
    QVERIFY(!nestedResult);
    QCOMPARE(server.requests().size(), size_t(1));
    QCOMPARE(client->timetables().size(), 1);
    QCOMPARE(client->userName(), QStringLiteral("clerk"));
    QVERIFY(!client->isBusy());
}

void ServiceOperationsTest::wrongCredentialsKeepUser()
{
    TestServer server;
    server.setResponder([](const SeenRequest &request) {
        if (request.body.find("username=ann&") == 0)
            return loginReply("ann", "tok");
        return jsonReply(R"({"rc":401,"rm":"wrong credentials","result":null})");
    });
    auto client = clientFor(server);
    QVERIFY(!client->Connect(QStringLiteral("bob"), QStringLiteral("pw")));
    QCOMPARE(client->lastFailure(), ServiceFailure::Refused);
    QVERIFY(client->userName().isEmpty());
    QVERIFY(client->password().isEmpty());
    QVERIFY(client->Connect(QStringLiteral("ann"), QStringLiteral("pw1")));
    QVERIFY(!client->Connect(QStringLiteral("bob"), QStringLiteral("pw2")));
    QCOMPARE(client->userName(), QStringLiteral("ann"));
    QCOMPARE(client->password(), QStringLiteral("pw1"));
}

void ServiceOperationsTest::keptRecordsOutliveRefetch()
{
    int generation = 0;
    TestServer server;
    server.setResponder([&generation](const SeenRequest &request) {
        if (request.path == "/taviservice/login")
            return loginReply("clerk", "tok");
        if (request.path.rfind("/taviservice/lock/", 0) == 0)
            return lockReply("L" + std::to_string(generation));
        return timetablePage(3, generation * 10, 3);
    });
    auto client = clientFor(server);
    QVERIFY(client->Connect(QStringLiteral("clerk"), QStringLiteral("pw")));
    QVERIFY(client->GetTables());
    QVERIFY(client->GetLock(QStringLiteral("1")));
    const TimetablePtr chosen = client->timetables().at(1)->sharedFromThis();
    const QWeakPointer<Timetable> dropped = client->sharedTimetables().at(0);
    const LockPtr lock = client->currentLock()->sharedFromThis();
    const QWeakPointer<Lock> oldLock = client->sharedCurrentLock();

    for (generation = 1; generation < 4; ++generation) {
        QVERIFY(client->GetTables());
        QVERIFY(client->GetLock(QStringLiteral("1")));
    }
    // The kept records are intact; nothing else of the old fetches is still alive.
    QCOMPARE(chosen->tableId, QStringLiteral("T1"));
    QCOMPARE(lock->lockId, QStringLiteral("L0"));
    QVERIFY(dropped.isNull());
    QVERIFY(!oldLock.isNull());
    QCOMPARE(client->timetables().at(1)->tableId, QStringLiteral("T31"));
    QCOMPARE(client->currentLock()->lockId, QStringLiteral("L3"));
}

QTEST_GUILESS_MAIN(ServiceOperationsTest)

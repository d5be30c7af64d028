// Conversion rules of the reply parsers and the query/body builders.
#include "tst_service_parsers.h"

#include "json.h"
#include "json_body.h"
#include "lock_parser.h"
#include "parser_exam_schedule.h"
#include "parser_json_login.h"
#include "parser_seal.h"
#include "parser_timetable.h"

#include <QJsonDocument>
#include <QTemporaryFile>
#include <QtTest>
#include <cstdio>
#include <unistd.h>

namespace {

std::unique_ptr<Result> parseWith(const ResultParser &parser, const char *json)
{
    const QJsonDocument doc = QJsonDocument::fromJson(QByteArray(json));
    return parser.parse(&doc);
}

// Everything written to standard output while `run` executes.
template<class Run>
QByteArray captureStdout(Run run)
{
    QTemporaryFile file;
    if (!file.open())
        return "<no temporary file>";
    std::fflush(stdout);
    const int saved = ::dup(STDOUT_FILENO);
    ::dup2(file.handle(), STDOUT_FILENO);
    run();
    std::fflush(stdout);
    ::dup2(saved, STDOUT_FILENO);
    ::close(saved);
    file.seek(0);
    return file.readAll();
}

} // namespace

void ServiceParsersTest::envelopeCodeTruncatesTowardZero_data()
{
    QTest::addColumn<QByteArray>("json");
    QTest::addColumn<int>("code");
    QTest::newRow("2.9") << QByteArray(R"({"rc":2.9})") << 2;
    QTest::newRow("-2.9") << QByteArray(R"({"rc":-2.9})") << -2;
    QTest::newRow("string") << QByteArray(R"({"rc":"5"})") << 0;
    QTest::newRow("bool") << QByteArray(R"({"rc":true})") << 0;
    QTest::newRow("absent") << QByteArray(R"({"rm":"x"})") << 0;
    QTest::newRow("too large saturates") << QByteArray(R"({"rc":1e20})") << INT_MAX;
    QTest::newRow("too small saturates") << QByteArray(R"({"rc":-1e20})") << INT_MIN;
}

void ServiceParsersTest::envelopeCodeTruncatesTowardZero()
{
    QFETCH(QByteArray, json);
    QFETCH(int, code);
    ParserSeal parser;
    const auto result = parseWith(parser, json.constData());
    QVERIFY(result);
    QCOMPARE(result->getCode(), code);
    QVERIFY(!result->getData());
}

void ServiceParsersTest::envelopeReadsMessageAndSfcAndIgnoresOtherCase()
{
    ParserJSONLogin parser;
    auto result
            = parseWith(parser, R"({"rc":7,"rm":"bad user","sfc":"S1","result":{"userId":"u"}})");
    QVERIFY(result);
    QCOMPARE(result->getCode(), 7);
    QCOMPARE(result->getMessage(), QStringLiteral("bad user"));
    QCOMPARE(result->sfc, QStringLiteral("S1"));
    QVERIFY(result->dataAs<JSONLogin>());

    // Keys differing only in case are not the envelope keys.
    result = parseWith(parser, R"({"RC":7,"Rm":"x","Result":{"userId":"u"}})");
    QVERIFY(result);
    QCOMPARE(result->getCode(), 0);
    QVERIFY(result->getMessage().isEmpty());
    QVERIFY(result->sfc.isNull());
    QVERIFY(!result->getData());
}

void ServiceParsersTest::nullDocumentYieldsNull()
{
    QVERIFY(!ParserTimetable().parse(nullptr));
    QVERIFY(!ParserExamSchedule().parse(nullptr));
    QVERIFY(!SingleLockParser().parse(nullptr));
    QVERIFY(!ParserSeal().parse(nullptr));
    QVERIFY(!ParserJSONLogin().parse(nullptr));
}

void ServiceParsersTest::singleParsersRejectNonObjectResults()
{
    SingleLockParser lock;
    ParserSeal seal;
    ParserJSONLogin login;
    const ResultParser *parsers[] = {&lock, &seal, &login};
    for (const ResultParser *parser : parsers) {
        for (const char *json : {R"({"rc":0,"result":null})", R"({"result":[]})",
                                 R"({"result":"text"})", R"({"result":5})", R"({"rc":0})"}) {
            const auto result = parseWith(*parser, json);
            QVERIFY2(result, json);
            QVERIFY2(!result->getData(), json);
        }
    }
    const auto ok = parseWith(lock, R"({"result":{}})");
    QVERIFY(ok && ok->dataAs<Lock>());
    // A lock parser never yields another record type.
    QVERIFY(!ok->dataAs<Seal>());
}

void ServiceParsersTest::listParsersRejectNonObjectResults()
{
    for (const char *json : {R"({"rc":0,"result":null})", R"({"result":[]})", R"({"x":1})"}) {
        const auto tables = parseWith(ParserTimetable(), json);
        QVERIFY(tables);
        QVERIFY(!tables->getData());
        const auto schedules = parseWith(ParserExamSchedule(), json);
        QVERIFY(schedules);
        QVERIFY(!schedules->getData());
    }
}

void ServiceParsersTest::listPageWithoutItems()
{
    const auto result = parseWith(ParserTimetable(), R"({"result":{"count":3}})");
    QVERIFY(result);
    const auto page = result->dataAs<TimetableList>();
    QVERIFY(page);
    QCOMPARE(page->count, 3);
    QCOMPARE(page->limit, 0);
    QCOMPARE(page->offset, 0);
    QVERIFY(page->items.isEmpty());
    // A timetable page is not an exam schedule page.
    QVERIFY(!result->dataAs<ExamScheduleList>());

    const auto other = parseWith(ParserExamSchedule(),
                                 R"({"result":{"count":2.7,"limit":"9","offset":-4.5,"list":{}}})");
    const auto schedules = other->dataAs<ExamScheduleList>();
    QVERIFY(schedules);
    QCOMPARE(schedules->count, 2);
    QCOMPARE(schedules->limit, 0);
    QCOMPARE(schedules->offset, -4);
    QVERIFY(schedules->items.isEmpty());
}

void ServiceParsersTest::timetableRules()
{
    const auto result = parseWith(ParserTimetable(),
                                  R"({"result":{"count":4,"list":[
            {"tableId":17},
            {"tableId":"T2","startTime":12.7,"endTime":-12.7,"subject":"Maths","abbreviation":"MA"},
            {"tableId":"T3","startTime":"100","endTime":null,"subject":5,"abbreviation":null},
            {"startTime":1700000000,"endTime":1700003600}
        ]}})");
    const auto page = result->dataAs<TimetableList>();
    QVERIFY(page);
    QCOMPARE(page->items.size(), 4);
    const Timetable &numericId = *page->items[0];
    QVERIFY(numericId.tableId.isEmpty());
    QCOMPARE(numericId.startTime, 0);
    QCOMPARE(numericId.endTime, 0);
    const Timetable &full = *page->items[1];
    QCOMPARE(full.tableId, QStringLiteral("T2"));
    QCOMPARE(full.startTime, 12);
    QCOMPARE(full.endTime, -12);
    QCOMPARE(full.subject, QStringLiteral("Maths"));
    QCOMPARE(full.abbreviation, QStringLiteral("MA"));
    const Timetable &wrong = *page->items[2];
    QCOMPARE(wrong.startTime, 0);
    QCOMPARE(wrong.endTime, 0);
    QVERIFY(wrong.subject.isEmpty());
    QVERIFY(wrong.abbreviation.isEmpty());
    QCOMPARE(page->items[3]->startTime, 1700000000);
    QCOMPARE(page->items[3]->endTime, 1700003600);
}

void ServiceParsersTest::examScheduleDefaultsAndWrongTypes()
{
    QCOMPARE(ExamSchedule().examSchedId, -1);
    const auto result = parseWith(ParserExamSchedule(),
                                  R"({"result":{"count":3,"list":[
            {},
            {"examSchedId":"7","start":null,"end":true,"pointId":42,"tableId":"T1"},
            {"examSchedId":9.9,"pointId":"P1","tableId":"T1","state":"OPEN",
             "subjectAbbreviation":"MA","subjectName":"Maths","centerAbbreviation":"NH",
             "centerName":"North Hall","start":-3.5,"end":99}
        ]}})");
    const auto page = result->dataAs<ExamScheduleList>();
    QVERIFY(page);
    QCOMPARE(page->items.size(), 3);
    const ExamSchedule &empty = *page->items[0];
    QCOMPARE(empty.examSchedId, -1);
    QCOMPARE(empty.start, -1);
    QCOMPARE(empty.end, -1);
    QVERIFY(empty.pointId.isEmpty() && empty.tableId.isEmpty() && empty.state.isEmpty());
    QVERIFY(empty.subjectName.isEmpty() && empty.centerName.isEmpty());
    const ExamSchedule &wrong = *page->items[1];
    QCOMPARE(wrong.examSchedId, 0); // present but not a number
    QCOMPARE(wrong.start, -1); // null counts as absent
    QCOMPARE(wrong.end, 0);
    QVERIFY(wrong.pointId.isEmpty()); // ids sent as numbers read as empty
    QCOMPARE(wrong.tableId, QStringLiteral("T1"));
    const ExamSchedule &full = *page->items[2];
    QCOMPARE(full.examSchedId, 9);
    QCOMPARE(full.pointId, QStringLiteral("P1"));
    QCOMPARE(full.state, QStringLiteral("OPEN"));
    QCOMPARE(full.subjectAbbreviation, QStringLiteral("MA"));
    QCOMPARE(full.subjectName, QStringLiteral("Maths"));
    QCOMPARE(full.centerAbbreviation, QStringLiteral("NH"));
    QCOMPARE(full.centerName, QStringLiteral("North Hall"));
    QCOMPARE(full.start, -3);
    QCOMPARE(full.end, 99);
}

void ServiceParsersTest::lockStatesAreCaseSensitive()
{
    const struct
    {
        const char *text;
        LockState state;
        CommissionState commission;
    } cases[] = {
            {"", LockState::None, CommissionState::None},
            {"OPEN", LockState::Open, CommissionState::Other},
            {"CLOSED", LockState::Closed, CommissionState::Other},
            {"open", LockState::Other, CommissionState::Other},
            {"COMMISSIONED", LockState::Other, CommissionState::Commissioned},
            {"UNCOMMISSIONED", LockState::Other, CommissionState::Uncommissioned},
            {"Uncommissioned", LockState::Other, CommissionState::Other},
    };
    for (const auto &c : cases) {
        const QByteArray json = QByteArray(R"({"result":{"state":")") + c.text
                + R"(","commissionState":")" + c.text + R"("}})";
        const auto result = parseWith(SingleLockParser(), json.constData());
        const auto lock = result->dataAs<Lock>();
        QVERIFY(lock);
        QCOMPARE(lock->state, c.state);
        QCOMPARE(lock->commissionState, c.commission);
    }
    const auto absent = parseWith(SingleLockParser(), R"({"result":{"state":7}})")->dataAs<Lock>();
    QCOMPARE(absent->state, LockState::None);
    QCOMPARE(absent->commissionState, CommissionState::None);
    QCOMPARE(int(CommissionState::Other), 3);
}

void ServiceParsersTest::lockCoordinatesAndIds()
{
    const auto lock
            = parseWith(
                      SingleLockParser(),
                      R"({"result":{"lockId":"L-9","description":"door","longitude":8.25,"latitude":-47.5}})")
                      ->dataAs<Lock>();
    QVERIFY(lock);
    QCOMPARE(lock->lockId, QStringLiteral("L-9"));
    QCOMPARE(lock->description, QStringLiteral("door"));
    QCOMPARE(lock->longitude, 8.25);
    QCOMPARE(lock->latitude, -47.5);

    const auto numeric
            = parseWith(
                      SingleLockParser(),
                      R"({"result":{"lockId":12,"description":null,"longitude":"8","latitude":null}})")
                      ->dataAs<Lock>();
    QVERIFY(numeric);
    QVERIFY(numeric->lockId.isEmpty());
    QVERIFY(numeric->description.isEmpty());
    QCOMPARE(numeric->longitude, 0.0);
    QCOMPARE(numeric->latitude, 0.0);
}

void ServiceParsersTest::sealAndLoginRecords()
{
    const auto seal
            = parseWith(
                      ParserSeal(),
                      R"({"result":{"tableId":"T1","pointId":"P1","apId":"A1","examSchedId":-8.9}})")
                      ->dataAs<Seal>();
    QVERIFY(seal);
    QCOMPARE(seal->tableId, QStringLiteral("T1"));
    QCOMPARE(seal->pointId, QStringLiteral("P1"));
    QCOMPARE(seal->apId, QStringLiteral("A1"));
    QCOMPARE(seal->examSchedId, -8);
    const auto bare = parseWith(ParserSeal(), R"({"result":{"apId":3}})")->dataAs<Seal>();
    QVERIFY(bare);
    QVERIFY(bare->apId.isEmpty());
    QCOMPARE(bare->examSchedId, 0);

    const auto login = parseWith(ParserJSONLogin(), R"({"result":{"userId":5,"userName":"ann"}})")
                               ->dataAs<JSONLogin>();
    QVERIFY(login);
    QVERIFY(login->userId.isEmpty());
    QCOMPARE(login->userName, QStringLiteral("ann"));
}

void ServiceParsersTest::listElementsThatAreNotObjects()
{
    const auto result
            = parseWith(ParserExamSchedule(),
                        R"({"result":{"count":4,"list":[1,"x",null,{"examSchedId":3}]}})");
    const auto page = result->dataAs<ExamScheduleList>();
    QVERIFY(page);
    QCOMPARE(page->items.size(), 4);
    for (int i = 0; i < 3; ++i) {
        QCOMPARE(page->items[i]->examSchedId, -1);
        QCOMPARE(page->items[i]->start, -1);
    }
    QCOMPARE(page->items[3]->examSchedId, 3);
}

void ServiceParsersTest::queryBuilders()
{
    QCOMPARE(ParserTimetable::buildQuery(0, 100, {}, {}), QString());
    QCOMPARE(ParserTimetable::buildQuery(200, 100, {}, {}), QStringLiteral("offset=200&"));
    QCOMPARE(ParserTimetable::buildQuery(0, 100, QStringLiteral("MA"), {}),
             QStringLiteral("subject=MA&"));
    QCOMPARE(ParserTimetable::buildQuery(100, 100, QStringLiteral("MA"), QStringLiteral("M1")),
             QStringLiteral("offset=100&subject=MA&abbreviation=M1&"));
    QCOMPARE(ParserExamSchedule::buildQuery(0, 1000, QStringLiteral("T1"), {}),
             QStringLiteral("tableId=T1&"));
    QCOMPARE(ParserExamSchedule::buildQuery(-5, 1000, QStringLiteral("T1"), {}),
             QStringLiteral("tableId=T1&"));
    QCOMPARE(ParserExamSchedule::buildQuery(2000, 1000, QStringLiteral("T1"), QStringLiteral("P")),
             QStringLiteral("offset=2000&tableId=T1&pointId=P&"));
}

void ServiceParsersTest::queryBuildersEncodeReservedCharacters()
{
    QCOMPARE(ParserExamSchedule::buildQuery(0, 1000, QStringLiteral("T 1&pointId=9"), {}),
             QStringLiteral("tableId=T%201%26pointId%3D9&"));
    QCOMPARE(ParserTimetable::buildQuery(0, 100, QStringLiteral("a-b_c.d~e"), {}),
             QStringLiteral("subject=a-b_c.d~e&"));
    QCOMPARE(encodeUrlText(QStringLiteral("0123456789")), QStringLiteral("0123456789"));
    QCOMPARE(encodeUrlText(QStringLiteral("a/b?c#d")), QStringLiteral("a%2Fb%3Fc%23d"));
    QCOMPARE(encodeUrlText(QStringLiteral("é")), QStringLiteral("%C3%A9"));
}

void ServiceParsersTest::marshalOutputs()
{
    ExamSchedule schedule;
    schedule.examSchedId = 12;
    schedule.tableId = QStringLiteral("T1");
    schedule.pointId = QStringLiteral("P1");
    const QJsonObject s = ParserExamSchedule().marshal(&schedule);
    QCOMPARE(s.size(), 3);
    QCOMPARE(s.value("examSchedId").toInt(), 12);
    QCOMPARE(s.value("tableId").toString(), QStringLiteral("T1"));
    QCOMPARE(s.value("pointId").toString(), QStringLiteral("P1"));

    Lock lock;
    lock.lockId = QStringLiteral("L1");
    lock.description = QStringLiteral("d");
    const QJsonObject l = SingleLockParser().marshal(&lock);
    QCOMPARE(l.size(), 2);
    QCOMPARE(l.value("lockId").toString(), QStringLiteral("L1"));
    QCOMPARE(l.value("description").toString(), QStringLiteral("d"));
    // Wrong record types give an empty object rather than a bad cast.
    QVERIFY(SingleLockParser().marshal(&schedule).isEmpty());
    QVERIFY(ParserTimetable().marshal(&schedule).isEmpty());
    QVERIFY(ParserSeal().marshal(&schedule).isEmpty());
    QVERIFY(ParserJSONLogin().marshal(&lock).isEmpty());
}

void ServiceParsersTest::putBodiesKeepOrderAndEscape()
{
    QCOMPARE(JSON::validateBody(QStringLiteral("L1"), QStringLiteral("123456")),
             QString::fromUtf8(R"({"lockId":"L1","description":"123456","type":2})"));
    QCOMPARE(JSON::sealBody(QStringLiteral("P1"), QStringLiteral("T1"), QStringLiteral("A1"),
                            QStringLiteral("ok")),
             QString::fromUtf8(R"({"pointId":"P1","tableId":"T1","apId":"A1","comment":"ok"})"));
    const QString tricky = QStringLiteral("a\"b\\c\nd\te") + QChar(0x01) + QStringLiteral("ü");
    const QString body = JSON::sealBody({}, {}, {}, tricky);
    QCOMPARE(body,
             QString::fromUtf8(
                     R"({"pointId":"","tableId":"","apId":"","comment":"a\"b\\c\nd\te\u0001ü"})"));
    // Whatever the text, the body stays one valid JSON object that reads back unchanged.
    QJsonParseError error;
    const QJsonDocument doc = QJsonDocument::fromJson(body.toUtf8(), &error);
    QCOMPARE(error.error, QJsonParseError::NoError);
    QCOMPARE(doc.object().value("comment").toString(), tricky);
    QCOMPARE(doc.object().size(), 4);
}

void ServiceParsersTest::consoleLinesOfParsers()
{
    const QByteArray single = captureStdout([] {
        parseWith(SingleLockParser(), R"({"rc":2.5,"rm":"ok","result":{"lockId":"L"}})");
        parseWith(ParserSeal(), R"({"rc":0,"result":null})");
        parseWith(ParserJSONLogin(), R"({"result":[]})");
    });
    QCOMPARE(single,
             QByteArray("Double value 2.500000\nCode string 'ok'\nValid property found...\n"
                        "Result object found.\n"
                        "Double value 0.000000\nNull result returned\n"
                        "Valid property found...\nSomething else...4"));
    const QByteArray list = captureStdout([] {
        parseWith(ParserTimetable(), R"({"rc":0,"result":null})");
        parseWith(ParserExamSchedule(), R"({"result":{"count":3,"list":[{},{}]}})");
    });
    QCOMPARE(list,
             QByteArray("Double value 0.000000\nSomething else...0"
                        "Result object found.\nNumber of locks retrieved: 2\n"));
}

QTEST_GUILESS_MAIN(ServiceParsersTest)

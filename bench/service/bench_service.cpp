// Parsing one full exam-schedule page (1,000 records) into records. Each iteration also
// runs a bare QJsonDocument::fromJson of the same bytes, timed apart, and the benchmark
// reports the ratio "x_fromJson" (operation time / bare parse time). Both are measured
// in thread CPU time and interleaved, so load on the machine affects both alike.
#include "parser_exam_schedule.h"

#include <QJsonDocument>
#include <benchmark/benchmark.h>
#include <ctime>

namespace {

QByteArray schedulePage()
{
    QByteArray body = R"({"rc":0,"rm":"OK","sfc":"x","result":{"count":1000,"limit":1000,)"
                      R"("offset":0,"list":[)";
    for (int i = 0; i < 1000; ++i) {
        if (i)
            body += ',';
        const QByteArray n = QByteArray::number(i);
        body += R"({"examSchedId":)" + n + R"(,"pointId":"P)" + n + R"(","tableId":"T)" + n
                + R"(","state":"OPEN","subjectAbbreviation":"MA)" + n
                + R"(","subjectName":"Mathematics paper )" + n + R"(","centerAbbreviation":"NH)" + n
                + R"(","centerName":"North Hall centre )" + n + R"(","start":)"
                + QByteArray::number(1700000000 + i) + R"(,"end":)"
                + QByteArray::number(1700003600 + i) + "}";
    }
    body += "]}}";
    return body;
}

double threadSeconds()
{
    timespec ts {};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return double(ts.tv_sec) + double(ts.tv_nsec) * 1e-9;
}

// Runs `op` once per iteration, each followed by a bare parse of the same bytes.
template<class Op>
void measure(benchmark::State &state, const QByteArray &bytes, Op op)
{
    double opSeconds = 0;
    double bareSeconds = 0;
    for (auto _ : state) {
        const double t0 = threadSeconds();
        op();
        const double t1 = threadSeconds();
        QJsonDocument doc = QJsonDocument::fromJson(bytes);
        benchmark::DoNotOptimize(doc);
        bareSeconds += threadSeconds() - t1;
        opSeconds += t1 - t0;
    }
    state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(bytes.size()));
    state.counters["x_fromJson"] = bareSeconds > 0 ? opSeconds / bareSeconds : 0;
}

void BM_FromJsonBaseline(benchmark::State &state)
{
    const QByteArray bytes = schedulePage();
    measure(state, bytes, [&bytes] {
        QJsonDocument doc = QJsonDocument::fromJson(bytes);
        benchmark::DoNotOptimize(doc);
    });
}

void BM_ExamSchedulePageToRecords(benchmark::State &state)
{
    const QByteArray bytes = schedulePage();
    const ParserExamSchedule parser;
    measure(state, bytes, [&bytes, &parser] {
        const QJsonDocument doc = QJsonDocument::fromJson(bytes);
        std::unique_ptr<Result> result = parser.parse(&doc);
        benchmark::DoNotOptimize(result.get());
    });
    const QJsonDocument doc = QJsonDocument::fromJson(bytes);
    const auto check = parser.parse(&doc);
    const auto page = check ? check->dataAs<ExamScheduleList>() : nullptr;
    if (!page || page->items.size() != 1000 || page->items.last()->examSchedId != 999)
        state.SkipWithError("page did not parse into 1000 records");
}

BENCHMARK(BM_FromJsonBaseline)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_ExamSchedulePageToRecords)->Unit(benchmark::kMicrosecond);

} // namespace

BENCHMARK_MAIN();

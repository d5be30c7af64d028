// Cost and memory of complete seals through the linker, the workflow and the
// loopback web service, against a bare lock lookup of the same client.
#include <benchmark/benchmark.h>

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QLoggingCategory>
#include <QTemporaryDir>

#include <fcntl.h>
#include <unistd.h>

#include <fstream>
#include <iostream>

#include "json.h"
#include "workflow_harness.h"

namespace {

long residentKb()
{
    QFile statm(QStringLiteral("/proc/self/statm"));
    if (!statm.open(QIODevice::ReadOnly))
        return -1;
    const QList<QByteArray> fields = statm.readAll().split(' ');
    return fields.size() > 1 ? fields.at(1).toLong() * (sysconf(_SC_PAGESIZE) / 1024) : -1;
}

// Logged in, timetable chosen, one seal done: later scans go straight to the
// exam centre list.
void prepare(WorkflowHarness &h)
{
    seedStandardData(h.web);
    h.runToCentres("303903");
    h.sealFirstCentre();
}

// One seal from a scan: exam centre list, lookup, confirmation, seal, log line.
bool sealOnce(WorkflowHarness &h)
{
    h.scan("303903");
    if (!h.dialogs.lastIs(ScriptedDialogs::Kind::Centres))
        return false;
    h.centreNext(h.dialogs.last().centres.first().data());
    if (!h.dialogs.lastIs(ScriptedDialogs::Kind::Confirm))
        return false;
    h.confirmPacking(QString());
    // The doubles keep what they were shown and the fake service what it was
    // asked; a real dialog, message box and server are done with it by now.
    h.dialogs.shown.clear();
    h.prompt.boxes.clear();
    h.web.clearRequests();
    return true;
}

void BM_SealAgainstLookup(benchmark::State &state)
{
    WorkflowHarness h;
    prepare(h);
    JSON *service = h.workflow->service();
    constexpr int baselineRounds = 50;
    QElapsedTimer t;
    t.start();
    for (int i = 0; i < baselineRounds; ++i)
        service->GetLock("303903");
    const double lookupNs = double(t.nsecsElapsed()) / baselineRounds;

    qint64 sealNs = 0;
    int seals = 0;
    for (auto _ : state) {
        t.restart();
        if (!sealOnce(h)) {
            state.SkipWithError("seal did not complete");
            break;
        }
        sealNs += t.nsecsElapsed();
        ++seals;
    }
    state.counters["lookup_us"] = lookupNs / 1000.0;
    state.counters["seal_us"] = seals ? double(sealNs) / seals / 1000.0 : 0.0;
    state.counters["seal_vs_lookup"] = seals ? double(sealNs) / seals / lookupNs : 0.0;
}
BENCHMARK(BM_SealAgainstLookup)->Unit(benchmark::kMillisecond)->Iterations(200);

// Resident memory after 100 and after 1000 seals: a leak per seal (dialog,
// record, reply) shows as growth between the two samples.
void BM_ThousandSeals(benchmark::State &state)
{
    for (auto _ : state) {
        WorkflowHarness h;
        prepare(h);
        long after100 = 0;
        for (int i = 1; i <= 1000; ++i) {
            if (!sealOnce(h)) {
                state.SkipWithError("seal did not complete");
                return;
            }
            if (i == 100)
                after100 = residentKb();
        }
        const long after1000 = residentKb();
        state.counters["rss_after_100_kb"] = double(after100);
        state.counters["rss_after_1000_kb"] = double(after1000);
        state.counters["growth_per_seal_b"] = double(after1000 - after100) * 1024.0 / 900.0;
        state.counters["log_lines"] = double(h.logLines().size());
    }
}
BENCHMARK(BM_ThousandSeals)->Unit(benchmark::kMillisecond)->Iterations(1);

} // namespace

int main(int argc, char **argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    QTemporaryDir config;
    QTemporaryDir work;
    qputenv("XDG_CONFIG_HOME", config.path().toLocal8Bit());
    QDir::setCurrent(work.path());
    // The client's console lines and the debug log would drown the report.
    QLoggingCategory::setFilterRules(QStringLiteral("*.debug=false"));
    benchmark::Initialize(&argc, argv);
    // The client traces every reply on standard output; the report goes to the
    // original standard output, the traces to /dev/null.
    std::cout.flush();
    const int report = dup(STDOUT_FILENO);
    const int null = open("/dev/null", O_WRONLY);
    if (report >= 0 && null >= 0)
        dup2(null, STDOUT_FILENO);
    std::ofstream out("/proc/self/fd/" + std::to_string(report));
    benchmark::ConsoleReporter reporter(benchmark::ConsoleReporter::OO_Tabular);
    reporter.SetOutputStream(out.is_open() ? &out : &std::cerr);
    reporter.SetErrorStream(&std::cerr);
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    if (null >= 0)
        close(null);
    if (report >= 0)
        close(report);
    return 0;
}

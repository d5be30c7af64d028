// Start of the program to its first painted window, against a bare widget program
// started the same way in the same run; resident memory of both at that moment.
// Both run on the offscreen platform and are ended once they have painted.

#include <benchmark/benchmark.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

#include <csignal>

namespace {

struct Start
{
    double ms = -1;
    double rssKb = -1;
};

double residentKb(qint64 pid)
{
    QFile status(QStringLiteral("/proc/%1/status").arg(pid));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray &line : status.readAll().split('\n')) {
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').first().toDouble();
    }
    return -1;
}

Start startOnce(const QString &program, const QString &workDir)
{
    QProcess p;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    p.setProcessEnvironment(env);
    p.setWorkingDirectory(workDir);
    p.setProcessChannelMode(QProcess::SeparateChannels);
    p.setStandardOutputFile(QProcess::nullDevice());

    Start result;
    QElapsedTimer clock;
    clock.start();
    p.start(program, QStringList());
    if (!p.waitForStarted(10000))
        return result;
    QByteArray err;
    while (clock.elapsed() < 20000) {
        if (!p.waitForReadyRead(100) && p.state() != QProcess::Running)
            break;
        err += p.readAllStandardError();
        if (err.contains("first window painted")) {
            result.ms = clock.nsecsElapsed() / 1e6;
            result.rssKb = residentKb(p.processId());
            break;
        }
    }
    p.terminate();
    if (!p.waitForFinished(5000)) {
        p.kill();
        p.waitForFinished(5000);
    }
    return result;
}

void BM_StartToFirstPaint(benchmark::State &state)
{
    QTemporaryDir work;
    double program = 0, bare = 0, programRss = 0, bareRss = 0;
    int runs = 0;
    for (auto _ : state) {
        const Start b = startOnce(QStringLiteral(BW_BARE_PROGRAM), work.path());
        const Start p = startOnce(QStringLiteral(BW_PROGRAM), work.path());
        if (p.ms < 0 || b.ms < 0) {
            state.SkipWithError("a program did not report its first paint");
            return;
        }
        state.SetIterationTime(p.ms / 1e3);
        program += p.ms;
        bare += b.ms;
        programRss += p.rssKb;
        bareRss += b.rssKb;
        ++runs;
    }
    state.counters["program_ms"] = program / runs;
    state.counters["bare_ms"] = bare / runs;
    state.counters["program_per_bare"] = program / bare;
    state.counters["program_rss_kb"] = programRss / runs;
    state.counters["bare_rss_kb"] = bareRss / runs;
    state.counters["rss_per_bare"] = programRss / bareRss;
}
BENCHMARK(BM_StartToFirstPaint)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(5);

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}

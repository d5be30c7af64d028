// Time per paced frame of 17 pieces (a 1,018-byte relay payload) through the
// key's writer, against 17 x 1 ms, as a ratio; beside it the same 17 pieces
// paced with a plain 1 ms sleep, measured in the same run. The transfer itself
// takes no time, so the figures are the pauses alone.
//   bench_pacing [ROUNDS] [RESULT_FILE]
#include "key_writer.h"

#include <QByteArray>
#include <QCoreApplication>
#include <QFile>
#include <QString>
#include <QTextStream>
#include <QThread>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;
constexpr int kPieces = 17;
constexpr double kIdealMs = kPieces * 1.0;

double msSince(Clock::time_point start)
{
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    const size_t n = values.size();
    return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    const int rounds = args.size() > 1 ? std::max(1, args[1].toInt()) : 30;

    int transfers = 0;
    KeyWriter writer([&transfers](const uint8_t *, int, uint64_t) {
        ++transfers;
        return KeyWriter::Outcome::Written;
    });
    const QByteArray frame(kPieces * KeyWriter::kPieceSize, '\x55');

    std::vector<double> paced;
    std::vector<double> plain;
    for (int round = 0; round < rounds; ++round) {
        // Interleaved, so both see the same load on the machine.
        Clock::time_point start = Clock::now();
        writer.post(frame, KeyWriter::Pacing::Pieces, KeyWriter::Origin::Relay, 0);
        if (!writer.flush(10000)) {
            std::fprintf(stderr, "the writer did not finish a frame in 10 s\n");
            return 1;
        }
        paced.push_back(msSince(start));
        start = Clock::now();
        for (int piece = 0; piece < kPieces; ++piece)
            QThread::msleep(1);
        plain.push_back(msSince(start));
    }
    if (transfers != rounds * kPieces) {
        std::fprintf(stderr, "%d transfers instead of %d\n", transfers, rounds * kPieces);
        return 1;
    }

    const KeyWriter::Stats stats = writer.stats();
    const double pacedMs = median(paced);
    const double plainMs = median(plain);
    QString text;
    QTextStream out(&text);
    out.setRealNumberNotation(QTextStream::FixedNotation);
    out.setRealNumberPrecision(2);
    out << "pacing, " << rounds << " frames of " << kPieces << " pieces (" << writer.pacingMethod()
        << ")\n"
        << "  paced writer:     median " << pacedMs << " ms per frame, ratio " << pacedMs / kIdealMs
        << " against " << kPieces << " x 1 ms\n"
        << "  plain 1 ms sleep: median " << plainMs << " ms per frame, ratio " << plainMs / kIdealMs
        << "\n"
        << "  pause per piece:  mean "
        << (stats.pauses ? double(stats.pauseTotalUs) / double(stats.pauses) / 1000.0 : 0.0)
        << " ms, max " << double(stats.pauseMaxUs) / 1000.0 << " ms\n";
    out.flush();
    std::fputs(text.toLocal8Bit().constData(), stdout);
    if (args.size() > 2) {
        // Under Wine the console does not reach a pipe; the caller reads this file.
        QFile file(args[2]);
        if (!file.open(QIODevice::WriteOnly | QIODevice::Text))
            return 1;
        file.write(text.toUtf8());
    }
    return 0;
}

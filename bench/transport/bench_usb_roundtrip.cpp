// Round trip of a 63-byte payload through the link and the libusb device layer
// to an emulated key that echoes it, against the bare libusb round trip of the
// same frame to the same emulated key. Runs under the umockdev preload.
#include "bare_key_client.h"
#include "emulated_key.h"
#include "frame_codec.h"
#include "libusb_device.h"
#include "usb_link.h"

#include <benchmark/benchmark.h>
#include <libusb.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QSemaphore>
#include <QThread>

#include <time.h>

#include <algorithm>
#include <memory>
#include <vector>

namespace {

QByteArray frameOf(const QByteArray &payload)
{
    QByteArray out(frameEncodeCapacity(payload.size()), '\0');
    int length = 0;
    frameEncode(reinterpret_cast<const uint8_t *>(payload.constData()), payload.size(),
                reinterpret_cast<uint8_t *>(out.data()), length);
    out.resize(length);
    return out;
}

const QByteArray kPayload(63, 'p');

EmulatedKeyConfig echoKeyConfig()
{
    EmulatedKeyConfig config;
    config.idleReapDelayMs = 1; // the emulated node always polls ready: keep idle reaps cheap
    return config;
}

double processCpuMs()
{
    timespec ts {};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
    return ts.tv_sec * 1000.0 + ts.tv_nsec / 1e6;
}

double cpuMsOver(int wallMs)
{
    const double before = processCpuMs();
    QThread::msleep(static_cast<unsigned long>(wallMs));
    return processCpuMs() - before;
}

struct Timing
{
    double meanUs = -1;
    double medianUs = -1;
};

Timing summarise(std::vector<double> samples)
{
    Timing t;
    if (samples.empty())
        return t;
    std::sort(samples.begin(), samples.end());
    double sum = 0;
    for (double s : samples)
        sum += s;
    t.meanUs = sum / samples.size();
    t.medianUs = samples[samples.size() / 2];
    return t;
}

Timing bareRoundTrip(int rounds)
{
    BareClient client(echoKeyConfig(), frameOf(kPayload));
    std::vector<double> samples;
    for (int i = 0; i < rounds; ++i) {
        const double us = client.roundTrip();
        if (us < 0)
            return {};
        samples.push_back(us);
    }
    return summarise(samples);
}

void BM_BareRoundTrip(benchmark::State &state)
{
    EmulatedBus bus;
    EmulatedKey key(bus, echoKeyConfig());
    key.setEcho(true);
    key.plug();
    BareClient client(echoKeyConfig(), frameOf(kPayload));
    for (auto _ : state) {
        const double us = client.roundTrip();
        if (us < 0) {
            state.SkipWithError("bare round trip failed");
            break;
        }
        state.SetIterationTime(us / 1e6);
    }
}

void BM_LinkRoundTrip(benchmark::State &state)
{
    EmulatedBus bus;
    EmulatedKey key(bus, echoKeyConfig());
    key.setEcho(true);
    key.plug();
    // Baseline in the same run, on the same emulated key.
    const Timing bare = bareRoundTrip(500);

    usbLink link(std::make_unique<LibusbDevice>());
    QSemaphore arrived;
    QSemaphore connected;
    QObject::connect(
            &link, &usbLink::received, &link, [&](QByteArray) { arrived.release(); },
            Qt::DirectConnection);
    QObject::connect(
            &link, &usbLink::usbConnected, &link,
            [&](bool stat) {
                if (stat)
                    connected.release();
            },
            Qt::DirectConnection);
    link.start();
    if (bare.meanUs < 0 || !connected.tryAcquire(1, 5000)) {
        state.SkipWithError("emulated key not reachable");
        return;
    }
    const auto *payload = reinterpret_cast<const uint8_t *>(kPayload.constData());
    std::vector<double> samples;
    for (auto _ : state) {
        QElapsedTimer timer;
        timer.start();
        if (link.send(payload, kPayload.size()) != 1 || !arrived.tryAcquire(1, 2000)) {
            state.SkipWithError("round trip through the link failed");
            break;
        }
        samples.push_back(timer.nsecsElapsed() / 1000.0);
        state.SetIterationTime(samples.back() / 1e6);
    }
    // Cost of waiting for the key while nothing happens (link and emulator
    // both in this process).
    const double idleCpuMs = cpuMsOver(1000);
    link.stop();
    if (samples.empty())
        return;
    state.counters["idle_cpu_ms_per_s"] = idleCpuMs;
    const Timing linked = summarise(samples);
    state.counters["bare_p50_us"] = bare.medianUs;
    state.counters["link_p50_us"] = linked.medianUs;
    state.counters["ratio_p50"] = linked.medianUs / bare.medianUs;
    state.counters["ratio_mean"] = linked.meanUs / bare.meanUs;
}

} // namespace

BENCHMARK(BM_BareRoundTrip)->UseManualTime()->Unit(benchmark::kMicrosecond)->Iterations(500);
BENCHMARK(BM_LinkRoundTrip)->UseManualTime()->Unit(benchmark::kMicrosecond)->Iterations(500);

int main(int argc, char **argv)
{
    if (!EmulatedBus::ensurePreloaded(argc, argv))
        return 1;
    QCoreApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}

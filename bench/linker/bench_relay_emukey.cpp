// The relay round trip through the real libusb path: an emulated key sends
// relay data, the program relays it to a UDP echo server in its own network
// namespace and writes the echo back to the key. For a 9.6.2 key (one transfer
// per frame) and a 1.6.3 key (63-byte pieces, 1 ms apart, as that key needs),
// against the emulator's bare round trip of the same frame measured in the same
// run. Then the process's CPU time while idle with the key attached and the
// relay open. Runs under the umockdev preload (re-executes itself); root.
//   bench_linker_relay_emukey [rounds]
#include "bare_key_client.h"
#include "emulated_key.h"
#include "libusb_device.h"
#include "linker.h"
#include "netns_pair.h"
#include "relay_bench_util.h"
#include "usb_link.h"

#include <QCoreApplication>
#include <QLoggingCategory>

#include <cstdio>
#include <memory>

using namespace relaybench;

namespace {

struct Figures
{
    double bareUs = -1;
    double relayUs = -1;
    double idleCpuMsPerS = -1;
};

bool measure(EmulatedBus &bus, const char *sw, const QString &server, uint16_t port, int rounds,
             Figures &f)
{
    EmulatedKeyConfig config;
    config.idleReapDelayMs = 1; // the emulated node always polls ready: keep idle reaps cheap
    EmulatedKey key(bus, config);
    const QByteArray frame = dataFrame(QByteArray(63, 'p'));
    key.setEcho(true);
    if (!key.plug())
        return false;
    {
        BareClient client(config, frame);
        std::vector<double> samples;
        for (int i = 0; i < rounds; ++i) {
            const double us = client.roundTrip();
            if (us < 0)
                return false;
            samples.push_back(us);
        }
        f.bareUs = median(samples);
    }
    key.setEcho(false);
    QByteArray payload;
    while (key.takeFrame(payload, 0)) {
        // what the bare client wrote
    }

    usbLink link(std::make_unique<LibusbDevice>());
    cLinker linker(&link);
    bool ok = false;
    std::vector<double> samples;
    measureWhileLoopRuns([&] {
        if (!key.takeFrame(payload, 5000)) // the connect request
            return;
        key.queueFromKey(identityFrame(sw, server.toLatin1(), port));
        key.queueFromKey(connectRequestFrame());
        if (!key.takeFrame(payload, 5000)) // its acknowledgement
            return;
        for (int i = 0; i < rounds; ++i) {
            const Clock::time_point t = Clock::now();
            key.queueFromKey(frame);
            if (!key.takeFrame(payload, 5000) || payload.isEmpty()
                || uint8_t(payload.at(0)) != MSG_DATA)
                return;
            samples.push_back(usSince(t));
        }
        ok = true;
    });
    if (!ok)
        return false;
    f.relayUs = median(samples);
    f.idleCpuMsPerS = cpuMsOver(2000) / 2;
    return true;
}
} // namespace

int main(int argc, char **argv)
{
    if (!EmulatedBus::ensurePreloaded(argc, argv))
        return 1;
    QCoreApplication app(argc, argv);
    QLoggingCategory::setFilterRules(QStringLiteral("*.debug=false"));
    const int rounds = argc > 1 ? std::max(10, atoi(argv[1])) : 500;
    EchoNamespace ns;
    if (!ns.up())
        return ns.exitCode;
    const NetnsPair &net = ns.net;
    const quint16 port = ns.port;
    EmulatedBus bus;
    std::printf("relay round trip on the emulated key, %d rounds each, medians:\n", rounds);
    for (const char *sw : {"9.6.2", "1.6.3"}) {
        Figures f;
        if (!measure(bus, sw, net.peerAddress(), port, rounds, f)) {
            std::printf("  key %s: round trip failed\n", sw);
            return 2;
        }
        std::printf("  key %s: emulator bare %.0f us, relay %.0f us, relay/bare %.2f; "
                    "idle with relay open %.1f ms CPU per s\n",
                    sw, f.bareUs, f.relayUs, f.relayUs / f.bareUs, f.idleCpuMsPerS);
    }
    return 0;
}

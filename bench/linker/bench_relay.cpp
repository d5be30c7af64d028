// Relay round trip key -> program -> UDP echo server -> program -> key, on the
// in-process fake key, against a bare UDP echo round trip over the same veth
// pair. The ratio is reported as the counter ratio_to_bare.
#include "fake_usb_device.h"
#include "frame_codec.h"
#include "kmsg.h"
#include "linker.h"
#include "netns_pair.h"
#include "server_link.h"
#include "usb_link.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QLoggingCategory>
#include <QTimer>
#include <QUdpSocket>

#include <benchmark/benchmark.h>

#include <arpa/inet.h>
#include <chrono>
#include <memory>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {
constexpr int kPayload = 64;

struct Net
{
    NetnsPair pair;
    std::unique_ptr<UdpEcho> echo;
    uint16_t port = 0;
    QString error;
};
Net *net = nullptr;
double bareNsPerTrip = 0;

// Runs the event loop until done() holds; false after five seconds.
template<class F>
bool waitFor(F done)
{
    QElapsedTimer timer;
    timer.start();
    while (!done()) {
        if (timer.elapsed() > 5000)
            return false;
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    }
    return true;
}

QByteArray framed(const KMsg &msg)
{
    uint8_t buf[kMsgMaxSize + 1] = {};
    const int n = msg.serialize(buf, kMsgMaxSize);
    QByteArray out(frameEncodeCapacity(n + 1), '\0');
    int len = 0;
    frameEncode(buf, n + 1, reinterpret_cast<uint8_t *>(out.data()), len);
    out.resize(len);
    return out;
}

void BM_BareUdpEcho(benchmark::State &state)
{
    if (!net) {
        state.SkipWithError("no network namespace (needs root)");
        return;
    }
    const int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    sockaddr_in to {};
    to.sin_family = AF_INET;
    to.sin_port = htons(net->port);
    inet_pton(AF_INET, net->pair.peerAddress().toLatin1().constData(), &to.sin_addr);
    char buf[2048];
    const QByteArray payload(kPayload, 'p');
    const auto start = std::chrono::steady_clock::now();
    for (auto _ : state) {
        ::sendto(fd, payload.constData(), size_t(payload.size()), 0,
                 reinterpret_cast<sockaddr *>(&to), sizeof to);
        const ssize_t n = ::recv(fd, buf, sizeof buf, 0);
        if (n != kPayload) {
            state.SkipWithError("echo lost");
            break;
        }
    }
    const double ns
            = std::chrono::duration<double, std::nano>(std::chrono::steady_clock::now() - start)
                      .count();
    ::close(fd);
    bareNsPerTrip = ns / double(state.iterations());
    state.counters["round_trip_us"] = bareNsPerTrip / 1000.0;
}

void BM_RelayRoundTrip(benchmark::State &state)
{
    if (!net) {
        state.SkipWithError("no network namespace (needs root)");
        return;
    }
    auto script = std::make_shared<FakeUsbDevice::Script>();
    usbLink link(std::make_unique<FakeUsbDevice>(script));
    auto linker = std::make_unique<cLinker>(&link);
    // Wakes the waits below now and then, so a lost step ends in an error, not a hang.
    QTimer tick;
    tick.start(20);
    if (!waitFor([&] { return !script->writes().isEmpty(); })) {
        state.SkipWithError("fake key not attached");
        return;
    }

    const QByteArray host = net->pair.peerAddress().toLatin1();
    KMsg identity(MSG_SET);
    identity.add<KTagUInt32>(TAG_SERIAL, 1u);
    identity.add<KTagString>(TAG_BOX, "b");
    identity.add<KTagString>(TAG_SW, "9.6.2");
    identity.add<KTagString>(TAG_HW, "h");
    identity.add<KTagString>(TAG_SERVER, host.constData());
    identity.add<KTagUInt16>(TAG_PORT, net->port);
    script->feed(framed(identity));
    KMsg connectRequest(MSG_REQUEST);
    connectRequest.add<KTagNull>(TAG_CONNECT);
    script->feed(framed(connectRequest));
    if (!waitFor([&] { return linker->relay()->isOpen(); })) {
        state.SkipWithError("relay link did not open");
        return;
    }
    const QByteArray payload(kPayload, 'p');
    KMsg data(MSG_DATA);
    data.add<KTagBytes>(TAG_DATA, reinterpret_cast<const uint8_t *>(payload.constData()),
                        payload.size());
    const QByteArray frame = framed(data);
    int expected = script->writes().size();

    // Where the time goes, from the linker's traffic signals: key frame fed to
    // message received (USB thread and queued delivery), received to handed to
    // the server link, handed on to back from the server, back to written to the key.
    using Clock = std::chrono::steady_clock;
    Clock::time_point mark[4];
    double stageUs[4] = {0, 0, 0, 0};
    QObject::connect(linker.get(), &cLinker::TransferBusy, [&mark](int direction) {
        if (direction >= 1 && direction <= 3)
            mark[direction] = Clock::now();
    });
    auto us = [](Clock::time_point a, Clock::time_point b) {
        return std::chrono::duration<double, std::micro>(b - a).count();
    };

    const auto start = Clock::now();
    for (auto _ : state) {
        mark[0] = Clock::now();
        script->feed(frame);
        ++expected;
        if (!waitFor([&] { return script->writes().size() >= expected; })) {
            state.SkipWithError("relayed payload did not come back");
            break;
        }
        const Clock::time_point end = Clock::now();
        stageUs[0] += us(mark[0], mark[1]);
        stageUs[1] += us(mark[1], mark[2]);
        stageUs[2] += us(mark[2], mark[3]);
        stageUs[3] += us(mark[3], end);
    }
    const double ns = std::chrono::duration<double, std::nano>(Clock::now() - start).count();
    const double n = double(state.iterations());
    state.counters["usb_in_us"] = stageUs[0] / n;
    state.counters["to_server_us"] = stageUs[1] / n;
    state.counters["server_trip_us"] = stageUs[2] / n;
    state.counters["to_key_us"] = stageUs[3] / n;
    const double perTrip = ns / double(state.iterations());
    state.counters["round_trip_us"] = perTrip / 1000.0;
    if (bareNsPerTrip > 0)
        state.counters["ratio_to_bare"] = perTrip / bareNsPerTrip;
    linker.reset();
}
} // namespace

// Baseline first: the relay's ratio uses the figure it leaves.
BENCHMARK(BM_BareUdpEcho)->MinTime(1.0)->UseRealTime();
BENCHMARK(BM_RelayRoundTrip)->MinTime(1.0)->UseRealTime();

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    // The per-message debug lines would dominate the figures.
    QLoggingCategory::setFilterRules(QStringLiteral("*.debug=false"));
    benchmark::Initialize(&argc, argv);

    Net shared;
    if (NetnsPair::unavailableReason().isEmpty() && shared.pair.setUp(&shared.error)) {
        QUdpSocket probe;
        probe.bind(QHostAddress(QHostAddress::AnyIPv4), 0);
        shared.port = probe.localPort();
        probe.close();
        const int fd = shared.pair.udpSocketInside(shared.port);
        if (fd >= 0) {
            shared.echo = std::make_unique<UdpEcho>(fd);
            net = &shared;
        }
    }
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    net = nullptr;
    return 0;
}

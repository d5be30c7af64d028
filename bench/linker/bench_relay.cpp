// Relay round trip key -> program -> UDP echo server -> program -> key on the
// in-process fake key, interleaved round by round with three baselines over
// the same veth pair and echo server: the bare UDP echo, the bare echo plus
// one thread handoff, and the bare echo plus two handoffs. A key served by
// another thread costs two handoffs, so "bare + 2 handoffs" is what a relay
// can at best approach. A second pass sets the relay against the same echo sent
// by one thread and received by another: the fewest wake-ups for any design in
// which the thread reading the key is not the one reading the relay socket.
// Prints medians and ratios of medians, and the CPU time the process takes
// while idle with the key attached and the relay open.
//   bench_linker_relay [rounds]     (root, for the network namespace)
#include "fake_usb_device.h"
#include "linker.h"
#include "netns_pair.h"
#include "relay_bench_util.h"
#include "server_link.h"
#include "usb_link.h"

#include <QCoreApplication>
#include <QLoggingCategory>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <condition_variable>
#include <cstdio>
#include <memory>
#include <mutex>

using namespace relaybench;

namespace {
constexpr int kPayload = 64;

// The bare echo: one datagram out, its echo back.
class BareEcho
{
public:
    BareEcho(const QString &server, uint16_t port)
        : fd_(::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0))
    {
        to_.sin_family = AF_INET;
        to_.sin_port = htons(port);
        inet_pton(AF_INET, server.toLatin1().constData(), &to_.sin_addr);
        // A lost datagram fails the round instead of hanging the benchmark.
        timeval limit {0, 200 * 1000};
        ::setsockopt(fd_, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
    }
    ~BareEcho() { ::close(fd_); }
    bool send()
    {
        return ::sendto(fd_, payload_, kPayload, 0, reinterpret_cast<sockaddr *>(&to_), sizeof to_)
                == kPayload;
    }
    bool receive() { return ::recv(fd_, buf_, sizeof buf_, 0) == kPayload; }
    bool roundTrip() { return send() && receive(); }

private:
    int fd_;
    sockaddr_in to_ {};
    char payload_[kPayload] = {};
    char buf_[2048];
};

// Runs one job at a time on a thread of its own, woken by a condition variable
// as the fake key and the link's writer are.
class Worker
{
public:
    Worker()
        : thread_([this] { run(); })
    {
    }
    ~Worker()
    {
        {
            std::lock_guard<std::mutex> guard(mutex_);
            stop_ = true;
        }
        wake_.notify_one();
        thread_.join();
    }
    void post(std::function<void()> job)
    {
        {
            std::lock_guard<std::mutex> guard(mutex_);
            job_ = std::move(job);
        }
        wake_.notify_one();
    }

private:
    void run()
    {
        std::unique_lock<std::mutex> guard(mutex_);
        for (;;) {
            wake_.wait(guard, [this] { return stop_ || job_; });
            if (stop_)
                return;
            std::function<void()> job = std::move(job_);
            job_ = nullptr;
            guard.unlock();
            job();
            guard.lock();
        }
    }
    std::mutex mutex_;
    std::condition_variable wake_;
    std::function<void()> job_;
    bool stop_ = false;
    std::thread thread_;
};

// A signal back to the measuring thread.
class Done
{
public:
    void set()
    {
        {
            std::lock_guard<std::mutex> guard(mutex_);
            done_ = true;
        }
        wake_.notify_one();
    }
    bool wait()
    {
        std::unique_lock<std::mutex> guard(mutex_);
        const bool ok = wake_.wait_for(guard, std::chrono::seconds(5), [this] { return done_; });
        done_ = false;
        return ok;
    }

private:
    std::mutex mutex_;
    std::condition_variable wake_;
    bool done_ = false;
};

// Sent by a worker, the echo received by a thread of its own, which signals back.
class CrossEcho
{
public:
    CrossEcho(const QString &server, uint16_t port)
        : echo_(server, port)
        , thread_([this] { run(); })
    {
    }
    ~CrossEcho()
    {
        stop_.store(true);
        thread_.join();
    }
    bool roundTrip(Worker &sender)
    {
        sender.post([this] { echo_.send(); });
        return back_.wait();
    }

private:
    void run()
    {
        while (!stop_.load()) {
            if (echo_.receive())
                back_.set();
        }
    }
    BareEcho echo_;
    Done back_;
    std::atomic<bool> stop_ {false};
    std::thread thread_;
};

struct Samples
{
    std::vector<double> relay, bare, bare1, bare2;
    std::vector<double> relay2, cross; // second pass
};

// One relay round trip: the key's data frame in, its echo written back.
bool relayRoundTrip(FakeUsbDevice::Script &key, const QByteArray &frame, int &expected,
                    std::vector<double> &out)
{
    const Clock::time_point t = Clock::now();
    key.feed(frame);
    if (!key.waitForWrites(++expected, 5000))
        return false;
    out.push_back(usSince(t));
    return true;
}

bool interleave(FakeUsbDevice::Script &key, const QString &server, uint16_t port, int rounds,
                Samples &s)
{
    const QByteArray frame = dataFrame(QByteArray(kPayload, 'p'));
    int expected = key.writeCount();
    BareEcho bare(server, port);
    BareEcho handed(server, port);
    Worker sender;
    Worker echoer;
    Done back;
    for (int i = 0; i < rounds; ++i) {
        if (!relayRoundTrip(key, frame, expected, s.relay))
            return false;

        Clock::time_point t = Clock::now();
        bool ok = bare.roundTrip();
        s.bare.push_back(usSince(t));

        // Sent by another thread, its echo received here.
        t = Clock::now();
        sender.post([&] { handed.send(); });
        ok = ok && handed.receive();
        s.bare1.push_back(usSince(t));

        // Sent and received by another thread, which signals back.
        t = Clock::now();
        echoer.post([&] {
            handed.roundTrip();
            back.set();
        });
        ok = ok && back.wait();
        s.bare2.push_back(usSince(t));
        if (!ok)
            return false;
    }
    CrossEcho cross(server, port);
    for (int i = 0; i < rounds; ++i) {
        if (!relayRoundTrip(key, frame, expected, s.relay2))
            return false;
        const Clock::time_point t = Clock::now();
        if (!cross.roundTrip(sender))
            return false;
        s.cross.push_back(usSince(t));
    }
    return true;
}
} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    // The per-message debug lines would dominate the figures.
    QLoggingCategory::setFilterRules(QStringLiteral("*.debug=false"));
    const int rounds = argc > 1 ? std::max(10, atoi(argv[1])) : 5000;
    EchoNamespace ns;
    if (!ns.up())
        return ns.exitCode;
    const NetnsPair &net = ns.net;
    const quint16 port = ns.port;

    auto script = std::make_shared<FakeUsbDevice::Script>();
    usbLink link(std::make_unique<FakeUsbDevice>(script));
    cLinker linker(&link);
    Samples s;
    bool ok = false;
    measureWhileLoopRuns([&] {
        if (!script->waitForWrites(1, 5000))
            return;
        script->feed(identityFrame("9.6.2", net.peerAddress().toLatin1(), port));
        script->feed(connectRequestFrame());
        if (!script->waitForWrites(2, 5000))
            return;
        ok = interleave(*script, net.peerAddress(), port, rounds, s);
    });
    if (!ok) {
        std::fprintf(stderr, "relay round trip failed\n");
        return 2;
    }
    // Cost of waiting with the key attached and the relay open.
    const double idleCpuMsPerS = cpuMsOver(2000) / 2;
    const double relay = median(s.relay);
    const double b0 = median(s.bare);
    const double b1 = median(s.bare1);
    const double b2 = median(s.bare2);
    std::printf("relay round trip, %d rounds interleaved, %d-byte payload, medians:\n", rounds,
                kPayload);
    std::printf("  relay %.1f us, bare echo %.1f us, bare + 1 handoff %.1f us, "
                "bare + 2 handoffs %.1f us\n",
                relay, b0, b1, b2);
    std::printf("  bare+1/bare %.2f, bare+2/bare %.2f, relay/bare %.2f, relay/(bare+2) %.2f\n",
                b1 / b0, b2 / b0, relay / b0, relay / b2);
    const double relay2 = median(s.relay2);
    const double cross = median(s.cross);
    std::printf("second pass: relay %.1f us, bare + 2 handoffs with the echo received on a "
                "third thread %.1f us, relay/that %.2f\n",
                relay2, cross, relay2 / cross);
    std::printf("idle with the key attached and the relay open: %.2f ms CPU per s\n",
                idleCpuMsPerS);
    return 0;
}

#pragma once

// Pieces shared by the relay benchmarks: the key's messages, the program's
// event loop run while a measuring thread works, and medians.

#include "frame_codec.h"
#include "kmsg.h"
#include "netns_pair.h"

#include <QByteArray>
#include <QEventLoop>
#include <QTimer>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <functional>
#include <memory>
#include <thread>
#include <vector>

namespace relaybench {

using Clock = std::chrono::steady_clock;

inline double usSince(Clock::time_point start)
{
    return std::chrono::duration<double, std::micro>(Clock::now() - start).count();
}

inline double median(std::vector<double> v)
{
    if (v.empty())
        return -1;
    std::nth_element(v.begin(), v.begin() + long(v.size() / 2), v.end());
    return v[v.size() / 2];
}

// Makes the relay server's network namespace. False when the program cannot
// go on, with its exit code (0: skipped, for lack of root).
inline bool setUpNamespace(NetnsPair &net, int &exitCode)
{
    const QString why = NetnsPair::unavailableReason();
    QString error;
    if (why.isEmpty() && net.setUp(&error))
        return true;
    std::fprintf(stderr, "%s%s\n",
                 why.isEmpty() ? "" : "skipped: ", qPrintable(why.isEmpty() ? error : why));
    exitCode = why.isEmpty() ? 2 : 0;
    return false;
}

// The relay server's namespace with an echo server in it on a free port.
struct EchoNamespace
{
    NetnsPair net;
    quint16 port = 0;
    std::unique_ptr<UdpEcho> echo;
    int exitCode = 0; // when up() fails

    bool up()
    {
        if (!setUpNamespace(net, exitCode))
            return false;
        port = freeUdpPort();
        const int fd = net.udpSocketInside(port);
        if (fd >= 0)
            echo = std::make_unique<UdpEcho>(fd);
        exitCode = echo ? 0 : 2;
        return bool(echo);
    }
};

// One key message as the key puts it on the wire: message, filler byte, frame.
inline QByteArray framed(const KMsg &msg)
{
    uint8_t buf[kMsgMaxSize + 1] = {};
    const int n = msg.serialize(buf, kMsgMaxSize);
    QByteArray out(frameEncodeCapacity(n + 1), '\0');
    int len = 0;
    frameEncode(buf, n + 1, reinterpret_cast<uint8_t *>(out.data()), len);
    out.resize(len);
    return out;
}

// The six details that make the key ready, naming the relay server.
inline QByteArray identityFrame(const char *sw, const QByteArray &server, uint16_t port)
{
    KMsg msg(MSG_SET);
    msg.add<KTagUInt32>(TAG_SERIAL, 1u);
    msg.add<KTagString>(TAG_BOX, "b");
    msg.add<KTagString>(TAG_SW, sw);
    msg.add<KTagString>(TAG_HW, "h");
    msg.add<KTagString>(TAG_SERVER, server.constData());
    msg.add<KTagUInt16>(TAG_PORT, port);
    return framed(msg);
}

inline QByteArray connectRequestFrame()
{
    KMsg msg(MSG_REQUEST);
    msg.add<KTagNull>(TAG_CONNECT);
    return framed(msg);
}

inline QByteArray dataFrame(const QByteArray &payload)
{
    KMsg msg(MSG_DATA);
    msg.add<KTagBytes>(TAG_DATA, reinterpret_cast<const uint8_t *>(payload.constData()),
                       payload.size());
    return framed(msg);
}

// Runs work on a thread of its own while this (the GUI) thread runs its
// event loop, as the program's window would.
inline void measureWhileLoopRuns(const std::function<void()> &work)
{
    std::atomic<bool> done {false};
    std::thread worker([&] {
        work();
        done.store(true);
    });
    QEventLoop loop;
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, [&] {
        if (done.load())
            loop.quit();
    });
    poll.start(20);
    loop.exec();
    worker.join();
}

// CPU time of the whole process over wallMs of this thread's event loop.
inline double cpuMsOver(int wallMs)
{
    auto cpuMs = [] {
        timespec ts {};
        clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
        return ts.tv_sec * 1000.0 + ts.tv_nsec / 1e6;
    };
    const double before = cpuMs();
    QEventLoop loop;
    QTimer::singleShot(wallMs, &loop, &QEventLoop::quit);
    loop.exec();
    return cpuMs() - before;
}

} // namespace relaybench

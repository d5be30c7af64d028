#include "netns_pair.h"

#include <QFile>
#include <QProcess>
#include <QStandardPaths>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sched.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {
bool ip(const QStringList &args)
{
    QProcess p;
    p.setProcessChannelMode(QProcess::MergedChannels);
    p.start(QStringLiteral("ip"), args);
    if (!p.waitForFinished(10000)) {
        p.kill();
        p.waitForFinished(1000);
        return false;
    }
    return p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0;
}
} // namespace

NetnsPair::NetnsPair()
{
    // Unique per process so parallel tests do not meet; the /30 follows the pid.
    const int id = static_cast<int>(getpid()) % 16384;
    ns = QStringLiteral("bwlk%1").arg(id);
    hostIf = QStringLiteral("bwlh%1").arg(id);
    peerIf = QStringLiteral("bwlp%1").arg(id);
    const int third = id / 64;
    const int fourth = (id % 64) * 4;
    hostAddr = QStringLiteral("10.213.%1.%2").arg(third).arg(fourth + 1);
    peerAddr = QStringLiteral("10.213.%1.%2").arg(third).arg(fourth + 2);
}

NetnsPair::~NetnsPair()
{
    tearDown();
}

QString NetnsPair::unavailableReason()
{
    if (geteuid() != 0)
        return QStringLiteral("needs root to create a network namespace");
    if (QStandardPaths::findExecutable(QStringLiteral("ip")).isEmpty()
        && !QFile::exists(QStringLiteral("/usr/sbin/ip"))
        && !QFile::exists(QStringLiteral("/sbin/ip")))
        return QStringLiteral("the ip tool (iproute2) is not installed");
    return {};
}

bool NetnsPair::setUp(QString *error)
{
    tearDown();
    ip({"netns", "del", ns}); // left over from a crashed run
    ip({"link", "del", hostIf});
    const QList<QStringList> steps = {
            {"netns", "add", ns},
            {"link", "add", hostIf, "type", "veth", "peer", "name", peerIf},
            {"link", "set", peerIf, "netns", ns},
            {"addr", "add", hostAddr + "/30", "dev", hostIf},
            {"link", "set", hostIf, "up"},
            {"-n", ns, "addr", "add", peerAddr + "/30", "dev", peerIf},
            {"-n", ns, "link", "set", peerIf, "up"},
            {"-n", ns, "link", "set", "lo", "up"},
    };
    made = true;
    for (const QStringList &step : steps) {
        if (!ip(step)) {
            if (error)
                *error = QStringLiteral("ip %1 failed").arg(step.join(' '));
            tearDown();
            return false;
        }
    }
    return true;
}

void NetnsPair::tearDown()
{
    if (!made)
        return;
    made = false;
    ip({"link", "del", hostIf});
    ip({"netns", "del", ns});
}

int NetnsPair::udpSocketInside(uint16_t port) const
{
    const QByteArray path = QStringLiteral("/var/run/netns/%1").arg(ns).toLocal8Bit();
    const int target = ::open(path.constData(), O_RDONLY | O_CLOEXEC);
    const int home = ::open("/proc/thread-self/ns/net", O_RDONLY | O_CLOEXEC);
    int fd = -1;
    if (target >= 0 && home >= 0 && setns(target, CLONE_NEWNET) == 0) {
        // A socket stays in the namespace it was created in.
        fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
        const bool back = setns(home, CLONE_NEWNET) == 0;
        sockaddr_in sa {};
        sa.sin_family = AF_INET;
        sa.sin_port = htons(port);
        inet_pton(AF_INET, peerAddr.toLatin1().constData(), &sa.sin_addr);
        if (fd >= 0 && ::bind(fd, reinterpret_cast<sockaddr *>(&sa), sizeof sa) != 0) {
            ::close(fd);
            fd = -1;
        }
        if (!back)
            abort(); // this thread would stay in the wrong namespace
    }
    if (target >= 0)
        ::close(target);
    if (home >= 0)
        ::close(home);
    return fd;
}

UdpEcho::UdpEcho(int fd)
    : sock(fd)
{
    if (pipe2(wake, O_CLOEXEC) != 0)
        wake[0] = wake[1] = -1;
    worker = std::thread([this] { run(); });
}

UdpEcho::~UdpEcho()
{
    stop();
    if (sock >= 0)
        ::close(sock);
    for (int fd : wake)
        if (fd >= 0)
            ::close(fd);
}

void UdpEcho::stop()
{
    if (!worker.joinable())
        return;
    const char c = 1;
    if (wake[1] < 0 || ::write(wake[1], &c, 1) != 1)
        ::shutdown(sock, SHUT_RDWR);
    worker.join();
}

void UdpEcho::run()
{
    char buf[65536];
    for (;;) {
        pollfd fds[2] = {{sock, POLLIN, 0}, {wake[0], POLLIN, 0}};
        if (::poll(fds, wake[0] >= 0 ? 2 : 1, 1000) < 0)
            return;
        if (fds[1].revents || (fds[0].revents & (POLLERR | POLLHUP | POLLNVAL)))
            return;
        if (!(fds[0].revents & POLLIN))
            continue;
        sockaddr_in from {};
        socklen_t fromLen = sizeof from;
        const ssize_t n = ::recvfrom(sock, buf, sizeof buf, 0, reinterpret_cast<sockaddr *>(&from),
                                     &fromLen);
        if (n < 0)
            continue;
        ::sendto(sock, buf, static_cast<size_t>(n), 0, reinterpret_cast<sockaddr *>(&from),
                 fromLen);
        count.fetch_add(1);
    }
}

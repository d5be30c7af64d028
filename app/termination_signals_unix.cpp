#include "termination_signals.h"

#include <QLoggingCategory>
#include <QSocketNotifier>

#include <array>
#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

Q_LOGGING_CATEGORY(lcTermination, "termination")

constexpr std::array<int, 3> handledSignals {SIGTERM, SIGINT, SIGHUP};

// Write end of the socket pair; only the handler reads it.
volatile sig_atomic_t writeFd = -1;

void onSignal(int)
{
    const int savedErrno = errno;
    const char byte = 1;
    // Nothing but write(): async-signal-safe. A full socket already holds a wake-up.
    const ssize_t n = ::write(writeFd, &byte, 1);
    static_cast<void>(n);
    errno = savedErrno;
}

bool setFlags(int fd)
{
    return ::fcntl(fd, F_SETFD, FD_CLOEXEC) == 0
            && ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK) == 0;
}

} // namespace

struct TerminationSignals::Platform
{
    std::array<int, 2> fds {-1, -1};
    std::array<struct sigaction, handledSignals.size()> previous {};
    std::unique_ptr<QSocketNotifier> notifier;
    bool installed = false;
};

TerminationSignals::TerminationSignals(QObject *parent)
    : QObject(parent)
    , d(std::make_unique<Platform>())
{
    if (writeFd != -1) {
        qCWarning(lcTermination) << "signal handling is already installed";
        return;
    }
    if (::socketpair(AF_UNIX, SOCK_STREAM, 0, d->fds.data()) != 0 || !setFlags(d->fds[0])
        || !setFlags(d->fds[1])) {
        qCWarning(lcTermination) << "no socket pair for signals:" << qt_error_string(errno);
        return;
    }
    d->notifier = std::make_unique<QSocketNotifier>(d->fds[1], QSocketNotifier::Read);
    connect(d->notifier.get(), &QSocketNotifier::activated, this, [this] {
        char buf[64];
        while (::read(d->fds[1], buf, sizeof buf) > 0) { }
        emit terminationRequested();
    });
    writeFd = d->fds[0];

    struct sigaction action
    {
    };
    action.sa_handler = onSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (std::size_t i = 0; i < handledSignals.size(); ++i)
        ::sigaction(handledSignals[i], &action, &d->previous[i]);
    d->installed = true;
}

TerminationSignals::~TerminationSignals()
{
    if (d->installed) {
        for (std::size_t i = 0; i < handledSignals.size(); ++i)
            ::sigaction(handledSignals[i], &d->previous[i], nullptr);
        writeFd = -1;
    }
    d->notifier.reset();
    for (int fd : d->fds) {
        if (fd != -1)
            ::close(fd);
    }
}

bool TerminationSignals::active() const
{
    return d->installed;
}

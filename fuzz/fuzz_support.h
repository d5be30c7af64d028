#pragma once

// Shared by the fuzz targets that need Qt's event loop.

#include <QCoreApplication>
#include <QDeadlineTimer>

#include <cstdlib>
#include <functional>

// A broken invariant is a finding.
inline void require(bool condition)
{
    if (!condition)
        std::abort();
}

// The application object, made once per fuzzing process, with the log off: the log is
// not what is under test, and writing it would slow every run.
inline void startQuietApplication()
{
    static int argc = 1;
    static char name[] = "fuzz";
    static char *argv[] = {name, nullptr};
    static QCoreApplication app(argc, argv);
    qInstallMessageHandler([](QtMsgType, const QMessageLogContext &, const QString &) {});
}

// Keeps handling events until done() or the time limit; false on the time limit.
inline bool pumpUntil(const std::function<bool()> &done, int timeoutMs = 3000)
{
    QDeadlineTimer deadline(timeoutMs);
    while (!done()) {
        if (deadline.hasExpired())
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    }
    return true;
}

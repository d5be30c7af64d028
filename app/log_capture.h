#pragma once

#include <QMutex>
#include <QString>
#include <QStringList>

#include <deque>

// The latest lines of the program's output, for a diagnostics file. Bounded in
// lines and characters; the oldest lines go first. Thread-safe.
class LogRing
{
public:
    struct Limits
    {
        int lines = 5000;
        int lineChars = 2000; // a longer line is cut, saying how much was cut
        qint64 totalChars = 2000000;
    };

    LogRing();
    explicit LogRing(Limits limits);

    void append(QString line);

    struct Snapshot
    {
        QStringList lines; // oldest first
        qint64 dropped = 0; // lines that no longer fit
    };
    Snapshot snapshot() const;

private:
    const Limits limits_;
    mutable QMutex mutex_;
    std::deque<QString> lines_;
    qint64 chars_ = 0;
    qint64 dropped_ = 0;
};

// While it lives, every debug-log message and every line the web service client
// prints goes into the ring, each with its time, and then on to where it went
// before (the message handler that was installed, standard output). One at a time.
class LogCapture
{
public:
    explicit LogCapture(LogRing &ring);
    ~LogCapture();
    LogCapture(const LogCapture &) = delete;
    LogCapture &operator=(const LogCapture &) = delete;

    // The ring of the living capture, or null.
    static LogRing *activeRing();
};

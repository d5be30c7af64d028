#include "log_capture.h"

#include "console.h"

#include <QDateTime>
#include <QMutexLocker>

#include <atomic>

LogRing::LogRing()
    : LogRing(Limits())
{
}

LogRing::LogRing(Limits limits)
    : limits_(limits)
{
}

void LogRing::append(QString line)
{
    if (line.size() > limits_.lineChars) {
        const int cut = line.size() - limits_.lineChars;
        line.truncate(limits_.lineChars);
        line += QStringLiteral(" [%1 more characters]").arg(cut);
    }
    QMutexLocker guard(&mutex_);
    chars_ += line.size();
    lines_.push_back(std::move(line));
    while (!lines_.empty()
           && (lines_.size() > size_t(limits_.lines) || chars_ > limits_.totalChars)) {
        chars_ -= lines_.front().size();
        lines_.pop_front();
        ++dropped_;
    }
}

LogRing::Snapshot LogRing::snapshot() const
{
    QMutexLocker guard(&mutex_);
    Snapshot s;
    s.lines.reserve(int(lines_.size()));
    for (const QString &line : lines_)
        s.lines << line;
    s.dropped = dropped_;
    return s;
}

namespace {

std::atomic<LogRing *> g_ring {nullptr};
std::atomic<QtMessageHandler> g_previous {nullptr};
QMutex g_consoleMutex;
QString g_consolePending; // console text after its last newline

QString stamp()
{
    return QDateTime::currentDateTime().toString(QStringLiteral("yyyy-MM-dd hh:mm:ss.zzz"));
}

const char *typeName(QtMsgType type)
{
    switch (type) {
    case QtDebugMsg:
        return "debug";
    case QtInfoMsg:
        return "info";
    case QtWarningMsg:
        return "warning";
    case QtCriticalMsg:
        return "critical";
    case QtFatalMsg:
        return "fatal";
    }
    return "?";
}

void captureMessage(QtMsgType type, const QMessageLogContext &context, const QString &text)
{
    if (LogRing *ring = g_ring.load()) {
        ring->append(QStringLiteral("%1 %2 %3")
                             .arg(stamp(), QLatin1String(typeName(type)),
                                  qFormatLogMessage(type, context, text)));
    }
    if (QtMessageHandler previous = g_previous.load())
        previous(type, context, text);
}

void captureConsole(const QString &text)
{
    LogRing *ring = g_ring.load();
    if (!ring)
        return;
    QMutexLocker guard(&g_consoleMutex);
    g_consolePending += text;
    int start = 0;
    for (int end = g_consolePending.indexOf(QLatin1Char('\n')); end >= 0;
         end = g_consolePending.indexOf(QLatin1Char('\n'), start)) {
        ring->append(
                QStringLiteral("%1 out %2").arg(stamp(), g_consolePending.mid(start, end - start)));
        start = end + 1;
    }
    g_consolePending.remove(0, start);
    // A trace that never ends its line must not grow without bound.
    if (g_consolePending.size() > 65536) {
        ring->append(QStringLiteral("%1 out %2").arg(stamp(), g_consolePending));
        g_consolePending.clear();
    }
}

} // namespace

LogCapture::LogCapture(LogRing &ring)
{
    g_ring.store(&ring);
    g_previous.store(qInstallMessageHandler(captureMessage));
    setConsoleTap(captureConsole);
}

LogCapture::~LogCapture()
{
    setConsoleTap(nullptr);
    qInstallMessageHandler(g_previous.load());
    g_ring.store(nullptr);
    QMutexLocker guard(&g_consoleMutex);
    g_consolePending.clear();
}

LogRing *LogCapture::activeRing()
{
    return g_ring.load();
}

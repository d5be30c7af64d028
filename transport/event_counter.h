#pragma once

#include <QElapsedTimer>
#include <QLoggingCategory>
#include <QMutex>
#include <QMutexLocker>
#include <QString>

#include <cstdint>

// Counts events of one kind (dropped items, failed writes) and logs them at most
// once a second: the first at once, each line followed by the count since the
// last line. Safe from any thread; a flood costs one counter update per event.
class EventCounter
{
public:
    explicit EventCounter(const QLoggingCategory &category, QtMsgType level = QtWarningMsg)
        : category_(category)
        , level_(level)
    {
    }

    // line: what happened this time; built only when it is logged.
    template<class Line>
    void count(Line line)
    {
        QMutexLocker guard(&mutex_);
        ++total_;
        ++sinceLine_;
        if (clock_.isValid() && clock_.elapsed() < kIntervalMs)
            return;
        clock_.start();
        if (category_.isEnabled(level_)) {
            const QString counts = QStringLiteral("(%1 since the last report, %2 in all)")
                                           .arg(sinceLine_)
                                           .arg(total_);
            QMessageLogger logger(nullptr, 0, nullptr, category_.categoryName());
            (level_ == QtWarningMsg ? logger.warning() : logger.debug()).noquote()
                    << line() << counts;
        }
        sinceLine_ = 0;
    }

    uint64_t total() const
    {
        QMutexLocker guard(&mutex_);
        return total_;
    }

private:
    static constexpr qint64 kIntervalMs = 1000;
    const QLoggingCategory &category_;
    const QtMsgType level_;
    mutable QMutex mutex_;
    QElapsedTimer clock_;
    uint64_t total_ = 0;
    uint64_t sinceLine_ = 0;
};

#pragma once

#include <QMutex>
#include <QObject>
#include <QWaitCondition>

#include <atomic>

// Runs on the dashboard's animation thread: a 100 ms tick that greys a lit traffic
// arrow again ten ticks after its last traffic. The loop ends when abort() is called.
class ArrWorker : public QObject
{
    Q_OBJECT
public:
    static constexpr int Channels = 4;
    static constexpr int LitTicks = 10;
    static constexpr int TickMs = 100;

    explicit ArrWorker(QObject *parent = nullptr);

    // Called on the GUI thread when channel `channel` (0..3) carries traffic.
    void light(int channel);
    int countdown(int channel) const;

    // Prepares a new run (clears the abort flag, sets the working flag) and emits
    // workRequested().
    void requestWork();
    // Asks the loop to end; it wakes at once and emits finished().
    void abort();
    bool isWorking() const;

    // One pass of the countdown: emits valueChanged(k + 4) for every channel that
    // just expired. Public so the countdown rule can be exercised without a thread.
    void tick();

signals:
    void workRequested();
    void valueChanged(int val);
    void finished();

public slots:
    void doWork();

private:
    std::atomic<int> counters[Channels];
    mutable QMutex mutex; // guards the two flags
    QWaitCondition wake;
    bool aborted = false;
    bool working = false;
};

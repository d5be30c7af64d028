#include "arrworker.h"

ArrWorker::ArrWorker(QObject *parent)
    : QObject(parent)
{
    for (auto &c : counters)
        c.store(-1);
}

void ArrWorker::light(int channel)
{
    if (channel >= 0 && channel < Channels)
        counters[channel].store(LitTicks);
}

int ArrWorker::countdown(int channel) const
{
    if (channel < 0 || channel >= Channels)
        return -1;
    return counters[channel].load();
}

void ArrWorker::requestWork()
{
    {
        QMutexLocker lock(&mutex);
        working = true;
        aborted = false;
    }
    emit workRequested();
}

void ArrWorker::abort()
{
    QMutexLocker lock(&mutex);
    if (working)
        aborted = true;
    wake.wakeAll();
}

bool ArrWorker::isWorking() const
{
    QMutexLocker lock(&mutex);
    return working;
}

void ArrWorker::tick()
{
    for (int k = 0; k < Channels; ++k) {
        int value = counters[k].load();
        if (value > 0) {
            // A new light() between load and store wins: it restarts the countdown.
            counters[k].compare_exchange_strong(value, value - 1);
        } else if (value == 0) {
            if (counters[k].compare_exchange_strong(value, -1))
                emit valueChanged(k + 4);
        }
    }
}

void ArrWorker::doWork()
{
    for (;;) {
        tick();
        QMutexLocker lock(&mutex);
        if (!aborted)
            wake.wait(&mutex, TickMs);
        if (aborted)
            break;
    }
    {
        QMutexLocker lock(&mutex);
        working = false;
    }
    emit finished();
}

#include "piece_pause.h"

#include <chrono>
#include <thread>

// A sleep of 1 ms lasts about that long here; nothing more is needed.
struct PiecePause::Platform
{
};

PiecePause::PiecePause() = default;
PiecePause::~PiecePause() = default;

void PiecePause::wait()
{
    std::this_thread::sleep_for(std::chrono::microseconds(kMinimumUs));
}

QString PiecePause::method() const
{
    return QStringLiteral("sleep");
}

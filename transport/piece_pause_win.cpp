#include "piece_pause.h"

#include "usb_log.h"

#include <windows.h>

#include <chrono>

#ifndef CREATE_WAITABLE_TIMER_HIGH_RESOLUTION
#define CREATE_WAITABLE_TIMER_HIGH_RESOLUTION 0x00000002
#endif

namespace {

using Clock = std::chrono::steady_clock; // QueryPerformanceCounter
constexpr auto kMinimum = std::chrono::microseconds(PiecePause::kMinimumUs);
// The waitable timer's bound, should it never fire.
constexpr DWORD kTimerBoundMs = 20;

// Yields the processor until the minimum has passed: bounded by the clock,
// not by the timer tick, at the price of the processor for that time.
void yieldUntil(Clock::time_point end)
{
    while (Clock::now() < end)
        SwitchToThread();
}

} // namespace

// A high-resolution waitable timer (Windows 10 1803 and later), else none.
// Set before the writer's thread starts, never changed.
struct PiecePause::Platform
{
    HANDLE timer = nullptr;
};

PiecePause::PiecePause()
    : platform_(std::make_unique<Platform>())
{
    platform_->timer
            = CreateWaitableTimerExW(nullptr, nullptr, CREATE_WAITABLE_TIMER_HIGH_RESOLUTION,
                                     TIMER_MODIFY_STATE | SYNCHRONIZE);
    if (!platform_->timer)
        qCInfo(lcUsbLink) << "no high-resolution timer (error" << GetLastError()
                          << "): paced pieces wait by yielding";
}

PiecePause::~PiecePause()
{
    if (platform_->timer)
        CloseHandle(platform_->timer);
}

void PiecePause::wait()
{
    const Clock::time_point end = Clock::now() + kMinimum;
    if (HANDLE timer = platform_->timer) {
        LARGE_INTEGER due;
        due.QuadPart = -static_cast<LONGLONG>(kMinimumUs) * 10; // relative, in 100 ns
        if (!SetWaitableTimer(timer, &due, 0, nullptr, nullptr, FALSE)
            || WaitForSingleObject(timer, kTimerBoundMs) != WAIT_OBJECT_0)
            CancelWaitableTimer(timer);
    }
    // An early wake-up, a failed timer and the fallback end here.
    yieldUntil(end);
}

QString PiecePause::method() const
{
    return platform_->timer ? QStringLiteral("high-resolution waitable timer")
                            : QStringLiteral("yielding (no high-resolution timer)");
}

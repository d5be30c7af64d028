#include "piece_pause.h"

#include "usb_log.h"

#include <windows.h>

#include <atomic>
#include <chrono>

#ifndef CREATE_WAITABLE_TIMER_HIGH_RESOLUTION
#define CREATE_WAITABLE_TIMER_HIGH_RESOLUTION 0x00000002
#endif

namespace {

using Clock = std::chrono::steady_clock; // QueryPerformanceCounter
constexpr auto kMinimum = std::chrono::microseconds(PiecePause::kMinimumUs);
// A timer that keeps firing this late is given up for the fallback.
constexpr auto kLate = std::chrono::microseconds(2 * PiecePause::kMinimumUs);
constexpr int kLateInARow = 3;
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

// A high-resolution waitable timer (Windows 10 1803 and later), else yielding.
struct PiecePause::Platform
{
    HANDLE timer = nullptr;
    int lateInARow = 0;
    std::atomic<bool> timerUsed {false}; // read by method() from any thread
};

PiecePause::PiecePause()
    : platform_(std::make_unique<Platform>())
{
    platform_->timer
            = CreateWaitableTimerExW(nullptr, nullptr, CREATE_WAITABLE_TIMER_HIGH_RESOLUTION,
                                     TIMER_MODIFY_STATE | SYNCHRONIZE);
    platform_->timerUsed.store(platform_->timer != nullptr);
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
    const Clock::time_point start = Clock::now();
    const Clock::time_point end = start + kMinimum;
    Platform &p = *platform_;
    if (p.timer) {
        LARGE_INTEGER due;
        due.QuadPart = -static_cast<LONGLONG>(kMinimumUs) * 10; // relative, in 100 ns
        if (SetWaitableTimer(p.timer, &due, 0, nullptr, nullptr, FALSE)
            && WaitForSingleObject(p.timer, kTimerBoundMs) == WAIT_OBJECT_0) {
            const Clock::time_point now = Clock::now();
            p.lateInARow = now - start > kLate ? p.lateInARow + 1 : 0;
            if (p.lateInARow >= kLateInARow) {
                qCWarning(lcUsbLink) << "the high-resolution timer keeps waiting over"
                                     << kLate.count() << "us: paced pieces wait by yielding";
                CloseHandle(p.timer);
                p.timer = nullptr;
                p.timerUsed.store(false);
            }
        } else {
            CancelWaitableTimer(p.timer);
        }
    }
    // Early wake-ups, failures and the fallback end here.
    yieldUntil(end);
}

QString PiecePause::method() const
{
    return platform_->timerUsed.load()
            ? QStringLiteral("high-resolution waitable timer")
            : QStringLiteral("yielding (no usable high-resolution timer)");
}

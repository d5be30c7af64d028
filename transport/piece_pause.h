#pragma once

#include <QString>

#include <memory>

// The pause after each 63-byte piece of a paced frame: at least kMinimumUs,
// and on every platform close to it. A plain 1 ms sleep lasts a whole timer
// tick (about 15.6 ms) on Windows unless the process raises the resolution.
// On Windows a high-resolution waitable timer; where there is none (before
// Windows 10 1803) the pause yields the processor until 1 ms has passed.
// wait() is used on one thread at a time; method() from any thread.
class PiecePause
{
public:
    static constexpr int kMinimumUs = 1000;

    PiecePause();
    ~PiecePause();
    PiecePause(const PiecePause &) = delete;
    PiecePause &operator=(const PiecePause &) = delete;

    void wait();

    // How the pause is made, for the diagnostics.
    QString method() const;

    struct Platform; // the platform's timer, if it has one

private:
    std::unique_ptr<Platform> platform_;
};

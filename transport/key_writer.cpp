#include "key_writer.h"

#include "usb_log.h"

#include <algorithm>
#include <chrono>

namespace {
constexpr uint8_t kFillerByte = 0x30;
constexpr int kPacketSize = 64;

int packetsOf(int bytes)
{
    return (bytes + KeyWriter::kPieceSize - 1) / KeyWriter::kPieceSize;
}
} // namespace

KeyWriter::KeyWriter(Transfer transfer)
    : transfer_(std::move(transfer))
    , drops_(lcUsbLink())
    , failures_(lcUsbLink())
    , thread_([this] { run(); })
{
}

KeyWriter::~KeyWriter()
{
    {
        std::lock_guard<std::mutex> guard(mutex_);
        stopping_ = true;
    }
    wake_.notify_all();
    thread_.join();
}

bool KeyWriter::post(QByteArray frame, Pacing pacing, Origin origin, uint64_t connection)
{
    const int bytes = frame.size();
    bool fits = false;
    {
        std::lock_guard<std::mutex> guard(mutex_);
        fits = !stopping_ && int(queue_.size()) < kMaxFrames && queuedBytes_ + bytes <= kMaxBytes;
        if (!fits) {
            ++stats_.dropped;
        } else {
            const int packets = packetsOf(bytes);
            queue_.push_back({std::move(frame), pacing, origin, connection, packets});
            queuedBytes_ += bytes;
            if (origin == Origin::Relay)
                relayPackets_ += packets;
            ++posted_;
            ++stats_.queued;
        }
    }
    if (fits) {
        wake_.notify_one(); // outside the lock: the writer can take it at once
        return true;
    }
    drops_.count([bytes] {
        return QStringLiteral("queue for the key full: frame of %1 bytes dropped").arg(bytes);
    });
    return false;
}

bool KeyWriter::relayHasRoom()
{
    std::lock_guard<std::mutex> guard(mutex_);
    if (relayPackets_ < kRelayPackets)
        return true;
    relayWanted_ = true;
    return false;
}

void KeyWriter::setRelayRoomCallback(std::function<void()> callback)
{
    std::lock_guard<std::mutex> guard(callbackMutex_);
    roomCallback_ = std::move(callback);
}

bool KeyWriter::flush(int timeoutMs)
{
    std::unique_lock<std::mutex> guard(mutex_);
    const uint64_t target = posted_;
    return idle_.wait_for(guard, std::chrono::milliseconds(timeoutMs),
                          [&] { return done_ >= target; });
}

void KeyWriter::discardQueued()
{
    bool roomBack = false;
    {
        std::lock_guard<std::mutex> guard(mutex_);
        while (!queue_.empty()) {
            release(queue_.front(), roomBack);
            queue_.pop_front();
            ++stats_.discarded;
            ++done_;
        }
    }
    idle_.notify_all();
    if (roomBack)
        announceRoom();
}

KeyWriter::Stats KeyWriter::stats() const
{
    std::lock_guard<std::mutex> guard(mutex_);
    return stats_;
}

void KeyWriter::run()
{
    using Clock = std::chrono::steady_clock;
    Clock::time_point drainUntil;
    std::unique_lock<std::mutex> guard(mutex_);
    for (;;) {
        wake_.wait(guard, [this] { return stopping_ || !queue_.empty(); });
        if (stopping_ && drainUntil == Clock::time_point())
            drainUntil = Clock::now() + std::chrono::milliseconds(kDrainMs);
        if (queue_.empty())
            break;
        Item item = std::move(queue_.front());
        queue_.pop_front();
        const bool late = stopping_ && Clock::now() > drainUntil;
        guard.unlock();
        const Outcome outcome = late ? Outcome::Gone : write(item);
        finished(item, outcome);
        guard.lock();
    }
}

KeyWriter::Outcome KeyWriter::write(const Item &item)
{
    const auto *bytes = reinterpret_cast<const uint8_t *>(item.frame.constData());
    const int size = item.frame.size();
    if (item.pacing == Pacing::Whole) {
        const Outcome outcome = transfer_(bytes, size, item.connection);
        // The key cannot tell the end of a transfer that fills its last packet.
        if (outcome == Outcome::Written && size % kPacketSize == 0) {
            const uint8_t filler = kFillerByte;
            transfer_(&filler, 1, item.connection);
        }
        return outcome;
    }
    for (int offset = 0; offset < size; offset += kPieceSize) {
        const int piece = std::min(kPieceSize, size - offset);
        const Outcome outcome = transfer_(bytes + offset, piece, item.connection);
        if (outcome != Outcome::Written)
            return outcome; // the rest of the frame is of no use to the key
        pauseAfterPiece();
    }
    return Outcome::Written;
}

void KeyWriter::pauseAfterPiece()
{
    using Clock = std::chrono::steady_clock;
    const Clock::time_point start = Clock::now();
    pause_.wait();
    const auto us = static_cast<uint64_t>(
            std::chrono::duration_cast<std::chrono::microseconds>(Clock::now() - start).count());
    std::lock_guard<std::mutex> guard(mutex_);
    ++stats_.pauses;
    stats_.pauseTotalUs += us;
    stats_.pauseMaxUs = std::max(stats_.pauseMaxUs, us);
}

void KeyWriter::release(const Item &item, bool &roomBack)
{
    queuedBytes_ -= item.frame.size();
    if (item.origin == Origin::Relay) {
        relayPackets_ -= item.packets;
        if (relayWanted_ && relayPackets_ <= kRelayPackets / 2) {
            relayWanted_ = false;
            roomBack = true;
        }
    }
}

void KeyWriter::announceRoom()
{
    std::lock_guard<std::mutex> guard(callbackMutex_);
    if (roomCallback_)
        roomCallback_();
}

void KeyWriter::finished(const Item &item, Outcome outcome)
{
    bool roomBack = false;
    {
        std::lock_guard<std::mutex> guard(mutex_);
        release(item, roomBack);
        switch (outcome) {
        case Outcome::Written:
            ++stats_.written;
            stats_.writtenBytes += static_cast<uint64_t>(item.frame.size());
            break;
        case Outcome::Failed:
            ++stats_.failed;
            break;
        case Outcome::Gone:
            ++stats_.discarded;
            break;
        }
        ++done_;
    }
    idle_.notify_all();
    if (outcome == Outcome::Failed)
        failures_.count([&item] {
            return QStringLiteral("write to the key failed: frame of %1 bytes given up")
                    .arg(item.frame.size());
        });
    if (roomBack)
        announceRoom();
}

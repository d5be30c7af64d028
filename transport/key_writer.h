#pragma once

#include "event_counter.h"
#include "piece_pause.h"

#include <QByteArray>

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>

// Owns every write to the key. Frames queued from any thread go out on the
// writer's own thread in the order they were queued, whole or in 63-byte
// pieces at least 1 ms apart (PiecePause), so no caller ever waits on the USB pipe.
//
// What a caller can observe: post() refuses a frame that does not fit the queue
// (it is dropped, counted and logged at most once a second); the fate of every
// queued frame is counted in stats(); flush() waits until everything queued so
// far is written or given up. A frame whose piece fails is given up whole; a
// frame queued for a key that has gone since is discarded unwritten.
class KeyWriter
{
public:
    enum class Pacing { Whole, Pieces };
    // Relay payload gets only a small share of the queue (see relayHasRoom), so
    // the program's own messages never wait behind more than a few dozen packets.
    enum class Origin { Program, Relay };
    enum class Outcome { Written, Failed, Gone };

    // One transfer on bulk OUT to the key of the given connection.
    using Transfer = std::function<Outcome(const uint8_t *bytes, int n, uint64_t connection)>;

    struct Stats
    {
        uint64_t queued = 0;
        uint64_t written = 0;
        uint64_t failed = 0; // a transfer failed: the rest of the frame was given up
        uint64_t discarded = 0; // its key was gone, or the writer stopped first
        uint64_t dropped = 0; // refused by post(): the queue was full
        uint64_t writtenBytes = 0; // of the frames written
        uint64_t pauses = 0; // pauses after paced pieces, as measured
        uint64_t pauseTotalUs = 0;
        uint64_t pauseMaxUs = 0;
    };

    static constexpr int kPieceSize = 63;
    static constexpr int kMaxFrames = 1024;
    static constexpr int kMaxBytes = 512 * 1024;
    // Relay share of the queue, in 63-byte packets: a paced key takes about
    // 50 ms for them, which bounds how long a reply waits behind relay data.
    static constexpr int kRelayPackets = 48;
    // How long the destructor keeps writing what is still queued.
    static constexpr int kDrainMs = 2000;

    explicit KeyWriter(Transfer transfer);
    ~KeyWriter(); // writes what is queued for at most kDrainMs, then joins
    KeyWriter(const KeyWriter &) = delete;
    KeyWriter &operator=(const KeyWriter &) = delete;

    // Queues one encoded frame. False when it does not fit: nothing is queued.
    bool post(QByteArray frame, Pacing pacing, Origin origin, uint64_t connection);

    // True while relay payload may be queued. When false, the room callback
    // runs once (on the writer's thread) after the relay share has half drained.
    bool relayHasRoom();
    void setRelayRoomCallback(std::function<void()> callback);

    // Waits until every frame queued before the call is written or given up.
    // False on time-out. Not for the GUI thread.
    bool flush(int timeoutMs);

    // Gives up every frame still queued (counted as discarded); a write in
    // flight goes on. For the end of the session, before its last message.
    void discardQueued();

    Stats stats() const;
    // How paced pieces are kept apart, for the diagnostics.
    QString pacingMethod() const { return pause_.method(); }

private:
    struct Item
    {
        QByteArray frame;
        Pacing pacing;
        Origin origin;
        uint64_t connection;
        int packets;
    };

    void run();
    Outcome write(const Item &item);
    void pauseAfterPiece();
    void finished(const Item &item, Outcome outcome);
    // Takes a frame off the queue's counts; roomBack when the relay may queue again.
    void release(const Item &item, bool &roomBack);
    void announceRoom();

    Transfer transfer_;
    mutable std::mutex mutex_;
    std::condition_variable wake_; // work queued, or stop
    std::condition_variable idle_; // queue drained
    std::deque<Item> queue_;
    int queuedBytes_ = 0;
    int relayPackets_ = 0;
    bool relayWanted_ = false;
    bool stopping_ = false;
    uint64_t posted_ = 0; // frames queued so far
    uint64_t done_ = 0; // of them written or given up
    Stats stats_;
    std::mutex callbackMutex_;
    std::function<void()> roomCallback_;
    EventCounter drops_;
    EventCounter failures_;
    PiecePause pause_; // the writer's thread alone waits on it
    std::thread thread_; // last: starts after everything above exists
};

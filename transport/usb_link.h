#pragma once

#include "frame_assembler.h"
#include "key_writer.h"
#include "usb_device.h"

#include <QByteArray>
#include <QMutex>
#include <QString>
#include <QThread>
#include <QWaitCondition>

#include <atomic>
#include <functional>
#include <memory>

// Keeps the program attached to the key: searches once a second, then reads
// back to back and emits every good payload. Writes go through a writer of
// the link's own (KeyWriter), so no caller waits on the USB pipe.
class usbLink : public QThread
{
    Q_OBJECT
public:
    // Results of send(), framedSend() and queueFrame(). The frame's own fate
    // (written, failed, discarded) is counted in writer().stats().
    enum SendResult { NotAttached = -1, Failed = 0, Queued = 1 };

    // Sees every good payload on the link thread before it is emitted; returns
    // true when it took the payload, which is then not emitted.
    using PayloadTap = std::function<bool(const QByteArray &payload)>;

    explicit usbLink(std::unique_ptr<UsbDevice> device, QObject *parent = nullptr);
    ~usbLink() override; // stops and joins the thread, then the writer

    // The single instance; the first call creates it on the platform's device.
    static usbLink *get();
    // Makes the single instance on another device (demo, tests of the wiring).
    // Returns the existing one unchanged when there already is one.
    static usbLink *createInstance(std::unique_ptr<UsbDevice> device);
    // Stops and deletes the single instance (program exit).
    static void destroyInstance();

    bool isConnected() const { return connected_.load() == 1; }

    // Node of a key that could not be opened for lack of permission, or empty.
    QString permissionProblemNode() const;
    // The same problem with the device layer's words for it; empty with the node.
    // Both answer at once, also while a search is running.
    UsbAccessProblem accessProblem() const;

    // Ends the thread cleanly within budgetMs in all: unblocks a pending read
    // and joins, then waits until what was queued for the key is written; a
    // write still under way when the time is up is aborted and the rest given
    // up. Sends keep working until the object is destroyed (a key that takes
    // no data fails them at once after an abort).
    void stop(int budgetMs = kStopBudgetMs);
    static constexpr int kStopBudgetMs = 2000;

    // The link's own figures since start, for the diagnostics.
    struct Figures
    {
        uint64_t framesIn = 0; // good frames from the key
        uint64_t bytesIn = 0; // every byte read
        uint64_t framesOut = 0; // frames written whole
        uint64_t bytesOut = 0; // their bytes
        uint64_t failedTransfers = 0; // writes to the key that failed
        uint64_t pipeResets = 0; // halted or failed pipes reset
        uint64_t reconnects = 0; // attachments after the first
        uint64_t lostOnWrites = 0; // of them: the key was given up because writes kept failing
        uint64_t pauses = 0; // pauses after paced pieces
        uint64_t pauseMeanUs = 0;
        uint64_t pauseMaxUs = 0;
        QString pacing; // how paced pieces are kept apart
    };
    Figures figures() const;

    // Failed writes in a row after which the key is treated as lost and
    // searched for again, although reads still work.
    static constexpr int kFailedWritesBeforeLost = 3;

    // Runs the next search for the key at once instead of at the end of the
    // interval (a key was just plugged in). Thread-safe.
    void wakeSearch();
    // Pause between two searches while no key is attached; set before start().
    void setSearchInterval(int ms) { searchIntervalMs_ = ms; }

    void setPayloadTap(PayloadTap tap);

    // Frames the payload and queues it. NotAttached when no key is open (nothing
    // queued), Failed when it cannot be framed or the queue is full, else Queued.
    int queueFrame(const uint8_t *buff, int len, KeyWriter::Pacing pacing,
                   KeyWriter::Origin origin = KeyWriter::Origin::Program);
    KeyWriter &writer() { return *writer_; }

    // Longest payload the link frames.
    static constexpr int kMaxPayload = 1025;

public slots:
    // Queues the framed payload as one transfer; a frame whose length is a
    // multiple of 64 is followed by a one-byte transfer 0x30.
    int send(const uint8_t *buff, int len);
    // Queues the framed payload as 63-byte pieces, at least 1 ms apart.
    int framedSend(const uint8_t *buff, int len);

signals:
    void received(QByteArray payload);
    void usbConnected(bool stat);
    // Emitted once per device node that could not be opened for lack of permission,
    // and again when the device layer's account of it changes.
    void permissionProblem(QString deviceNode);

protected:
    void run() override;

private:
    bool tryAttach();
    void sleepSearchInterval();
    void deliver(const QByteArray &payload);
    KeyWriter::Outcome transfer(const uint8_t *bytes, int n, uint64_t connection);

    void writeFailed();

    std::unique_ptr<UsbDevice> device_;
    // Figures; failedInRow_ is the writer's alone.
    std::atomic<uint64_t> framesIn_ {0};
    std::atomic<uint64_t> bytesIn_ {0};
    std::atomic<uint64_t> failedTransfers_ {0};
    std::atomic<uint64_t> attachments_ {0};
    std::atomic<uint64_t> lostOnWrites_ {0};
    int failedInRow_ = 0;
    uint64_t lastConnection_ = 0;
    FrameAssembler assembler_;
    std::atomic<int> connected_ {0};
    std::atomic<uint64_t> connection_ {0}; // counts attachments; a write names the one it is for
    QMutex lock_; // serialises writes against the replacement of the record
    QMutex sleepMutex_;
    QWaitCondition sleepWake_;
    bool searchWoken_ = false; // guarded by sleepMutex_
    int searchIntervalMs_ = 1000;
    std::atomic<bool> stopping_ {false};
    UsbAccessProblem reportedProblem_;
    mutable QMutex permissionMutex_;
    QString permissionNode_; // guarded by permissionMutex_
    UsbAccessProblem accessProblem_; // guarded by permissionMutex_
    QMutex tapMutex_; // held while the tap runs, so clearing it waits for a running call
    PayloadTap tap_;
    std::unique_ptr<KeyWriter> writer_; // last: its thread uses the members above
};

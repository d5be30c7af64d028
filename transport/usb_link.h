#pragma once

#include <functional>

#include "frame_assembler.h"
#include "usb_device.h"

#include <QByteArray>
#include <QMutex>
#include <QString>
#include <QThread>
#include <QWaitCondition>

#include <atomic>
#include <memory>

// Keeps the program attached to the key: searches once a second, then reads
// back to back and emits every good payload. Sends come from the GUI thread.
class usbLink : public QThread
{
    Q_OBJECT
public:
    // Results of send() and framedSend().
    enum SendResult { NotAttached = -1, Failed = 0, Written = 1 };

    explicit usbLink(std::unique_ptr<UsbDevice> device, QObject *parent = nullptr);
    ~usbLink() override; // stops and joins the thread

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
    UsbAccessProblem accessProblem() const;

    // Ends the thread cleanly: unblocks a pending read and joins (bounded).
    // Sends keep working until the object is destroyed.
    void stop();

    // Runs the next search for the key at once instead of at the end of the
    // interval (a key was just plugged in). Thread-safe.
    void wakeSearch();
    // Pause between two searches while no key is attached; set before start().
    void setSearchInterval(int ms) { searchIntervalMs_ = ms; }

    // Longest payload the link frames.
    static constexpr int kMaxPayload = 1025;

public slots:
    // Frames the payload and writes it in one transfer; a frame whose length is
    // a multiple of 64 is followed by a one-byte transfer 0x30.
    int send(const uint8_t *buff, int len);
    // Frames the payload and writes it in 63-byte pieces, 1 ms apart.
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
    int frameInto(const uint8_t *buff, int len, QByteArray &frame) const;
    // Frames the payload under the lock and hands it to write; -1/0/1 as send.
    int writeFrame(const uint8_t *buff, int len,
                   const std::function<bool(const uint8_t *, int)> &write);

    std::unique_ptr<UsbDevice> device_;
    FrameAssembler assembler_;
    std::atomic<int> connected_ {0};
    mutable QMutex lock_; // serialises sends against the replacement of the record
    QMutex sleepMutex_;
    QWaitCondition sleepWake_;
    bool searchWoken_ = false; // guarded by sleepMutex_
    int searchIntervalMs_ = 1000;
    std::atomic<bool> stopping_ {false};
    UsbAccessProblem reportedProblem_;
    QString permissionNode_; // guarded by lock_
    UsbAccessProblem accessProblem_; // guarded by lock_
};

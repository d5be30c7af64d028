#pragma once

#include "usb_device.h"

#include <QByteArray>
#include <QList>
#include <QString>

#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>

// Scriptable in-process stand-in for the key, for tests of the link. Every
// method is thread-safe; the link thread reads while the test scripts.
class FakeUsbDevice : public UsbDevice
{
public:
    // Shared with the test so the script outlives the link that owns the device.
    struct Script;

    FakeUsbDevice();
    explicit FakeUsbDevice(std::shared_ptr<Script> script);
    ~FakeUsbDevice() override;

    std::shared_ptr<Script> script() const { return script_; }

    bool reconnect() override;
    int readPipe(uint8_t *buf, int capacity) override;
    int writePipe(const uint8_t *bytes, int n) override;
    const UsbDeviceRecord &current() const override;
    void cancelRead() override;
    QString permissionProblem() const override;

private:
    // Takes the write into the script (waiting out a stall); false when it fails.
    bool acceptWrite(std::unique_lock<std::mutex> &guard, const uint8_t *bytes, int n);

    std::shared_ptr<Script> script_;
    UsbDeviceRecord record_;
};

struct FakeUsbDevice::Script
{
    // One read returning these bytes (a read larger than the caller's capacity is
    // returned over several reads).
    void feed(const QByteArray &bytes);
    // The next read fails (-1) without unplugging.
    void failRead();
    // The key goes away: a pending and every later read fails, reconnect fails.
    void unplug();
    // The key is back: the next reconnect succeeds.
    void replug();
    // Reconnect fails while set, even with the key present.
    void setReconnectFails(bool fails);
    // Reconnect fails and reports this node as not openable for lack of permission.
    void setPermissionDenied(const QString &node);
    // Each reconnect takes this long (a slow search over many devices).
    void setReconnectDelay(int ms);
    // While set, a reconnect that starts waits until it is cleared.
    void holdReconnects(bool hold);
    // Writes fail (-1) while set.
    void setWritesFail(bool fail);
    // The next count writes fail (-1); later ones go through.
    void failNextWrites(int count);
    // While set, the OUT pipe takes nothing: a write waits until it is cleared
    // (then goes through) or for timeoutMs (then fails), like a key that NAKs.
    void setWriteStall(bool stall, int timeoutMs = 2000);

    // Every write so far, one entry per transfer.
    QList<QByteArray> writes() const;
    // The writes from index on.
    QList<QByteArray> writesFrom(int index) const;
    int writeCount() const;
    // Waits until at least count writes were made; false on time-out.
    bool waitForWrites(int count, int timeoutMs) const;
    int reconnectCount() const;
    // Waits until a read is blocked waiting for data; false on time-out.
    bool waitForPendingRead(int timeoutMs) const;

private:
    friend class FakeUsbDevice;
    struct ReadItem
    {
        QByteArray bytes;
        bool fail = false;
    };
    mutable std::mutex mutex;
    // One wake-up per direction, so a write does not wake the reader and a
    // fed read does not wake whoever waits for writes.
    mutable std::condition_variable toReader; // reads fed, unplug, cancel
    mutable std::condition_variable toHost; // reads pending, reconnects
    mutable std::condition_variable wrote; // writes
    mutable std::condition_variable stallEnded;
    mutable std::condition_variable reconnectReleased;
    std::deque<ReadItem> reads;
    QList<QByteArray> written;
    QString permissionNode;
    bool present = true;
    bool reconnectFails = false;
    bool reconnectHeld = false;
    bool writesFail = false;
    int writesToFail = 0;
    bool writeStall = false;
    int stallTimeoutMs = 2000;
    bool cancelled = false;
    bool opened = false;
    int reconnects = 0;
    int reconnectDelayMs = 0;
    int readersWaiting = 0;
    int generation = 0; // bumped by unplug so a pending read notices
};

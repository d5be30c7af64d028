#pragma once

#include "usb_device.h"
#include "winusb_calls.h"

#include <QString>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <string>

// The key over SetupAPI and WinUSB: the first present device interface of the
// key's class, its data interface's bulk pipes used as they are.
class WinUsbDevice : public UsbDevice
{
public:
    explicit WinUsbDevice(std::unique_ptr<winusb::Calls> calls);
    ~WinUsbDevice() override;
    WinUsbDevice(const WinUsbDevice &) = delete;
    WinUsbDevice &operator=(const WinUsbDevice &) = delete;

    bool reconnect() override;
    int readPipe(uint8_t *buf, int capacity) override;
    int writePipe(const uint8_t *bytes, int n) override;
    const UsbDeviceRecord &current() const override { return record_; }
    void cancelRead() override;
    bool resetWritePipe() override;
    void interruptRead() override;
    void abortWrites() override;
    uint64_t pipeResets() const override { return resets_.load(); }
    QString permissionProblem() const override { return accessProblem_.node; }
    UsbAccessProblem accessProblem() const override { return accessProblem_; }
    void watchArrivals(std::function<void()> onArrival) override;

    // Time limit of one write; a key that stops taking data must not hang the caller.
    static constexpr uint32_t kWriteTimeoutMs = 2000;
    // Longest device path kept, in UTF-16 units without the terminator.
    static constexpr int kMaxPathLength = 255;
    // After Windows asked to remove the key, it is not opened again until a
    // key arrives or this much time has passed (the removal was called off).
    static constexpr int kRemovalHoldOffMs = 10000;
    // How long a removal request waits for the link to close the key.
    static constexpr int kRemovalCloseWaitMs = 3000;

private:
    bool findDevice();
    bool openDevice();
    void takeInterface(winusb::Handle handle, bool first);
    void closeCurrent();
    // On the watch's thread: closes the key through the link, bounded.
    void removalRequested();
    bool removalHeldOff();

    std::unique_ptr<winusb::Calls> calls_;
    UsbDeviceRecord record_;
    std::u16string path_;
    winusb::Handle file_ = nullptr;
    winusb::Handle interface_ = nullptr; // first interface, from WinUsb_Initialize
    winusb::Handle auxInterface_ = nullptr; // associated, at most one endpoint
    winusb::Handle dataInterface_ = nullptr; // more than one endpoint; all I/O uses it
    UsbAccessProblem accessProblem_;

    std::mutex readMutex_;
    bool readPending_ = false; // guarded by readMutex_
    bool readInterrupted_ = false; // guarded by readMutex_
    std::atomic<bool> cancelled_ {false};
    std::atomic<bool> writesAborted_ {false};
    std::atomic<uint64_t> resets_ {0};

    std::mutex removalMutex_;
    std::condition_variable removalClosed_;
    bool fileOpen_ = false; // guarded by removalMutex_
    std::chrono::steady_clock::time_point holdOffUntil_; // guarded by removalMutex_
};

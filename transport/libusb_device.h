#pragma once

#include "udev_access.h"
#include "usb_device.h"

#include <QHash>
#include <QString>
#include <QStringList>

#include <atomic>
#include <mutex>

struct libusb_context;
struct libusb_device;
struct libusb_device_handle;
struct libusb_transfer;

// The key over libusb-1.0: found by the interface GUID in its Microsoft OS
// descriptors, data interface claimed, bulk pipes used as they are.
class LibusbDevice : public UsbDevice
{
public:
    // ruleDirs: where the key's udev rule is looked for when a key cannot be opened.
    explicit LibusbDevice(QStringList ruleDirs = udevRuleDirs());
    ~LibusbDevice() override;
    LibusbDevice(const LibusbDevice &) = delete;
    LibusbDevice &operator=(const LibusbDevice &) = delete;

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

    // Time limit of one write; a key that stops taking data must not hang the caller.
    static constexpr unsigned kWriteTimeoutMs = 2000;

private:
    void closeCurrent();
    bool openKey(libusb_device *device);
    bool setUpPipes();
    bool isKey(libusb_device *device, libusb_device_handle *handle);
    static QString deviceNode(libusb_device *device);
    static QString deviceIdentity(libusb_device *device);

    libusb_context *ctx_ = nullptr;
    libusb_device_handle *handle_ = nullptr;
    UsbDeviceRecord record_;
    QHash<QString, bool> verdicts_; // by bus, port path and address
    QStringList ruleDirs_;
    UsbAccessProblem accessProblem_;

    std::mutex readMutex_;
    libusb_transfer *readTransfer_ = nullptr; // guarded by readMutex_
    bool readInterrupted_ = false; // guarded by readMutex_
    std::atomic<bool> cancelled_ {false};

    // Ends a transfer that is under way, waiting for events; returns its status.
    int awaitTransfer(libusb_transfer *transfer, int &completed);

    std::mutex writeMutex_;
    libusb_transfer *writeTransfer_ = nullptr; // guarded by writeMutex_
    bool writesAborted_ = false; // guarded by writeMutex_
    std::atomic<uint64_t> resets_ {0};
};

#pragma once

#include <QByteArray>
#include <QList>
#include <QProcessEnvironment>
#include <QString>
#include <QVector>

#include <cstdint>
#include <memory>

typedef struct _UMockdevTestbed UMockdevTestbed;

// Emulated keys for libusb, at the usbfs level: a fake sysfs and /dev tree that
// code running under the umockdev preload sees instead of the real machine.
//
// Use in a test: call EmulatedBus::ensurePreloaded(argc, argv) first thing in
// main() (it re-executes the program under the preload when needed), create one
// EmulatedBus, then EmulatedKey objects on it, then the code under test.
//
// Use as a launcher: the same, then start the program with
// bus.childEnvironment() (QProcess::setProcessEnvironment); the child sees the
// keys of this process, including unplug and replug.

// The fake device tree; one per process.
class EmulatedBus
{
public:
    EmulatedBus();
    ~EmulatedBus();
    EmulatedBus(const EmulatedBus &) = delete;
    EmulatedBus &operator=(const EmulatedBus &) = delete;

    // True when this process runs under the preload library.
    static bool preloaded();
    // Re-executes the program under the preload (adding what the sanitizer
    // runtime needs to accept it) unless it already runs under it. Returns only
    // when already preloaded (true) or when the re-exec failed (false).
    static bool ensurePreloaded(int argc, char **argv);

    // Environment for a child process that should see this bus.
    QProcessEnvironment childEnvironment() const;
    QString rootDir() const;

    UMockdevTestbed *testbed() const { return testbed_; }

private:
    UMockdevTestbed *testbed_ = nullptr;
};

// How the emulated device identifies itself.
struct EmulatedKeyConfig
{
    enum Identity {
        MsOs20, // bcdUSB 0x0210, BOS platform capability and MS OS 2.0 set
        MsOs10Only, // bcdUSB 0x0200, 0xEE string and extended properties
        NoMsOs, // bcdUSB 0x0200, no Microsoft descriptors at all
    };
    Identity identity = MsOs20;
    QString guid = QStringLiteral("{42CA71EC-CE1C-44c2-82DE-87D8D8FF6C1E}");
    bool multiString = false; // DeviceInterfaceGUIDs instead of DeviceInterfaceGUID
    int busnum = 1;
    int devnum = 2;
    uint16_t vendorId = 0x1d6b;
    uint16_t productId = 0x7a01;
    // Delay of repeated empty reaps in ms (0: answer at once; burns a core
    // while a read is pending, fine for short tests).
    int idleReapDelayMs = 2;
};

// One emulated key: vendor-specific interface 0 with bulk IN 0x81, bulk OUT 0x01
// and interrupt IN 0x82, plus an auxiliary interface 1 with one endpoint.
// Thread-safe: the usbfs side runs on the bus's worker thread.
class EmulatedKey
{
public:
    EmulatedKey(EmulatedBus &bus, const EmulatedKeyConfig &config = {});
    ~EmulatedKey(); // unplugs

    QString deviceNode() const; // /dev/bus/usb/BBB/DDD
    QString sysPath() const;

    bool plugged() const;
    // Adds the device to the tree (the constructor does not).
    bool plug();
    // Removes it: pending transfers fail as on a real unplug.
    void unplug();

    // One transfer from the key to the host (split into 64-byte packets; a
    // zero-length packet ends a transfer whose length is a multiple of 64).
    void queueFromKey(const QByteArray &bytes);

    // Bytes the host wrote on bulk OUT, one entry per transfer, and all of them.
    QList<QByteArray> receivedTransfers() const;
    QByteArray receivedBytes() const;
    // Waits until the host wrote at least n bytes in total; false on time-out.
    bool waitForReceivedBytes(int n, int timeoutMs) const;
    // Takes the next good frame's payload from the bytes the host wrote,
    // waiting up to timeoutMs; false on time-out.
    bool takeFrame(QByteArray &payload, int timeoutMs);

    // True while the host has a bulk IN transfer waiting for data.
    bool readPending() const;
    bool waitForReadPending(int timeoutMs) const;

    // Halts bulk IN: pending and new IN transfers stall until the host clears
    // the halt (as a real endpoint does), or until called with false.
    void setStallIn(bool stall);
    // Every new transfer and control request fails with an I/O error.
    void setFailing(bool fail);

    // Every transfer the host writes is sent straight back (round trip checks).
    void setEcho(bool echo);

    // Usbfs requests answered so far (for the cost checks of the benchmark).
    quint64 requestCount() const;

    struct Impl;

private:
    std::unique_ptr<Impl> d;
};

#pragma once

#include <QString>

#include <cstdint>
#include <functional>

// A key that was found but cannot be opened, told in the platform's own words.
struct UsbAccessProblem
{
    QString node; // the key's device node or path; empty: no problem
    QString hint; // one short line for the operator
    QString detail; // the log line: the node, the cause and what helps

    bool isEmpty() const { return node.isEmpty(); }
    bool operator==(const UsbAccessProblem &o) const
    {
        return node == o.node && hint == o.hint && detail == o.detail;
    }
    bool operator!=(const UsbAccessProblem &o) const { return !(*this == o); }
};

// Name and version of the USB stack the key is reached through, e.g. "libusb 1.0.26".
// Each device layer defines it.
QString usbStackDescription();

// What the link knows about the key it currently talks to. Replaced as a whole
// by every reconnection attempt.
struct UsbDeviceRecord
{
    bool opened = false;
    QString devicePath; // e.g. /dev/bus/usb/001/002, or a device interface path on Windows
    int dataInterface = -1; // interface with more than one endpoint; all I/O uses it
    int auxInterface = -1; // interface with at most one endpoint
    uint8_t bulkIn = 0;
    uint8_t bulkOut = 0;
    uint8_t interruptPipe = 0; // recorded, not used
};

// Access to the key's bulk pipes. A read (link thread) and a write (GUI
// thread) may run at the same time; reconnect() is never called while either
// is in progress (the link serialises it against writes).
class UsbDevice
{
public:
    virtual ~UsbDevice() = default;

    // Drops the current record and everything it holds open, then finds and
    // opens the key. True when it is ready for pipe I/O.
    virtual bool reconnect() = 0;

    // One read of up to capacity bytes from bulk IN. Blocks until the key sends
    // a transfer or the device fails. Bytes received, or -1 on failure
    // (unplugged key, or after cancelRead()).
    virtual int readPipe(uint8_t *buf, int capacity) = 0;

    // One transfer of n bytes on bulk OUT. Bytes written, or -1 on failure.
    virtual int writePipe(const uint8_t *bytes, int n) = 0;

    virtual const UsbDeviceRecord &current() const = 0;

    // Ends a pending read and makes every later read fail at once. For the
    // final stop only: it cannot be undone. Thread-safe.
    virtual void cancelRead() = 0;

    // After a failed write: clears a halt on bulk OUT and resynchronises the
    // pipe, so the next write can go through. True when the reset was done.
    // Called where writes are (never during reconnect()).
    virtual bool resetWritePipe() { return false; }

    // Makes the pending read, or the next one when none is pending, fail (-1);
    // later reads work again. The link then treats the key as lost. Thread-safe.
    virtual void interruptRead() { }

    // Ends a write in flight and makes every later write fail at once. For the
    // final stop only, when its time is up. Thread-safe, but not during reconnect().
    virtual void abortWrites() { }

    // Pipe resets done so far (a halted IN pipe cleared by a read, OUT by resetWritePipe()).
    virtual uint64_t pipeResets() const { return 0; }

    // Device node of a key that was found but could not be opened for lack
    // of permission during the latest reconnect(); empty otherwise.
    virtual QString permissionProblem() const { return {}; }

    // The same problem with its cause and what helps. A device layer words it
    // for its platform; this default only names the node.
    virtual UsbAccessProblem accessProblem() const
    {
        const QString node = permissionProblem();
        if (node.isEmpty())
            return {};
        return {node, QStringLiteral("No access to the key"),
                QStringLiteral("The key at %1 cannot be opened: no permission.").arg(node)};
    }

    // Calls onArrival, from any thread, when a key may just have been plugged
    // in, so the search need not wait for its next round. An empty function
    // ends the watch; it has ended when the call returns. Thread-safe.
    virtual void watchArrivals(std::function<void()> onArrival) { (void)onArrival; }
};

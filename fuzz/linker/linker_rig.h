#pragma once

// The linker on a key double for the fuzz targets: an always attached device that
// records every write, a prompt that records every message, a relay link whose every
// host name is loopback, and the packing workflow replaced by a record of the scans.
// Only the linker's public entry points are used.

#include "frame_assembler.h"
#include "fuzz_support.h"
#include "kmsg.h"
#include "linker.h"
#include "operator_prompt.h"
#include "server_link.h"
#include "usb_device.h"
#include "usb_link.h"

#include <QDeadlineTimer>
#include <QStringList>

#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <utility>

class RecordingDevice : public UsbDevice
{
public:
    bool reconnect() override
    {
        record.opened = true;
        return true;
    }
    // Nothing comes from the key this way: the targets hand messages to the linker.
    int readPipe(uint8_t *, int) override
    {
        std::unique_lock<std::mutex> lock(mutex);
        wake.wait(lock, [this] { return cancelled; });
        return -1;
    }
    int writePipe(const uint8_t *bytes, int n) override
    {
        {
            std::lock_guard<std::mutex> lock(mutex);
            written.append(reinterpret_cast<const char *>(bytes), n);
        }
        wrote.notify_all();
        return n;
    }
    const UsbDeviceRecord &current() const override { return record; }
    void cancelRead() override
    {
        {
            std::lock_guard<std::mutex> lock(mutex);
            cancelled = true;
        }
        wake.notify_all();
    }
    // What was written since the last call; waits up to waitMs for a first byte.
    QByteArray takeWritten(int waitMs)
    {
        std::unique_lock<std::mutex> lock(mutex);
        wrote.wait_for(lock, std::chrono::milliseconds(waitMs),
                       [this] { return !written.isEmpty(); });
        QByteArray taken;
        taken.swap(written);
        return taken;
    }

private:
    std::mutex mutex;
    std::condition_variable wake; // cancelRead
    std::condition_variable wrote;
    QByteArray written;
    bool cancelled = false;
    UsbDeviceRecord record;
};

class RecordingPrompt : public OperatorPrompt
{
public:
    void message(Kind, const QString &title, const QString &text) override
    {
        shown << title + QLatin1Char('|') + text;
    }
    QStringList shown;
};

class ScanRecordingLinker : public cLinker
{
public:
    using cLinker::cLinker;
    QStringList scans;

protected:
    void startWorkflow() override { scans << scannedTag(); }
};

struct LinkerRig
{
    LinkerRig()
        : relay(nullptr,
                [](const QString &) { return QList<QHostAddress> {QHostAddress::LocalHost}; })
    {
        auto owned = std::make_unique<RecordingDevice>();
        device = owned.get();
        link = std::make_unique<usbLink>(std::move(owned));
        linker = std::make_unique<ScanRecordingLinker>(link.get());
        linker->setPrompt(&prompt);
    }
    ~LinkerRig()
    {
        linker.reset();
        link.reset();
    }

    // The link has attached and the linker's connect request went out. Sleeps on the
    // device between turns of the event loop instead of spinning, so the link's
    // threads get the processor.
    bool attached()
    {
        QDeadlineTimer deadline(3000);
        do {
            QCoreApplication::processEvents();
            if (collect(1) > 0)
                return true;
        } while (!deadline.hasExpired());
        return false;
    }

    // Payloads of the good frames written so far (or since the last take), filler
    // bytes included.
    const QVector<QByteArray> &sentPayloads()
    {
        collect(0);
        return sent;
    }

    // The payloads of sentPayloads(), which starts over empty; waits up to waitMs
    // for a write when there is nothing new.
    QVector<QByteArray> takeSentPayloads(int waitMs)
    {
        collect(waitMs);
        return std::exchange(sent, {});
    }

    void fromKey(const QByteArray &payload) { linker->receiveUSB(payload); }

    // Created first, so the linker relays through it instead of making its own.
    srvLink relay;
    RecordingPrompt prompt;
    RecordingDevice *device = nullptr;
    std::unique_ptr<usbLink> link;
    std::unique_ptr<ScanRecordingLinker> linker;

private:
    // Frames what the device got since the last call; the number of new payloads.
    // Bytes after the last flag wait for the rest of their frame: the assembler
    // treats what it is fed as one read, and would take a frame cut short at the
    // end of a read that happens to check.
    int collect(int waitMs)
    {
        pending += device->takeWritten(waitMs);
        const int end = pending.lastIndexOf(char(0x7E)) + 1;
        if (end == 0)
            return 0;
        const QVector<QByteArray> payloads
                = assembler.feed(reinterpret_cast<const uint8_t *>(pending.constData()), end);
        pending.remove(0, end);
        sent += payloads;
        return payloads.size();
    }

    FrameAssembler assembler;
    QByteArray pending; // written after the last flag
    QVector<QByteArray> sent;
};

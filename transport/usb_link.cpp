#include "usb_link.h"

#include <functional>

#include "frame_codec.h"
#include "system_usb_device.h"
#include "usb_log.h"

#include <QMutexLocker>

Q_LOGGING_CATEGORY(lcUsbLink, "usb_link")

namespace {
constexpr int kReadBufferSize = 1024;
constexpr int kPieceSize = 63;
constexpr uint8_t kFillerByte = 0x30;
constexpr unsigned long kJoinTimeoutMs = 2000;

usbLink *g_instance = nullptr;
QMutex g_instanceMutex;
} // namespace

usbLink::usbLink(std::unique_ptr<UsbDevice> device, QObject *parent)
    : QThread(parent)
    , device_(std::move(device))
{
}

usbLink::~usbLink()
{
    stop();
}

usbLink *usbLink::get()
{
    QMutexLocker guard(&g_instanceMutex);
    if (!g_instance)
        g_instance = new usbLink(makeSystemUsbDevice());
    return g_instance;
}

usbLink *usbLink::createInstance(std::unique_ptr<UsbDevice> device)
{
    QMutexLocker guard(&g_instanceMutex);
    if (!g_instance)
        g_instance = new usbLink(std::move(device));
    return g_instance;
}

void usbLink::destroyInstance()
{
    usbLink *instance = nullptr;
    {
        QMutexLocker guard(&g_instanceMutex);
        instance = g_instance;
        g_instance = nullptr;
    }
    delete instance;
}

QString usbLink::permissionProblemNode() const
{
    QMutexLocker guard(&lock_);
    return permissionNode_;
}

UsbAccessProblem usbLink::accessProblem() const
{
    QMutexLocker guard(&lock_);
    return accessProblem_;
}

void usbLink::stop()
{
    stopping_.store(true);
    requestInterruption();
    {
        QMutexLocker guard(&sleepMutex_);
        sleepWake_.wakeAll();
    }
    if (device_)
        device_->cancelRead();
    if (isRunning() && !wait(kJoinTimeoutMs))
        qCWarning(lcUsbLink) << Q_FUNC_INFO << "link thread did not stop in time";
    // A thread that never stops would crash the program at exit; wait it out.
    if (isRunning())
        wait();
    // After the join, so the thread cannot start the watch again.
    if (device_)
        device_->watchArrivals({});
}

void usbLink::wakeSearch()
{
    QMutexLocker guard(&sleepMutex_);
    searchWoken_ = true;
    sleepWake_.wakeAll();
}

void usbLink::sleepSearchInterval()
{
    QMutexLocker guard(&sleepMutex_);
    if (!stopping_.load() && !searchWoken_)
        sleepWake_.wait(&sleepMutex_, static_cast<unsigned long>(searchIntervalMs_));
    searchWoken_ = false;
}

bool usbLink::tryAttach()
{
    UsbAccessProblem problem;
    bool opened = false;
    {
        QMutexLocker guard(&lock_);
        opened = device_->reconnect();
        if (!opened)
            problem = device_->accessProblem();
        permissionNode_ = problem.node;
        accessProblem_ = problem;
        if (opened)
            connected_.store(1);
    }
    if (!problem.isEmpty() && problem != reportedProblem_) {
        reportedProblem_ = problem;
        qCWarning(lcUsbLink).noquote() << Q_FUNC_INFO << problem.detail;
        emit permissionProblem(problem.node);
    }
    if (opened) {
        reportedProblem_ = UsbAccessProblem();
        assembler_.reset();
        qCDebug(lcUsbLink).noquote() << Q_FUNC_INFO << "Device found";
        emit usbConnected(true);
    }
    return opened;
}

void usbLink::run()
{
    uint8_t readBuffer[kReadBufferSize];
    device_->watchArrivals([this] { wakeSearch(); });
    while (!isInterruptionRequested()) {
        if (connected_.load() == 0) {
            tryAttach();
            sleepSearchInterval();
            continue;
        }
        const int count = device_->readPipe(readBuffer, kReadBufferSize);
        if (isInterruptionRequested())
            break;
        if (count > 0) {
            for (const QByteArray &payload : assembler_.feed(readBuffer, count))
                emit received(payload);
        } else if (count < 0) {
            {
                QMutexLocker guard(&lock_);
                connected_.store(0);
            }
            assembler_.reset();
            emit usbConnected(false);
            qCDebug(lcUsbLink).noquote() << Q_FUNC_INFO << "Device disconnected";
            // Straight back to the search: the first attempt comes at once.
        }
    }
}

int usbLink::frameInto(const uint8_t *buff, int len, QByteArray &frame) const
{
    if (len < 0 || len > kMaxPayload || (len > 0 && !buff))
        return -1;
    frame.resize(frameEncodeCapacity(len));
    int frameLength = 0;
    frameEncode(buff, len, reinterpret_cast<uint8_t *>(frame.data()), frameLength);
    frame.resize(frameLength);
    return frameLength;
}

int usbLink::writeFrame(const uint8_t *buff, int len,
                        const std::function<bool(const uint8_t *, int)> &write)
{
    // Without a key, answer at once instead of waiting out a search that holds the lock.
    if (connected_.load() != 1)
        return NotAttached;
    QMutexLocker guard(&lock_);
    if (connected_.load() != 1)
        return NotAttached;
    QByteArray frame;
    if (frameInto(buff, len, frame) < 0)
        return Failed;
    return write(reinterpret_cast<const uint8_t *>(frame.constData()), frame.size()) ? Written
                                                                                     : Failed;
}

int usbLink::send(const uint8_t *buff, int len)
{
    return writeFrame(buff, len, [this](const uint8_t *bytes, int size) {
        if (device_->writePipe(bytes, size) != size)
            return false;
        // The key cannot tell the end of a transfer that fills its last packet.
        if (size % 64 == 0) {
            const uint8_t filler = kFillerByte;
            device_->writePipe(&filler, 1);
        }
        return true;
    });
}

int usbLink::framedSend(const uint8_t *buff, int len)
{
    return writeFrame(buff, len, [this](const uint8_t *bytes, int size) {
        bool allWritten = true;
        for (int offset = 0; offset < size; offset += kPieceSize) {
            const int piece = std::min(kPieceSize, size - offset);
            if (device_->writePipe(bytes + offset, piece) != piece)
                allWritten = false;
            QThread::msleep(1);
        }
        return allWritten;
    });
}

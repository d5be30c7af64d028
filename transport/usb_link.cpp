#include "usb_link.h"

#include "frame_codec.h"
#include "system_usb_device.h"
#include "usb_log.h"

#include <QMutexLocker>

Q_LOGGING_CATEGORY(lcUsbLink, "usb_link")

namespace {
constexpr int kReadBufferSize = 1024;
constexpr unsigned long kJoinTimeoutMs = 2000;

usbLink *g_instance = nullptr;
QMutex g_instanceMutex;
} // namespace

usbLink::usbLink(std::unique_ptr<UsbDevice> device, QObject *parent)
    : QThread(parent)
    , device_(std::move(device))
    , writer_(std::make_unique<KeyWriter>([this](const uint8_t *bytes, int n, uint64_t connection) {
        return transfer(bytes, n, connection);
    }))
{
}

usbLink::~usbLink()
{
    stop();
    writer_.reset(); // what is still queued goes out first (bounded)
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
    QMutexLocker guard(&permissionMutex_);
    return permissionNode_;
}

UsbAccessProblem usbLink::accessProblem() const
{
    QMutexLocker guard(&permissionMutex_);
    return accessProblem_;
}

void usbLink::setPayloadTap(PayloadTap tap)
{
    QMutexLocker guard(&tapMutex_);
    tap_ = std::move(tap);
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
    // The last messages (the linker's goodbye) go out before the caller goes on.
    if (!writer_->flush(KeyWriter::kDrainMs))
        qCWarning(lcUsbLink) << Q_FUNC_INFO << "frames for the key still queued";
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
        if (opened) {
            connection_.fetch_add(1);
            connected_.store(1);
        }
    }
    {
        QMutexLocker guard(&permissionMutex_);
        permissionNode_ = problem.node;
        accessProblem_ = problem;
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
                deliver(payload);
        } else if (count < 0) {
            // No lock: a write stuck on the old key must not hold up the report;
            // the record is only replaced by the next search, which takes it.
            connected_.store(0);
            assembler_.reset();
            emit usbConnected(false);
            qCDebug(lcUsbLink).noquote() << Q_FUNC_INFO << "Device disconnected";
            // Straight back to the search: the first attempt comes at once.
        }
    }
}

void usbLink::deliver(const QByteArray &payload)
{
    {
        QMutexLocker guard(&tapMutex_);
        if (tap_ && tap_(payload))
            return;
    }
    emit received(payload);
}

int usbLink::queueFrame(const uint8_t *buff, int len, KeyWriter::Pacing pacing,
                        KeyWriter::Origin origin)
{
    if (connected_.load() != 1)
        return NotAttached;
    if (len < 0 || len > kMaxPayload || (len > 0 && !buff))
        return Failed;
    QByteArray frame(frameEncodeCapacity(len), Qt::Uninitialized);
    int frameLength = 0;
    frameEncode(buff, len, reinterpret_cast<uint8_t *>(frame.data()), frameLength);
    frame.resize(frameLength);
    return writer_->post(std::move(frame), pacing, origin, connection_.load()) ? Queued : Failed;
}

int usbLink::send(const uint8_t *buff, int len)
{
    return queueFrame(buff, len, KeyWriter::Pacing::Whole);
}

int usbLink::framedSend(const uint8_t *buff, int len)
{
    return queueFrame(buff, len, KeyWriter::Pacing::Pieces);
}

KeyWriter::Outcome usbLink::transfer(const uint8_t *bytes, int n, uint64_t connection)
{
    // Written only to the key the frame was queued for; a search in progress
    // (which holds the lock) means that key is gone.
    auto attached = [&] { return connected_.load() == 1 && connection_.load() == connection; };
    if (!attached())
        return KeyWriter::Outcome::Gone;
    QMutexLocker guard(&lock_);
    if (!attached())
        return KeyWriter::Outcome::Gone;
    return device_->writePipe(bytes, n) == n ? KeyWriter::Outcome::Written
                                             : KeyWriter::Outcome::Failed;
}

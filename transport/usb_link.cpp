#include "usb_link.h"

#include "frame_codec.h"
#include "system_usb_device.h"
#include "usb_log.h"

#include <QDeadlineTimer>
#include <QMutexLocker>

#include <algorithm>

Q_LOGGING_CATEGORY(lcUsbLink, "usb_link")

namespace {
constexpr int kReadBufferSize = 1024;
// What an aborted write needs to end, once the stop's time is up.
constexpr int kAbortGraceMs = 200;

int msLeft(const QDeadlineTimer &deadline)
{
    return static_cast<int>(std::max<qint64>(0, deadline.remainingTime()));
}

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

void usbLink::stop(int budgetMs)
{
    const QDeadlineTimer deadline(budgetMs);
    stopping_.store(true);
    requestInterruption();
    {
        QMutexLocker guard(&sleepMutex_);
        sleepWake_.wakeAll();
    }
    if (device_)
        device_->cancelRead();
    if (isRunning() && !wait(deadline))
        qCWarning(lcUsbLink) << Q_FUNC_INFO << "link thread did not stop in time";
    // A thread that never stops would crash the program at exit; wait it out.
    if (isRunning())
        wait();
    // After the join, so the thread cannot start the watch again.
    if (device_)
        device_->watchArrivals({});
    // The last messages (the linker's goodbye) go out before the caller goes on,
    // as far as the time allows; a key that takes nothing does not hold it up.
    if (writer_->flush(msLeft(deadline)))
        return;
    qCWarning(lcUsbLink) << Q_FUNC_INFO << "the key took no data in time: frames given up";
    writer_->discardQueued();
    if (device_)
        device_->abortWrites();
    writer_->flush(kAbortGraceMs);
}

usbLink::Figures usbLink::figures() const
{
    Figures f;
    const KeyWriter::Stats w = writer_->stats();
    f.framesIn = framesIn_.load();
    f.bytesIn = bytesIn_.load();
    f.framesOut = w.written;
    f.bytesOut = w.writtenBytes;
    f.failedTransfers = failedTransfers_.load();
    f.pipeResets = device_ ? device_->pipeResets() : 0;
    f.reconnects = std::max<uint64_t>(attachments_.load(), 1) - 1;
    f.lostOnWrites = lostOnWrites_.load();
    f.pauses = w.pauses;
    f.pauseMeanUs = w.pauses ? w.pauseTotalUs / w.pauses : 0;
    f.pauseMaxUs = w.pauseMaxUs;
    f.pacing = writer_->pacingMethod();
    return f;
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
            ++attachments_;
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
            bytesIn_ += static_cast<uint64_t>(count);
            for (const QByteArray &payload : assembler_.feed(readBuffer, count)) {
                ++framesIn_;
                deliver(payload);
            }
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
    if (connection != lastConnection_) {
        lastConnection_ = connection;
        failedInRow_ = 0;
    }
    if (device_->writePipe(bytes, n) == n) {
        failedInRow_ = 0;
        return KeyWriter::Outcome::Written;
    }
    writeFailed();
    return KeyWriter::Outcome::Failed;
}

void usbLink::writeFailed()
{
    ++failedTransfers_;
    if (stopping_.load())
        return;
    // A stalled or timed-out OUT pipe fails every later write until it is reset.
    const bool reset = device_->resetWritePipe();
    if (++failedInRow_ < kFailedWritesBeforeLost) {
        qCDebug(lcUsbLink) << Q_FUNC_INFO << "write failed;"
                           << (reset ? "OUT pipe reset" : "OUT pipe not reset");
        return;
    }
    // Reads may still work, but no command reaches the key: give it up and
    // search again, so the operator sees it gone instead of a live dashboard.
    failedInRow_ = 0;
    ++lostOnWrites_;
    qCWarning(lcUsbLink).noquote()
            << QStringLiteral("%1 writes to the key failed in a row: key treated as lost, "
                              "searching for it again")
                       .arg(kFailedWritesBeforeLost);
    device_->interruptRead();
}

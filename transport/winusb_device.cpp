#include "winusb_device.h"

#include "usb_log.h"

#include <QCoreApplication>
#include <QScopeGuard>

#include <algorithm>
#include <cstring>
#include <utility>

using namespace winusb;

namespace {

// Far more than any device path; a larger answer is not trusted.
constexpr uint32_t kMaxDetailSize = 64 * 1024;
constexpr uint8_t kDirectionIn = 0x80;
constexpr uint8_t kAssociatedInterfaces = 2;

// Words for a key that another program holds or that Windows will not open.
UsbAccessProblem describeDenied(const QString &path, WinError error)
{
    if (error == kErrorSharingViolation)
        return {path,
                QCoreApplication::translate("WinUsbDevice",
                                            "The key is in use by another program. Close that "
                                            "program."),
                QStringLiteral("The key at %1 cannot be opened: another program is using it. "
                               "Close that program; the key connects once it is free.")
                        .arg(path)};
    return {path,
            QCoreApplication::translate("WinUsbDevice",
                                        "Windows denies access to the key. Close other programs "
                                        "that use it, then plug the key in again."),
            QStringLiteral("The key at %1 cannot be opened: Windows denies access (error %2), "
                           "most often because another program holds it. Close programs that "
                           "use the key, then unplug it and plug it in again.")
                    .arg(path)
                    .arg(error)};
}

} // namespace

bool winusb::operator==(const Guid &a, const Guid &b)
{
    return a.data1 == b.data1 && a.data2 == b.data2 && a.data3 == b.data3
            && std::equal(std::begin(a.data4), std::end(a.data4), std::begin(b.data4));
}

WinUsbDevice::WinUsbDevice(std::unique_ptr<Calls> calls)
    : calls_(std::move(calls))
{
}

WinUsbDevice::~WinUsbDevice()
{
    calls_->watchArrivals(kKeyInterfaceGuid, {});
    closeCurrent();
}

void WinUsbDevice::closeCurrent()
{
    // Associated interfaces go before the first one, the file last.
    if (dataInterface_ && dataInterface_ != interface_)
        calls_->freeInterface(dataInterface_);
    if (auxInterface_ && auxInterface_ != interface_)
        calls_->freeInterface(auxInterface_);
    if (interface_)
        calls_->freeInterface(interface_);
    if (file_) {
        calls_->watchRemoval(file_, {});
        calls_->closeHandle(file_);
    }
    dataInterface_ = auxInterface_ = interface_ = file_ = nullptr;
    path_.clear();
    record_ = UsbDeviceRecord();
    {
        std::lock_guard<std::mutex> guard(removalMutex_);
        fileOpen_ = false;
    }
    removalClosed_.notify_all();
}

void WinUsbDevice::removalRequested()
{
    qCInfo(lcUsbLink) << "Windows asks to remove the key (disabled, or its driver updated):"
                      << "closing it";
    std::unique_lock<std::mutex> guard(removalMutex_);
    holdOffUntil_ = std::chrono::steady_clock::now() + std::chrono::milliseconds(kRemovalHoldOffMs);
    guard.unlock();
    // The failed read makes the link close the key and search again.
    interruptRead();
    guard.lock();
    if (!removalClosed_.wait_for(guard, std::chrono::milliseconds(kRemovalCloseWaitMs),
                                 [this] { return !fileOpen_; }))
        qCWarning(lcUsbLink) << "the key was not closed in time for its removal;"
                             << "Windows may ask for a restart";
}

bool WinUsbDevice::removalHeldOff()
{
    std::lock_guard<std::mutex> guard(removalMutex_);
    return std::chrono::steady_clock::now() < holdOffUntil_;
}

bool WinUsbDevice::reconnect()
{
    {
        std::lock_guard<std::mutex> guard(readMutex_);
        readInterrupted_ = false; // meant for the key being replaced
    }
    closeCurrent();
    accessProblem_ = UsbAccessProblem();
    // Reopened while Windows removes it, the key would make Windows ask for a restart.
    if (!findDevice() || removalHeldOff() || !openDevice()) {
        closeCurrent();
        return false;
    }
    record_.opened = true;
    return true;
}

bool WinUsbDevice::findDevice()
{
    Handle set = calls_->getPresentInterfaces(kKeyInterfaceGuid);
    if (!set)
        return false;
    void *detail = nullptr;
    const auto release = qScopeGuard([&] {
        if (detail)
            calls_->localFree(detail);
        calls_->destroyDeviceInfoList(set);
    });

    // Only the first present key is considered.
    InterfaceData data {};
    data.cbSize = sizeof data;
    if (calls_->enumDeviceInterface(set, kKeyInterfaceGuid, 0, data) != kSuccess)
        return false;
    uint32_t required = 0;
    calls_->getInterfaceDetail(set, data, nullptr, 0, &required);
    if (required < sizeof(InterfaceDetailHeader) || required > kMaxDetailSize)
        return false;
    detail = calls_->localAlloc(required);
    if (!detail)
        return false;
    // The record's size field holds its fixed part as this build lays it out.
    const uint32_t fixedSize = sizeof(InterfaceDetailHeader);
    std::memcpy(detail, &fixedSize, sizeof fixedSize);
    if (calls_->getInterfaceDetail(set, data, detail, required, nullptr) != kSuccess)
        return false;

    const auto *units = static_cast<const unsigned char *>(detail) + kDevicePathOffset;
    const size_t count = (required - kDevicePathOffset) / sizeof(char16_t);
    std::u16string path;
    for (size_t i = 0; i < count; ++i) {
        char16_t unit = 0;
        std::memcpy(&unit, units + i * sizeof unit, sizeof unit);
        if (unit == 0) {
            path_ = path;
            record_.devicePath = QString::fromStdU16String(path);
            return !path.empty();
        }
        if (path.size() == kMaxPathLength) {
            qCDebug(lcUsbLink) << Q_FUNC_INFO << "device path longer than" << kMaxPathLength
                               << "characters:" << QString::fromStdU16String(path.substr(0, 40))
                               << "...";
            return false;
        }
        path.push_back(unit);
    }
    return false;
}

void WinUsbDevice::takeInterface(Handle handle, bool first)
{
    InterfaceDescriptor settings {};
    if (calls_->queryInterfaceSettings(handle, 0, settings) != kSuccess) {
        if (!first)
            calls_->freeInterface(handle);
        return;
    }
    // A later interface of a kind replaces an earlier one, and so do its pipes.
    const bool data = settings.bNumEndpoints > 1;
    Handle &slot = data ? dataInterface_ : auxInterface_;
    if (slot && slot != interface_)
        calls_->freeInterface(slot);
    slot = handle;
    if (data) {
        record_.dataInterface = settings.bInterfaceNumber;
        record_.bulkIn = record_.bulkOut = 0;
    } else {
        record_.auxInterface = settings.bInterfaceNumber;
    }
    for (int index = 0; index < settings.bNumEndpoints; ++index) {
        PipeInformation pipe {};
        if (calls_->queryPipe(handle, 0, static_cast<uint8_t>(index), pipe) != kSuccess)
            continue;
        if (pipe.pipeType == PipeInterrupt)
            record_.interruptPipe = pipe.pipeId;
        else if (pipe.pipeType == PipeBulk && data)
            (pipe.pipeId & kDirectionIn ? record_.bulkIn : record_.bulkOut) = pipe.pipeId;
    }
}

bool WinUsbDevice::openDevice()
{
    const WinError opened = calls_->createFile(path_.c_str(), file_);
    if (opened != kSuccess) {
        file_ = nullptr;
        if (opened == kErrorAccessDenied || opened == kErrorSharingViolation)
            accessProblem_ = describeDenied(record_.devicePath, opened);
        qCDebug(lcUsbLink) << Q_FUNC_INFO << "cannot open" << record_.devicePath << "error"
                           << opened;
        return false;
    }
    {
        std::lock_guard<std::mutex> guard(removalMutex_);
        fileOpen_ = true;
    }
    calls_->watchRemoval(file_, [this] { removalRequested(); });
    if (calls_->initialize(file_, interface_) != kSuccess) {
        interface_ = nullptr;
        return false;
    }
    uint8_t speed = 0;
    if (calls_->queryDeviceSpeed(interface_, speed) != kSuccess)
        return false;
    takeInterface(interface_, true);
    for (uint8_t index = 0; index < kAssociatedInterfaces; ++index) {
        Handle associated = nullptr;
        if (calls_->getAssociatedInterface(interface_, index, associated) != kSuccess)
            break;
        takeInterface(associated, false);
    }
    if (!dataInterface_ || record_.bulkIn == 0 || record_.bulkOut == 0) {
        qCDebug(lcUsbLink) << Q_FUNC_INFO << record_.devicePath
                           << "has no interface with a bulk IN and a bulk OUT pipe";
        return false;
    }
    // Bounds every write; without it a key that stops taking data hangs the writer.
    return calls_->setPipeTimeout(dataInterface_, record_.bulkOut, kWriteTimeoutMs) == kSuccess;
}

int WinUsbDevice::readPipe(uint8_t *buf, int capacity)
{
    if (!record_.opened || !buf || capacity <= 0)
        return -1;
    WinError result = kSuccess;
    {
        // Started under the lock, so cancelRead() either stops it from
        // starting or aborts it once it runs.
        std::lock_guard<std::mutex> guard(readMutex_);
        if (cancelled_.load() || std::exchange(readInterrupted_, false))
            return -1;
        result = calls_->startRead(dataInterface_, record_.bulkIn, buf,
                                   static_cast<uint32_t>(capacity));
        readPending_ = result == kSuccess;
    }
    uint32_t transferred = 0;
    if (result == kSuccess) {
        result = calls_->finishRead(dataInterface_, transferred);
        std::lock_guard<std::mutex> guard(readMutex_);
        readPending_ = false;
        if (std::exchange(readInterrupted_, false))
            return -1;
    }
    if (result == kSuccess)
        return static_cast<int>(std::min(transferred, static_cast<uint32_t>(capacity)));
    // A halted pipe is not a lost key: reset it and let the caller read again.
    if (result == kErrorGenFailure && !cancelled_.load()
        && calls_->resetPipe(dataInterface_, record_.bulkIn) == kSuccess) {
        ++resets_;
        return 0;
    }
    return -1;
}

int WinUsbDevice::writePipe(const uint8_t *bytes, int n)
{
    if (!record_.opened || n < 0 || (n > 0 && !bytes) || writesAborted_.load())
        return -1;
    uint32_t transferred = 0;
    const WinError result = calls_->writePipe(dataInterface_, record_.bulkOut, bytes,
                                              static_cast<uint32_t>(n), transferred);
    // A time-out may come after part of the data went out: the write failed all the same.
    if (result != kSuccess) {
        qCDebug(lcUsbLink) << Q_FUNC_INFO << "write of" << n << "bytes failed, error" << result
                           << "after" << transferred << "bytes";
        return -1;
    }
    return static_cast<int>(std::min(transferred, static_cast<uint32_t>(n)));
}

bool WinUsbDevice::resetWritePipe()
{
    if (!record_.opened || writesAborted_.load())
        return false;
    // Clears a halt and the data toggle; a transfer the time-out cut short is gone.
    if (calls_->resetPipe(dataInterface_, record_.bulkOut) != kSuccess)
        return false;
    ++resets_;
    return true;
}

void WinUsbDevice::interruptRead()
{
    std::lock_guard<std::mutex> guard(readMutex_);
    readInterrupted_ = true;
    if (readPending_)
        calls_->abortPipe(dataInterface_, record_.bulkIn);
}

void WinUsbDevice::abortWrites()
{
    writesAborted_.store(true);
    if (record_.opened)
        calls_->abortPipe(dataInterface_, record_.bulkOut);
}

void WinUsbDevice::cancelRead()
{
    std::lock_guard<std::mutex> guard(readMutex_);
    cancelled_.store(true);
    if (readPending_)
        calls_->abortPipe(dataInterface_, record_.bulkIn);
}

void WinUsbDevice::watchArrivals(std::function<void()> onArrival)
{
    if (!onArrival) {
        calls_->watchArrivals(kKeyInterfaceGuid, {});
        return;
    }
    // A key that arrives ends the wait after a removal (back after its driver update).
    calls_->watchArrivals(kKeyInterfaceGuid, [this, onArrival = std::move(onArrival)] {
        {
            std::lock_guard<std::mutex> guard(removalMutex_);
            holdOffUntil_ = {};
        }
        onArrival();
    });
}

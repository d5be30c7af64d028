#include "libusb_device.h"

#include "key_probe.h"
#include "system_usb_device.h"
#include "usb_log.h"

#include <libusb.h>

#include <sys/time.h>

#include <utility>

namespace {

void LIBUSB_CALL transferDone(libusb_transfer *transfer)
{
    *static_cast<int *>(transfer->user_data) = 1;
}

} // namespace

QString usbStackDescription()
{
    const libusb_version *v = libusb_get_version();
    return QStringLiteral("libusb %1.%2.%3.%4%5")
            .arg(v->major)
            .arg(v->minor)
            .arg(v->micro)
            .arg(v->nano)
            .arg(QString::fromLatin1(v->rc));
}

LibusbDevice::LibusbDevice(QStringList ruleDirs)
    : ruleDirs_(std::move(ruleDirs))
{
    const int rc = libusb_init(&ctx_);
    if (rc != 0) {
        qCWarning(lcUsbLink) << Q_FUNC_INFO << "libusb_init failed:" << libusb_error_name(rc);
        ctx_ = nullptr;
    }
}

LibusbDevice::~LibusbDevice()
{
    closeCurrent();
    if (ctx_)
        libusb_exit(ctx_);
}

QString LibusbDevice::deviceNode(libusb_device *device)
{
    return QStringLiteral("/dev/bus/usb/%1/%2")
            .arg(libusb_get_bus_number(device), 3, 10, QLatin1Char('0'))
            .arg(libusb_get_device_address(device), 3, 10, QLatin1Char('0'));
}

QString LibusbDevice::deviceIdentity(libusb_device *device)
{
    uint8_t ports[8] = {};
    const int depth = libusb_get_port_numbers(device, ports, sizeof ports);
    QString id = QString::number(libusb_get_bus_number(device)) + QLatin1Char('-');
    for (int i = 0; i < depth; ++i)
        id += QString::number(ports[i]) + QLatin1Char('.');
    return id + QLatin1Char('@') + QString::number(libusb_get_device_address(device));
}

void LibusbDevice::closeCurrent()
{
    if (handle_) {
        if (record_.dataInterface >= 0)
            libusb_release_interface(handle_, record_.dataInterface);
        libusb_close(handle_);
        handle_ = nullptr;
    }
    record_ = UsbDeviceRecord();
}

bool LibusbDevice::reconnect()
{
    {
        std::lock_guard<std::mutex> guard(readMutex_);
        readInterrupted_ = false; // meant for the key being replaced
    }
    closeCurrent();
    accessProblem_ = UsbAccessProblem();
    if (!ctx_)
        return false;

    libusb_device **list = nullptr;
    const ssize_t count = libusb_get_device_list(ctx_, &list);
    if (count < 0)
        return false;
    bool opened = false;
    for (ssize_t i = 0; i < count && !opened; ++i) {
        if (deviceCouldBeKey(list[i]))
            opened = openKey(list[i]);
    }
    libusb_free_device_list(list, 1);
    record_.opened = opened;
    return opened;
}

bool LibusbDevice::isKey(libusb_device *device, libusb_device_handle *handle)
{
    const QString identity = deviceIdentity(device);
    auto known = verdicts_.constFind(identity);
    if (known != verdicts_.constEnd())
        return known.value();
    const bool verdict = deviceCarriesKeyGuid(handle);
    verdicts_.insert(identity, verdict);
    return verdict;
}

bool LibusbDevice::openKey(libusb_device *device)
{
    const QString identity = deviceIdentity(device);
    if (verdicts_.value(identity, true) == false)
        return false;

    libusb_device_handle *handle = nullptr;
    const int rc = libusb_open(device, &handle);
    if (rc == LIBUSB_ERROR_ACCESS) {
        if (accessProblem_.isEmpty())
            accessProblem_ = describeDeniedKey(deviceNode(device), ruleDirs_);
        return false;
    }
    if (rc != 0)
        return false;
    if (!isKey(device, handle)) {
        libusb_close(handle);
        return false;
    }
    handle_ = handle;
    record_.devicePath = deviceNode(device);
    if (!setUpPipes()) {
        closeCurrent();
        return false;
    }
    return true;
}

bool LibusbDevice::setUpPipes()
{
    libusb_device *device = libusb_get_device(handle_);
    libusb_config_descriptor *config = nullptr;
    if (libusb_get_active_config_descriptor(device, &config) != 0)
        return false;
    for (int i = 0; i < config->bNumInterfaces; ++i) {
        if (config->interface[i].num_altsetting < 1)
            continue;
        const libusb_interface_descriptor &alt = config->interface[i].altsetting[0];
        if (alt.bNumEndpoints > 1)
            record_.dataInterface = alt.bInterfaceNumber;
        else
            record_.auxInterface = alt.bInterfaceNumber;
    }
    // Pipes of the data interface; a later pipe of a kind replaces an earlier one.
    for (int i = 0; i < config->bNumInterfaces; ++i) {
        if (config->interface[i].num_altsetting < 1)
            continue;
        const libusb_interface_descriptor &alt = config->interface[i].altsetting[0];
        if (alt.bInterfaceNumber != record_.dataInterface)
            continue;
        for (int e = 0; e < alt.bNumEndpoints; ++e) {
            const libusb_endpoint_descriptor &ep = alt.endpoint[e];
            const int type = ep.bmAttributes & LIBUSB_TRANSFER_TYPE_MASK;
            if (type == LIBUSB_TRANSFER_TYPE_BULK) {
                if (ep.bEndpointAddress & LIBUSB_ENDPOINT_IN)
                    record_.bulkIn = ep.bEndpointAddress;
                else
                    record_.bulkOut = ep.bEndpointAddress;
            } else if (type == LIBUSB_TRANSFER_TYPE_INTERRUPT) {
                record_.interruptPipe = ep.bEndpointAddress;
            }
        }
    }
    libusb_free_config_descriptor(config);
    if (record_.dataInterface < 0 || record_.bulkIn == 0 || record_.bulkOut == 0)
        return false;

    libusb_set_auto_detach_kernel_driver(handle_, 1);
    const int rc = libusb_claim_interface(handle_, record_.dataInterface);
    if (rc != 0) {
        qCDebug(lcUsbLink) << Q_FUNC_INFO << "cannot claim interface" << record_.dataInterface
                           << "of" << record_.devicePath << libusb_error_name(rc);
        record_.dataInterface = -1;
        return false;
    }
    return true;
}

int LibusbDevice::readPipe(uint8_t *buf, int capacity)
{
    if (!handle_ || cancelled_.load() || capacity <= 0)
        return -1;
    libusb_transfer *transfer = libusb_alloc_transfer(0);
    if (!transfer)
        return -1;
    int completed = 0;
    libusb_fill_bulk_transfer(transfer, handle_, record_.bulkIn, buf, capacity, transferDone,
                              &completed, 0);
    {
        std::lock_guard<std::mutex> guard(readMutex_);
        if (cancelled_.load() || std::exchange(readInterrupted_, false)
            || libusb_submit_transfer(transfer) != 0) {
            libusb_free_transfer(transfer);
            return -1;
        }
        readTransfer_ = transfer;
    }
    const int status = awaitTransfer(transfer, completed);
    bool interrupted = false;
    {
        std::lock_guard<std::mutex> guard(readMutex_);
        readTransfer_ = nullptr;
        interrupted = std::exchange(readInterrupted_, false);
    }
    int result = -1;
    if (interrupted) {
        // The key is treated as lost: what came is of no use any more.
    } else if (status == LIBUSB_TRANSFER_COMPLETED) {
        result = transfer->actual_length;
    } else if (status == LIBUSB_TRANSFER_STALL) {
        // A halted pipe is not a lost key: clear it and let the caller read again.
        if (libusb_clear_halt(handle_, record_.bulkIn) == 0) {
            ++resets_;
            result = 0;
        }
    }
    libusb_free_transfer(transfer);
    return result;
}

int LibusbDevice::awaitTransfer(libusb_transfer *transfer, int &completed)
{
    // Waking up now and then only lets a cancelled transfer be noticed even
    // when nothing else happens.
    bool gaveUp = false;
    while (!completed) {
        timeval tv {0, 100 * 1000};
        const int rc = libusb_handle_events_timeout_completed(ctx_, &tv, &completed);
        if (rc != 0 && rc != LIBUSB_ERROR_INTERRUPTED && !gaveUp) {
            libusb_cancel_transfer(transfer);
            gaveUp = true;
        }
    }
    return transfer->status;
}

int LibusbDevice::writePipe(const uint8_t *bytes, int n)
{
    if (!handle_ || n < 0 || (n > 0 && !bytes))
        return -1;
    libusb_transfer *transfer = libusb_alloc_transfer(0);
    if (!transfer)
        return -1;
    int completed = 0;
    libusb_fill_bulk_transfer(transfer, handle_, record_.bulkOut, const_cast<uint8_t *>(bytes), n,
                              transferDone, &completed, kWriteTimeoutMs);
    {
        // Submitted under the lock, so abortWrites() either stops it from
        // starting or cancels it once it runs.
        std::lock_guard<std::mutex> guard(writeMutex_);
        if (writesAborted_ || libusb_submit_transfer(transfer) != 0) {
            libusb_free_transfer(transfer);
            return -1;
        }
        writeTransfer_ = transfer;
    }
    const int status = awaitTransfer(transfer, completed);
    {
        std::lock_guard<std::mutex> guard(writeMutex_);
        writeTransfer_ = nullptr;
    }
    // A time-out may come after part of the data went out: the write failed all the same.
    const int result = status == LIBUSB_TRANSFER_COMPLETED ? transfer->actual_length : -1;
    if (result < 0)
        qCDebug(lcUsbLink) << Q_FUNC_INFO << "write of" << n << "bytes failed, status" << status
                           << "after" << transfer->actual_length << "bytes";
    libusb_free_transfer(transfer);
    return result;
}

bool LibusbDevice::resetWritePipe()
{
    {
        std::lock_guard<std::mutex> guard(writeMutex_);
        if (!handle_ || writesAborted_)
            return false;
    }
    // Clears a halt and the data toggle on both sides.
    if (libusb_clear_halt(handle_, record_.bulkOut) != 0)
        return false;
    ++resets_;
    return true;
}

void LibusbDevice::cancelRead()
{
    std::lock_guard<std::mutex> guard(readMutex_);
    cancelled_.store(true);
    if (readTransfer_)
        libusb_cancel_transfer(readTransfer_);
}

void LibusbDevice::interruptRead()
{
    std::lock_guard<std::mutex> guard(readMutex_);
    readInterrupted_ = true;
    if (readTransfer_)
        libusb_cancel_transfer(readTransfer_);
}

void LibusbDevice::abortWrites()
{
    std::lock_guard<std::mutex> guard(writeMutex_);
    writesAborted_ = true;
    if (writeTransfer_)
        libusb_cancel_transfer(writeTransfer_);
}

std::unique_ptr<UsbDevice> makeSystemUsbDevice()
{
    return std::make_unique<LibusbDevice>();
}

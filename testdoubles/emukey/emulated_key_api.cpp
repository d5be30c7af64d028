#include "emulated_key_impl.h"

#include "key_descriptors.h"

#include <QDebug>

#include <chrono>

namespace {

QString descriptorsHex(const EmulatedKeyConfig &config)
{
    return QString::fromLatin1(
            (keydesc::deviceDescriptor(config) + keydesc::configurationDescriptor()).toHex());
}

} // namespace

EmulatedKey::EmulatedKey(EmulatedBus &bus, const EmulatedKeyConfig &config)
    : d(std::make_unique<Impl>(bus, config))
{
}

EmulatedKey::~EmulatedKey()
{
    unplug();
    if (d->attached)
        umockdev_testbed_detach_ioctl(d->bus.testbed(), d->devnode.toLocal8Bit().constData(),
                                      nullptr);
    g_signal_handler_disconnect(d->handler, d->ioctlId);
    g_signal_handler_disconnect(d->handler, d->vanishedId);
    g_object_unref(d->handler);
    std::lock_guard<std::mutex> guard(d->mutex);
    for (std::deque<Urb> *queue : {&d->parkedIn, &d->parkedOther, &d->finished}) {
        for (Urb &u : *queue)
            emukey_detail::release(u);
        queue->clear();
    }
}

QString EmulatedKey::deviceNode() const
{
    return d->devnode;
}

QString EmulatedKey::sysPath() const
{
    return QStringLiteral("/sys") + d->devicePath;
}

bool EmulatedKey::plugged() const
{
    std::lock_guard<std::mutex> guard(d->mutex);
    return d->isPlugged;
}

bool EmulatedKey::plug()
{
    if (plugged())
        return true;
    UMockdevTestbed *testbed = d->bus.testbed();
    GError *error = nullptr;
    if (!d->attached) {
        // The handler must be in place before the device shows up.
        if (!umockdev_testbed_attach_ioctl(testbed, d->devnode.toLocal8Bit().constData(),
                                           d->handler, &error)) {
            qWarning() << "emulated key: cannot attach" << d->devnode << error->message;
            g_error_free(error);
            return false;
        }
        d->attached = true;
    }
    const EmulatedKeyConfig &c = d->config;
    // A dev number makes the node go away with the device (no stale opens).
    const int minor = (c.busnum - 1) * 128 + c.devnum - 1;
    const QString record = QStringLiteral("P: %1\n"
                                          "N: bus/usb/%2/%3\n"
                                          "E: SUBSYSTEM=usb\n"
                                          "E: DEVTYPE=usb_device\n"
                                          "E: DEVNAME=%4\n"
                                          "E: BUSNUM=%2\n"
                                          "E: DEVNUM=%3\n"
                                          "A: busnum=%5\\n\n"
                                          "A: devnum=%6\\n\n"
                                          "A: speed=480\\n\n"
                                          "A: bConfigurationValue=1\\n\n"
                                          "A: dev=189:%7\\n\n"
                                          "H: descriptors=%8\n")
                                   .arg(d->devicePath)
                                   .arg(c.busnum, 3, 10, QLatin1Char('0'))
                                   .arg(c.devnum, 3, 10, QLatin1Char('0'))
                                   .arg(d->devnode)
                                   .arg(c.busnum)
                                   .arg(c.devnum)
                                   .arg(minor)
                                   .arg(descriptorsHex(c));
    {
        std::lock_guard<std::mutex> guard(d->mutex);
        d->isPlugged = true;
        d->inPackets.clear();
    }
    if (!umockdev_testbed_add_from_string(testbed, record.toLocal8Bit().constData(), &error)) {
        qWarning() << "emulated key: cannot add" << d->devnode << error->message;
        g_error_free(error);
        std::lock_guard<std::mutex> guard(d->mutex);
        d->isPlugged = false;
        return false;
    }
    return true;
}

void EmulatedKey::unplug()
{
    {
        std::lock_guard<std::mutex> guard(d->mutex);
        if (!d->isPlugged)
            return;
        d->isPlugged = false;
    }
    const QByteArray syspath = sysPath().toLocal8Bit();
    umockdev_testbed_uevent(d->bus.testbed(), syspath.constData(), "remove");
    umockdev_testbed_remove_device(d->bus.testbed(), syspath.constData());
    // The host cannot see the removal on the emulated node; fail what it waits for.
    std::lock_guard<std::mutex> guard(d->mutex);
    d->failParked(-ESHUTDOWN);
    d->inPackets.clear();
    d->changed.notify_all();
}

void EmulatedKey::queueFromKey(const QByteArray &bytes)
{
    std::lock_guard<std::mutex> guard(d->mutex);
    d->queueIn(bytes);
}

QList<QByteArray> EmulatedKey::receivedTransfers() const
{
    std::lock_guard<std::mutex> guard(d->mutex);
    return d->received;
}

QByteArray EmulatedKey::receivedBytes() const
{
    std::lock_guard<std::mutex> guard(d->mutex);
    return d->receivedAll;
}

bool EmulatedKey::waitForReceivedBytes(int n, int timeoutMs) const
{
    std::unique_lock<std::mutex> guard(d->mutex);
    return d->changed.wait_for(guard, std::chrono::milliseconds(timeoutMs),
                               [&] { return d->receivedAll.size() >= n; });
}

bool EmulatedKey::takeFrame(QByteArray &payload, int timeoutMs)
{
    std::unique_lock<std::mutex> guard(d->mutex);
    if (!d->changed.wait_for(guard, std::chrono::milliseconds(timeoutMs),
                             [&] { return !d->rxFrames.empty(); }))
        return false;
    payload = d->rxFrames.front();
    d->rxFrames.pop_front();
    return true;
}

bool EmulatedKey::readPending() const
{
    std::lock_guard<std::mutex> guard(d->mutex);
    return !d->parkedIn.empty();
}

bool EmulatedKey::waitForReadPending(int timeoutMs) const
{
    std::unique_lock<std::mutex> guard(d->mutex);
    return d->changed.wait_for(guard, std::chrono::milliseconds(timeoutMs),
                               [&] { return !d->parkedIn.empty(); });
}

void EmulatedKey::setStallIn(bool stall)
{
    std::lock_guard<std::mutex> guard(d->mutex);
    d->stallIn = stall;
    if (stall) {
        while (!d->parkedIn.empty()) {
            d->finish(d->parkedIn.front(), -EPIPE);
            d->parkedIn.pop_front();
        }
    }
    d->changed.notify_all();
}

void EmulatedKey::setFailing(bool fail)
{
    std::lock_guard<std::mutex> guard(d->mutex);
    d->failing = fail;
}

void EmulatedKey::setEcho(bool echo)
{
    std::lock_guard<std::mutex> guard(d->mutex);
    d->echo = echo;
}

quint64 EmulatedKey::requestCount() const
{
    std::lock_guard<std::mutex> guard(d->mutex);
    return d->requests;
}

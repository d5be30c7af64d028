#pragma once

// Internals of EmulatedKey shared by its two source files.

#include "emulated_key.h"

#include "frame_assembler.h"

#include <umockdev.h>

#include <linux/ioctl.h>
#include <linux/usbdevice_fs.h>

#include <condition_variable>
#include <deque>
#include <mutex>

namespace emukey_detail {

constexpr int kPacketSize = 64;
constexpr unsigned kIfaceCount = 2;

struct Urb
{
    UMockdevIoctlData *data = nullptr; // owned reference
    UMockdevIoctlClient *client = nullptr; // owned reference
    usbdevfs_urb *urb() const { return reinterpret_cast<usbdevfs_urb *>(data->data); }
    uint8_t *buffer() const { return static_cast<uint8_t *>(urb()->buffer); }
};

void release(Urb &u);

} // namespace emukey_detail

using emukey_detail::Urb;

struct EmulatedKey::Impl
{
    Impl(EmulatedBus &b, const EmulatedKeyConfig &c)
        : bus(b)
        , config(c)
    {
        devnode = QStringLiteral("/dev/bus/usb/%1/%2")
                          .arg(config.busnum, 3, 10, QLatin1Char('0'))
                          .arg(config.devnum, 3, 10, QLatin1Char('0'));
        devicePath = QStringLiteral("/devices/usb%1").arg(config.busnum);
        handler = umockdev_ioctl_base_new();
        ioctlId = g_signal_connect_after(handler, "handle-ioctl", G_CALLBACK(&Impl::onIoctl), this);
        vanishedId
                = g_signal_connect(handler, "client-vanished", G_CALLBACK(&Impl::onVanished), this);
    }

    static gboolean onIoctl(UMockdevIoctlBase *, UMockdevIoctlClient *client, gpointer self)
    {
        return static_cast<Impl *>(self)->handle(client) ? TRUE : FALSE;
    }
    static void onVanished(UMockdevIoctlBase *, UMockdevIoctlClient *client, gpointer self)
    {
        static_cast<Impl *>(self)->dropClient(client);
    }

    bool handle(UMockdevIoctlClient *client);
    void submit(UMockdevIoctlClient *client);
    void reap(UMockdevIoctlClient *client);
    void discard(UMockdevIoctlClient *client);
    void clearHalt(UMockdevIoctlClient *client);
    void answerInterface(UMockdevIoctlClient *client, size_t argSize);
    void dropClient(UMockdevIoctlClient *client);

    // The following need the mutex held.
    void finish(Urb u, int status);
    void pumpIn();
    void queueIn(const QByteArray &bytes);
    void hostWrote(const QByteArray &bytes);
    bool controlReply(const uint8_t *setup, QByteArray &reply) const;
    void failParked(int status);

    EmulatedBus &bus;
    EmulatedKeyConfig config;
    QString devnode;
    QString devicePath;
    UMockdevIoctlBase *handler = nullptr;
    gulong ioctlId = 0;
    gulong vanishedId = 0;
    bool attached = false;

    mutable std::mutex mutex;
    mutable std::condition_variable changed;
    bool isPlugged = false;
    bool stallIn = false;
    bool failing = false;
    bool echo = false;
    bool lastReapEmpty = false;
    quint64 requests = 0;
    std::deque<QByteArray> inPackets;
    std::deque<Urb> parkedIn;
    std::deque<Urb> parkedOther; // interrupt transfers: never answered
    std::deque<Urb> finished;
    QList<QByteArray> received;
    QByteArray receivedAll;
    FrameAssembler rxAssembler;
    std::deque<QByteArray> rxFrames;
};

#include "emulated_key_impl.h"

#include "key_descriptors.h"

#include <cerrno>
#include <cstring>

namespace emukey_detail {

void release(Urb &u)
{
    umockdev_ioctl_data_unref(u.data);
    g_object_unref(u.client);
    u = Urb();
}

} // namespace emukey_detail

using namespace emukey_detail;

bool EmulatedKey::Impl::handle(UMockdevIoctlClient *client)
{
    const gulong request = umockdev_ioctl_client_get_request(client);
    {
        std::lock_guard<std::mutex> guard(mutex);
        ++requests;
        if (!isPlugged && request != USBDEVFS_REAPURBNDELAY && request != USBDEVFS_REAPURB
            && request != USBDEVFS_DISCARDURB) {
            umockdev_ioctl_client_complete(client, -1, ENODEV);
            return true;
        }
    }
    switch (request) {
    case USBDEVFS_GET_CAPABILITIES: {
        UMockdevIoctlData *arg = umockdev_ioctl_client_get_arg(client);
        UMockdevIoctlData *caps = umockdev_ioctl_data_resolve(arg, 0, sizeof(guint32), nullptr);
        if (!caps) {
            umockdev_ioctl_client_complete(client, -1, EFAULT);
            return true;
        }
        *reinterpret_cast<guint32 *>(caps->data) = USBDEVFS_CAP_ZERO_PACKET
                | USBDEVFS_CAP_NO_PACKET_SIZE_LIM | USBDEVFS_CAP_REAP_AFTER_DISCONNECT;
        umockdev_ioctl_data_unref(caps);
        umockdev_ioctl_client_complete(client, 0, 0);
        return true;
    }
    case USBDEVFS_GETDRIVER:
        umockdev_ioctl_client_complete(client, -1, ENODATA);
        return true;
    case USBDEVFS_CLAIMINTERFACE:
    case USBDEVFS_RELEASEINTERFACE:
        answerInterface(client, sizeof(unsigned int));
        return true;
    case USBDEVFS_DISCONNECT_CLAIM:
        answerInterface(client, sizeof(usbdevfs_disconnect_claim));
        return true;
    case USBDEVFS_CLEAR_HALT:
        clearHalt(client);
        return true;
    case USBDEVFS_SETINTERFACE:
    case USBDEVFS_RESET:
    case USBDEVFS_RESETEP:
        umockdev_ioctl_client_complete(client, 0, 0);
        return true;
    case USBDEVFS_SUBMITURB:
        submit(client);
        return true;
    case USBDEVFS_REAPURB:
    case USBDEVFS_REAPURBNDELAY:
        reap(client);
        return true;
    case USBDEVFS_DISCARDURB:
        discard(client);
        return true;
    default:
        return false;
    }
}

void EmulatedKey::Impl::answerInterface(UMockdevIoctlClient *client, size_t argSize)
{
    UMockdevIoctlData *arg = umockdev_ioctl_client_get_arg(client);
    UMockdevIoctlData *value = umockdev_ioctl_data_resolve(arg, 0, argSize, nullptr);
    if (!value) {
        umockdev_ioctl_client_complete(client, -1, EFAULT);
        return;
    }
    const unsigned iface = *reinterpret_cast<unsigned int *>(value->data);
    umockdev_ioctl_data_unref(value);
    if (iface >= kIfaceCount)
        umockdev_ioctl_client_complete(client, -1, EINVAL);
    else
        umockdev_ioctl_client_complete(client, 0, 0);
}

void EmulatedKey::Impl::clearHalt(UMockdevIoctlClient *client)
{
    UMockdevIoctlData *arg = umockdev_ioctl_client_get_arg(client);
    UMockdevIoctlData *value = umockdev_ioctl_data_resolve(arg, 0, sizeof(unsigned int), nullptr);
    if (!value) {
        umockdev_ioctl_client_complete(client, -1, EFAULT);
        return;
    }
    const unsigned endpoint = *reinterpret_cast<unsigned int *>(value->data);
    umockdev_ioctl_data_unref(value);
    std::lock_guard<std::mutex> guard(mutex);
    if (endpoint == 0x81)
        stallIn = false;
    umockdev_ioctl_client_complete(client, 0, 0);
}

void EmulatedKey::Impl::submit(UMockdevIoctlClient *client)
{
    UMockdevIoctlData *arg = umockdev_ioctl_client_get_arg(client);
    Urb u;
    u.data = umockdev_ioctl_data_resolve(arg, 0, sizeof(usbdevfs_urb), nullptr);
    if (!u.data) {
        umockdev_ioctl_client_complete(client, -1, EFAULT);
        return;
    }
    usbdevfs_urb *urb = u.urb();
    if (urb->buffer_length < 0) {
        umockdev_ioctl_data_unref(u.data);
        umockdev_ioctl_client_complete(client, -1, EINVAL);
        return;
    }
    if (urb->buffer_length > 0) {
        // Makes urb->buffer in the local copy point at a local copy of the buffer.
        UMockdevIoctlData *buffer = umockdev_ioctl_data_resolve(
                u.data, G_STRUCT_OFFSET(usbdevfs_urb, buffer), urb->buffer_length, nullptr);
        if (!buffer) {
            umockdev_ioctl_data_unref(u.data);
            umockdev_ioctl_client_complete(client, -1, EFAULT);
            return;
        }
        umockdev_ioctl_data_unref(buffer);
    }
    u.client = static_cast<UMockdevIoctlClient *>(g_object_ref(client));
    urb->actual_length = 0;
    urb->status = 0;

    std::lock_guard<std::mutex> guard(mutex);
    if (failing) {
        finish(u, -EPROTO);
    } else if (urb->type == USBDEVFS_URB_TYPE_CONTROL) {
        QByteArray reply;
        if (urb->buffer_length < 8) {
            finish(u, -EINVAL);
        } else if (!controlReply(u.buffer(), reply)) {
            finish(u, -EPIPE);
        } else {
            const int room = urb->buffer_length - 8;
            const int n = std::min(room, static_cast<int>(reply.size()));
            if (u.buffer()[0] & 0x80)
                std::memcpy(u.buffer() + 8, reply.constData(), static_cast<size_t>(n));
            urb->actual_length = n;
            finish(u, 0);
        }
    } else if (urb->type == USBDEVFS_URB_TYPE_BULK && urb->endpoint == 0x01) {
        hostWrote(QByteArray(reinterpret_cast<const char *>(u.buffer()), urb->buffer_length));
        urb->actual_length = urb->buffer_length;
        finish(u, 0);
    } else if (urb->type == USBDEVFS_URB_TYPE_BULK && urb->endpoint == 0x81) {
        if (stallIn) {
            finish(u, -EPIPE);
        } else {
            parkedIn.push_back(u);
            pumpIn();
        }
    } else if (urb->type == USBDEVFS_URB_TYPE_INTERRUPT
               && (urb->endpoint == 0x82 || urb->endpoint == 0x83)) {
        parkedOther.push_back(u);
    } else {
        release(u);
        umockdev_ioctl_client_complete(client, -1, ENOENT);
        return;
    }
    changed.notify_all();
    umockdev_ioctl_client_complete(client, 0, 0);
}

void EmulatedKey::Impl::reap(UMockdevIoctlClient *client)
{
    std::unique_lock<std::mutex> guard(mutex);
    auto findFinished = [&] {
        for (auto it = finished.begin(); it != finished.end(); ++it) {
            if (it->client == client)
                return it;
        }
        return finished.end();
    };
    auto it = findFinished();
    if (it == finished.end() && lastReapEmpty && config.idleReapDelayMs > 0) {
        // Nothing to reap twice in a row: the caller is idling in its event
        // loop, and the emulated node always polls ready. Slow it down.
        guard.unlock();
        g_usleep(static_cast<gulong>(config.idleReapDelayMs) * 1000);
        guard.lock();
        it = findFinished();
    }
    if (it == finished.end()) {
        lastReapEmpty = true;
        umockdev_ioctl_client_complete(client, -1, isPlugged ? EAGAIN : ENODEV);
        return;
    }
    lastReapEmpty = false;
    Urb u = *it;
    finished.erase(it);
    UMockdevIoctlData *arg = umockdev_ioctl_client_get_arg(client);
    UMockdevIoctlData *cell = umockdev_ioctl_data_resolve(arg, 0, sizeof(gpointer), nullptr);
    if (!cell) {
        release(u);
        umockdev_ioctl_client_complete(client, -1, EFAULT);
        return;
    }
    umockdev_ioctl_data_set_ptr(cell, 0, u.data);
    umockdev_ioctl_data_unref(cell);
    umockdev_ioctl_client_complete(client, 0, 0);
    release(u);
}

void EmulatedKey::Impl::discard(UMockdevIoctlClient *client)
{
    UMockdevIoctlData *arg = umockdev_ioctl_client_get_arg(client);
    const gulong target = reinterpret_cast<gulong>(*reinterpret_cast<void **>(arg->data));
    std::lock_guard<std::mutex> guard(mutex);
    for (std::deque<Urb> *parked : {&parkedIn, &parkedOther}) {
        for (auto it = parked->begin(); it != parked->end(); ++it) {
            if (it->data->client_addr == target) {
                Urb u = *it;
                parked->erase(it);
                finish(u, -ENOENT); // keeps the data received so far
                changed.notify_all();
                umockdev_ioctl_client_complete(client, 0, 0);
                return;
            }
        }
    }
    umockdev_ioctl_client_complete(client, -1, EINVAL);
}

void EmulatedKey::Impl::dropClient(UMockdevIoctlClient *client)
{
    std::lock_guard<std::mutex> guard(mutex);
    for (std::deque<Urb> *queue : {&parkedIn, &parkedOther, &finished}) {
        for (auto it = queue->begin(); it != queue->end();) {
            if (it->client == client) {
                release(*it);
                it = queue->erase(it);
            } else {
                ++it;
            }
        }
    }
    changed.notify_all();
}

void EmulatedKey::Impl::finish(Urb u, int status)
{
    u.urb()->status = status;
    finished.push_back(u);
}

void EmulatedKey::Impl::failParked(int status)
{
    for (std::deque<Urb> *parked : {&parkedIn, &parkedOther}) {
        while (!parked->empty()) {
            finish(parked->front(), status);
            parked->pop_front();
        }
    }
}

// Bulk IN per packet: a transfer ends on a short (or zero-length) packet or
// when its buffer is full; a packet that does not fit overflows it.
void EmulatedKey::Impl::pumpIn()
{
    while (!parkedIn.empty() && !inPackets.empty()) {
        Urb &u = parkedIn.front();
        usbdevfs_urb *urb = u.urb();
        const QByteArray packet = inPackets.front();
        inPackets.pop_front();
        const int room = urb->buffer_length - urb->actual_length;
        bool done = false;
        int status = 0;
        if (packet.size() > room) {
            status = -EOVERFLOW;
            done = true;
        } else {
            std::memcpy(u.buffer() + urb->actual_length, packet.constData(),
                        static_cast<size_t>(packet.size()));
            urb->actual_length += packet.size();
            done = packet.size() < kPacketSize || urb->actual_length == urb->buffer_length;
        }
        if (done) {
            Urb complete = u;
            parkedIn.pop_front();
            finish(complete, status);
        }
    }
}

void EmulatedKey::Impl::queueIn(const QByteArray &bytes)
{
    for (int offset = 0; offset < bytes.size(); offset += kPacketSize)
        inPackets.push_back(bytes.mid(offset, kPacketSize));
    if (bytes.size() % kPacketSize == 0)
        inPackets.push_back(QByteArray());
    pumpIn();
    changed.notify_all();
}

void EmulatedKey::Impl::hostWrote(const QByteArray &bytes)
{
    received.append(bytes);
    receivedAll += bytes;
    const auto frames
            = rxAssembler.feed(reinterpret_cast<const uint8_t *>(bytes.constData()), bytes.size());
    for (const QByteArray &payload : frames)
        rxFrames.push_back(payload);
    if (echo)
        queueIn(bytes);
}

bool EmulatedKey::Impl::controlReply(const uint8_t *setup, QByteArray &reply) const
{
    const uint8_t requestType = setup[0];
    const uint8_t request = setup[1];
    const int value = setup[2] | (setup[3] << 8);
    const int index = setup[4] | (setup[5] << 8);
    const bool os20 = config.identity == EmulatedKeyConfig::MsOs20;
    const bool os10 = config.identity == EmulatedKeyConfig::MsOs10Only;

    if (requestType == 0x80 && request == 0x06) {
        const int type = value >> 8;
        const int descIndex = value & 0xFF;
        if (type == 0x01)
            reply = keydesc::deviceDescriptor(config);
        else if (type == 0x02 && descIndex == 0)
            reply = keydesc::configurationDescriptor();
        else if (type == 0x0F && os20)
            reply = keydesc::bosDescriptor(config);
        else if (type == 0x03 && descIndex == 0)
            reply = QByteArray("\x04\x03\x09\x04", 4);
        else if (type == 0x03 && descIndex == 0xEE && os10)
            reply = keydesc::os10String();
        else
            return false;
        return true;
    }
    if (os20 && requestType == 0xC0 && request == keydesc::kVendorCodeOs20 && index == 0x07) {
        reply = keydesc::os20DescriptorSet(config);
        return true;
    }
    if (os10 && (requestType == 0xC0 || requestType == 0xC1)
        && request == keydesc::kVendorCodeOs10) {
        if (index == 0x05 && (value & 0xFF) == 0) {
            reply = keydesc::os10ExtendedProperties(config);
            return true;
        }
        if (index == 0x04 && requestType == 0xC0) {
            reply = keydesc::os10CompatibleId();
            return true;
        }
    }
    return false;
}

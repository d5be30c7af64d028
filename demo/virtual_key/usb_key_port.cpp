#include "usb_key_port.h"

#include "emulated_key.h"
#include "key_messages.h"

UsbKeyPort::UsbKeyPort(EmulatedBus &bus, QObject *parent)
    : QObject(parent)
{
    EmulatedKeyConfig config;
    config.idleReapDelayMs = 2; // keeps an idle key from spinning a core
    m_key = std::make_unique<EmulatedKey>(bus, config);
    m_reader = std::thread([this] {
        while (!m_stop) {
            QByteArray payload;
            if (m_key->takeFrame(payload, 100))
                emit hostMessage(payload);
        }
    });
}

UsbKeyPort::~UsbKeyPort()
{
    m_stop = true;
    m_reader.join();
    m_key->unplug();
}

void UsbKeyPort::sendMessage(const QByteArray &message)
{
    if (!m_key->plugged()) {
        emit portEvent(QStringLiteral("dropped"), QStringLiteral("key unplugged"));
        return;
    }
    const QByteArray frame = keymsg::frame(message);
    if (frame.size() > maxFrame) {
        emit portEvent(QStringLiteral("error"),
                       QStringLiteral("frame of %1 bytes exceeds one read").arg(frame.size()));
        return;
    }
    m_key->queueFromKey(frame);
}

bool UsbKeyPort::plug()
{
    if (m_key->plugged())
        return true;
    const bool ok = m_key->plug();
    if (ok)
        emit portEvent(QStringLiteral("plugged"), m_key->deviceNode());
    return ok;
}

void UsbKeyPort::unplug()
{
    if (!m_key->plugged())
        return;
    m_key->unplug();
    emit portEvent(QStringLiteral("unplugged"), QString());
}

bool UsbKeyPort::plugged() const
{
    return m_key->plugged();
}

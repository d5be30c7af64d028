#pragma once

#include <QByteArray>

// Where the virtual key's messages go: the USB side frames and queues them,
// tests record them.
class KeyLink
{
public:
    virtual ~KeyLink() = default;
    // One serialized message (type, count, tags), without filler or framing.
    virtual void sendMessage(const QByteArray &message) = 0;
};

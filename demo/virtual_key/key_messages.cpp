#include "key_messages.h"

#include "frame_codec.h"
#include "kmsg.h"

namespace keymsg {

QByteArray bytes(const KMsg &msg)
{
    QByteArray out(kMsgMaxSize, '\0');
    const int n = msg.serialize(reinterpret_cast<uint8_t *>(out.data()), out.size());
    out.resize(n);
    return out;
}

QByteArray frame(const QByteArray &message)
{
    QByteArray payload = message;
    payload.append('\0'); // filler byte after every message
    QByteArray out(frameEncodeCapacity(payload.size()), '\0');
    int length = 0;
    frameEncode(reinterpret_cast<const uint8_t *>(payload.constData()), payload.size(),
                reinterpret_cast<uint8_t *>(out.data()), length);
    out.resize(length);
    return out;
}

} // namespace keymsg

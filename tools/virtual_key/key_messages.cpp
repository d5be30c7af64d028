#include "key_messages.h"

#include "frame_codec.h"
#include "kmsg.h"

#include <QStringList>

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

QString describe(const QByteArray &message)
{
    auto msg = KMsg::parse(reinterpret_cast<const uint8_t *>(message.constData()), message.size());
    if (!msg)
        return QStringLiteral("unparsable %1").arg(QString::fromLatin1(message.toHex(' ')));
    QStringList tags;
    msg->first();
    while (const KTag *tag = msg->next()) {
        const QByteArray value(reinterpret_cast<const char *>(tag->data()), tag->len());
        tags << QStringLiteral("%1:%2").arg(tag->id()).arg(
                value.size() > 16 ? QString::number(value.size()) + QStringLiteral("B")
                                  : QString::fromLatin1(value.toHex()));
    }
    return QStringLiteral("type %1 [%2]").arg(msg->type()).arg(tags.join(' '));
}

} // namespace keymsg

#pragma once

#include "frame_codec.h"

#include <QByteArray>

// Encodes one payload as it travels on the wire.
inline QByteArray encodeFrame(const QByteArray &payload)
{
    QByteArray out(frameEncodeCapacity(payload.size()), '\0');
    int length = 0;
    frameEncode(reinterpret_cast<const uint8_t *>(payload.constData()), payload.size(),
                reinterpret_cast<uint8_t *>(out.data()), length);
    out.resize(length);
    return out;
}

// A payload whose frame is exactly frameLength bytes, made of plain bytes.
inline QByteArray payloadForFrameLength(int frameLength)
{
    for (char fill = 'A'; fill <= 'Z'; ++fill) {
        QByteArray payload(frameLength - 4, fill);
        if (encodeFrame(payload).size() == frameLength)
            return payload;
    }
    return {};
}

#pragma once

#include <QByteArray>

#include <cstdint>

class KMsg;

// Small helpers around the message model for the virtual key.
namespace keymsg {

// Serialized bytes of msg, or an empty array when it does not serialize.
QByteArray bytes(const KMsg &msg);

// One frame for the USB wire: the message, one filler byte, framing and FCS.
QByteArray frame(const QByteArray &message);

} // namespace keymsg

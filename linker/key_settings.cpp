#include "kmsg.h"
#include "linker.h"
#include "linker_log.h"

#include <cstdio>

namespace {
enum IdentityBit : unsigned {
    SeenSerial = 1u << 0,
    SeenBox = 1u << 1,
    SeenSw = 1u << 2,
    SeenHw = 1u << 3,
    SeenServer = 1u << 4,
    SeenPort = 1u << 5,
    IdentityComplete = 0x3F,
};

// Copies a text value into buf only when it fits with its terminator;
// otherwise buf keeps its previous text. True when copied.
template<size_t N>
bool copyText(const KTag &tag, char (&buf)[N])
{
    if (tag.len() > N)
        return false;
    char scratch[N + 1] = {};
    if (tag.len() == 0) {
        buf[0] = '\0';
        return true;
    }
    if (tag.getString(scratch, static_cast<int>(N)) == 0)
        return false;
    // A value without its own terminator needs one byte more than it has.
    if (strnlen(scratch, N + 1) >= N)
        return false;
    memcpy(buf, scratch, N);
    return true;
}

QString text(const char *buf, size_t size)
{
    return QString::fromUtf8(buf, static_cast<int>(strnlen(buf, size)));
}
} // namespace

// Settings, details and status from the key. Signals of one tag have run their
// slots before the next tag is looked at.
void cLinker::handleSet(KMsg *msg)
{
    if (!msg || msg->type() != MSG_SET)
        return;

    unsigned identitySeen = 0;
    msg->first(); // the first next() returns the first tag
    while (const KTag *tag = msg->next()) {
        switch (tag->id()) {
        case TAG_SERIAL:
            snprintf(serial, sizeof serial, "%08X", static_cast<unsigned>(tag->getUInt32()));
            identitySeen |= SeenSerial;
            emit updateLabel(3, text(serial, sizeof serial));
            break;
        case TAG_BOX:
            copyText(*tag, box);
            identitySeen |= SeenBox;
            break;
        case TAG_SW:
            copyText(*tag, SW);
            identitySeen |= SeenSw;
            break;
        case TAG_HW:
            copyText(*tag, HW);
            identitySeen |= SeenHw;
            break;
        case TAG_SERVER:
            copyText(*tag, server);
            identitySeen |= SeenServer;
            break;
        case TAG_PORT:
            snprintf(serverPort, sizeof serverPort, "%04d", int(tag->getUInt16()));
            identitySeen |= SeenPort;
            break;
        case TAG_SERVICE:
            copyText(*tag, serviceHost);
            break;
        case TAG_SERVICE_PORT:
            snprintf(servicePort, sizeof servicePort, "%04d", int(tag->getUInt16()));
            break;
        case TAG_KEY_BAR: {
            const uint8_t v = tag->getUInt8();
            qCDebug(lcLinker).noquote() << QStringLiteral("SET::TAG_KEY_BAR::%1").arg(v);
            applyKeyBar(v);
            break;
        }
        case TAG_BATTERY:
            emit setBattery(tag->getUInt8());
            break;
        case TAG_MODE: {
            const uint8_t v = tag->getUInt8();
            manualMode = v & 1;
            modeBit1 = (v >> 1) & 1;
            emit setManual(manualMode == 1);
            break;
        }
        case TAG_TRANS_COUNT:
            emit setTransCount(static_cast<int>(tag->getUInt32()));
            break;
        case TAG_LABEL_INDEX:
            labelIndex = tag->getUInt8();
            break;
        case TAG_LABEL_TEXT:
        case TAG_LABEL_COLOR: {
            char scratch[64] = {};
            if (!copyText(*tag, scratch)) {
                qCDebug(lcLinker) << "label text of" << tag->len() << "bytes too long, ignored";
                break;
            }
            const uint index = static_cast<uint>(labelIndex);
            if (tag->id() == TAG_LABEL_TEXT)
                emit updateLabel(index, text(scratch, sizeof scratch));
            else
                emit updateLabelColor(index, text(scratch, sizeof scratch));
            break;
        }
        case TAG_SCAN:
            decodeScan(*tag);
            break;
        case TAG_DISCONNECT:
            // Ends the message: later tags are not applied.
            qCDebug(lcLinker) << "Disconnection acknowledge";
            emit keyDisconnected();
            return;
        default:
            break;
        }
    }
    if (identitySeen == IdentityComplete)
        finishIdentity();
}

void cLinker::applyKeyBar(uint8_t v)
{
    if (v == 128 || v == 228) {
        emit updateStatus(QStringLiteral("READY"));
        emit updateStatusColor(QStringLiteral("green"));
        emit setBtnEnabled(true);
        emit updatePbar(-1);
    } else if (v > 128) {
        emit updatePbarColor(1);
        emit updatePbar(v - 128);
        emit updateStatus(QStringLiteral("DATA TRANSFER BUSY"));
        emit updateStatusColor(QStringLiteral("turkois"));
    } else {
        emit updatePbarColor(modeBit1 == 1 ? 2 : 0);
        emit updatePbar(v);
        emit updateStatus(statusText);
        emit updateStatusColor(QStringLiteral("yellow"));
    }
    emit progressBar(v);
}

void cLinker::decodeScan(const KTag &tag)
{
    uint64_t number = 0;
    const uint8_t *bytes = tag.data();
    for (int i = 0; i < tag.len(); ++i) {
        number = number * 256 + bytes[i];
        qCDebug(lcLinker, "%d - %d  -  %d", i, int(bytes[i]),
                static_cast<int>(static_cast<uint32_t>(number)));
    }
    const QString decimal = QString::number(static_cast<qint64>(number));
    qCDebug(lcLinker).noquote() << "x = " + decimal;
    scannedRfid = decimal;
    if (decimal == QLatin1String("0")) {
        tellOperator(OperatorPrompt::Kind::Warning, QStringLiteral("Error"),
                     QStringLiteral("No lock scanned."));
        return;
    }
    startWorkflow();
}

void cLinker::finishIdentity()
{
    qCDebug(lcLinker, "Server %s", server);
    qCDebug(lcLinker, "Port %s", serverPort);
    keyNotReady = 0;
    parseVersion();
    emit nvmReady(text(box, sizeof box), text(serial, sizeof serial), text(SW, sizeof SW),
                  text(HW, sizeof HW), text(server, sizeof server));
}

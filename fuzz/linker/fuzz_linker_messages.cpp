// Key messages of any content, one after another, through the linker's entry for what
// the key sends: whatever the key says, the linker must only ever send well-formed
// messages back, keep its key details within their buffers, start the workflow only
// with a decimal tag text and warn the operator only about an empty scan.
#include "linker_rig.h"

#include <QRegularExpression>

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    startQuietApplication();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    LinkerRig rig;
    if (!rig.attached())
        return 0;
    // Records of a two-byte length and that many bytes, each one message from the key.
    size_t pos = 0;
    while (pos + 2 <= size) {
        const size_t want = ((size_t(data[pos]) << 8) | data[pos + 1]) % 1100;
        pos += 2;
        const size_t n = want < size - pos ? want : size - pos;
        rig.fromKey(QByteArray(reinterpret_cast<const char *>(data + pos), int(n)));
        pos += n;
    }
    QCoreApplication::processEvents();

    for (const QByteArray &payload : rig.sentPayloads()) {
        // A message and the filler byte.
        require(payload.size() <= 1025 && payload.endsWith('\0'));
        require(KMsg::parse(reinterpret_cast<const uint8_t *>(payload.constData()),
                            payload.size() - 1)
                != nullptr);
    }
    const ScanRecordingLinker &linker = *rig.linker;
    // Every byte of a buffer gives at most one character.
    require(linker.serialText().size() < 32 && linker.boxText().size() < 32);
    require(linker.swText().size() < 32 && linker.hwText().size() < 32);
    require(linker.serverText().size() < 64 && linker.serviceHostText().size() < 64);
    require(linker.serverPortText().size() < 16 && linker.servicePortText().size() < 16);
    static const QRegularExpression decimal(QStringLiteral("^-?[1-9][0-9]*$"));
    for (const QString &scan : linker.scans)
        require(decimal.match(scan).hasMatch());
    for (const QString &shown : rig.prompt.shown)
        require(shown == QLatin1String("Error|No lock scanned."));
    return 0;
}

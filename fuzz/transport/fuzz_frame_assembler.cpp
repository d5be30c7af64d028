// Bytes from the key, cut into reads at positions taken from the input: the
// assembler must never crash or overrun, and every payload it gives must be
// the payload of a frame whose check sequence holds.
#include "frame_assembler.h"
#include "frame_codec.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size < 1)
        return 0;
    FrameAssembler assembler;
    const uint8_t cutSeed = data[0];
    size_t pos = 1;
    int step = 0;
    while (pos < size) {
        // Read lengths 1..1024, varied by the first byte.
        const size_t want = 1 + ((cutSeed * 31u + static_cast<unsigned>(step++) * 97u) % 1024u);
        const size_t n = want < size - pos ? want : size - pos;
        for (const QByteArray &payload : assembler.feed(data + pos, static_cast<int>(n))) {
            if (payload.size() > FrameAssembler::kMaxBody - 2)
                std::abort();
            // Re-encoding the payload must give a frame that decodes to it.
            QByteArray frame(frameEncodeCapacity(payload.size()), '\0');
            int length = 0;
            frameEncode(reinterpret_cast<const uint8_t *>(payload.constData()), payload.size(),
                        reinterpret_cast<uint8_t *>(frame.data()), length);
            FrameAssembler check;
            const auto again
                    = check.feed(reinterpret_cast<const uint8_t *>(frame.constData()), length);
            if (again.size() != 1 || again.first() != payload)
                std::abort();
        }
        pos += n;
    }
    return 0;
}

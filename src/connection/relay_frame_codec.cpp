#include "connection/relay_frame_codec.h"

namespace korvax {

void putRelayFrameHeader(uint8_t *frame, uint8_t command, int32_t payloadBytes) {
    frame[0] = command;
    frame[1] = 0;
    frame[2] = static_cast<uint8_t>(payloadBytes & 0xFF);
    frame[3] = static_cast<uint8_t>((payloadBytes >> 8) & 0xFF);
}

int32_t encodeRelayFrame(uint8_t *frame, uint8_t command, std::span<const uint16_t> words,
                         int32_t boards, int32_t wordsPerBoard) {
    const int32_t payload = boards * wordsPerBoard * 2;
    putRelayFrameHeader(frame, command, payload);
    uint8_t *out = frame + 4;
    for (int32_t g = 0; g < boards; ++g) {
        const uint16_t *block = &words[static_cast<size_t>(g) * wordsPerBoard];
        for (int32_t w = 0; w < wordsPerBoard; ++w) {
            const uint16_t v = block[wordsPerBoard - 1 - w];
            *out++ = static_cast<uint8_t>(v & 0xFF);
            *out++ = static_cast<uint8_t>(v >> 8);
        }
    }
    return 4 + payload;
}

}  // namespace korvax

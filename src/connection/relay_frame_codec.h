// The relay-state frame on the wire: the complete wanted state of every
// relay of sub-unit 0, one 16-bit driver word per bit group, blocks by
// physical slot.
//
//   byte 0      the command (19; 67 for the RQ522's all-open frame)
//   byte 1      0
//   bytes 2-3   L = boards * wordsPerBoard * 2, little-endian, kept to 16 bits
//   bytes 4..   `boards` blocks of `wordsPerBoard` little-endian words;
//               inside a block the driver words go out highest-numbered
//               first (the shift-register chain of a card is loaded from
//               its far end).
#pragma once

#include <span>
#include <stdint.h>

namespace korvax {

// Writes the four header bytes for a payload of payloadBytes.
void putRelayFrameHeader(uint8_t *frame, uint8_t command, int32_t payloadBytes);

// Lays out `boards` blocks of `wordsPerBoard` driver words, given in slot
// order with word 0 of a block first, behind the header. frame must hold
// 4 + 2 * boards * wordsPerBoard bytes. Returns the frame length.
int32_t encodeRelayFrame(uint8_t *frame, uint8_t command, std::span<const uint16_t> words,
                         int32_t boards, int32_t wordsPerBoard);

}  // namespace korvax

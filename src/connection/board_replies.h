// Decoding of the controller's board replies: which slots the board
// detection (command 10) reports, and which driver chains the SPI loop-back
// (command 12) found alive. The layout of each is a property of the chassis
// model (base/chassis_model.h).
#pragma once

#include <stddef.h>
#include <stdint.h>

#include "base/chassis_model.h"

namespace korvax::replies {

// Reply bytes a decoder reads: the 24 detection bits end with byte 4, the
// one-byte layouts with byte 2.
constexpr size_t kDetectionBytes = 5;
constexpr size_t kByte2Bytes = 3;

// Reply bytes the loop-back decoders read for `boards` matrix boards.
constexpr size_t loopBackBytes(LoopBackLayout layout, int boards) {
    if (layout != LoopBackLayout::FourLinesEach || boards <= 0) return kByte2Bytes;
    return 2 + (static_cast<size_t>(boards) + 1) / 2;
}

// Slot j of a board-detection reply: 24 bits over bytes 2..4.
inline bool detectedSlot(const uint8_t *reply, int j) {
    const uint32_t bits = uint32_t{reply[2]} | uint32_t{reply[3]} << 8 | uint32_t{reply[4]} << 16;
    return j >= 0 && j < 32 && ((bits >> j) & 1u) != 0;
}

// Bit j of reply byte 2: a slot of the one-byte presence layout, a board of
// the one-bit loop-back, or the adapter plate (bit 0).
inline bool byte2Bit(const uint8_t *reply, int j) {
    return j >= 0 && j < 8 && ((reply[2] >> j) & 1u) != 0;
}

// The four loop-back lines of board j, two boards per byte from byte 2.
inline uint8_t boardLines(const uint8_t *reply, int j) {
    const uint8_t b = reply[2 + j / 2];
    return j % 2 == 0 ? (b & 0x0F) : (b >> 4);
}

// True when the first `lines` loop-back lines in byte 2 all answered (an RF
// board's chain).
inline bool linesAnswered(const uint8_t *reply, int lines) {
    const uint8_t mask = static_cast<uint8_t>((1u << lines) - 1u);
    return (reply[2] & mask) == mask;
}

// Slot j of a board-detection reply in the model's layout.
inline bool presentSlot(const uint8_t *reply, PresenceLayout layout, int j) {
    return layout == PresenceLayout::SlotBits ? detectedSlot(reply, j) : byte2Bit(reply, j);
}

// Loop-back result of matrix board j as the operations hand it out: the
// four line bits, or 1 / 0.
inline uint32_t loopBackOf(const uint8_t *reply, LoopBackLayout layout, int j) {
    return layout == LoopBackLayout::FourLinesEach ? boardLines(reply, j) : byte2Bit(reply, j);
}

// True when matrix board j's whole chain looped back.
inline bool boardLoopsBack(const uint8_t *reply, LoopBackLayout layout, int j) {
    return layout == LoopBackLayout::FourLinesEach ? boardLines(reply, j) == 15
                                                   : byte2Bit(reply, j);
}

}  // namespace korvax::replies

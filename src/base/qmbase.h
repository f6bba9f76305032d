// Small routines shared by the library's operations and published with it.
// (Published routines no operation uses are in api/compat.h.)
#pragma once

#include <stddef.h>
#include <stdint.h>

#include "base/export.h"

// Packs 16 flag bytes into a word (bit i = byte i) and counts the set bits.
KORVAX_INTERNAL uint16_t ArrayToU16(const uint8_t *bytes, uint32_t *count);
// Dotted text folded as result * 256 + piece; a plain number gives its value.
// Texts of 20 characters or more (and null) give 0.
KORVAX_INTERNAL int32_t toInt(const char *text);
// 1 for 192.168.1.x with x neither 200 nor 255, written without leading zeros.
KORVAX_INTERNAL int32_t validIPAddress(const char *text);
// 1 when every character is a decimal digit (the empty text included).
KORVAX_INTERNAL int32_t isdigitstr(const char *text);
// Sleeps milliseconds / 1000 whole seconds.
KORVAX_INTERNAL uint32_t SLEEP(int32_t milliseconds);
// Makes SLEEP call hook(seconds) instead of sleeping (null: sleep again), so
// that tests wait for no settle time in real time.
KORVAX_INTERNAL void SetSleepHook(uint32_t (*hook)(uint32_t seconds));

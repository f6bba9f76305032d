// Small routines shared by the library's operations and published with it.
#pragma once

#include <stddef.h>
#include <stdint.h>

#include "base/export.h"

// Binary digits of value, least significant first, in one static 32-entry
// array that the next call overwrites.
KORVAX_INTERNAL uint32_t *dec_2bin(int32_t value);
// Packs 16 flag bytes into a word (bit i = byte i) and counts the set bits.
KORVAX_INTERNAL uint16_t ArrayToU16(const uint8_t *bytes, uint32_t *count);
// Dotted text folded as result * 256 + piece; a plain number gives its value.
// Texts of 20 characters or more (and null) give 0.
KORVAX_INTERNAL int32_t toInt(const char *text);
// 1 for 192.168.1.x with x neither 200 nor 255, written without leading zeros.
KORVAX_INTERNAL int32_t validIPAddress(const char *text);
// 1 when every character is a decimal digit (the empty text included).
KORVAX_INTERNAL int32_t isdigitstr(const char *text);
// Cuts text in place after at most count characters.
KORVAX_INTERNAL char *mystrncpy(char *text, int32_t count);
// 1 when text holds a lower-case letter.
KORVAX_INTERNAL int32_t existLowerCase(const char *text);
// Converts text to upper case in place; returns 0.
KORVAX_INTERNAL int32_t allUpperCase(char *text);
// Sleeps milliseconds / 1000 whole seconds.
KORVAX_INTERNAL uint32_t SLEEP(int32_t milliseconds);
// Makes SLEEP call hook(seconds) instead of sleeping (null: sleep again), so
// that tests wait for no settle time in real time.
KORVAX_INTERNAL void SetSleepHook(uint32_t (*hook)(uint32_t seconds));
// Monotonic clock in seconds.
KORVAX_INTERNAL void getHighPrecisionTime(double *seconds);
// Rotates bytes[start..end-1] right by one position, rounds times.
KORVAX_INTERNAL int32_t rotateRight(uint8_t *bytes, int32_t start, int32_t end, int32_t rounds);

// C-style matrix allocations for applications that drive the library from C.
KORVAX_INTERNAL int32_t **alloc2int(int32_t unused, uint64_t rows, uint64_t cols);
KORVAX_INTERNAL uint16_t **alloc2ViUInt16(int32_t unused, uint64_t rows, uint64_t cols);
KORVAX_INTERNAL int32_t ***alloc3int(int32_t unused, uint64_t d1, uint64_t d2, uint64_t d3,
                                     int32_t initial);
KORVAX_INTERNAL void free2int(int32_t **rows);
KORVAX_INTERNAL void free2ViUInt16(uint16_t **rows);
KORVAX_INTERNAL void free3int(int32_t ***array);
KORVAX_INTERNAL int32_t countOnes(int32_t ***array, int32_t d1, int32_t d2, int32_t d3);
KORVAX_INTERNAL int32_t countOnes3D(int32_t ***array, int32_t d1, int32_t d2, int32_t d3);
KORVAX_INTERNAL int32_t countOnes2D(int32_t ***array, int32_t d1, int32_t d2);

// Names the shared object has always published and keeps publishing for
// programs built against earlier releases, although no operation of the
// library uses them any more. New code has no reason to call them.
#pragma once

#include <stdbool.h>
#include <stddef.h>
#include <stdint.h>

#include "base/export.h"
#include "base/records.h"

// ---- data nothing reads ----
KORVAX_INTERNAL uint8_t LXICHASSIS[5 * sizeof(ChassisInfo)];
KORVAX_INTERNAL uint8_t chassisThreads[8];
KORVAX_INTERNAL int32_t rq520DeviceCount;
KORVAX_INTERNAL int32_t rq521DeviceCount;
KORVAX_INTERNAL int32_t rq522DeviceCount;
KORVAX_INTERNAL int32_t rq523DeviceCount;
KORVAX_INTERNAL int32_t fdtmp;  // -1

// ---- routines no operation calls ----
// Controller firmware 3.06 or newer (the chassis profile table says which
// firmware each model needs for what).
KORVAX_INTERNAL bool IsNewVer_3_06(const ChassisInfo *chassis);
// Index 0..4 of the first record without a session, or -10023.
KORVAX_INTERNAL int32_t FindIdleChassis(void);
// Binary digits of value, least significant first, in one static 32-entry
// array that the next call overwrites.
KORVAX_INTERNAL uint32_t *dec_2bin(int32_t value);
// Cuts text in place after at most count characters.
KORVAX_INTERNAL char *mystrncpy(char *text, int32_t count);
// 1 when text holds a lower-case letter.
KORVAX_INTERNAL int32_t existLowerCase(const char *text);
// Converts text to upper case in place; returns 0.
KORVAX_INTERNAL int32_t allUpperCase(char *text);
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

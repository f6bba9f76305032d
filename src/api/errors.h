#pragma once

#include <stdint.h>

#include "base/export.h"

#define KORVAX_ERRMSG_COUNT 54

// Entry n is the message of code -10000 - n, zero-padded to 256 bytes.
KORVAX_INTERNAL const char errmsg[KORVAX_ERRMSG_COUNT][256];

// "KORVAX_ERR_..." as the public header spells the code's name; "" for a
// code outside -10000..-10053. Tools and language bindings print it.
KORVAX_INTERNAL const char *ErrorCodeName(int64_t code);

#ifdef __cplusplus
namespace korvax {
// Message of a code (the VISA text for codes below -10053, "" for -9999 and up).
const char *errorText(int64_t code);
}  // namespace korvax
#endif

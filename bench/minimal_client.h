/* One raw-socket round trip: frame out, 400-byte reply in. 0 or -1. */
#ifndef KORVAX_MINIMAL_CLIENT_H
#define KORVAX_MINIMAL_CLIENT_H

#include <stddef.h>

#ifdef __cplusplus
extern "C" {
#endif

int minimal_roundtrip(int fd, const unsigned char *frame, size_t length, unsigned char *reply);

#ifdef __cplusplus
}
#endif

#endif

// Visibility of the library's internal routines and tables.
//
// The Linux shared object exports its internal functions, relay maps and
// state under their own plain C names, so that test programs in any language
// can reach them. KORVAX_INTERNAL marks such a declaration; everything else
// stays hidden (the library is built with -fvisibility=hidden).
#pragma once

#if defined(_WIN32)
// Windows keeps internals out of the DLL's export table.
#  define KORVAX_INTERNAL_VISIBILITY
#else
#  define KORVAX_INTERNAL_VISIBILITY __attribute__((visibility("default")))
#endif

#ifdef __cplusplus
#  define KORVAX_INTERNAL extern "C" KORVAX_INTERNAL_VISIBILITY
#else
#  define KORVAX_INTERNAL extern KORVAX_INTERNAL_VISIBILITY
#endif

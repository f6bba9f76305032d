// The one seam between libKORVAX and a VISA library.
//
// Nothing in the library calls a vi* function directly: each call goes
// through these wrappers. On Linux (visa_loader.cpp) they load a VISA shared
// object on first use with dlopen and resolve the standard names.
// KORVAX_VISA_LIBRARY (a path or a file name) picks a vendor VISA; without it
// the built-in VISA library next to libKORVAX is used. While no VISA could be
// loaded every wrapper returns VI_ERROR_LIBRARY_NFOUND, and the next call
// tries again. KORVAX.dll (visa_loader_win32.cpp) calls the functions it
// imports from VISA64.dll by ordinal; it has no setAttribute or flush.
#pragma once

#include "visa/visa.h"

namespace korvax::visa {

ViStatus openDefaultRM(ViSession *rm);
ViStatus findRsrc(ViSession rm, ViConstString expr, ViFindList *list, ViUInt32 *count,
                  ViChar desc[VI_FIND_BUFLEN]);
ViStatus findNext(ViFindList list, ViChar desc[VI_FIND_BUFLEN]);
ViStatus open(ViSession rm, ViConstRsrc name, ViAccessMode mode, ViUInt32 timeout,
              ViSession *session);
ViStatus close(ViObject object);
ViStatus read(ViSession session, ViBuf buf, ViUInt32 count, ViUInt32 *retCount);
ViStatus write(ViSession session, ViConstBuf buf, ViUInt32 count, ViUInt32 *retCount);
ViStatus setAttribute(ViObject object, ViAttr attr, ViAttrState value);
ViStatus flush(ViSession session, ViUInt16 mask);

}  // namespace korvax::visa

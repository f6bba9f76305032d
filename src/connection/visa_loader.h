// The one seam between libKORVAX and a VISA library.
//
// Nothing in the library calls a vi* function directly: each call goes
// through these wrappers, which load a VISA shared object on first use with
// dlopen and resolve the standard names. KORVAX_VISA_LIBRARY (a path or a
// file name) picks a vendor VISA; without it the built-in VISA library next
// to libKORVAX is used. While no VISA could be loaded every wrapper returns
// VI_ERROR_LIBRARY_NFOUND, and the next call tries again.
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

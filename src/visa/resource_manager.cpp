// Built-in VISA library: the resource manager.
//
// For now it knows no instrument: every search finds nothing, so an
// application runs (and reports "no chassis") without a vendor VISA.
#include <cstring>
#include <mutex>
#include <set>

#include "visa/visa.h"

#define VISA_EXPORT extern "C" __attribute__((visibility("default")))

namespace {
std::mutex lock;
std::set<ViObject> managers;
ViObject nextObject = 0x100;
}  // namespace

VISA_EXPORT ViStatus viOpenDefaultRM(ViSession *vi) {
    if (!vi) return VI_ERROR_INV_PARAMETER;
    std::lock_guard g(lock);
    *vi = nextObject++;
    managers.insert(*vi);
    return VI_SUCCESS;
}

VISA_EXPORT ViStatus viFindRsrc(ViSession sesn, ViConstString expr, ViFindList *list,
                                ViUInt32 *retCnt, ViChar desc[]) {
    std::lock_guard g(lock);
    if (!managers.count(sesn)) return VI_ERROR_INV_OBJECT;
    if (!expr) return VI_ERROR_INV_EXPR;
    if (list) *list = 0;
    if (retCnt) *retCnt = 0;
    if (desc) desc[0] = '\0';
    return VI_ERROR_RSRC_NFOUND;
}

VISA_EXPORT ViStatus viFindNext(ViFindList, ViChar desc[]) {
    if (desc) desc[0] = '\0';
    return VI_ERROR_RSRC_NFOUND;
}

VISA_EXPORT ViStatus viOpen(ViSession sesn, ViConstRsrc, ViAccessMode, ViUInt32, ViSession *vi) {
    std::lock_guard g(lock);
    if (vi) *vi = 0;
    return managers.count(sesn) ? VI_ERROR_RSRC_NFOUND : VI_ERROR_INV_OBJECT;
}

VISA_EXPORT ViStatus viClose(ViObject vi) {
    std::lock_guard g(lock);
    return managers.erase(vi) ? VI_SUCCESS : VI_ERROR_INV_OBJECT;
}

VISA_EXPORT ViStatus viRead(ViSession, ViBuf, ViUInt32, ViUInt32 *retCnt) {
    if (retCnt) *retCnt = 0;
    return VI_ERROR_INV_OBJECT;
}

VISA_EXPORT ViStatus viWrite(ViSession, ViConstBuf, ViUInt32, ViUInt32 *retCnt) {
    if (retCnt) *retCnt = 0;
    return VI_ERROR_INV_OBJECT;
}

VISA_EXPORT ViStatus viSetAttribute(ViObject, ViAttr, ViAttrState) { return VI_ERROR_INV_OBJECT; }
VISA_EXPORT ViStatus viGetAttribute(ViObject, ViAttr, void *) { return VI_ERROR_INV_OBJECT; }
VISA_EXPORT ViStatus viFlush(ViSession, ViUInt16) { return VI_ERROR_INV_OBJECT; }

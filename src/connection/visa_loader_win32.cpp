// The VISA seam of KORVAX.dll: the seven functions it uses are linked from
// VISA64.dll by ordinal (see VISA64.def), so Windows binds them when the DLL
// is loaded and there is nothing to look up at run time. The Windows build
// has no serial rate probing and no baud-rate setting, so it needs neither
// viSetAttribute nor viFlush and does not import them.
#include "connection/visa_loader.h"

namespace korvax::visa {

ViStatus openDefaultRM(ViSession *rm) { return ::viOpenDefaultRM(rm); }
ViStatus findRsrc(ViSession rm, ViConstString expr, ViFindList *list, ViUInt32 *count,
                  ViChar desc[VI_FIND_BUFLEN]) {
    return ::viFindRsrc(rm, expr, list, count, desc);
}
ViStatus findNext(ViFindList list, ViChar desc[VI_FIND_BUFLEN]) {
    return ::viFindNext(list, desc);
}
ViStatus open(ViSession rm, ViConstRsrc name, ViAccessMode mode, ViUInt32 timeout,
              ViSession *session) {
    return ::viOpen(rm, name, mode, timeout, session);
}
ViStatus close(ViObject object) { return ::viClose(object); }
ViStatus read(ViSession session, ViBuf buf, ViUInt32 count, ViUInt32 *retCount) {
    return ::viRead(session, buf, count, retCount);
}
ViStatus write(ViSession session, ViConstBuf buf, ViUInt32 count, ViUInt32 *retCount) {
    return ::viWrite(session, buf, count, retCount);
}
ViStatus setAttribute(ViObject, ViAttr, ViAttrState) { return VI_ERROR_NSUP_OPER; }
ViStatus flush(ViSession, ViUInt16) { return VI_ERROR_NSUP_OPER; }

}  // namespace korvax::visa

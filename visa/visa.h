/*
 * Declarations of the standard VISA I/O functions and types this project
 * uses, with the 64-bit Linux widths of the VISA standard. libKORVAX never
 * links against a VISA library: it resolves these names at run time (see
 * src/connection/visa_loader.h). The built-in VISA library (visa/) and
 * the scripted test VISA (tests/fakevisa) implement them.
 */
#ifndef KORVAX_VISA_H
#define KORVAX_VISA_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

typedef int32_t ViStatus;
typedef uint32_t ViUInt32;
typedef int32_t ViInt32;
typedef uint16_t ViUInt16;
typedef uint8_t ViByte;
typedef char ViChar;
typedef uint32_t ViObject;
typedef ViObject ViSession;
typedef ViObject ViFindList;
typedef uint32_t ViAttr;
typedef uint32_t ViAccessMode;
typedef uint64_t ViAttrState;
typedef ViByte *ViBuf;
typedef const ViByte *ViConstBuf;
typedef ViUInt32 *ViPUInt32;
typedef const ViChar *ViConstString;
typedef ViConstString ViConstRsrc;

#define VI_NULL 0
#define VI_TRUE 1
#define VI_FALSE 0
#define VI_FIND_BUFLEN 256

#define VI_SUCCESS ((ViStatus)0)
#define VI_SUCCESS_TERM_CHAR ((ViStatus)0x3FFF0005)
#define VI_SUCCESS_MAX_CNT ((ViStatus)0x3FFF0006)
#define VI_WARN_NULL_OBJECT ((ViStatus)0x3FFF0082)

#define VI_ERROR_SYSTEM_ERROR ((ViStatus)0xBFFF0000u)
#define VI_ERROR_INV_OBJECT ((ViStatus)0xBFFF000Eu)
#define VI_ERROR_INV_EXPR ((ViStatus)0xBFFF0010u)
#define VI_ERROR_RSRC_NFOUND ((ViStatus)0xBFFF0011u)
#define VI_ERROR_INV_RSRC_NAME ((ViStatus)0xBFFF0012u)
#define VI_ERROR_INV_ACC_MODE ((ViStatus)0xBFFF0013u)
#define VI_ERROR_TMO ((ViStatus)0xBFFF0015u)
#define VI_ERROR_NSUP_ATTR ((ViStatus)0xBFFF001Du)
#define VI_ERROR_NSUP_ATTR_STATE ((ViStatus)0xBFFF001Eu)
#define VI_ERROR_ATTR_READONLY ((ViStatus)0xBFFF001Fu)
#define VI_ERROR_ALLOC ((ViStatus)0xBFFF003Cu)
#define VI_ERROR_INV_MASK ((ViStatus)0xBFFF003Du)
#define VI_ERROR_IO ((ViStatus)0xBFFF003Eu)
#define VI_ERROR_NSUP_OPER ((ViStatus)0xBFFF0067u)
#define VI_ERROR_USER_BUF ((ViStatus)0xBFFF0071u)
#define VI_ERROR_RSRC_BUSY ((ViStatus)0xBFFF0072u)
#define VI_ERROR_INV_PARAMETER ((ViStatus)0xBFFF0078u)
#define VI_ERROR_INV_SIZE ((ViStatus)0xBFFF007Bu)
#define VI_ERROR_LIBRARY_NFOUND ((ViStatus)0xBFFF009Eu)
#define VI_ERROR_CONN_LOST ((ViStatus)0xBFFF00A6u)
#define VI_SUCCESS_NESTED_SHARED ((ViStatus)0x3FFF0099)
#define VI_SUCCESS_NESTED_EXCLUSIVE ((ViStatus)0x3FFF009A)
#define VI_WARN_UNKNOWN_STATUS ((ViStatus)0x3FFF0085)
#define VI_ERROR_RSRC_LOCKED ((ViStatus)0xBFFF000Fu)
#define VI_ERROR_INV_LOCK_TYPE ((ViStatus)0xBFFF0020u)
#define VI_ERROR_INV_ACCESS_KEY ((ViStatus)0xBFFF0021u)
#define VI_ERROR_SESN_NLOCKED ((ViStatus)0xBFFF009Cu)
#define VI_ERROR_INV_PROT ((ViStatus)0xBFFF0079u)
#define VI_ERROR_NLISTENERS ((ViStatus)0xBFFF005Fu)
#define VI_ERROR_ABORT ((ViStatus)0xBFFF0030u)
#define VI_ERROR_INV_SETUP ((ViStatus)0xBFFF003Au)

#define VI_ATTR_RSRC_NAME ((ViAttr)0xBFFF0002u)
#define VI_ATTR_SEND_END_EN ((ViAttr)0x3FFF0016u)
#define VI_ATTR_TERMCHAR ((ViAttr)0x3FFF0018u)
#define VI_ATTR_TMO_VALUE ((ViAttr)0x3FFF001Au)
#define VI_ATTR_ASRL_BAUD ((ViAttr)0x3FFF0021u)
#define VI_ATTR_ASRL_DATA_BITS ((ViAttr)0x3FFF0022u)
#define VI_ATTR_ASRL_PARITY ((ViAttr)0x3FFF0023u)
#define VI_ATTR_ASRL_STOP_BITS ((ViAttr)0x3FFF0024u)
#define VI_ATTR_ASRL_FLOW_CNTRL ((ViAttr)0x3FFF0025u)
#define VI_ATTR_TERMCHAR_EN ((ViAttr)0x3FFF0038u)
#define VI_ATTR_ASRL_END_IN ((ViAttr)0x3FFF00B3u)
#define VI_ATTR_ASRL_END_OUT ((ViAttr)0x3FFF00B4u)
#define VI_ATTR_RSRC_CLASS ((ViAttr)0xBFFF0001u)
#define VI_ATTR_RSRC_IMPL_VERSION ((ViAttr)0x3FFF0003u)
#define VI_ATTR_RSRC_LOCK_STATE ((ViAttr)0x3FFF0004u)
#define VI_ATTR_IO_PROT ((ViAttr)0x3FFF001Cu)
#define VI_ATTR_SUPPRESS_END_EN ((ViAttr)0x3FFF0036u)
#define VI_ATTR_RSRC_SPEC_VERSION ((ViAttr)0x3FFF0170u)
#define VI_ATTR_INTF_TYPE ((ViAttr)0x3FFF0171u)
#define VI_ATTR_RSRC_MANF_NAME ((ViAttr)0xBFFF0174u)
#define VI_ATTR_RSRC_MANF_ID ((ViAttr)0x3FFF0175u)
#define VI_ATTR_INTF_NUM ((ViAttr)0x3FFF0176u)
#define VI_ATTR_TCPIP_ADDR ((ViAttr)0xBFFF0195u)
#define VI_ATTR_TCPIP_HOSTNAME ((ViAttr)0xBFFF0196u)
#define VI_ATTR_TCPIP_PORT ((ViAttr)0x3FFF0197u)
#define VI_ATTR_TCPIP_DEVICE_NAME ((ViAttr)0xBFFF0199u)
#define VI_ATTR_TCPIP_NODELAY ((ViAttr)0x3FFF019Au)
#define VI_ATTR_TCPIP_KEEPALIVE ((ViAttr)0x3FFF019Bu)

#define VI_INTF_GPIB 1
#define VI_INTF_VXI 2
#define VI_INTF_GPIB_VXI 3
#define VI_INTF_ASRL 4
#define VI_INTF_PXI 5
#define VI_INTF_TCPIP 6
#define VI_INTF_USB 7
#define VI_PROT_NORMAL 1
#define VI_TRIG_PROT_DEFAULT 0

#define VI_ASRL_END_NONE 0
#define VI_ASRL_END_LAST_BIT 1
#define VI_ASRL_END_TERMCHAR 2
#define VI_ASRL_END_BREAK 3

#define VI_ASRL_PAR_NONE 0
#define VI_ASRL_PAR_SPACE 4
#define VI_ASRL_STOP_ONE 10
#define VI_ASRL_STOP_ONE5 15
#define VI_ASRL_STOP_TWO 20
#define VI_ASRL_FLOW_NONE 0
#define VI_ASRL_FLOW_XON_XOFF 1
#define VI_ASRL_FLOW_RTS_CTS 2
#define VI_ASRL_FLOW_DTR_DSR 4

#define VI_READ_BUF 1
#define VI_WRITE_BUF 2
#define VI_READ_BUF_DISCARD 4
#define VI_WRITE_BUF_DISCARD 8
#define VI_IO_IN_BUF 16
#define VI_IO_OUT_BUF 32
#define VI_IO_IN_BUF_DISCARD 64
#define VI_IO_OUT_BUF_DISCARD 128

#define VI_NO_LOCK 0
#define VI_EXCLUSIVE_LOCK 1
#define VI_SHARED_LOCK 2
#define VI_LOAD_CONFIG 4
#define VI_TMO_IMMEDIATE 0
#define VI_TMO_INFINITE 0xFFFFFFFFu

ViStatus viOpenDefaultRM(ViSession *vi);
ViStatus viFindRsrc(ViSession sesn, ViConstString expr, ViFindList *vi, ViUInt32 *retCnt,
                    ViChar desc[]);
ViStatus viFindNext(ViFindList vi, ViChar desc[]);
ViStatus viOpen(ViSession sesn, ViConstRsrc name, ViAccessMode mode, ViUInt32 timeout,
                ViSession *vi);
ViStatus viClose(ViObject vi);
ViStatus viRead(ViSession vi, ViBuf buf, ViUInt32 cnt, ViPUInt32 retCnt);
ViStatus viWrite(ViSession vi, ViConstBuf buf, ViUInt32 cnt, ViPUInt32 retCnt);
ViStatus viSetAttribute(ViObject vi, ViAttr attrName, ViAttrState attrValue);
ViStatus viGetAttribute(ViObject vi, ViAttr attrName, void *attrValue);
ViStatus viFlush(ViSession vi, ViUInt16 mask);
ViStatus viParseRsrc(ViSession rmSesn, ViConstRsrc rsrcName, ViUInt16 *intfType,
                     ViUInt16 *intfNum);
ViStatus viParseRsrcEx(ViSession rmSesn, ViConstRsrc rsrcName, ViUInt16 *intfType,
                       ViUInt16 *intfNum, ViChar rsrcClass[], ViChar expandedUnaliasedName[],
                       ViChar aliasIfExists[]);
ViStatus viClear(ViSession vi);
ViStatus viStatusDesc(ViObject vi, ViStatus status, ViChar desc[]);
ViStatus viReadSTB(ViSession vi, ViUInt16 *status);
ViStatus viAssertTrigger(ViSession vi, ViUInt16 protocol);
ViStatus viLock(ViSession vi, ViAccessMode lockType, ViUInt32 timeout, ViConstString requestedKey,
                ViChar accessKey[]);
ViStatus viUnlock(ViSession vi);

#ifdef __cplusplus
}
#endif

#endif /* KORVAX_VISA_H */

// The messages of VXI-11's core channel and of the portmapper, written
// down once: a struct per message, with one encoder and one decoder each.
// The VISA library's client (visa/vxi11_transport.cpp) and korvax-sim's
// server (sim/server/server.cpp) both go through here, so the two sides
// cannot disagree on a field.
//
// Decoders read from an XdrReader and return false when the message ends
// early or a length is beyond its bound; the reader is then failed too.
// Fields that carry bytes (`data`) are views into the record decoded from,
// or into the caller's buffer being encoded.
#pragma once

#include <cstdint>
#include <span>
#include <string>

#include "visa/net/oncrpc.h"

namespace korvax::net {

// Program, version and procedure numbers of the portmapper.
namespace portmap {
inline constexpr uint32_t kProgram = 100000;
inline constexpr uint32_t kVersion = 2;
inline constexpr uint32_t kNull = 0;
inline constexpr uint32_t kGetPort = 3;
// rpcbind versions 3 and 4 ask with GETADDR (the same number) and a
// universal address.
inline constexpr uint32_t kGetAddr = 3;
inline constexpr uint32_t kProtoTcp = 6;

// GETPORT (version 2): where a program listens.
struct Mapping {
    uint32_t program = 0;
    uint32_t version = 0;
    uint32_t protocol = 0;
    uint32_t port = 0;  // unused in a question
};
struct PortAnswer {
    uint32_t port = 0;  // 0: not registered
};
// GETADDR (versions 3 and 4).
struct AddressQuery {
    uint32_t program = 0;
    uint32_t version = 0;
    std::string netid;  // "tcp"
    std::string address;
    std::string owner;
};
struct AddressAnswer {
    std::string address;  // universal address "a.b.c.d.p1.p2"; "" when not registered
};
}  // namespace portmap

// Program, procedures and codes of the VXI-11 core channel.
namespace vxi11 {
inline constexpr uint32_t kCoreProgram = 0x0607AF;
inline constexpr uint32_t kCoreVersion = 1;
enum Procedure : uint32_t {
    kCreateLink = 10,
    kDeviceWrite = 11,
    kDeviceRead = 12,
    kDeviceReadStb = 13,
    kDeviceTrigger = 14,
    kDeviceClear = 15,
    kDeviceRemote = 16,
    kDeviceLocal = 17,
    kDeviceLock = 18,
    kDeviceUnlock = 19,
    kDeviceEnableSrq = 20,
    kDeviceDoCmd = 22,
    kDestroyLink = 23,
    kCreateIntrChan = 25,
    kDestroyIntrChan = 26,
};
// Device_Flags
inline constexpr uint32_t kFlagWaitLock = 0x01;
inline constexpr uint32_t kFlagEnd = 0x08;
inline constexpr uint32_t kFlagTermChrSet = 0x80;
// Reasons a device_read ended
inline constexpr uint32_t kReasonRequestCount = 0x01;
inline constexpr uint32_t kReasonTermChar = 0x02;
inline constexpr uint32_t kReasonEnd = 0x04;
// Device_ErrorCode
enum Error : uint32_t {
    kNoError = 0,
    kSyntaxError = 1,
    kDeviceNotAccessible = 3,
    kInvalidLinkId = 4,
    kParameterError = 5,
    kNotSupported = 8,
    kOutOfResources = 9,
    kDeviceLocked = 11,
    kNoLockHeld = 12,
    kIoTimeout = 15,
    kIoError = 17,
    kAbort = 23,
};
// Largest message either side accepts in one record.
inline constexpr std::size_t kMaxRecord = 256 * 1024;
inline constexpr std::size_t kMaxData = 128 * 1024;
inline constexpr std::size_t kMaxDeviceName = 256;

struct CreateLinkParms {
    int32_t clientId = 0;
    bool lockDevice = false;
    uint32_t lockTimeout = 0;
    std::string device;
};
struct CreateLinkResp {
    uint32_t error = kNoError;
    uint32_t link = 0;
    uint32_t abortPort = 0;  // 0: no abort channel
    uint32_t maxRecvSize = 0;
};
struct WriteParms {
    uint32_t link = 0;
    uint32_t ioTimeout = 0;
    uint32_t lockTimeout = 0;
    uint32_t flags = 0;
    std::span<const uint8_t> data;  // at most kMaxData
};
struct WriteResp {
    uint32_t error = kNoError;
    uint32_t size = 0;  // bytes taken
};
struct ReadParms {
    uint32_t link = 0;
    uint32_t requestSize = 0;
    uint32_t ioTimeout = 0;
    uint32_t lockTimeout = 0;
    uint32_t flags = 0;
    uint32_t termChar = 0;
};
struct ReadResp {
    uint32_t error = kNoError;
    uint32_t reason = 0;
    std::span<const uint8_t> data;
};
// The arguments of device_readstb, _trigger, _clear, _remote and _local.
struct GenericParms {
    uint32_t link = 0;
    uint32_t flags = 0;
    uint32_t lockTimeout = 0;
    uint32_t ioTimeout = 0;
};
struct ReadStbResp {
    uint32_t error = kNoError;
    uint8_t stb = 0;
};
struct LockParms {
    uint32_t link = 0;
    uint32_t flags = 0;
    uint32_t lockTimeout = 0;
};
// The argument of device_unlock and destroy_link.
struct LinkParms {
    uint32_t link = 0;
};
// The answer of every call that reports only how it went.
struct ErrorResp {
    uint32_t error = kNoError;
};
// The answer of device_docmd: no command is carried out here.
struct DoCmdResp {
    uint32_t error = kNoError;
    std::span<const uint8_t> dataOut;
};
}  // namespace vxi11

void encode(XdrWriter &out, const portmap::Mapping &m);
bool decode(XdrReader &in, portmap::Mapping &m);
void encode(XdrWriter &out, const portmap::PortAnswer &m);
bool decode(XdrReader &in, portmap::PortAnswer &m);
void encode(XdrWriter &out, const portmap::AddressQuery &m);
bool decode(XdrReader &in, portmap::AddressQuery &m);
void encode(XdrWriter &out, const portmap::AddressAnswer &m);
bool decode(XdrReader &in, portmap::AddressAnswer &m);

void encode(XdrWriter &out, const vxi11::CreateLinkParms &m);
bool decode(XdrReader &in, vxi11::CreateLinkParms &m);
void encode(XdrWriter &out, const vxi11::CreateLinkResp &m);
bool decode(XdrReader &in, vxi11::CreateLinkResp &m);
void encode(XdrWriter &out, const vxi11::WriteParms &m);
bool decode(XdrReader &in, vxi11::WriteParms &m);
void encode(XdrWriter &out, const vxi11::WriteResp &m);
bool decode(XdrReader &in, vxi11::WriteResp &m);
void encode(XdrWriter &out, const vxi11::ReadParms &m);
bool decode(XdrReader &in, vxi11::ReadParms &m);
void encode(XdrWriter &out, const vxi11::ReadResp &m);
// `maxData`: the most bytes the reader takes (what it asked for).
bool decode(XdrReader &in, vxi11::ReadResp &m, std::size_t maxData);
void encode(XdrWriter &out, const vxi11::GenericParms &m);
bool decode(XdrReader &in, vxi11::GenericParms &m);
void encode(XdrWriter &out, const vxi11::ReadStbResp &m);
bool decode(XdrReader &in, vxi11::ReadStbResp &m);
void encode(XdrWriter &out, const vxi11::LockParms &m);
bool decode(XdrReader &in, vxi11::LockParms &m);
void encode(XdrWriter &out, const vxi11::LinkParms &m);
bool decode(XdrReader &in, vxi11::LinkParms &m);
void encode(XdrWriter &out, const vxi11::ErrorResp &m);
bool decode(XdrReader &in, vxi11::ErrorResp &m);
void encode(XdrWriter &out, const vxi11::DoCmdResp &m);

}  // namespace korvax::net

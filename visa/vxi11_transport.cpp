#include "visa/vxi11_transport.h"

#include "visa/net_transport_support.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <cstdlib>
#include <cstring>

namespace korvax::visa {
namespace {

namespace rpc = net::vxi11;

constexpr uint16_t kStandardPortmapper = 111;
// destroy_link on close waits no longer than this: closing a session whose
// instrument went away must not stall the program.
constexpr uint32_t kCloseWaitMs = 500;


ViStatus sendCall(int fd, const net::CallHeader &header, const net::Bytes &args,
                  net::Deadline deadline) {
    net::XdrWriter out;
    net::writeCall(out, header);
    out.append(args);
    return statusOf(net::sendAll(fd, net::frameRecord(out.bytes()), deadline));
}

// Waits for the reply with the given xid; replies to earlier calls that
// timed out are passed over. VI_ERROR_IO when the peer is not the service
// asked for.
ViStatus awaitReply(int fd, net::RecordAssembler &records, uint32_t xid, net::Deadline deadline,
                    net::Bytes &result) {
    std::array<uint8_t, 8192> chunk;
    net::Bytes record;
    for (;;) {
        switch (records.next(record)) {
        case net::RecordAssembler::Result::Oversized: return VI_ERROR_IO;
        case net::RecordAssembler::Result::Incomplete: {
            std::size_t n = 0;
            if (const auto r = net::receiveSome(fd, chunk, deadline, n); r != net::IoResult::Ok)
                return statusOf(r);
            records.feed({chunk.data(), n});
            continue;
        }
        case net::RecordAssembler::Result::Record: break;
        }
        net::XdrReader in(record);
        const auto reply = net::readReply(in);
        if (!reply) return VI_ERROR_IO;
        if (reply->xid != xid) continue;
        if (!reply->accepted || reply->stat != net::AcceptStat::Success) return VI_ERROR_IO;
        const auto body = in.rest();
        result.assign(body.begin(), body.end());
        return VI_SUCCESS;
    }
}

ViStatus rpcCall(int fd, net::RecordAssembler &records, const net::CallHeader &header,
                 const net::Bytes &args, net::Deadline deadline, net::Bytes &result) {
    if (const ViStatus st = sendCall(fd, header, args, deadline); st < 0) return st;
    return awaitReply(fd, records, header.xid, deadline, result);
}

ViStatus getPort(const std::string &host, uint16_t portmapperPort, net::Deadline deadline,
                 uint16_t &port) {
    net::UniqueFd fd;
    if (const auto r = net::connectTcp(host, portmapperPort, deadline, fd); r != net::IoResult::Ok)
        return statusOf(r);
    net::XdrWriter args;
    net::encode(args, net::portmap::Mapping{rpc::kCoreProgram, rpc::kCoreVersion,
                                            net::portmap::kProtoTcp, 0});
    net::RecordAssembler records(4096);
    net::Bytes result;
    const net::CallHeader header{0x4B525800u, net::portmap::kProgram, net::portmap::kVersion,
                                 net::portmap::kGetPort};
    if (const ViStatus st = rpcCall(fd.get(), records, header, args.bytes(), deadline, result); st < 0)
        return st;
    net::XdrReader in(result);
    net::portmap::PortAnswer answer;
    // Port 0: the host has no VXI-11 device core registered.
    if (!net::decode(in, answer) || answer.port == 0 || answer.port > 0xFFFF)
        return VI_ERROR_RSRC_NFOUND;
    port = static_cast<uint16_t>(answer.port);
    return VI_SUCCESS;
}

}  // namespace

ViStatus statusOfDeviceError(uint32_t error) {
    switch (error) {
    case rpc::kNoError: return VI_SUCCESS;
    case rpc::kIoTimeout: return VI_ERROR_TMO;
    case rpc::kDeviceLocked: return VI_ERROR_RSRC_LOCKED;
    case rpc::kNoLockHeld: return VI_ERROR_SESN_NLOCKED;
    case rpc::kInvalidLinkId: return VI_ERROR_CONN_LOST;
    case rpc::kNotSupported: return VI_ERROR_NSUP_OPER;
    case rpc::kAbort: return VI_ERROR_ABORT;
    case rpc::kParameterError: return VI_ERROR_INV_PARAMETER;
    default: return VI_ERROR_IO;
    }
}

uint16_t Vxi11Transport::defaultPortmapperPort() {
    if (const char *env = std::getenv("KORVAX_VXI11_PORTMAPPER_PORT"); env && *env) {
        unsigned port = 0;
        const char *end = env + std::strlen(env);
        const auto [p, ec] = std::from_chars(env, end, port);
        if (ec == std::errc{} && p == end && port > 0 && port <= 0xFFFF)
            return static_cast<uint16_t>(port);
    }
    return kStandardPortmapper;
}

ViStatus Vxi11Transport::open(const std::string &host, const std::string &device,
                              uint16_t portmapperPort, std::unique_ptr<Transport> &out) {
    std::unique_ptr<Vxi11Transport> t(new Vxi11Transport(
        host, device, portmapperPort ? portmapperPort : defaultPortmapperPort()));
    if (const ViStatus st = t->connect(); st < 0) return st;
    out = std::move(t);
    return VI_SUCCESS;
}

Vxi11Transport::~Vxi11Transport() {
    if (!fd_ || !link_) return;
    rpc::ErrorResp reply;
    exchange(rpc::kDestroyLink, rpc::LinkParms{*link_},
             net::Deadline::after(std::min(io_.timeoutMs, kCloseWaitMs)), reply);
}

net::Deadline Vxi11Transport::callDeadline() const {
    if (io_.timeoutMs == VI_TMO_INFINITE) return net::Deadline::never();
    const uint64_t ms = uint64_t{io_.timeoutMs} + io_.timeoutMs / 4 + 20;
    return net::Deadline::after(static_cast<uint32_t>(std::min<uint64_t>(ms, 0xFFFFFFFEu)));
}

net::Deadline Vxi11Transport::lockDeadline(ViUInt32 lockTimeoutMs) const {
    const ViUInt32 longest = std::max(io_.timeoutMs, lockTimeoutMs);
    if (longest == VI_TMO_INFINITE) return net::Deadline::never();
    const uint64_t ms = uint64_t{longest} + longest / 4 + 20;
    return net::Deadline::after(static_cast<uint32_t>(std::min<uint64_t>(ms, 0xFFFFFFFEu)));
}

ViStatus Vxi11Transport::connect() {
    fd_.reset();
    link_.reset();
    records_ = net::RecordAssembler(rpc::kMaxRecord);
    const net::Deadline deadline = net::Deadline::after(io_.timeoutMs);
    if (const ViStatus st = getPort(host_, portmapperPort_, deadline, corePort_); st < 0) return st;
    if (const auto r = net::connectTcp(host_, corePort_, deadline, fd_); r != net::IoResult::Ok)
        return statusOf(r);
    const rpc::CreateLinkParms parms{
        static_cast<int32_t>(reinterpret_cast<uintptr_t>(this) & 0x7FFFFFFF), false, 0, device_};
    rpc::CreateLinkResp reply;
    if (const ViStatus st = exchange(rpc::kCreateLink, parms, deadline, reply); st < 0) {
        fd_.reset();
        return st;
    }
    // The abort port goes unused: aborts are not sent.
    if (reply.error != rpc::kNoError) {
        fd_.reset();
        // No such device at that address.
        return reply.error == rpc::kDeviceNotAccessible || reply.error == rpc::kParameterError
                   ? VI_ERROR_RSRC_NFOUND
                   : statusOfDeviceError(reply.error);
    }
    link_ = reply.link;
    maxRecvSize_ = std::clamp<uint32_t>(reply.maxRecvSize, 64, rpc::kMaxData);
    return VI_SUCCESS;
}

ViStatus Vxi11Transport::broken(ViStatus st) {
    if (st == VI_ERROR_CONN_LOST || st == VI_ERROR_IO) {
        // The stream is broken or out of step: the next request starts anew.
        fd_.reset();
        link_.reset();
    }
    return st;
}

ViStatus Vxi11Transport::call(uint32_t procedure, const net::Bytes &args, net::Deadline deadline,
                              net::Bytes &reply) {
    if (!fd_) return VI_ERROR_CONN_LOST;
    const net::CallHeader header{xid_++, rpc::kCoreProgram, rpc::kCoreVersion, procedure};
    if (const ViStatus st = broken(sendCall(fd_.get(), header, args, deadline)); st < 0) return st;
    return broken(awaitReply(fd_.get(), records_, header.xid, deadline, reply));
}

template <typename Parms, typename Reply>
ViStatus Vxi11Transport::exchange(uint32_t procedure, const Parms &parms, net::Deadline deadline,
                                  Reply &reply) {
    net::XdrWriter args;
    net::encode(args, parms);
    net::Bytes body;
    if (const ViStatus st = call(procedure, args.bytes(), deadline, body); st < 0) return st;
    net::XdrReader in(body);
    return net::decode(in, reply) ? VI_SUCCESS : VI_ERROR_IO;
}

ViStatus Vxi11Transport::ensureLink() {
    // Input waiting here can only be a late reply (its xid is passed over
    // when read) or the end of the connection: only the end is looked for.
    if (fd_ && net::peerClosed(fd_.get())) fd_.reset();
    if (fd_ && link_) return VI_SUCCESS;
    const ViStatus st = connect();
    return st == VI_ERROR_RSRC_NFOUND ? VI_ERROR_CONN_LOST : st;
}

ViStatus Vxi11Transport::write(std::span<const ViByte> data, ViUInt32 &written) {
    written = 0;
    if (const ViStatus st = ensureLink(); st < 0) return st;
    const net::Deadline deadline = callDeadline();
    std::size_t sent = 0;
    do {
        const std::size_t n = std::min<std::size_t>(data.size() - sent, maxRecvSize_);
        const bool last = sent + n == data.size();
        const rpc::WriteParms parms{*link_, io_.timeoutMs, io_.timeoutMs,
                                    last && io_.sendEnd ? rpc::kFlagEnd : 0, data.subspan(sent, n)};
        rpc::WriteResp reply;
        if (const ViStatus st = exchange(rpc::kDeviceWrite, parms, deadline, reply); st < 0)
            return st;
        if (reply.error != rpc::kNoError) return statusOfDeviceError(reply.error);
        if (reply.size > n) return VI_ERROR_IO;
        sent += reply.size;
        written = static_cast<ViUInt32>(sent);
        if (reply.size == 0 && n > 0) return VI_ERROR_IO;  // the device takes nothing: no progress
    } while (sent < data.size());
    return VI_SUCCESS;
}

ViStatus Vxi11Transport::read(std::span<ViByte> buffer, ViUInt32 &got) {
    got = 0;
    if (!fd_ || !link_) return VI_ERROR_CONN_LOST;
    const net::Deadline deadline = callDeadline();
    // Each round trip returns at least one byte or ends the read, so the
    // loop runs at most buffer.size() times.
    while (got < buffer.size()) {
        const rpc::ReadParms parms{
            *link_, static_cast<uint32_t>(std::min<std::size_t>(buffer.size() - got, rpc::kMaxData)),
            io_.timeoutMs, io_.timeoutMs, io_.termCharEnabled ? rpc::kFlagTermChrSet : 0u,
            io_.termChar};
        net::XdrWriter args;
        net::encode(args, parms);
        net::Bytes body;
        if (const ViStatus st = call(rpc::kDeviceRead, args.bytes(), deadline, body); st < 0)
            return st;
        net::XdrReader in(body);
        rpc::ReadResp reply;
        if (!net::decode(in, reply, buffer.size() - got)) return VI_ERROR_IO;
        std::copy(reply.data.begin(), reply.data.end(), buffer.begin() + got);
        got += static_cast<ViUInt32>(reply.data.size());
        if (reply.error != rpc::kNoError) return statusOfDeviceError(reply.error);
        if (reply.reason & rpc::kReasonEnd) return VI_SUCCESS;
        if (reply.reason & rpc::kReasonTermChar) return VI_SUCCESS_TERM_CHAR;
        if (reply.data.empty() && !(reply.reason & rpc::kReasonRequestCount)) return VI_ERROR_IO;
    }
    return VI_SUCCESS_MAX_CNT;
}

ViStatus Vxi11Transport::generic(uint32_t procedure) {
    if (const ViStatus st = ensureLink(); st < 0) return st;
    rpc::ErrorResp reply;
    const ViStatus st = exchange(procedure, genericParms(), callDeadline(), reply);
    return st < 0 ? st : statusOfDeviceError(reply.error);
}

rpc::GenericParms Vxi11Transport::genericParms() const {
    return {*link_, 0, io_.timeoutMs, io_.timeoutMs};
}

ViStatus Vxi11Transport::clear() {
    return generic(rpc::kDeviceClear);
}

ViStatus Vxi11Transport::trigger() {
    return generic(rpc::kDeviceTrigger);
}

ViStatus Vxi11Transport::readStatusByte(ViUInt16 &stb) {
    if (const ViStatus st = ensureLink(); st < 0) return st;
    rpc::ReadStbResp reply;
    if (const ViStatus st = exchange(rpc::kDeviceReadStb, genericParms(), callDeadline(), reply);
        st < 0)
        return st;
    if (reply.error != rpc::kNoError) return statusOfDeviceError(reply.error);
    stb = reply.stb;
    return VI_SUCCESS;
}

ViStatus Vxi11Transport::lockDevice(ViUInt32 timeoutMs) {
    if (const ViStatus st = ensureLink(); st < 0) return st;
    rpc::ErrorResp reply;
    const ViStatus st =
        exchange(rpc::kDeviceLock, rpc::LockParms{*link_, rpc::kFlagWaitLock, timeoutMs},
                 lockDeadline(timeoutMs), reply);
    return st < 0 ? st : statusOfDeviceError(reply.error);
}

ViStatus Vxi11Transport::unlockDevice() {
    if (!fd_ || !link_) return VI_SUCCESS;  // a new link holds no lock
    rpc::ErrorResp reply;
    const ViStatus st = exchange(rpc::kDeviceUnlock, rpc::LinkParms{*link_}, callDeadline(), reply);
    return st < 0 ? st : statusOfDeviceError(reply.error);
}

ViStatus Vxi11Transport::flush(ViUInt16 mask) {
    // Answers wait on the device, not here: nothing is buffered to drop.
    return checkFlushMask(mask);
}

ViStatus Vxi11Transport::setAttribute(ViAttr attr, ViAttrState value) {
    if (attr == VI_ATTR_TCPIP_NODELAY || attr == VI_ATTR_TCPIP_KEEPALIVE)
        return value == VI_TRUE || value == VI_FALSE ? VI_SUCCESS : VI_ERROR_NSUP_ATTR_STATE;
    return io_.set(attr, value);
}

ViStatus Vxi11Transport::getAttribute(ViAttr attr, void *value) const {
    switch (attr) {
    case VI_ATTR_TCPIP_ADDR:
    case VI_ATTR_TCPIP_HOSTNAME: putAttributeString(value, host_); return VI_SUCCESS;
    case VI_ATTR_TCPIP_DEVICE_NAME: putAttributeString(value, device_); return VI_SUCCESS;
    case VI_ATTR_TCPIP_PORT: putAttribute<ViUInt16>(value, corePort_); return VI_SUCCESS;
    case VI_ATTR_TCPIP_NODELAY: putAttribute<ViUInt16>(value, VI_TRUE); return VI_SUCCESS;
    case VI_ATTR_TCPIP_KEEPALIVE: putAttribute<ViUInt16>(value, VI_FALSE); return VI_SUCCESS;
    default: return io_.get(attr, value);
    }
}

}  // namespace korvax::visa

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
    args.u32(rpc::kCoreProgram);
    args.u32(rpc::kCoreVersion);
    args.u32(net::portmap::kProtoTcp);
    args.u32(0);
    net::RecordAssembler records(4096);
    net::Bytes result;
    const net::CallHeader header{0x4B525800u, net::portmap::kProgram, net::portmap::kVersion,
                                 net::portmap::kGetPort};
    if (const ViStatus st = rpcCall(fd.get(), records, header, args.bytes(), deadline, result); st < 0)
        return st;
    net::XdrReader in(result);
    const uint32_t p = in.u32();
    // Port 0: the host has no VXI-11 device core registered.
    if (!in.ok() || p == 0 || p > 0xFFFF) return VI_ERROR_RSRC_NFOUND;
    port = static_cast<uint16_t>(p);
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
    if (settleWrite(net::Deadline::after(std::min(io_.timeoutMs, kCloseWaitMs))) < 0 || !fd_) return;
    net::XdrWriter args;
    args.u32(*link_);
    net::Bytes reply;
    call(rpc::kDestroyLink, args.bytes(),
         net::Deadline::after(std::min(io_.timeoutMs, kCloseWaitMs)), reply);
}

net::Deadline Vxi11Transport::callDeadline() const {
    if (io_.timeoutMs == VI_TMO_INFINITE) return net::Deadline::never();
    const uint64_t ms = uint64_t{io_.timeoutMs} + io_.timeoutMs / 4 + 20;
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
    net::XdrWriter args;
    args.i32(static_cast<int32_t>(reinterpret_cast<uintptr_t>(this) & 0x7FFFFFFF));  // client id
    args.boolean(false);                                                            // lockDevice
    args.u32(0);                                                                    // lock_timeout
    args.string(device_);
    net::Bytes reply;
    if (const ViStatus st = call(rpc::kCreateLink, args.bytes(), deadline, reply); st < 0) {
        fd_.reset();
        return st;
    }
    net::XdrReader in(reply);
    const uint32_t error = in.u32();
    const uint32_t lid = in.u32();
    in.u32();  // abort port: aborts are not used
    const uint32_t maxRecv = in.u32();
    if (!in.ok()) {
        fd_.reset();
        return VI_ERROR_IO;
    }
    if (error != rpc::kNoError) {
        fd_.reset();
        // No such device at that address.
        return error == rpc::kDeviceNotAccessible || error == rpc::kParameterError
                   ? VI_ERROR_RSRC_NFOUND
                   : statusOfDeviceError(error);
    }
    link_ = lid;
    maxRecvSize_ = std::clamp<uint32_t>(maxRecv, 64, rpc::kMaxData);
    return VI_SUCCESS;
}

ViStatus Vxi11Transport::broken(ViStatus st) {
    if (st == VI_ERROR_CONN_LOST || st == VI_ERROR_IO) {
        // The stream is broken or out of step: the next request starts anew.
        fd_.reset();
        link_.reset();
        pendingWrite_.reset();
    }
    return st;
}

ViStatus Vxi11Transport::settleWrite(net::Deadline deadline) {
    if (!pendingWrite_) return VI_SUCCESS;
    const uint32_t xid = *pendingWrite_;
    pendingWrite_.reset();
    net::Bytes reply;
    if (const ViStatus st = broken(awaitReply(fd_.get(), records_, xid, deadline, reply)); st < 0)
        return st;
    net::XdrReader in(reply);
    const uint32_t error = in.u32();
    in.u32();  // size taken: the device takes a whole piece or reports an error
    if (!in.ok()) return broken(VI_ERROR_IO);
    return statusOfDeviceError(error);
}

ViStatus Vxi11Transport::call(uint32_t procedure, const net::Bytes &args, net::Deadline deadline,
                              net::Bytes &reply) {
    if (!fd_) return VI_ERROR_CONN_LOST;
    const net::CallHeader header{xid_++, rpc::kCoreProgram, rpc::kCoreVersion, procedure};
    if (const ViStatus st = broken(sendCall(fd_.get(), header, args, deadline)); st < 0) return st;
    // The answer to a write sent just before comes first; a failure it
    // reports is this call's result, once this call's own answer is in.
    const ViStatus written = settleWrite(deadline);
    if (!fd_) return written;
    const ViStatus st = broken(awaitReply(fd_.get(), records_, header.xid, deadline, reply));
    return written < 0 ? written : st;
}

ViStatus Vxi11Transport::ensureLink() {
    // Input waiting here can only be a late reply (its xid is passed over
    // when read) or the end of the connection: only the end is looked for.
    if (fd_ && !pendingWrite_ && net::peerClosed(fd_.get())) fd_.reset();
    if (fd_ && link_) return VI_SUCCESS;
    const ViStatus st = connect();
    return st == VI_ERROR_RSRC_NFOUND ? VI_ERROR_CONN_LOST : st;
}

ViStatus Vxi11Transport::write(std::span<const ViByte> data, ViUInt32 &written) {
    written = 0;
    if (fd_ && link_) {
        if (const ViStatus st = settleWrite(callDeadline()); st < 0 && fd_) return st;
    }
    if (const ViStatus st = ensureLink(); st < 0) return st;
    const net::Deadline deadline = callDeadline();
    std::size_t sent = 0;
    do {
        const std::size_t n = std::min<std::size_t>(data.size() - sent, maxRecvSize_);
        const bool last = sent + n == data.size();
        net::XdrWriter args;
        args.u32(*link_);
        args.u32(io_.timeoutMs);
        args.u32(io_.timeoutMs);  // lock_timeout
        args.u32(last && io_.sendEnd ? rpc::kFlagEnd : 0);
        args.opaque(data.subspan(sent, n));
        if (last) {
            // The answer to the last piece is collected by the next call
            // (usually the device_read right after), so that a request and
            // its reply cost one network round trip, not two.
            const net::CallHeader header{xid_++, rpc::kCoreProgram, rpc::kCoreVersion,
                                         rpc::kDeviceWrite};
            if (const ViStatus st = broken(sendCall(fd_.get(), header, args.bytes(), deadline)); st < 0)
                return st;
            pendingWrite_ = header.xid;
            written = static_cast<ViUInt32>(data.size());
            return VI_SUCCESS;
        }
        net::Bytes reply;
        if (const ViStatus st = call(rpc::kDeviceWrite, args.bytes(), deadline, reply); st < 0)
            return st;
        net::XdrReader in(reply);
        const uint32_t error = in.u32();
        const uint32_t size = in.u32();
        if (!in.ok()) return VI_ERROR_IO;
        if (error != rpc::kNoError) return statusOfDeviceError(error);
        if (size > n) return VI_ERROR_IO;
        sent += size;
        written = static_cast<ViUInt32>(sent);
        if (size == 0) return VI_ERROR_IO;  // the device takes nothing: no progress
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
        net::XdrWriter args;
        args.u32(*link_);
        args.u32(static_cast<uint32_t>(std::min<std::size_t>(buffer.size() - got, rpc::kMaxData)));
        args.u32(io_.timeoutMs);
        args.u32(io_.timeoutMs);
        args.u32(io_.termCharEnabled ? rpc::kFlagTermChrSet : 0);
        args.u32(io_.termChar);
        net::Bytes reply;
        if (const ViStatus st = call(rpc::kDeviceRead, args.bytes(), deadline, reply); st < 0)
            return st;
        net::XdrReader in(reply);
        const uint32_t error = in.u32();
        const uint32_t reason = in.u32();
        const auto data = in.opaque(buffer.size() - got);
        if (!in.ok()) return VI_ERROR_IO;
        std::copy(data.begin(), data.end(), buffer.begin() + got);
        got += static_cast<ViUInt32>(data.size());
        if (error != rpc::kNoError) return statusOfDeviceError(error);
        if (reason & rpc::kReasonEnd) return VI_SUCCESS;
        if (reason & rpc::kReasonTermChar) return VI_SUCCESS_TERM_CHAR;
        if (data.empty() && !(reason & rpc::kReasonRequestCount)) return VI_ERROR_IO;
    }
    return VI_SUCCESS_MAX_CNT;
}

ViStatus Vxi11Transport::generic(uint32_t procedure) {
    if (const ViStatus st = ensureLink(); st < 0) return st;
    net::XdrWriter args;
    args.u32(*link_);
    args.u32(0);  // flags
    args.u32(io_.timeoutMs);
    args.u32(io_.timeoutMs);
    net::Bytes reply;
    if (const ViStatus st = call(procedure, args.bytes(), callDeadline(), reply); st < 0) return st;
    net::XdrReader in(reply);
    const uint32_t error = in.u32();
    return in.ok() ? statusOfDeviceError(error) : VI_ERROR_IO;
}

ViStatus Vxi11Transport::clear() {
    return generic(rpc::kDeviceClear);
}

ViStatus Vxi11Transport::trigger() {
    return generic(rpc::kDeviceTrigger);
}

ViStatus Vxi11Transport::readStatusByte(ViUInt16 &stb) {
    if (const ViStatus st = ensureLink(); st < 0) return st;
    net::XdrWriter args;
    args.u32(*link_);
    args.u32(0);
    args.u32(io_.timeoutMs);
    args.u32(io_.timeoutMs);
    net::Bytes reply;
    if (const ViStatus st = call(rpc::kDeviceReadStb, args.bytes(), callDeadline(), reply); st < 0)
        return st;
    net::XdrReader in(reply);
    const uint32_t error = in.u32();
    const uint32_t value = in.u32();
    if (!in.ok()) return VI_ERROR_IO;
    if (error != rpc::kNoError) return statusOfDeviceError(error);
    stb = static_cast<ViUInt16>(value & 0xFF);
    return VI_SUCCESS;
}

ViStatus Vxi11Transport::lockDevice(ViUInt32 timeoutMs) {
    if (const ViStatus st = ensureLink(); st < 0) return st;
    net::XdrWriter args;
    args.u32(*link_);
    args.u32(rpc::kFlagWaitLock);
    args.u32(timeoutMs);
    net::Bytes reply;
    if (const ViStatus st = call(rpc::kDeviceLock, args.bytes(), callDeadline(), reply); st < 0)
        return st;
    net::XdrReader in(reply);
    const uint32_t error = in.u32();
    return in.ok() ? statusOfDeviceError(error) : VI_ERROR_IO;
}

ViStatus Vxi11Transport::unlockDevice() {
    if (!fd_ || !link_) return VI_SUCCESS;  // a new link holds no lock
    net::XdrWriter args;
    args.u32(*link_);
    net::Bytes reply;
    if (const ViStatus st = call(rpc::kDeviceUnlock, args.bytes(), callDeadline(), reply); st < 0)
        return st;
    net::XdrReader in(reply);
    const uint32_t error = in.u32();
    return in.ok() ? statusOfDeviceError(error) : VI_ERROR_IO;
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

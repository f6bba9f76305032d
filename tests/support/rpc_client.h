// A VXI-11 client of the test's own, one call at a time, for what the VISA
// library's client does not do (hold a device lock from another link,
// pipeline, misbehave).
#pragma once

#include <array>
#include <optional>

#include "visa/net/oncrpc.h"
#include "visa/net/socket_io.h"
#include "visa/net/vxi11.h"

namespace korvax::testing {

class RpcClient {
public:
    // To the device core of korvax-sim whose portmapper is at `portmapperPort`.
    RpcClient(const std::string &host, uint16_t portmapperPort) {
        net::UniqueFd pm;
        if (net::connectTcp(host, portmapperPort, net::Deadline::after(2000), pm) != net::IoResult::Ok)
            return;
        fd_ = std::move(pm);
        net::portmap::PortAnswer port;
        if (!callOn(net::portmap::kProgram, net::portmap::kVersion, net::portmap::kGetPort,
                    net::portmap::Mapping{net::vxi11::kCoreProgram, net::vxi11::kCoreVersion,
                                          net::portmap::kProtoTcp, 0},
                    port)) {
            fd_.reset();
            return;
        }
        fd_.reset();
        net::connectTcp(host, static_cast<uint16_t>(port.port), net::Deadline::after(2000), fd_);
    }
    bool connected() const { return static_cast<bool>(fd_); }
    int fd() const { return fd_.get(); }

    // One call of the device core; false when no well-formed answer came in `ms`.
    template <typename Parms, typename Reply>
    bool call(uint32_t procedure, const Parms &parms, Reply &reply, uint32_t ms = 2000) {
        return callOn(net::vxi11::kCoreProgram, net::vxi11::kCoreVersion, procedure, parms, reply, ms);
    }
    // Sends a call without waiting for its answer.
    template <typename Parms>
    bool send(uint32_t procedure, const Parms &parms) {
        net::XdrWriter out;
        net::writeCall(out, {++xid_, net::vxi11::kCoreProgram, net::vxi11::kCoreVersion, procedure});
        net::encode(out, parms);
        return net::sendAll(fd_.get(), net::frameRecord(out.bytes()), net::Deadline::after(2000)) ==
               net::IoResult::Ok;
    }
    // The result body of the next answer; nullopt when none came in `ms`.
    std::optional<net::Bytes> nextAnswer(uint32_t ms = 2000) {
        const net::Deadline deadline = net::Deadline::after(ms);
        std::array<uint8_t, 4096> chunk;
        net::Bytes record;
        while (records_.next(record) != net::RecordAssembler::Result::Record) {
            std::size_t n = 0;
            if (net::receiveSome(fd_.get(), chunk, deadline, n) != net::IoResult::Ok) return std::nullopt;
            records_.feed({chunk.data(), n});
        }
        net::XdrReader in(record);
        const auto header = net::readReply(in);
        if (!header || !header->accepted || header->stat != net::AcceptStat::Success) return std::nullopt;
        const auto body = in.rest();
        return net::Bytes(body.begin(), body.end());
    }

    // A link to `device`, locked at once when asked; 0 when refused.
    uint32_t link(const std::string &device, bool lock = false) {
        net::vxi11::CreateLinkResp made;
        if (!call(net::vxi11::kCreateLink, net::vxi11::CreateLinkParms{1, lock, 0, device}, made) ||
            made.error != net::vxi11::kNoError)
            return 0;
        return made.link;
    }

private:
    template <typename Parms, typename Reply>
    bool callOn(uint32_t program, uint32_t version, uint32_t procedure, const Parms &parms,
                Reply &reply, uint32_t ms = 2000) {
        net::XdrWriter out;
        net::writeCall(out, {++xid_, program, version, procedure});
        net::encode(out, parms);
        if (net::sendAll(fd_.get(), net::frameRecord(out.bytes()), net::Deadline::after(ms)) !=
            net::IoResult::Ok)
            return false;
        const auto body = nextAnswer(ms);
        if (!body) return false;
        net::XdrReader in(*body);
        return net::decode(in, reply);
    }

    net::UniqueFd fd_;
    net::RecordAssembler records_{net::vxi11::kMaxRecord};
    uint32_t xid_ = 100;
};

}  // namespace korvax::testing

#include "sim/server/server.h"

#include "visa/resource_name.h"

#include <arpa/inet.h>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cctype>

namespace korvax::simserver {
namespace {

namespace rpc = net::vxi11;
namespace pm = net::portmap;


// A text request ("*IDN?") longer than this is noise.
constexpr std::size_t kMaxTextLine = 256;
// Answers a client has not taken yet: past this its requests wait (in the
// kernel's buffers) until it reads.
constexpr std::size_t kOutputHighWater = 64 * 1024;
// Unfinished VXI-11 messages of all the links of one connection (a relay
// frame is at most a few kilobytes).
constexpr std::size_t kMaxMessages = 2 * rpc::kMaxData;
constexpr std::size_t kMaxLinksPerConnection = 64;
constexpr uint8_t kStatusMessageAvailable = 0x10;
// How long accepting pauses when the process has no descriptor left.
constexpr auto kAcceptPause = std::chrono::milliseconds(250);
constexpr std::size_t kReceiveChunk = 64 * 1024;

using Clock = Server::Clock;

// Milliseconds after `start`, without overflow for any 32-bit timeout.
Clock::time_point after(Clock::time_point start, uint32_t ms) {
    return start + std::chrono::milliseconds(ms);
}

bool resolveIpv4(const std::string &host, in_addr &out) {
    if (::inet_pton(AF_INET, host.c_str(), &out) == 1) return true;
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo *found = nullptr;
    if (::getaddrinfo(host.c_str(), nullptr, &hints, &found) != 0 || !found) return false;
    out = reinterpret_cast<sockaddr_in *>(found->ai_addr)->sin_addr;
    ::freeaddrinfo(found);
    return true;
}

// A listening socket on ip:port (port 0: any free one).
std::string listenOn(in_addr ip, uint16_t port, net::UniqueFd &out, uint16_t &bound) {
    net::UniqueFd fd(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
    if (!fd) return std::strerror(errno);
    const int one = 1;
    // A restarted server must get its ports back at once.
    ::setsockopt(fd.get(), SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr = ip;
    addr.sin_port = htons(port);
    if (::bind(fd.get(), reinterpret_cast<sockaddr *>(&addr), sizeof addr) != 0 ||
        ::listen(fd.get(), 64) != 0)
        return std::strerror(errno);
    socklen_t len = sizeof addr;
    ::getsockname(fd.get(), reinterpret_cast<sockaddr *>(&addr), &len);
    bound = ntohs(addr.sin_port);
    out = std::move(fd);
    return {};
}

std::string printable(std::span<const uint8_t> bytes) {
    std::string out = "\"";
    for (uint8_t b : bytes.first(std::min<std::size_t>(bytes.size(), 40))) {
        if (b == '\n') out += "\\n";
        else if (b == '\r') out += "\\r";
        else if (b >= 0x20 && b < 0x7F) out += static_cast<char>(b);
        else {
            char hex[8];
            std::snprintf(hex, sizeof hex, "\\x%02X", b);
            out += hex;
        }
    }
    return out + (bytes.size() > 40 ? "...\"" : "\"");
}

}  // namespace

std::string describeRequest(std::span<const uint8_t> request) {
    if (request.empty()) return "empty request";
    if (request[0] == '*') return "text " + printable(request);
    char buf[96];
    std::snprintf(buf, sizeof buf, "command %u, argument %u, %zu bytes", request[0],
                  request.size() > 1 ? request[1] : 0u, request.size());
    return buf;
}

struct Server::Device {
    std::string rsrc;
    std::string name;  // VXI-11 device name, lower case; "" for a raw socket
    std::shared_ptr<sim::Chassis> chassis;
    uint32_t lockedBy = 0;  // link holding the device lock
};

struct Server::Address {
    std::string host;
    in_addr ip{};
    uint16_t corePort = 0;
    std::vector<Device *> devices;
};

struct Server::Link {
    uint32_t id = 0;
    Device *device = nullptr;
    int connection = -1;
    net::Bytes message;  // written so far, waiting for END
    net::Bytes reply;    // the answer not yet read
    std::size_t replyPos = 0;
    Clock::time_point replyDue{};  // the chassis has it ready from then on
};

// A call that waits (VXI-11: run again when woken), or a raw answer held
// back by the chassis's reply delay.
struct Server::Parked {
    net::Bytes bytes;              // the call's record, or the raw answer
    Clock::time_point wake;        // run again (send) then at the latest
    Clock::time_point started;     // when the call first came
    const Device *unlockOf = nullptr;  // run again as soon as this device is unlocked
    uint64_t order = 0;            // first come, first served among waiters
};

struct Server::Connection {
    int id = -1;        // its key in connections_, and the owner of its links
    net::UniqueFd fd;   // none for a local connection
    Kind kind = Kind::Raw;
    std::string peer;
    Address *address = nullptr;
    Device *device = nullptr;
    net::RecordAssembler records{rpc::kMaxRecord};
    net::Bytes in;   // raw socket input not yet a whole request
    net::Bytes out;  // answers the client has not taken yet
    std::vector<uint32_t> links;
    std::size_t messageBytes = 0;  // in the unfinished messages of its links
    std::optional<Parked> parked;
    Clock::time_point lastProgress = Clock::now();  // a request handled or answer bytes taken
    bool closing = false;
};

Server::Server(uint16_t portmapperPort, bool verbose, Limits limits, RelayLog *relays)
    : portmapperPort_(portmapperPort), verbose_(verbose), limits_(limits), relays_(relays) {}

Server::~Server() = default;

Server::Address *Server::addressFor(const std::string &host, std::string &error, bool listen) {
    in_addr ip{};
    if (!resolveIpv4(host, ip)) {
        error = "host " + host + " does not resolve";
        return nullptr;
    }
    for (auto &a : addresses_)
        if (a->ip.s_addr == ip.s_addr) return a.get();
    auto address = std::make_unique<Address>();
    address->host = host;
    address->ip = ip;
    if (!listen) {
        addresses_.push_back(std::move(address));
        return addresses_.back().get();
    }
    Listener portmapper{{}, Kind::Portmapper, address.get(), nullptr};
    Listener core{{}, Kind::Core, address.get(), nullptr};
    uint16_t bound = 0;
    if (auto e = listenOn(ip, portmapperPort_, portmapper.fd, bound); !e.empty()) {
        error = "portmapper on " + host + ":" + std::to_string(portmapperPort_) + ": " + e;
        return nullptr;
    }
    if (auto e = listenOn(ip, 0, core.fd, address->corePort); !e.empty()) {
        error = "VXI-11 core on " + host + ": " + e;
        return nullptr;
    }
    listeners_.push_back(std::move(portmapper));
    listeners_.push_back(std::move(core));
    addresses_.push_back(std::move(address));
    return addresses_.back().get();
}

std::string Server::addVxi11(const std::string &rsrc, const std::string &host,
                             const std::string &device, std::shared_ptr<sim::Chassis> chassis) {
    std::string error;
    Address *address = addressFor(host, error);
    if (!address) return error;
    return addVxi11Device(rsrc, host, address, device, std::move(chassis));
}

std::string Server::addVxi11Device(const std::string &rsrc, const std::string &host,
                                   Address *address,
                                   const std::string &device,
                                   std::shared_ptr<sim::Chassis> chassis) {
    const std::string name = visa::lowerCase(device);
    if (std::any_of(address->devices.begin(), address->devices.end(),
                    [&](const Device *d) { return d->name == name; }))
        return "device " + device + " is already served at " + host;
    devices_.push_back(std::make_unique<Device>(Device{rsrc, name, std::move(chassis), 0}));
    address->devices.push_back(devices_.back().get());
    return {};
}

std::string Server::addSocket(const std::string &rsrc, const std::string &host, uint16_t port,
                              std::shared_ptr<sim::Chassis> chassis) {
    in_addr ip{};
    if (!resolveIpv4(host, ip)) return "host " + host + " does not resolve";
    Listener l{{}, Kind::Raw, nullptr, nullptr};
    uint16_t bound = 0;
    if (auto e = listenOn(ip, port, l.fd, bound); !e.empty())
        return host + ":" + std::to_string(port) + ": " + e;
    devices_.push_back(std::make_unique<Device>(Device{rsrc, "", std::move(chassis), 0}));
    l.device = devices_.back().get();
    listeners_.push_back(std::move(l));
    return {};
}

std::string Server::addDetachedVxi11(const std::string &rsrc, const std::string &host,
                                     const std::string &device, uint16_t corePort,
                                     std::shared_ptr<sim::Chassis> chassis) {
    std::string error;
    Address *address = addressFor(host, error, false);
    if (!address) return error;
    if (address->corePort == 0) address->corePort = corePort;
    return addVxi11Device(rsrc, host, address, device, std::move(chassis));
}

void Server::addDetachedSocket(const std::string &rsrc, std::shared_ptr<sim::Chassis> chassis) {
    devices_.push_back(std::make_unique<Device>(Device{rsrc, "", std::move(chassis), 0}));
}

int Server::connectLocal(Kind kind, const std::string &target) {
    auto c = std::make_unique<Connection>();
    c->kind = kind;
    c->peer = "local";
    if (kind == Kind::Raw) {
        for (const auto &d : devices_)
            if (d->name.empty() && d->rsrc == target) c->device = d.get();
        if (!c->device) return 0;
    } else {
        for (const auto &a : addresses_)
            if (a->host == target) c->address = a.get();
        if (!c->address) return 0;
    }
    c->id = nextLocal_--;
    const int id = c->id;
    connections_[id] = std::move(c);
    return id;
}

bool Server::feedLocal(int connection, std::span<const uint8_t> bytes, net::Bytes &answers) {
    const auto it = connections_.find(connection);
    if (it == connections_.end() || it->second->fd) return false;
    Connection &c = *it->second;
    // What a poll loop would have done since the last feed.
    timers(Clock::now());
    take(c, bytes);
    answers.insert(answers.end(), c.out.begin(), c.out.end());
    c.out.clear();
    pump(c);
    answers.insert(answers.end(), c.out.begin(), c.out.end());
    c.out.clear();
    if (!c.closing) return true;
    disconnectLocal(connection);
    return false;
}

void Server::disconnectLocal(int connection) {
    const auto it = connections_.find(connection);
    if (it == connections_.end() || it->second->fd) return;
    forget(*it->second);
    connections_.erase(it);
}

template <typename Text>
void Server::log(const Connection &c, const std::string &rsrc, Text &&what) const {
    if (!verbose_) return;
    std::printf("%s %s %s\n", c.peer.c_str(), rsrc.c_str(), what().c_str());
    (void)std::fflush(stdout);  // a log line lost to a full disk is no reason to stop
}

void Server::run(int stopFd) {
    std::vector<pollfd> fds;
    for (;;) {
        const auto now = Clock::now();
        const int wait = timers(now);
        for (auto it = connections_.begin(); it != connections_.end();) {
            if (!it->second->closing) {
                pump(*it->second);
                ++it;
                continue;
            }
            forget(*it->second);
            it = connections_.erase(it);
        }
        const bool listening = now >= listenAgain_;
        fds.clear();
        fds.push_back({stopFd, POLLIN, 0});
        if (listening)
            for (const auto &l : listeners_) fds.push_back({l.fd.get(), POLLIN, 0});
        for (const auto &[fd, c] : connections_) {
            // A connection that waits takes no input: what its client sends
            // meanwhile stays in the kernel's buffers, not in ours.
            const short events = static_cast<short>((blocked(*c) ? 0 : POLLIN) |
                                                    (c->out.empty() ? 0 : POLLOUT));
            fds.push_back({fd, events, 0});
        }
        const int pauseLeft =
            listening ? -1
                      : static_cast<int>(std::chrono::ceil<std::chrono::milliseconds>(listenAgain_ - now)
                                             .count());
        const int timeout = wait < 0 ? pauseLeft : pauseLeft < 0 ? wait : std::min(wait, pauseLeft);
        if (::poll(fds.data(), fds.size(), timeout) < 0) {
            if (errno == EINTR) continue;
            std::perror("korvax-sim: poll");
            return;
        }
        if (fds[0].revents) return;
        std::size_t i = 1;
        if (listening)
            for (auto &l : listeners_)
                if (fds[i++].revents & POLLIN) accept(l, Clock::now());
        for (; i < fds.size(); ++i) {
            const auto it = connections_.find(fds[i].fd);
            if (it == connections_.end() || !fds[i].revents) continue;
            Connection &c = *it->second;
            if (fds[i].revents & POLLOUT) flushOutput(c);
            if (!c.closing && (fds[i].revents & (POLLIN | POLLHUP | POLLERR))) {
                if (blocked(c)) {
                    // Only a hang-up wakes a connection that takes no input.
                    if (fds[i].revents & (POLLHUP | POLLERR)) close(c);
                } else {
                    receive(c);
                }
            }
        }
    }
}

int Server::timers(Clock::time_point now) {
    Clock::time_point next = Clock::time_point::max();
    for (auto &[id, c] : connections_) {
        if (c->closing) continue;
        if (c->parked && c->parked->wake <= now) rerun(*c);
        if (c->closing) continue;
        if (c->parked) {
            next = std::min(next, c->parked->wake);
        } else if (limits_.idleTimeout.count() > 0) {
            const auto idleAt = c->lastProgress + limits_.idleTimeout;
            if (idleAt <= now) {
                log(*c, "-", [] { return std::string("idle too long; connection closed"); });
                close(*c);
            } else {
                next = std::min(next, idleAt);
            }
        }
    }
    if (next == Clock::time_point::max()) return -1;
    const auto ms = std::chrono::ceil<std::chrono::milliseconds>(next - Clock::now()).count();
    return static_cast<int>(std::clamp<long long>(ms, 0, 1 << 30));
}

bool Server::blocked(const Connection &c) {
    return c.closing || c.parked || c.out.size() >= kOutputHighWater;
}

// A connection that goes takes its links, the locks they hold and the call
// it parked along.
void Server::forget(Connection &c) {
    c.parked.reset();
    for (uint32_t id : c.links) {
        const auto link = links_.find(id);
        if (link == links_.end()) continue;
        Device &device = *link->second->device;
        links_.erase(link);
        if (device.lockedBy == id) release(device);
    }
    c.links.clear();
}

std::size_t Server::clients() const {
    return static_cast<std::size_t>(std::count_if(connections_.begin(), connections_.end(),
                                                  [](const auto &c) { return c.first >= 0; }));
}

void Server::accept(Listener &listener, Clock::time_point now) {
    // Bounded: a burst of connections is taken a few at a time.
    for (int n = 0; n < 16; ++n) {
        sockaddr_in peer{};
        socklen_t len = sizeof peer;
        const int fd = ::accept4(listener.fd.get(), reinterpret_cast<sockaddr *>(&peer), &len,
                                 SOCK_NONBLOCK | SOCK_CLOEXEC);
        if (fd < 0) {
            // Out of descriptors (or memory): the connection stays queued and
            // the listener readable, so wait a little instead of spinning.
            if (errno == EMFILE || errno == ENFILE || errno == ENOBUFS || errno == ENOMEM)
                listenAgain_ = now + kAcceptPause;
            return;
        }
        char ip[INET_ADDRSTRLEN] = "?";
        ::inet_ntop(AF_INET, &peer.sin_addr, ip, sizeof ip);
        const std::string name = std::string(ip) + ":" + std::to_string(ntohs(peer.sin_port));
        if (clients() >= limits_.maxClients) {
            ::close(fd);
            if (verbose_)
                std::printf("%s refused: %zu clients already\n", name.c_str(), limits_.maxClients);
            continue;
        }
        const int one = 1;
        ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
        auto c = std::make_unique<Connection>();
        c->id = fd;
        c->fd.reset(fd);
        c->kind = listener.kind;
        c->address = listener.address;
        c->device = listener.device;
        c->peer = name;
        c->lastProgress = now;
        connections_[fd] = std::move(c);
    }
}

void Server::close(Connection &c) {
    c.closing = true;
}

void Server::receive(Connection &c) {
    std::array<uint8_t, kReceiveChunk> chunk;
    const ssize_t n = ::recv(c.fd.get(), chunk.data(), chunk.size(), 0);
    if (n == 0 || (n < 0 && errno != EAGAIN && errno != EINTR && errno != EWOULDBLOCK)) {
        close(c);
        return;
    }
    if (n < 0) return;
    take(c, {chunk.data(), static_cast<std::size_t>(n)});
    if (!c.closing) flushOutput(c);
}

void Server::take(Connection &c, std::span<const uint8_t> got) {
    if (c.kind == Kind::Raw)
        c.in.insert(c.in.end(), got.begin(), got.end());
    else
        c.records.feed(got);
    pump(c);
}

void Server::pump(Connection &c) {
    if (blocked(c)) return;
    if (c.kind == Kind::Raw)
        handleRaw(c);
    else
        handleRecords(c);
}

void Server::handleRecords(Connection &c) {
    net::Bytes record;
    // Each pass takes one whole record out of the buffer: bounded by it.
    while (!blocked(c)) {
        const auto r = c.records.next(record);
        if (r == net::RecordAssembler::Result::Incomplete) return;
        if (r == net::RecordAssembler::Result::Oversized) {
            log(c, "-", [] { return std::string("record beyond the size limit; connection closed"); });
            close(c);
            return;
        }
        c.lastProgress = Clock::now();
        handleRecord(c, record);
    }
}

void Server::handleRecord(Connection &c, const net::Bytes &record) {
    record_ = &record;
    net::XdrReader in(record);
    net::CallHeader call;
    switch (net::readCall(in, call)) {
    case net::CallProblem::None: break;
    case net::CallProblem::RpcVersion: {
        net::XdrWriter out;
        net::writeRpcMismatch(out, call.xid);
        send(c, net::frameRecord(out.bytes()));
        return;
    }
    case net::CallProblem::NotACall:
    case net::CallProblem::Malformed:
        log(c, "-", [] { return std::string("not an RPC call; connection closed"); });
        close(c);
        return;
    }
    if (c.kind == Kind::Portmapper)
        handlePortmapper(c, call, in);
    else
        handleCore(c, call, in);
}

void Server::park(Connection &c, Clock::time_point wake, const Device *unlockOf) {
    c.parked = Parked{*record_, wake, callStarted(), unlockOf, retry_ ? retry_->order : ++parkings_};
}

Clock::time_point Server::callStarted() const {
    return retry_ ? retry_->started : Clock::now();
}

void Server::rerun(Connection &c) {
    const Parked parked = std::move(*c.parked);
    c.parked.reset();
    if (c.kind == Kind::Raw) {
        // The chassis's delayed answer is ready.
        send(c, parked.bytes);
        c.lastProgress = Clock::now();
        return;
    }
    const Parked *outerRetry = retry_;
    const net::Bytes *outerRecord = record_;
    retry_ = &parked;
    handleRecord(c, parked.bytes);
    retry_ = outerRetry;
    record_ = outerRecord;
}

// The device's lock is free: the calls waiting for it run again, first
// come first.
void Server::release(Device &device) {
    device.lockedBy = 0;
    std::vector<std::pair<uint64_t, int>> waiting;
    for (const auto &[id, c] : connections_)
        if (!c->closing && c->parked && c->parked->unlockOf == &device)
            waiting.emplace_back(c->parked->order, id);
    std::sort(waiting.begin(), waiting.end());
    for (const auto &[order, id] : waiting) {
        const auto it = connections_.find(id);
        if (it != connections_.end() && it->second->parked && it->second->parked->unlockOf == &device)
            rerun(*it->second);
    }
}

template <typename Message>
void Server::answer(Connection &c, uint32_t xid, const Message &message) {
    net::XdrWriter out;
    net::writeAcceptedReply(out, xid, net::AcceptStat::Success);
    net::encode(out, message);
    send(c, net::frameRecord(out.bytes()));
}

void Server::reply(Connection &c, uint32_t xid, net::AcceptStat stat, uint32_t low,
                   uint32_t high) {
    net::XdrWriter out;
    net::writeAcceptedReply(out, xid, stat, low, high);
    send(c, net::frameRecord(out.bytes()));
}

void Server::handlePortmapper(Connection &c, const net::CallHeader &call, net::XdrReader &in) {
    if (call.program != pm::kProgram) return reply(c, call.xid, net::AcceptStat::ProgUnavail);
    if (call.version < 2 || call.version > 4)
        return reply(c, call.xid, net::AcceptStat::ProgMismatch, 2, 4);
    if (call.procedure == pm::kNull) return reply(c, call.xid, net::AcceptStat::Success);
    // GETADDR has the same number in versions 3 and 4.
    if (call.procedure != pm::kGetPort) return reply(c, call.xid, net::AcceptStat::ProcUnavail);
    if (call.version == 2) {
        pm::Mapping asked;
        if (!net::decode(in, asked)) return reply(c, call.xid, net::AcceptStat::GarbageArgs);
        const bool known = asked.program == rpc::kCoreProgram && asked.version == rpc::kCoreVersion &&
                           asked.protocol == pm::kProtoTcp;
        const pm::PortAnswer port{known ? c.address->corePort : 0u};
        log(c, c.address->host, [&] { return "portmapper GETPORT -> " + std::to_string(port.port); });
        return answer(c, call.xid, port);
    }
    pm::AddressQuery asked;
    if (!net::decode(in, asked)) return reply(c, call.xid, net::AcceptStat::GarbageArgs);
    pm::AddressAnswer where;
    if (asked.program == rpc::kCoreProgram && asked.version == rpc::kCoreVersion &&
        (asked.netid == "tcp" || asked.netid.empty())) {
        char ip[INET_ADDRSTRLEN];
        ::inet_ntop(AF_INET, &c.address->ip, ip, sizeof ip);
        where.address = std::string(ip) + "." + std::to_string(c.address->corePort >> 8) + "." +
                        std::to_string(c.address->corePort & 0xFF);
    }
    log(c, c.address->host, [&] { return "rpcbind GETADDR -> \"" + where.address + "\""; });
    answer(c, call.xid, where);
}

Server::Link *Server::linkOf(const Connection &c, uint32_t id) {
    const auto it = links_.find(id);
    return it != links_.end() && it->second->connection == c.id ? it->second.get() : nullptr;
}

std::optional<uint32_t> Server::waitForLock(Connection &c, const Link *link, uint32_t flags,
                                            uint32_t lockTimeoutMs) {
    if (!link) return rpc::kInvalidLinkId;
    const Device &device = *link->device;
    if (device.lockedBy == 0 || device.lockedBy == link->id) return rpc::kNoError;
    const auto giveUp = after(callStarted(), lockTimeoutMs);
    if (!(flags & rpc::kFlagWaitLock) || Clock::now() >= giveUp) return rpc::kDeviceLocked;
    park(c, giveUp, &device);
    return std::nullopt;
}

void Server::handleCore(Connection &c, const net::CallHeader &call, net::XdrReader &in) {
    if (call.program != rpc::kCoreProgram) return reply(c, call.xid, net::AcceptStat::ProgUnavail);
    if (call.version != rpc::kCoreVersion)
        return reply(c, call.xid, net::AcceptStat::ProgMismatch, 1, 1);
    switch (call.procedure) {
    case rpc::kCreateLink: return createLink(c, call.xid, in);
    case rpc::kDeviceWrite: return deviceWrite(c, call.xid, in);
    case rpc::kDeviceRead: return deviceRead(c, call.xid, in);
    case rpc::kDeviceReadStb:
    case rpc::kDeviceTrigger:
    case rpc::kDeviceClear:
    case rpc::kDeviceRemote:
    case rpc::kDeviceLocal: return deviceGeneric(c, call, in);
    case rpc::kDeviceLock: return deviceLock(c, call.xid, in);
    case rpc::kDeviceUnlock: return deviceUnlock(c, call.xid, in);
    case rpc::kDestroyLink: return destroyLink(c, call.xid, in);
    // No service requests, commands or interrupt channel: a relay chassis
    // has none.
    case rpc::kDeviceDoCmd: return answer(c, call.xid, rpc::DoCmdResp{rpc::kNotSupported, {}});
    case rpc::kDeviceEnableSrq:
    case rpc::kCreateIntrChan:
    case rpc::kDestroyIntrChan: return answer(c, call.xid, rpc::ErrorResp{rpc::kNotSupported});
    default: return reply(c, call.xid, net::AcceptStat::ProcUnavail);
    }
}

void Server::createLink(Connection &c, uint32_t xid, net::XdrReader &in) {
    rpc::CreateLinkParms asked;
    if (!net::decode(in, asked)) return reply(c, xid, net::AcceptStat::GarbageArgs);
    const std::string name = visa::lowerCase(asked.device);
    const auto found = std::find_if(c.address->devices.begin(), c.address->devices.end(),
                                    [&](const Device *d) { return d->name == name; });
    rpc::CreateLinkResp made{rpc::kNoError, 0, 0, static_cast<uint32_t>(rpc::kMaxData)};
    if (found == c.address->devices.end()) {
        made.error = rpc::kDeviceNotAccessible;
    } else if (c.links.size() >= kMaxLinksPerConnection) {
        made.error = rpc::kOutOfResources;
    } else if (asked.lockDevice && (*found)->lockedBy != 0) {
        // Asked to lock at once: wait for the holder up to the lock timeout.
        const auto giveUp = after(callStarted(), asked.lockTimeout);
        if (Clock::now() < giveUp) return park(c, giveUp, *found);
        made.error = rpc::kDeviceLocked;
    }
    if (made.error == rpc::kNoError) {
        made.link = nextLink_++;
        if (nextLink_ == 0) nextLink_ = 1;
        auto link = std::make_unique<Link>();
        link->id = made.link;
        link->device = *found;
        link->connection = c.id;
        if (asked.lockDevice) (*found)->lockedBy = made.link;
        links_[made.link] = std::move(link);
        c.links.push_back(made.link);
    }
    log(c, found == c.address->devices.end() ? c.address->host : (*found)->rsrc, [&] {
        return "create_link \"" + name + "\" -> " +
               (made.error ? "error " + std::to_string(made.error) : "link " + std::to_string(made.link));
    });
    answer(c, xid, made);
}

bool Server::serve(Connection &c, Device &device, std::span<const uint8_t> request,
                   sim::Exchange &out) {
    out = device.chassis->serve(request);
    if (out.hangUp) {
        log(c, device.rsrc, [&] { return describeRequest(request) + " -> connection dropped"; });
        close(c);
        return false;
    }
    if (out.framesApplied && relays_) relays_->frameApplied(device.rsrc, *device.chassis);
    return true;
}

void Server::deviceWrite(Connection &c, uint32_t xid, net::XdrReader &in) {
    rpc::WriteParms asked;
    if (!net::decode(in, asked)) return reply(c, xid, net::AcceptStat::GarbageArgs);
    Link *link = linkOf(c, asked.link);
    const auto usable = waitForLock(c, link, asked.flags, asked.lockTimeout);
    if (!usable) return;
    rpc::WriteResp taken{*usable, 0};
    if (taken.error == rpc::kNoError && c.messageBytes + asked.data.size() > kMaxMessages)
        taken.error = rpc::kOutOfResources;
    if (taken.error != rpc::kNoError) return answer(c, xid, taken);
    link->message.insert(link->message.end(), asked.data.begin(), asked.data.end());
    c.messageBytes += asked.data.size();
    taken.size = static_cast<uint32_t>(asked.data.size());
    // The message ends at END, or where a binary request of the chassis
    // ends (its frames carry their length): some clients leave END off the
    // writes of long messages.
    const auto length = link->message.empty() || link->message.front() == '*'
                            ? std::nullopt
                            : sim::binaryRequestLength(link->message);
    const bool whole = length && *length == link->message.size();
    if ((asked.flags & rpc::kFlagEnd) || whole) {
        // A new message makes the device drop an answer nobody read.
        link->reply.clear();
        link->replyPos = 0;
        sim::Exchange exchange;
        if (!serve(c, *link->device, link->message, exchange)) return;
        if (exchange.reply) link->reply = std::move(*exchange.reply);
        link->replyDue = Clock::now() + exchange.delay;
        log(c, link->device->rsrc, [&] {
            return "device_write " + describeRequest(link->message) + " -> " +
                   std::to_string(link->reply.size()) + " bytes to read";
        });
        c.messageBytes -= link->message.size();
        link->message.clear();
    }
    answer(c, xid, taken);
}

void Server::deviceRead(Connection &c, uint32_t xid, net::XdrReader &in) {
    rpc::ReadParms asked;
    if (!net::decode(in, asked)) return reply(c, xid, net::AcceptStat::GarbageArgs);
    Link *link = linkOf(c, asked.link);
    const auto usable = waitForLock(c, link, asked.flags, asked.lockTimeout);
    if (!usable) return;
    rpc::ReadResp given{*usable, 0, {}};
    if (given.error == rpc::kNoError && link->replyPos >= link->reply.size()) {
        // Nothing was asked that the chassis answers: nothing will come.
        given.error = rpc::kIoTimeout;
    } else if (given.error == rpc::kNoError && Clock::now() < link->replyDue) {
        // The chassis is still at it: wait for its answer up to the I/O
        // timeout (it stays there to be read after a timeout).
        const auto giveUp = after(callStarted(), asked.ioTimeout);
        if (Clock::now() < giveUp) return park(c, std::min(giveUp, link->replyDue));
        given.error = rpc::kIoTimeout;
    }
    if (given.error == rpc::kNoError) {
        const std::size_t left = link->reply.size() - link->replyPos;
        std::size_t n = std::min<std::size_t>({left, asked.requestSize, rpc::kMaxData});
        if (asked.flags & rpc::kFlagTermChrSet) {
            const auto begin = link->reply.begin() + static_cast<std::ptrdiff_t>(link->replyPos);
            const auto term = std::find(begin, begin + static_cast<std::ptrdiff_t>(n),
                                        static_cast<uint8_t>(asked.termChar));
            if (term != begin + static_cast<std::ptrdiff_t>(n)) {
                n = static_cast<std::size_t>(term - begin) + 1;
                given.reason |= rpc::kReasonTermChar;
            }
        }
        given.data = std::span<const uint8_t>(link->reply).subspan(link->replyPos, n);
        link->replyPos += n;
        if (link->replyPos == link->reply.size()) given.reason |= rpc::kReasonEnd;
        if (n == asked.requestSize) given.reason |= rpc::kReasonRequestCount;
    }
    if (link)
        log(c, link->device->rsrc, [&] {
            return "device_read " + std::to_string(asked.requestSize) + " -> " +
                   (given.error ? "error " + std::to_string(given.error)
                                : std::to_string(given.data.size()) + " bytes");
        });
    answer(c, xid, given);
    if (link && given.error == rpc::kNoError && link->replyPos >= link->reply.size()) {
        link->reply.clear();
        link->replyPos = 0;
    }
}

void Server::deviceGeneric(Connection &c, const net::CallHeader &call, net::XdrReader &in) {
    rpc::GenericParms asked;
    if (!net::decode(in, asked)) return reply(c, call.xid, net::AcceptStat::GarbageArgs);
    Link *link = linkOf(c, asked.link);
    const auto usable = waitForLock(c, link, asked.flags, asked.lockTimeout);
    if (!usable) return;
    const uint32_t error = *usable;
    if (error == rpc::kNoError && call.procedure == rpc::kDeviceClear) {
        link->reply.clear();
        link->replyPos = 0;
        c.messageBytes -= link->message.size();
        link->message.clear();
    }
    if (link)
        log(c, link->device->rsrc, [&] {
            static constexpr std::array<const char *, 5> kNames = {
                "device_readstb", "device_trigger", "device_clear", "device_remote", "device_local"};
            return std::string(kNames[call.procedure - rpc::kDeviceReadStb]);
        });
    if (call.procedure != rpc::kDeviceReadStb) return answer(c, call.xid, rpc::ErrorResp{error});
    rpc::ReadStbResp status{error, 0};
    if (error == rpc::kNoError && link->replyPos < link->reply.size() && Clock::now() >= link->replyDue)
        status.stb |= kStatusMessageAvailable;
    answer(c, call.xid, status);
}

void Server::deviceLock(Connection &c, uint32_t xid, net::XdrReader &in) {
    rpc::LockParms asked;
    if (!net::decode(in, asked)) return reply(c, xid, net::AcceptStat::GarbageArgs);
    Link *link = linkOf(c, asked.link);
    const auto usable = waitForLock(c, link, asked.flags, asked.lockTimeout);
    if (!usable) return;
    if (*usable == rpc::kNoError) link->device->lockedBy = link->id;
    if (link)
        log(c, link->device->rsrc, [&] {
            return std::string("device_lock -> ") + (*usable ? "locked by another link" : "held");
        });
    answer(c, xid, rpc::ErrorResp{*usable});
}

void Server::deviceUnlock(Connection &c, uint32_t xid, net::XdrReader &in) {
    rpc::LinkParms asked;
    if (!net::decode(in, asked)) return reply(c, xid, net::AcceptStat::GarbageArgs);
    Link *link = linkOf(c, asked.link);
    uint32_t error = rpc::kNoError;
    if (!link)
        error = rpc::kInvalidLinkId;
    else if (link->device->lockedBy != link->id)
        error = rpc::kNoLockHeld;
    if (link) log(c, link->device->rsrc, [] { return std::string("device_unlock"); });
    // Answered first: the waiters it lets in answer after it.
    answer(c, xid, rpc::ErrorResp{error});
    if (error == rpc::kNoError) release(*link->device);
}

void Server::destroyLink(Connection &c, uint32_t xid, net::XdrReader &in) {
    rpc::LinkParms asked;
    if (!net::decode(in, asked)) return reply(c, xid, net::AcceptStat::GarbageArgs);
    Link *link = linkOf(c, asked.link);
    answer(c, xid, rpc::ErrorResp{link ? rpc::kNoError : rpc::kInvalidLinkId});
    if (!link) return;
    log(c, link->device->rsrc, [&] { return "destroy_link " + std::to_string(asked.link); });
    Device &device = *link->device;
    c.messageBytes -= link->message.size();
    links_.erase(asked.link);
    c.links.erase(std::remove(c.links.begin(), c.links.end(), asked.link), c.links.end());
    if (device.lockedBy == asked.link) release(device);
}

void Server::handleRaw(Connection &c) {
    // Each pass takes at least one byte out of the buffer: bounded by it.
    while (!c.in.empty() && !blocked(c)) {
        std::size_t length = 0;
        if (c.in[0] == '*') {
            const auto end = std::find(c.in.begin(), c.in.begin() + static_cast<std::ptrdiff_t>(
                                                                       std::min(c.in.size(), kMaxTextLine)),
                                       '\n');
            if (end != c.in.end() && *end == '\n')
                length = static_cast<std::size_t>(end - c.in.begin()) + 1;
            else if (c.in.size() >= kMaxTextLine)
                length = kMaxTextLine;  // noise: answered as such below
            else
                return;
        } else {
            const auto known = sim::binaryRequestLength(c.in);
            if (!known) return;
            // Not a request: everything there is noise, and the chassis
            // says so once; the stream starts afresh with the next bytes.
            length = *known == 0 ? c.in.size() : *known;
            if (c.in.size() < length) return;
        }
        const std::span<const uint8_t> request(c.in.data(), length);
        sim::Exchange exchange;
        if (!serve(c, *c.device, request, exchange)) return;
        log(c, c.device->rsrc, [&] {
            return describeRequest(request) + " -> " +
                   std::to_string(exchange.reply ? exchange.reply->size() : 0) + " bytes";
        });
        c.in.erase(c.in.begin(), c.in.begin() + static_cast<std::ptrdiff_t>(length));
        c.lastProgress = Clock::now();
        if (!exchange.reply) continue;
        if (exchange.delay.count() > 0) {
            // The next request waits until this answer has gone, as it
            // would on the chassis itself.
            c.parked = Parked{std::move(*exchange.reply), Clock::now() + exchange.delay,
                              Clock::now(), nullptr, ++parkings_};
            return;
        }
        send(c, *exchange.reply);
    }
}

// Answers are queued and go out together once the bytes at hand are
// handled: requests that came in one piece are answered in one piece.
void Server::send(Connection &c, std::span<const uint8_t> bytes) {
    c.out.insert(c.out.end(), bytes.begin(), bytes.end());
}

void Server::flushOutput(Connection &c) {
    if (!c.fd) return;  // a local connection: the feeder takes it
    while (!c.out.empty()) {
        const ssize_t n = ::send(c.fd.get(), c.out.data(), c.out.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
        if (n > 0) {
            c.out.erase(c.out.begin(), c.out.begin() + n);
            c.lastProgress = Clock::now();
            continue;
        }
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) return;
        close(c);  // the client went away
        return;
    }
}

}  // namespace korvax::simserver

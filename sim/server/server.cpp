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
// A client that stops reading its answers is dropped beyond this.
constexpr std::size_t kMaxPendingOutput = 4 * 1024 * 1024;
// Bytes written to one link before END: a few of the largest frames.
constexpr std::size_t kMaxMessage = 4 * rpc::kMaxData;
constexpr std::size_t kMaxLinksPerConnection = 64;
constexpr uint8_t kStatusMessageAvailable = 0x10;

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
    bool closing = false;
};

Server::Server(uint16_t portmapperPort, bool verbose)
    : portmapperPort_(portmapperPort), verbose_(verbose) {}

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
    take(c, bytes);
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

void Server::log(const Connection &c, const std::string &rsrc, const std::string &what) const {
    if (!verbose_) return;
    std::printf("%s %s %s\n", c.peer.c_str(), rsrc.c_str(), what.c_str());
    (void)std::fflush(stdout);  // a log line lost to a full disk is no reason to stop
}

void Server::run(int stopFd) {
    std::vector<pollfd> fds;
    for (;;) {
        fds.clear();
        fds.push_back({stopFd, POLLIN, 0});
        for (const auto &l : listeners_) fds.push_back({l.fd.get(), POLLIN, 0});
        for (const auto &[fd, c] : connections_)
            fds.push_back({fd, static_cast<short>(POLLIN | (c->out.empty() ? 0 : POLLOUT)), 0});
        if (::poll(fds.data(), fds.size(), -1) < 0) {
            if (errno == EINTR) continue;
            std::perror("korvax-sim: poll");
            return;
        }
        if (fds[0].revents) return;
        std::size_t i = 1;
        for (auto &l : listeners_) {
            if (fds[i++].revents & POLLIN) accept(l);
        }
        for (; i < fds.size(); ++i) {
            const auto it = connections_.find(fds[i].fd);
            if (it == connections_.end()) continue;
            Connection &c = *it->second;
            if (fds[i].revents & POLLOUT) flushOutput(c);
            if (!c.closing && (fds[i].revents & (POLLIN | POLLHUP | POLLERR))) receive(c);
        }
        for (auto it = connections_.begin(); it != connections_.end();) {
            if (!it->second->closing) {
                ++it;
                continue;
            }
            forget(*it->second);
            it = connections_.erase(it);
        }
    }
}

// A connection that goes takes its links, and the locks they hold, along.
void Server::forget(Connection &c) {
    for (uint32_t id : c.links) {
        const auto link = links_.find(id);
        if (link == links_.end()) continue;
        if (link->second->device->lockedBy == id) link->second->device->lockedBy = 0;
        links_.erase(link);
    }
    c.links.clear();
}

void Server::accept(Listener &listener) {
    // Bounded: a burst of connections is taken a few at a time.
    for (int n = 0; n < 16; ++n) {
        sockaddr_in peer{};
        socklen_t len = sizeof peer;
        const int fd = ::accept4(listener.fd.get(), reinterpret_cast<sockaddr *>(&peer), &len,
                                 SOCK_NONBLOCK | SOCK_CLOEXEC);
        if (fd < 0) return;
        const int one = 1;
        ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
        auto c = std::make_unique<Connection>();
        c->id = fd;
        c->fd.reset(fd);
        c->kind = listener.kind;
        c->address = listener.address;
        c->device = listener.device;
        char ip[INET_ADDRSTRLEN] = "?";
        ::inet_ntop(AF_INET, &peer.sin_addr, ip, sizeof ip);
        c->peer = std::string(ip) + ":" + std::to_string(ntohs(peer.sin_port));
        connections_[fd] = std::move(c);
    }
}

void Server::close(Connection &c) {
    c.closing = true;
}

void Server::receive(Connection &c) {
    std::array<uint8_t, 65536> chunk;
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
    if (c.kind == Kind::Raw) {
        c.in.insert(c.in.end(), got.begin(), got.end());
        handleRaw(c);
    } else {
        handleRecords(c, got);
    }
}

void Server::handleRecords(Connection &c, std::span<const uint8_t> got) {
    c.records.feed(got);
    net::Bytes record;
    // Each pass takes one whole record out of the buffer: bounded by it.
    while (!c.closing) {
        const auto r = c.records.next(record);
        if (r == net::RecordAssembler::Result::Incomplete) return;
        if (r == net::RecordAssembler::Result::Oversized) {
            log(c, "-", "record beyond the size limit; connection closed");
            close(c);
            return;
        }
        handleRecord(c, record);
    }
}

void Server::handleRecord(Connection &c, const net::Bytes &record) {
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
        log(c, "-", "not an RPC call; connection closed");
        close(c);
        return;
    }
    net::XdrWriter out;
    if (c.kind == Kind::Portmapper)
        handlePortmapper(c, call, in, out);
    else
        handleCore(c, call, in, out);
    send(c, net::frameRecord(out.bytes()));
}

void Server::handlePortmapper(Connection &c, const net::CallHeader &call, net::XdrReader &in,
                              net::XdrWriter &out) {
    if (call.program != pm::kProgram) {
        net::writeAcceptedReply(out, call.xid, net::AcceptStat::ProgUnavail);
        return;
    }
    if (call.version < 2 || call.version > 4) {
        net::writeAcceptedReply(out, call.xid, net::AcceptStat::ProgMismatch, 2, 4);
        return;
    }
    if (call.procedure == pm::kNull) {
        net::writeAcceptedReply(out, call.xid, net::AcceptStat::Success);
        return;
    }
    if (call.procedure != pm::kGetPort) {  // GETADDR has the same number in versions 3 and 4
        net::writeAcceptedReply(out, call.xid, net::AcceptStat::ProcUnavail);
        return;
    }
    const uint32_t program = in.u32();
    const uint32_t version = in.u32();
    const bool known = program == rpc::kCoreProgram && version == rpc::kCoreVersion;
    if (call.version == 2) {
        const uint32_t protocol = in.u32();
        in.u32();
        if (!in.ok()) {
            net::writeAcceptedReply(out, call.xid, net::AcceptStat::GarbageArgs);
            return;
        }
        const uint32_t port = known && protocol == pm::kProtoTcp ? c.address->corePort : 0;
        log(c, c.address->host, "portmapper GETPORT -> " + std::to_string(port));
        net::writeAcceptedReply(out, call.xid, net::AcceptStat::Success);
        out.u32(port);
        return;
    }
    const std::string netid = in.string(64);
    in.string(128);  // address the caller asks about
    in.string(256);  // owner
    if (!in.ok()) {
        net::writeAcceptedReply(out, call.xid, net::AcceptStat::GarbageArgs);
        return;
    }
    std::string universal;
    if (known && (netid == "tcp" || netid.empty())) {
        char ip[INET_ADDRSTRLEN];
        ::inet_ntop(AF_INET, &c.address->ip, ip, sizeof ip);
        universal = std::string(ip) + "." + std::to_string(c.address->corePort >> 8) + "." +
                    std::to_string(c.address->corePort & 0xFF);
    }
    log(c, c.address->host, "rpcbind GETADDR -> \"" + universal + "\"");
    net::writeAcceptedReply(out, call.xid, net::AcceptStat::Success);
    out.string(universal);
}

void Server::handleCore(Connection &c, const net::CallHeader &call, net::XdrReader &in,
                        net::XdrWriter &out) {
    if (call.program != rpc::kCoreProgram) {
        net::writeAcceptedReply(out, call.xid, net::AcceptStat::ProgUnavail);
        return;
    }
    if (call.version != rpc::kCoreVersion) {
        net::writeAcceptedReply(out, call.xid, net::AcceptStat::ProgMismatch, 1, 1);
        return;
    }
    net::XdrWriter body;
    auto garbage = [&] { net::writeAcceptedReply(out, call.xid, net::AcceptStat::GarbageArgs); };
    // The link of this connection named by the call's first argument.
    auto linkOf = [&](uint32_t id) -> Link * {
        const auto it = links_.find(id);
        return it != links_.end() && it->second->connection == c.id ? it->second.get()
                                                                            : nullptr;
    };
    auto lockedOut = [](const Link &l) {
        return l.device->lockedBy != 0 && l.device->lockedBy != l.id;
    };

    switch (call.procedure) {
    case rpc::kCreateLink: {
        in.i32();  // client id
        const bool lock = in.boolean();
        in.u32();  // lock timeout
        const std::string name = visa::lowerCase(in.string(rpc::kMaxDeviceName));
        if (!in.ok()) return garbage();
        const auto found = std::find_if(c.address->devices.begin(), c.address->devices.end(),
                                        [&](const Device *d) { return d->name == name; });
        uint32_t error = rpc::kNoError;
        uint32_t id = 0;
        if (found == c.address->devices.end())
            error = rpc::kDeviceNotAccessible;
        else if (c.links.size() >= kMaxLinksPerConnection)
            error = rpc::kOutOfResources;
        else if (lock && (*found)->lockedBy != 0)
            error = rpc::kDeviceLocked;
        if (error == rpc::kNoError) {
            id = nextLink_++;
            if (nextLink_ == 0) nextLink_ = 1;
            auto link = std::make_unique<Link>();
            link->id = id;
            link->device = *found;
            link->connection = c.id;
            if (lock) (*found)->lockedBy = id;
            links_[id] = std::move(link);
            c.links.push_back(id);
        }
        log(c, found == c.address->devices.end() ? c.address->host : (*found)->rsrc,
            "create_link \"" + name + "\" -> " +
                (error ? "error " + std::to_string(error) : "link " + std::to_string(id)));
        body.u32(error);
        body.u32(id);
        body.u32(0);  // no abort channel
        body.u32(static_cast<uint32_t>(rpc::kMaxData));
        break;
    }
    case rpc::kDeviceWrite: {
        Link *link = linkOf(in.u32());
        in.u32();  // io timeout
        in.u32();  // lock timeout
        const uint32_t flags = in.u32();
        const auto data = in.opaque(rpc::kMaxData);
        if (!in.ok()) return garbage();
        uint32_t error = rpc::kNoError;
        if (!link)
            error = rpc::kInvalidLinkId;
        else if (lockedOut(*link))
            error = rpc::kDeviceLocked;
        else if (link->message.size() + data.size() > kMaxMessage)
            error = rpc::kParameterError;
        if (error == rpc::kNoError) {
            link->message.insert(link->message.end(), data.begin(), data.end());
            // The message ends at END, or where a binary request of the
            // chassis ends (its frames carry their length): some clients
            // leave END off the writes of long messages.
            const auto length = link->message.empty() || link->message.front() == '*'
                                    ? std::nullopt
                                    : sim::binaryRequestLength(link->message);
            const bool whole = length && *length == link->message.size();
            if ((flags & rpc::kFlagEnd) || whole) {
                // A new message makes the device drop an answer nobody read.
                link->reply.clear();
                link->replyPos = 0;
                if (auto reply = link->device->chassis->receive(link->message))
                    link->reply = std::move(*reply);
                log(c, link->device->rsrc,
                    "device_write " + describeRequest(link->message) + " -> " +
                        std::to_string(link->reply.size()) + " bytes to read");
                link->message.clear();
            }
        }
        body.u32(error);
        body.u32(error == rpc::kNoError ? static_cast<uint32_t>(data.size()) : 0);
        break;
    }
    case rpc::kDeviceRead: {
        Link *link = linkOf(in.u32());
        const uint32_t requested = in.u32();
        in.u32();
        in.u32();
        const uint32_t flags = in.u32();
        const uint32_t termChar = in.u32();
        if (!in.ok()) return garbage();
        uint32_t error = rpc::kNoError;
        uint32_t reason = 0;
        std::span<const uint8_t> data;
        if (!link) {
            error = rpc::kInvalidLinkId;
        } else if (lockedOut(*link)) {
            error = rpc::kDeviceLocked;
        } else if (link->replyPos >= link->reply.size()) {
            // The chassis answers at once or never: nothing will come.
            error = rpc::kIoTimeout;
        } else {
            const std::size_t left = link->reply.size() - link->replyPos;
            std::size_t n = std::min<std::size_t>({left, requested, rpc::kMaxData});
            if (flags & rpc::kFlagTermChrSet) {
                const auto begin = link->reply.begin() + static_cast<std::ptrdiff_t>(link->replyPos);
                const auto term = std::find(begin, begin + static_cast<std::ptrdiff_t>(n),
                                            static_cast<uint8_t>(termChar));
                if (term != begin + static_cast<std::ptrdiff_t>(n)) {
                    n = static_cast<std::size_t>(term - begin) + 1;
                    reason |= rpc::kReasonTermChar;
                }
            }
            data = std::span<const uint8_t>(link->reply).subspan(link->replyPos, n);
            link->replyPos += n;
            if (link->replyPos == link->reply.size()) reason |= rpc::kReasonEnd;
            if (n == requested) reason |= rpc::kReasonRequestCount;
        }
        if (link)
            log(c, link->device->rsrc,
                "device_read " + std::to_string(requested) + " -> " +
                    (error ? "error " + std::to_string(error) : std::to_string(data.size()) + " bytes"));
        body.u32(error);
        body.u32(reason);
        body.opaque(data);
        if (link && link->replyPos >= link->reply.size()) {
            link->reply.clear();
            link->replyPos = 0;
        }
        break;
    }
    case rpc::kDeviceReadStb:
    case rpc::kDeviceTrigger:
    case rpc::kDeviceClear:
    case rpc::kDeviceRemote:
    case rpc::kDeviceLocal: {
        Link *link = linkOf(in.u32());
        in.u32();
        in.u32();
        in.u32();
        if (!in.ok()) return garbage();
        uint32_t error = !link ? rpc::kInvalidLinkId
                                : lockedOut(*link) ? rpc::kDeviceLocked : rpc::kNoError;
        uint32_t stb = 0;
        if (error == rpc::kNoError) {
            if (call.procedure == rpc::kDeviceClear) {
                link->reply.clear();
                link->replyPos = 0;
                link->message.clear();
            }
            if (link->replyPos < link->reply.size()) stb |= kStatusMessageAvailable;
        }
        static constexpr std::array<const char *, 5> kNames = {
            "device_readstb", "device_trigger", "device_clear", "device_remote", "device_local"};
        if (link) log(c, link->device->rsrc, kNames[call.procedure - rpc::kDeviceReadStb]);
        body.u32(error);
        if (call.procedure == rpc::kDeviceReadStb) body.u32(stb);
        break;
    }
    case rpc::kDeviceLock: {
        Link *link = linkOf(in.u32());
        in.u32();
        in.u32();
        if (!in.ok()) return garbage();
        uint32_t error = !link ? rpc::kInvalidLinkId
                                : lockedOut(*link) ? rpc::kDeviceLocked : rpc::kNoError;
        if (error == rpc::kNoError) link->device->lockedBy = link->id;
        if (link) log(c, link->device->rsrc, "device_lock");
        body.u32(error);
        break;
    }
    case rpc::kDeviceUnlock: {
        Link *link = linkOf(in.u32());
        if (!in.ok()) return garbage();
        uint32_t error = rpc::kNoError;
        if (!link)
            error = rpc::kInvalidLinkId;
        else if (link->device->lockedBy != link->id)
            error = rpc::kNoLockHeld;
        else
            link->device->lockedBy = 0;
        if (link) log(c, link->device->rsrc, "device_unlock");
        body.u32(error);
        break;
    }
    case rpc::kDestroyLink: {
        const uint32_t id = in.u32();
        if (!in.ok()) return garbage();
        Link *link = linkOf(id);
        if (link) {
            log(c, link->device->rsrc, "destroy_link " + std::to_string(id));
            if (link->device->lockedBy == id) link->device->lockedBy = 0;
            links_.erase(id);
            c.links.erase(std::remove(c.links.begin(), c.links.end(), id), c.links.end());
        }
        body.u32(link ? rpc::kNoError : rpc::kInvalidLinkId);
        break;
    }
    case rpc::kDeviceEnableSrq:
    case rpc::kDeviceDoCmd:
    case rpc::kCreateIntrChan:
    case rpc::kDestroyIntrChan:
        // No service requests or interrupt channel: a relay chassis has none.
        body.u32(rpc::kNotSupported);
        if (call.procedure == rpc::kDeviceDoCmd) body.opaque({});
        break;
    default: net::writeAcceptedReply(out, call.xid, net::AcceptStat::ProcUnavail); return;
    }
    net::writeAcceptedReply(out, call.xid, net::AcceptStat::Success);
    out.append(body.bytes());
}

void Server::handleRaw(Connection &c) {
    // Each pass takes at least one byte out of the buffer: bounded by it.
    while (!c.in.empty() && !c.closing) {
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
        const auto reply = c.device->chassis->receive(request);
        log(c, c.device->rsrc,
            describeRequest(request) + " -> " + std::to_string(reply ? reply->size() : 0) + " bytes");
        if (reply) send(c, *reply);
        c.in.erase(c.in.begin(), c.in.begin() + static_cast<std::ptrdiff_t>(length));
    }
}

// Answers are queued and go out together once the bytes at hand are
// handled: requests that came in one piece are answered in one piece.
void Server::send(Connection &c, std::span<const uint8_t> bytes) {
    if (c.out.size() + bytes.size() > kMaxPendingOutput) {
        close(c);
        return;
    }
    c.out.insert(c.out.end(), bytes.begin(), bytes.end());
}

void Server::flushOutput(Connection &c) {
    while (!c.out.empty()) {
        const ssize_t n = ::send(c.fd.get(), c.out.data(), c.out.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
        if (n > 0) {
            c.out.erase(c.out.begin(), c.out.begin() + n);
            continue;
        }
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) return;
        close(c);  // the client went away
        return;
    }
}

}  // namespace korvax::simserver

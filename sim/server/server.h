// The network side of korvax-sim: simulated chassis served as LAN
// instruments, over VXI-11 (with a portmapper of its own) and over raw TCP
// sockets. One thread runs everything in a poll() loop that never sleeps
// in a handler: a chassis with a reply delay, or a device_lock waiting for
// another client's lock, parks that one call on a timer while every other
// client is served. A client that vanishes mid-request only loses its own
// connection.
//
// A server that stays up for months, whatever its clients do:
// - at most Limits::maxClients connections; the next one is accepted and
//   closed at once;
// - bounded memory per connection: an RPC record up to 256 KiB, unfinished
//   VXI-11 messages up to 256 KiB for all the links of a connection, and
//   answers waiting to be taken up to 64 KiB (past that its requests wait
//   in the kernel until it reads): about 1 MiB at most;
// - a connection that completes no request and takes no answer for
//   Limits::idleTimeout (silent, half-open, sending a byte now and then,
//   never reading) is closed;
// - when accept() fails for lack of file descriptors, listening pauses for
//   a quarter of a second instead of spinning.
#pragma once

#include <chrono>
#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "sim/chassis.h"
#include "sim/server/relay_log.h"
#include "visa/net/oncrpc.h"
#include "visa/net/socket_io.h"
#include "visa/net/vxi11.h"

namespace korvax::simserver {

struct Limits {
    std::size_t maxClients = 64;
    std::chrono::seconds idleTimeout{300};  // 0: connections never time out
};

class Server {
public:
    using Clock = std::chrono::steady_clock;

    // portmapperPort: where each served address's portmapper listens.
    // `relays`: where applied relay frames are logged (null: nowhere).
    Server(uint16_t portmapperPort, bool verbose, Limits limits = {}, RelayLog *relays = nullptr);
    ~Server();
    Server(const Server &) = delete;
    Server &operator=(const Server &) = delete;

    // Serves a chassis as VXI-11 device `device` at IPv4 address `host`.
    // Returns the reason when it cannot (address not local, port taken).
    std::string addVxi11(const std::string &rsrc, const std::string &host,
                         const std::string &device, std::shared_ptr<sim::Chassis> chassis);
    // Serves a chassis on a raw TCP port of `host`.
    std::string addSocket(const std::string &rsrc, const std::string &host, uint16_t port,
                          std::shared_ptr<sim::Chassis> chassis);

    // Serves until `stopFd` becomes readable (the signal handler writes to it).
    void run(int stopFd);

    // The same request handling without sockets, driven from memory (the
    // fuzz targets do). A detached device is served like one added above,
    // but nothing listens for it; a detached VXI-11 address reports
    // `corePort` as its core's port. A local connection to one of them
    // takes bytes as if a client had sent them and hands back what the
    // server would have sent (a call parked on a timer answers on a later
    // feed, once its time has come).
    enum class Kind { Portmapper, Core, Raw };
    std::string addDetachedVxi11(const std::string &rsrc, const std::string &host,
                                 const std::string &device, uint16_t corePort,
                                 std::shared_ptr<sim::Chassis> chassis);
    void addDetachedSocket(const std::string &rsrc, std::shared_ptr<sim::Chassis> chassis);
    // To the portmapper or core of a detached address (`target` its host),
    // or to a detached raw socket (`target` its resource). 0: none such.
    int connectLocal(Kind kind, const std::string &target);
    // Appends the answers to `answers`. False once the server has closed
    // the connection (it is gone then, its links with it).
    bool feedLocal(int connection, std::span<const uint8_t> bytes, net::Bytes &answers);
    // The client hangs up.
    void disconnectLocal(int connection);

    struct Device;
    struct Address;
    struct Connection;
    struct Link;
    struct Parked;

private:
    struct Listener {
        net::UniqueFd fd;
        Kind kind;
        Address *address = nullptr;   // Portmapper, Core
        Device *device = nullptr;     // Raw
    };

    Address *addressFor(const std::string &host, std::string &error, bool listen = true);
    std::string addVxi11Device(const std::string &rsrc, const std::string &host, Address *address,
                               const std::string &device,
                               std::shared_ptr<sim::Chassis> chassis);
    void accept(Listener &listener, Clock::time_point now);
    std::size_t clients() const;
    void receive(Connection &c);
    void take(Connection &c, std::span<const uint8_t> got);
    // Handles what the connection has buffered, as far as it can go now.
    void pump(Connection &c);
    // It waits on a parked call, or for the client to take its answers.
    static bool blocked(const Connection &c);
    void forget(Connection &c);
    void handleRecords(Connection &c);
    void handleRecord(Connection &c, const net::Bytes &record);
    void handlePortmapper(Connection &c, const net::CallHeader &call, net::XdrReader &in);
    void handleCore(Connection &c, const net::CallHeader &call, net::XdrReader &in);
    // One method per procedure of the device core.
    void createLink(Connection &c, uint32_t xid, net::XdrReader &in);
    void deviceWrite(Connection &c, uint32_t xid, net::XdrReader &in);
    void deviceRead(Connection &c, uint32_t xid, net::XdrReader &in);
    // device_readstb, _trigger, _clear, _remote and _local.
    void deviceGeneric(Connection &c, const net::CallHeader &call, net::XdrReader &in);
    void deviceLock(Connection &c, uint32_t xid, net::XdrReader &in);
    void deviceUnlock(Connection &c, uint32_t xid, net::XdrReader &in);
    void destroyLink(Connection &c, uint32_t xid, net::XdrReader &in);
    Link *linkOf(const Connection &c, uint32_t id);
    // kNoError when the call may use the link's device now; nullopt when
    // it was parked to wait for another link's lock (flags with
    // kFlagWaitLock, up to `lockTimeoutMs`); else the error to answer.
    std::optional<uint32_t> waitForLock(Connection &c, const Link *link, uint32_t flags,
                                        uint32_t lockTimeoutMs);
    void release(Device &device);
    // An accepted, successful reply carrying `message`.
    template <typename Message>
    void answer(Connection &c, uint32_t xid, const Message &message);
    // An accepted reply with nothing after its status.
    void reply(Connection &c, uint32_t xid, net::AcceptStat stat, uint32_t low = 0,
               uint32_t high = 0);
    void handleRaw(Connection &c);
    // What a chassis does with a request it has been brought; false when it
    // dropped the connection instead.
    bool serve(Connection &c, Device &device, std::span<const uint8_t> request, sim::Exchange &out);

    // Parks the call being handled until `wake` (or the unlocking of
    // `unlockOf`), when it runs again.
    void park(Connection &c, Clock::time_point wake, const Device *unlockOf = nullptr);
    // Runs a parked call again.
    void rerun(Connection &c);
    // The calls and delayed answers whose time has come, and the idle
    // connections; returns how long poll() may wait for the next of them.
    int timers(Clock::time_point now);
    Clock::time_point callStarted() const;

    void send(Connection &c, std::span<const uint8_t> bytes);
    void flushOutput(Connection &c);
    void close(Connection &c);
    // One line when verbose; `what` makes its text, and only then.
    template <typename Text>
    void log(const Connection &c, const std::string &rsrc, Text &&what) const;

    uint16_t portmapperPort_;
    bool verbose_;
    Limits limits_;
    RelayLog *relays_;
    std::vector<std::unique_ptr<Address>> addresses_;
    std::vector<std::unique_ptr<Device>> devices_;
    std::vector<Listener> listeners_;
    // By id: the fd of a socket, a negative number for a local connection.
    std::map<int, std::unique_ptr<Connection>> connections_;
    std::map<uint32_t, std::unique_ptr<Link>> links_;  // by link id
    uint32_t nextLink_ = 1;
    int nextLocal_ = -1;
    uint64_t parkings_ = 0;
    Clock::time_point listenAgain_{};  // accepting paused until then (descriptors ran out)
    // The call being handled: the record it came in, and (for a call run
    // again) when it first came and its place in the queue.
    const net::Bytes *record_ = nullptr;
    const Parked *retry_ = nullptr;
};

// A readable description of one request of the chassis protocol.
std::string describeRequest(std::span<const uint8_t> request);

}  // namespace korvax::simserver

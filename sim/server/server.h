// The network side of korvax-sim: simulated chassis served as LAN
// instruments, over VXI-11 (with a portmapper of its own) and over raw TCP
// sockets. One thread runs everything in a poll() loop, so any number of
// clients are served at once and none can stall another; a client that
// vanishes mid-request only loses its own connection.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "sim/chassis.h"
#include "visa/net/oncrpc.h"
#include "visa/net/vxi11.h"
#include "visa/net/socket_io.h"

namespace korvax::simserver {

class Server {
public:
    // portmapperPort: where each served address's portmapper listens.
    Server(uint16_t portmapperPort, bool verbose);
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
    // server would have sent.
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
    void accept(Listener &listener);
    void receive(Connection &c);
    void take(Connection &c, std::span<const uint8_t> got);
    void forget(Connection &c);
    void handleRecords(Connection &c, std::span<const uint8_t> got);
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
    static uint32_t linkError(const Link *link);
    // An accepted, successful reply carrying `message`.
    template <typename Message>
    void answer(Connection &c, uint32_t xid, const Message &message);
    // An accepted reply with nothing after its status.
    void reply(Connection &c, uint32_t xid, net::AcceptStat stat, uint32_t low = 0,
                uint32_t high = 0);
    void handleRaw(Connection &c);
    void send(Connection &c, std::span<const uint8_t> bytes);
    void flushOutput(Connection &c);
    void close(Connection &c);
    // One line when verbose; `what` makes its text, and only then.
    template <typename Text>
    void log(const Connection &c, const std::string &rsrc, Text &&what) const;

    uint16_t portmapperPort_;
    bool verbose_;
    std::vector<std::unique_ptr<Address>> addresses_;
    std::vector<std::unique_ptr<Device>> devices_;
    std::vector<Listener> listeners_;
    // By id: the fd of a socket, a negative number for a local connection.
    std::map<int, std::unique_ptr<Connection>> connections_;
    std::map<uint32_t, std::unique_ptr<Link>> links_;  // by link id
    uint32_t nextLink_ = 1;
    int nextLocal_ = -1;
};

// A readable description of one request of the chassis protocol.
std::string describeRequest(std::span<const uint8_t> request);

}  // namespace korvax::simserver

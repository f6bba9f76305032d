// korvax-sim: serves the simulated chassis of a resource file on the
// network, each at the address its resource string names:
//
//   TCPIP0::127.0.0.1::inst0::INSTR   VXI-11 device inst0 at 127.0.0.1
//   TCPIP0::127.0.0.1::5025::SOCKET   raw TCP port 5025 of 127.0.0.1
//   ASRL1::INSTR                      a pseudo-terminal of its own, whose
//                                     path is printed; it answers only at
//                                     the chassis's baud rate
//
// It binds only those addresses, prints "serving RSRC" for each chassis
// once it listens ("serving RSRC on PATH" for a pseudo-terminal), and stops
// on SIGINT or SIGTERM. The limits that keep it up (clients, idle
// connections, memory) are described in server.h and sim/README.md.
#include <csignal>
#include <cstdio>
#include <fcntl.h>
#include <unistd.h>

#include <CLI/CLI.hpp>

#include "sim/server/pty_server.h"
#include "sim/server/server.h"
#include "visa/resource_parts.h"
#include "visa-sim/chassis_file.h"
#include "visa/visa.h"

namespace {

int stopPipe[2] = {-1, -1};

void onSignal(int) {
    const char byte = 1;
    // Nothing to do when it fails: the pipe already holds a byte.
    [[maybe_unused]] const auto n = ::write(stopPipe[1], &byte, 1);
}

}  // namespace

static int serve(int argc, char **argv) {
    CLI::App app{"Serves the simulated chassis of a resource file over VXI-11, raw TCP sockets "
                 "and pseudo-terminals"};
    std::string file;
    uint16_t portmapperPort = 111;
    bool verbose = false;
    bool logRelays = false;
    korvax::simserver::Limits limits;
    long idleSeconds = limits.idleTimeout.count();
    app.add_option("FILE", file, "resource file (same format as the VISA library's)")->required();
    app.add_option("--portmapper-port", portmapperPort,
                   "port of the portmapper of each VXI-11 address (default 111)")
        ->check(CLI::Range(1, 65535));
    app.add_option("--max-clients", limits.maxClients,
                   "network connections served at once; the next is accepted and closed at once "
                   "(default 64)")
        ->check(CLI::Range(1, 4096));
    app.add_option("--idle-timeout", idleSeconds,
                   "seconds a network connection may go without a whole request or taking an "
                   "answer before it is closed; 0: never (default 300)")
        ->check(CLI::Range(0, 86400));
    app.add_flag("-v,--verbose", verbose, "log one line per request");
    app.add_flag("--log-relays", logRelays,
                 "after every relay frame a chassis applies, print \"RSRC closed: R!C ...\" "
                 "(row and column from 1, columns counted across the chassis row; \"none\")");
    CLI11_PARSE(app, argc, argv);
    limits.idleTimeout = std::chrono::seconds(idleSeconds);
    korvax::simserver::RelayLog relayLog;
    korvax::simserver::RelayLog *relays = logRelays ? &relayLog : nullptr;

    std::FILE *in = std::fopen(file.c_str(), "rb");
    if (!in) {
        std::fprintf(stderr, "korvax-sim: cannot read %s\n", file.c_str());
        return 1;
    }
    std::string text;
    char buf[4096];
    for (std::size_t n; (n = std::fread(buf, 1, sizeof buf, in)) > 0;) text.append(buf, n);
    std::fclose(in);
    const auto parsed = korvax::visa::parseResourceFile(text);
    for (const auto &p : parsed.problems)
        std::fprintf(stderr, "korvax-sim: %s:%d: %s\n", file.c_str(), p.line, p.message.c_str());
    for (const auto &inst : parsed.instruments)
        std::printf("skipping %s: a real instrument (no model)\n", inst.name.c_str());

    korvax::simserver::Server server(portmapperPort, verbose, limits, relays);
    std::vector<std::string> served;
    std::vector<std::unique_ptr<korvax::simserver::PtyServer>> terminals;
    for (const auto &res : parsed.resources) {
        const auto parts = korvax::visa::splitResourceName(res.name);
        auto chassis = std::make_shared<korvax::sim::Chassis>(res.config);
        std::string error;
        if (parts && parts->interfaceType == VI_INTF_ASRL) {
            // Each serial chassis on a pseudo-terminal of its own, served
            // on its own thread.
            try {
                terminals.push_back(std::make_unique<korvax::simserver::PtyServer>(
                    chassis, res.config.baudRate, verbose, relays, res.name));
            } catch (const std::exception &e) {
                std::fprintf(stderr, "korvax-sim: cannot serve %s: %s\n", res.name.c_str(), e.what());
                return 1;
            }
            served.push_back(res.name + " on " + terminals.back()->path());
            continue;
        }
        const auto address = parts ? korvax::visa::networkAddress(*parts) : std::nullopt;
        if (!address) {
            std::printf("skipping %s: only TCPIP INSTR and SOCKET resources are served\n",
                        res.name.c_str());
            continue;
        }
        error = address->socket
                    ? server.addSocket(res.name, address->host, address->port, chassis)
                    : server.addVxi11(res.name, address->host, address->device, chassis);
        if (!error.empty()) {
            std::fprintf(stderr, "korvax-sim: cannot serve %s: %s\n", res.name.c_str(),
                         error.c_str());
            return 1;
        }
        served.push_back(res.name);
    }
    if (served.empty()) {
        std::fprintf(stderr, "korvax-sim: nothing to serve in %s\n", file.c_str());
        return 1;
    }

    if (::pipe2(stopPipe, O_CLOEXEC | O_NONBLOCK) != 0) return 1;
    struct sigaction sa{};
    sa.sa_handler = onSignal;
    (void)::sigaction(SIGINT, &sa, nullptr);
    (void)::sigaction(SIGTERM, &sa, nullptr);
    (void)std::signal(SIGPIPE, SIG_IGN);

    for (const auto &name : served) std::printf("serving %s\n", name.c_str());
    (void)std::fflush(stdout);
    server.run(stopPipe[0]);
    std::printf("stopped\n");
    return 0;
}

int main(int argc, char **argv) {
    // Nothing may escape into the C runtime: an allocation failure or a bad
    // file ends the server with a message and a failing status.
    try {
        return serve(argc, argv);
    } catch (const std::exception &e) {
        std::fprintf(stderr, "korvax-sim: %s\n", e.what());
        return 1;
    }
}

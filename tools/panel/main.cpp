// korvax-panel: a soft front panel in the browser. Serves a web page and a
// small JSON API over the switching engine, so that what the page switches
// the command and scripts see, and the other way round (through the one
// SQLite record of every process on the machine).
//
// Listens on loopback unless told otherwise; any other address needs a
// token that every API request carries (see docs/panel.md, security).
#include <signal.h>

#include <CLI/CLI.hpp>

#include <fstream>
#include <iostream>
#include <thread>

#include "KORVAX.h"
#include "chassis.h"
#include "korvax/switching.hpp"
#include "server.h"

namespace {

using korvax::switching::Error;

struct Usage {
    std::string message;
};

std::string readToken(const std::string &file) {
    std::ifstream in(file);
    if (!in) throw Usage{"cannot read the token file " + file};
    std::string token;
    std::getline(in, token);
    while (!token.empty() && (token.back() == '\r' || token.back() == ' ' || token.back() == '\t')) token.pop_back();
    if (token.empty()) throw Usage{"the token file " + file + " holds no token on its first line"};
    return token;
}

int run(int argc, char **argv) {
    std::string topology, listen = "127.0.0.1:8080", token, tokenFile, record;
    std::vector<std::string> named;
    CLI::App app{
        "korvax-panel: a soft front panel in the browser for relay switch-matrix chassis. Serves the crosspoint "
        "grid of each chassis, its routes, relay wear and event log, over the same switching engine and record as "
        "the korvax command (also run as 'korvax panel')."};
    app.add_option("--topology", topology,
                   "topology file naming channels, rules and routes (default: $XDG_CONFIG_HOME/korvax/topology.toml, "
                   "else ~/.config/korvax/topology.toml, when it exists and no RSRC is named)");
    app.add_option("RSRC", named,
                   "chassis to serve: resource strings (or, with --topology, chassis names of it); none: those of the "
                   "topology, else every chassis discovery finds");
    app.add_option("--listen", listen,
                   "HOST:PORT to listen on (default 127.0.0.1:8080; port 0 picks a free one). An address other than "
                   "loopback needs --token or --token-file");
    app.add_option("--token", token, "a token every API request must carry (Authorization: Bearer TOKEN)");
    app.add_option("--token-file", tokenFile, "read the token from the first line of this file");
    app.add_option("--record", record, "SQLite record (default: switching.sqlite3 in the state folder)");
    app.set_version_flag("--version", KORVAX_LIB_VERSION);
    app.footer(
        "The URL is printed on standard output once the panel listens. Without a token the panel answers only "
        "requests addressed to 127.0.0.1, localhost or [::1]. Relays are switched by POST requests with a JSON "
        "body from the panel's own page (or a tool that sends no Origin). See docs/panel.md for the JSON API.");
    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError &e) {
        return app.exit(e);
    }

    korvax::panel::ServerOptions options;
    try {
        const auto address = korvax::panel::parseListen(listen);
        if (!address) throw Usage{"--listen wants HOST:PORT (e.g. 127.0.0.1:8080, [::1]:8080), got '" + listen + "'"};
        options.listen = *address;
        if (!token.empty() && !tokenFile.empty()) throw Usage{"give --token or --token-file, not both"};
        options.token = tokenFile.empty() ? token : readToken(tokenFile);
        if (!korvax::panel::isLoopbackHost(options.listen.host) && options.token.empty())
            throw Usage{"listening on " + options.listen.host +
                        " lets other machines switch these chassis: give --token TOKEN or --token-file FILE"};
    } catch (const Usage &u) {
        std::cerr << "korvax-panel: " << u.message << "\n";
        return 2;
    }

    // SIGINT and SIGTERM are taken by this thread (sigwait) once serving, so
    // every thread started below inherits them blocked.
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);

    try {
        std::vector<std::string> chosen;
        korvax::switching::Topology t = korvax::panel::panelTopology(topology, named, chosen);
        korvax::switching::SessionOptions so;
        so.record = record;
        so.program = "korvax-panel";
        so.chassis = chosen;
        // A request waits this long for another process's transaction before
        // the panel answers 503.
        so.busyTimeout = std::chrono::milliseconds(3000);
        korvax::switching::Session session(std::move(t), so);
        korvax::panel::Server server(session, korvax::panel::describe(session), options);
        const int port = server.bind();
        const std::string host = options.listen.host.find(':') != std::string::npos ? "[" + options.listen.host + "]"
                                 : options.listen.host == "localhost"               ? "127.0.0.1"
                                                                                    : options.listen.host;
        std::cout << "http://" << host << ":" << port << "/" << std::endl;
        std::thread serving([&server] { server.run(); });
        int signal = 0;
        sigwait(&stopSignals, &signal);
        server.stop();
        serving.join();
        return 0;
    } catch (const Error &e) {
        std::cerr << "korvax-panel: " << e.what() << "\n";
        return 1;
    } catch (const std::exception &e) {
        std::cerr << "korvax-panel: " << e.what() << "\n";
        return 1;
    }
}

}  // namespace

int main(int argc, char **argv) {
    try {
        return run(argc, argv);
    } catch (...) {
        // Only writing the message of a failure can get here.
        return 1;
    }
}

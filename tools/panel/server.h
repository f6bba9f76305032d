// The panel's HTTP server: the page, the JSON API over the switching
// engine, and server-sent events that tell open pages of every change the
// record shows, whichever process made it.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "chassis.h"
#include "korvax/switching.hpp"
#include "security.h"

namespace korvax::panel {

struct ServerOptions {
    ListenAddress listen{"127.0.0.1", 8080};
    std::string token;  // empty: none (loopback only)
};

class Server {
public:
    Server(switching::Session &session, std::vector<ChassisInfo> chassis, ServerOptions options);
    ~Server();
    Server(const Server &) = delete;
    Server &operator=(const Server &) = delete;

    // Binds the address; returns the port (the one picked for port 0).
    // Throws std::runtime_error when the address cannot be bound.
    int bind();
    // Serves until stop() (from another thread).
    void run();
    void stop();

private:
    struct State;
    std::unique_ptr<State> state_;
};

}  // namespace korvax::panel

// A simulated chassis on a pseudo-terminal: the far end of a serial cable.
//
// The server opens a pseudo-terminal and answers on its master side what a
// serial (ASRL) session writes to the terminal at path(). Like the real
// instrument it answers only when the line is set the way the chassis
// listens (its configured baud rate, 8 data bits, no parity, one stop bit):
// at any other setting the chassis hears noise and stays silent, so a
// client's baud-rate probe is exercised. Linux reports on the master side
// the line settings the terminal's user chose, and they are checked for
// every request.
//
// A serial line carries no message boundaries: a request is a line
// starting "*IDN?", or else the bytes that arrive before the line pauses
// for 25 ms (a client writes each request in one go). Replies go out as
// the chassis makes them: 400 bytes for the binary protocol, a line ending
// in a newline for "*IDN?". Bytes that make no request get the chassis's
// error reply or nothing; nothing a client sends stops the server. A
// chassis with a reply delay answers that much later (it reads nothing
// meanwhile, as a busy controller does not); one whose drop-after comes due
// leaves that request unanswered, a serial line having no connection to
// drop.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "sim/chassis.h"
#include "sim/server/relay_log.h"

namespace korvax::simserver {

class PtyServer {
public:
    // Opens the terminal, sets it to `baud` 8N1 raw (the line's state before
    // any client touches it) and starts serving. With `verbose`, one line
    // per request goes to stderr. Throws std::system_error when no
    // pseudo-terminal can be had.
    // `relays`: where applied relay frames are logged under `rsrc` (null:
    // nowhere).
    PtyServer(std::shared_ptr<sim::Chassis> chassis, uint32_t baud, bool verbose,
              RelayLog *relays = nullptr, std::string rsrc = {});
    // Stops serving and closes the terminal: a client still on it sees the
    // line hang up.
    ~PtyServer();
    PtyServer(const PtyServer &) = delete;
    PtyServer &operator=(const PtyServer &) = delete;

    // The terminal a client opens, e.g. "/dev/pts/4".
    const std::string &path() const;

private:
    void serve();
    void answer(const std::vector<uint8_t> &request);
    bool send(const std::vector<uint8_t> &reply);

    std::shared_ptr<sim::Chassis> chassis_;
    bool verbose_;
    RelayLog *relays_;
    std::string rsrc_;
    int master_ = -1;
    int slave_ = -1;  // held open so the master never sees a hang-up between clients
    int stopRead_ = -1;
    int stopWrite_ = -1;
    std::string path_;
    std::thread thread_;
};

}  // namespace korvax::simserver

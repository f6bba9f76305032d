// korvax-sim --log-relays: after every relay-state frame a chassis applies,
// one line on standard output with what is closed now, in the numbering of
// the korvax command (row from 1; the column counted across the whole
// chassis row, card after card, from 1):
//
//   TCPIP0::127.0.0.1::inst0::INSTR closed: 1!1 2!13
//   TCPIP0::127.0.0.1::inst0::INSTR closed: none
//
// Each line is flushed at once, so that a program (or a test) reading the
// output sees every frame, in order. Safe from any thread: the serial
// chassis are served on threads of their own.
#pragma once

#include <mutex>
#include <string>

#include "sim/chassis.h"

namespace korvax::simserver {

class RelayLog {
public:
    void frameApplied(const std::string &rsrc, const sim::Chassis &chassis);

    // The line's text after "RSRC closed: ".
    static std::string closedList(const sim::Chassis &chassis);

private:
    std::mutex lock_;
};

}  // namespace korvax::simserver

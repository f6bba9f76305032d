// Finding instruments: the resource manager, the list of resources a VISA
// library offers, and the identity probe of one resource (a serial line at
// each rate in turn, since a serial instrument answers only at its own).
#pragma once

#include <functional>
#include <stdint.h>
#include <string_view>

namespace korvax {

// Closes `manager` when open (and with it every session it handed out),
// then opens a new default resource manager into it. Returns VISA's status
// (negative: no manager; `manager` is then 0).
int32_t reopenManager(uint32_t &manager);

// Calls visit with each resource matching expression, in VISA's order, as
// long as visit returns true. Returns false when the search itself failed.
bool forEachResource(uint32_t manager, const char *expression,
                     const std::function<bool(std::string_view)> &visit);

// An opened resource that answered "*IDN?" with a reply `accepts` took.
struct Identified {
    uint32_t session = 0;  // 0: nothing accepted, no session left open
    uint32_t baud = 0;     // serial resources: the rate that answered
    bool serial = false;
};

// Opens rsrc and asks for its identity; `accepts` judges each reply text.
Identified identify(uint32_t manager, std::string_view rsrc,
                    const std::function<bool(std::string_view)> &accepts);

// Closes a session (or a manager).
void closeSession(uint32_t session);

}  // namespace korvax

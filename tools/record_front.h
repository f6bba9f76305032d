// The relay record of the korvax command is the switching engine's: one
// SQLite record that every program of ours switches through (see
// docs/switching.md). The commands that switch by number (close,
// open, clear, the SCPI relay commands) and `show RSRC` reach it through a
// session over the one chassis they connected, with no names and no rules.
#pragma once

#include <cstdint>
#include <string>

#include "korvax/extensions.h"
#include "korvax/switching.hpp"

namespace korvax::tools {

// A session of the engine over the chassis at `handle` (its cards
// identified), named by its resource. `fresh`: a chassis simulated in this
// process (--sim), which starts with every relay open and is gone with the
// process; its record lives in memory as long as the process does.
// Throws switching::Error (ErrorKind::Record) when the record cannot be
// opened.
switching::Session recordSession(const std::string &resource, uint32_t handle, const KORVAX_Geometry &geometry,
                                 bool fresh);

}  // namespace korvax::tools

// The relay state korvax recorded for each chassis it switched.
//
// A chassis cannot report its relays, and every switching call sends the
// whole sub-unit, so `close`, `open` and the SCPI relay commands must start
// from what was switched before. Everything korvax knows about that goes
// through this one record: read the closed crosspoints of (resource,
// sub-unit), stage the new ones before switching, commit them once the
// chassis took the frame. Every value read back is checked against the
// chassis, and a record that cannot be read or written is an error naming
// its file, never an empty state: an empty state would open every relay
// the next command does not name.
//
// Today one text file per resource and sub-unit:
//
//   # korvax relay record 1
//   1!1
//   2!17
//   # end 2
//
// The header and the count at the end tell a whole file from a cut one.
// Files of earlier korvax versions (crosspoint lines only) are read with
// the same checks.
#pragma once

#include <cstdint>
#include <filesystem>
#include <set>
#include <stdexcept>
#include <string>

#include "crosspoints.h"

namespace korvax::tools {

// What a recorded crosspoint must fit: the rows a frame can switch and the
// columns of a whole chassis row.
struct RecordLimits {
    std::string model;  // for messages, e.g. "RQ522"
    int rows;
    int columns;
};

// A record that cannot be read, written or believed; what() names the file.
struct RecordError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

class StateRecord {
public:
    // Records kept in `folder` (created when first written).
    explicit StateRecord(std::filesystem::path folder) : folder_(std::move(folder)) {}
    // $KORVAX_STATE_DIR, else $XDG_STATE_HOME/korvax, else ~/.local/state/korvax.
    static std::filesystem::path defaultFolder();

    std::filesystem::path fileOf(const std::string &rsrc, int64_t subUnit) const;

    // Closed crosspoints recorded for (rsrc, subUnit); empty when nothing was
    // ever recorded. Throws RecordError.
    std::set<Crosspoint> read(const std::string &rsrc, int64_t subUnit, const RecordLimits &limits) const;

    // A new state written beside the record, taking its place at commit():
    // staged before the chassis is switched, so that a record that cannot be
    // written stops the command before any relay moves.
    class Staged {
    public:
        Staged(Staged &&other) noexcept;
        Staged &operator=(Staged &&) = delete;
        ~Staged();
        // Throws RecordError.
        void commit();

    private:
        friend class StateRecord;
        Staged(std::filesystem::path temporary, std::filesystem::path target)
            : temporary_(std::move(temporary)), target_(std::move(target)) {}
        std::filesystem::path temporary_, target_;
    };
    // Throws RecordError (also for a crosspoint outside the limits).
    Staged stage(const std::string &rsrc, int64_t subUnit, const std::set<Crosspoint> &closed,
                 const RecordLimits &limits) const;

private:
    std::filesystem::path folder_;
};

}  // namespace korvax::tools

// The host's record of what the chassis were told, shared by every process
// of the machine: one SQLite file (WAL, busy timeout). A chassis cannot
// report its relays, so this record is the truth that the command, scripts
// and the panel switch from; each transaction reads, switches and records
// under one write lock (BEGIN IMMEDIATE), so two processes never lose each
// other's change.
#pragma once

#include <sqlite3.h>

#include <chrono>
#include <functional>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "korvax/switching.hpp"

namespace korvax::switching {

class Record {
public:
    // A path as the record keeps it: channels by number ("R3", "C17"), so
    // that it means the same whatever topology a program reads.
    struct StoredPath {
        std::string a, b;
        std::vector<Crosspoint> crosspoints;
        std::string route;
    };
    struct Snapshot {
        bool known = false;  // the chassis has been switched (or adopted) through the record
        std::set<Crosspoint> closed;
        std::vector<StoredPath> paths;
    };
    struct WearRow {
        Crosspoint crosspoint;
        int64_t closures = 0;
    };
    struct EventText {
        std::string resource, what, opened, closed, outcome;
    };

    // Opens (and creates) the record. Throws Error (ErrorKind::Record).
    Record(const std::string &path, std::chrono::milliseconds busyTimeout, std::string program);
    ~Record();
    Record(const Record &) = delete;
    Record &operator=(const Record &) = delete;

    const std::string &path() const { return path_; }
    // A record that lives as long as the process (":memory:"), for chassis
    // that do too (the command's --sim).
    bool inMemory() const { return path_ == ":memory:"; }

    // Calls inside one write transaction.
    class Writer {
    public:
        Snapshot snapshot(const std::string &resource);
        // The chassis is switched through the record from now on.
        void adopt(const std::string &resource, const ChassisGeometry &g);
        // The chassis acknowledged a frame closing exactly `now`, after one
        // that closed `previous`: the record's state becomes `now`, and each
        // crosspoint that went from open to closed counts one closure.
        // countWear false: the state is adopted, not switched.
        void acknowledged(const std::string &resource, const std::set<Crosspoint> &previous,
                          const std::set<Crosspoint> &now, bool countWear = true);
        void setPaths(const std::string &resource, const std::vector<StoredPath> &paths);
        void event(const EventText &e);

    private:
        friend class Record;
        explicit Writer(Record &r) : record_(r) {}
        Record &record_;
    };

    // Runs `body` inside BEGIN IMMEDIATE ... COMMIT, waiting up to the busy
    // timeout for another process's transaction. A throwing body rolls
    // everything back.
    void write(const std::function<void(Writer &)> &body);
    // A consistent read of one chassis.
    Snapshot read(const std::string &resource);
    std::vector<WearRow> wear(const std::string &resource, size_t top);
    std::vector<Event> events(const std::string &resource, size_t last);

private:
    class Statement;
    void exec(const char *sql);
    void walMode(std::chrono::milliseconds busyTimeout);
    [[noreturn]] void fail(const std::string &what) const;
    Snapshot snapshotLocked(const std::string &resource);

    std::string path_;
    std::string program_, user_;
    sqlite3 *db_ = nullptr;
};

// The state folder of the tools: $KORVAX_STATE_DIR, else
// $XDG_STATE_HOME/korvax, else ~/.local/state/korvax.
std::string stateFolder();

}  // namespace korvax::switching

#include "record.h"

#include <pwd.h>
#include <sys/types.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <sstream>
#include <thread>

#include "core/engine.h"

namespace korvax::switching {
namespace {

// The event log keeps this many entries; older ones are dropped as new ones
// come, so that a record in use for months stays small.
constexpr int64_t kEventsKept = 100000;
constexpr int kSchemaVersion = 1;

constexpr const char *kSchema = R"sql(
CREATE TABLE IF NOT EXISTS chassis(
  resource TEXT PRIMARY KEY, model INTEGER NOT NULL, rows INTEGER NOT NULL,
  columns INTEGER NOT NULL, adopted TEXT NOT NULL);
CREATE TABLE IF NOT EXISTS closed(
  resource TEXT NOT NULL, row INTEGER NOT NULL, col INTEGER NOT NULL,
  PRIMARY KEY(resource, row, col)) WITHOUT ROWID;
CREATE TABLE IF NOT EXISTS paths(
  id INTEGER PRIMARY KEY, resource TEXT NOT NULL, a TEXT NOT NULL, b TEXT NOT NULL,
  crosspoints TEXT NOT NULL, route TEXT NOT NULL DEFAULT '');
CREATE INDEX IF NOT EXISTS paths_of ON paths(resource);
CREATE TABLE IF NOT EXISTS wear(
  resource TEXT NOT NULL, row INTEGER NOT NULL, col INTEGER NOT NULL, closures INTEGER NOT NULL,
  PRIMARY KEY(resource, row, col)) WITHOUT ROWID;
CREATE TABLE IF NOT EXISTS events(
  id INTEGER PRIMARY KEY, time TEXT NOT NULL, pid INTEGER NOT NULL, user TEXT NOT NULL,
  program TEXT NOT NULL, resource TEXT NOT NULL, what TEXT NOT NULL, opened TEXT NOT NULL,
  closed TEXT NOT NULL, outcome TEXT NOT NULL);
CREATE INDEX IF NOT EXISTS events_of ON events(resource, id);
)sql";

std::string userName() {
    std::array<char, 4096> buffer{};
    passwd pw{};
    passwd *found = nullptr;
    if (getpwuid_r(geteuid(), &pw, buffer.data(), buffer.size(), &found) == 0 && found != nullptr)
        return found->pw_name;
    if (const char *u = std::getenv("USER"); u != nullptr && *u != '\0') return u;
    return "uid " + std::to_string(geteuid());
}

std::string now() {
    const auto t = std::chrono::system_clock::now();
    const std::time_t secs = std::chrono::system_clock::to_time_t(t);
    const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(t.time_since_epoch()).count() % 1000;
    std::tm tm{};
    gmtime_r(&secs, &tm);
    std::array<char, 40> text{};
    const size_t n = std::strftime(text.data(), text.size(), "%Y-%m-%dT%H:%M:%S", &tm);
    std::array<char, 8> frac{};
    (void)std::snprintf(frac.data(), frac.size(), ".%03dZ", static_cast<int>(ms));
    return std::string(text.data(), n) + frac.data();
}

std::vector<Crosspoint> parseList(const std::string &text) {
    std::vector<Crosspoint> out;
    std::istringstream in(text);
    std::string item;
    while (in >> item)
        if (const auto x = parseCrosspoint(item)) out.push_back(*x);
    return out;
}

}  // namespace

// One prepared statement, finalised on every path out.
class Record::Statement {
public:
    Statement(const Record &r, const char *sql) : record_(r) {
        if (sqlite3_prepare_v2(r.db_, sql, -1, &s_, nullptr) != SQLITE_OK) r.fail("prepare");
    }
    ~Statement() { sqlite3_finalize(s_); }
    Statement(const Statement &) = delete;
    Statement &operator=(const Statement &) = delete;

    Statement &bind(int i, const std::string &v) {
        check(sqlite3_bind_text(s_, i, v.data(), static_cast<int>(v.size()), SQLITE_TRANSIENT));
        return *this;
    }
    Statement &bind(int i, int64_t v) {
        check(sqlite3_bind_int64(s_, i, v));
        return *this;
    }
    // True while there is a row.
    bool step() {
        const int rc = sqlite3_step(s_);
        if (rc == SQLITE_ROW) return true;
        if (rc != SQLITE_DONE) record_.fail("step");
        return false;
    }
    void run() {
        while (step()) {
        }
        sqlite3_reset(s_);
    }
    void reset() {
        sqlite3_reset(s_);
        sqlite3_clear_bindings(s_);
    }
    int64_t integer(int col) const { return sqlite3_column_int64(s_, col); }
    std::string text(int col) const {
        const auto *p = sqlite3_column_text(s_, col);
        return p == nullptr ? std::string() : std::string(reinterpret_cast<const char *>(p));
    }

private:
    void check(int rc) const {
        if (rc != SQLITE_OK) record_.fail("bind");
    }
    const Record &record_;
    sqlite3_stmt *s_ = nullptr;
};

Record::Record(const std::string &path, std::chrono::milliseconds busyTimeout, std::string program)
    : path_(path), program_(std::move(program)), user_(userName()) {
    std::error_code ec;
    const auto folder = std::filesystem::path(path).parent_path();
    if (!folder.empty()) std::filesystem::create_directories(folder, ec);
    if (ec) throw Error(ErrorKind::Record, "record " + path + ": cannot create the folder: " + ec.message());
    const int rc = sqlite3_open_v2(path.c_str(), &db_,
                                   SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_FULLMUTEX, nullptr);
    if (rc != SQLITE_OK) {
        const std::string why = db_ != nullptr ? sqlite3_errmsg(db_) : sqlite3_errstr(rc);
        sqlite3_close(db_);
        db_ = nullptr;
        throw Error(ErrorKind::Record, "record " + path + ": cannot be opened: " + why);
    }
    try {
        sqlite3_busy_timeout(db_, static_cast<int>(std::min<int64_t>(busyTimeout.count(), INT32_MAX)));
        // Readers never wait for a writer, and a writer for readers only at
        // a checkpoint: the panel can poll while scripts switch.
        walMode(busyTimeout);
        exec("PRAGMA foreign_keys=ON");
        write([&](Writer &) {
            Statement version(*this, "PRAGMA user_version");
            const int64_t v = version.step() ? version.integer(0) : 0;
            if (v > kSchemaVersion)
                throw Error(ErrorKind::Record, "record " + path_ + " was written by a newer version (schema " +
                                                   std::to_string(v) + ")");
            exec(kSchema);
            exec(("PRAGMA user_version=" + std::to_string(kSchemaVersion)).c_str());
        });
    } catch (...) {
        sqlite3_close(db_);
        db_ = nullptr;
        throw;
    }
}

Record::~Record() { sqlite3_close(db_); }

void Record::fail(const std::string &what) const {
    const int code = sqlite3_errcode(db_);
    std::string why = sqlite3_errmsg(db_);
    if (code == SQLITE_BUSY || code == SQLITE_LOCKED)
        why = "another process holds it longer than the busy timeout (" + why + ")";
    throw Error(ErrorKind::Record, "record " + path_ + ": " + what + ": " + why);
}

void Record::walMode(std::chrono::milliseconds busyTimeout) {
    // Turning a new file into WAL mode needs it alone. Two processes that
    // open a new record at once each hold the shared lock the other must
    // wait out, and SQLite answers SQLITE_BUSY at once rather than wait
    // into a deadlock: try again, for up to the busy timeout.
    const auto until = std::chrono::steady_clock::now() + busyTimeout;
    for (int pause = 1;; pause = std::min(pause * 2, 50)) {
        const int rc = sqlite3_exec(db_, "PRAGMA journal_mode=WAL", nullptr, nullptr, nullptr);
        if (rc == SQLITE_OK) return;
        if ((rc & 0xFF) != SQLITE_BUSY || std::chrono::steady_clock::now() >= until) fail("journal mode");
        std::this_thread::sleep_for(std::chrono::milliseconds(pause));
    }
}

void Record::exec(const char *sql) {
    char *message = nullptr;
    if (sqlite3_exec(db_, sql, nullptr, nullptr, &message) != SQLITE_OK) {
        const std::string why = message != nullptr ? message : "failed";
        sqlite3_free(message);
        const int code = sqlite3_errcode(db_);
        throw Error(ErrorKind::Record,
                    "record " + path_ + ": " +
                        (code == SQLITE_BUSY ? "another process holds it longer than the busy timeout" : why));
    }
}

void Record::write(const std::function<void(Writer &)> &body) {
    exec("BEGIN IMMEDIATE");
    try {
        Writer w(*this);
        body(w);
        exec("COMMIT");
    } catch (...) {
        sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
        throw;
    }
}

Record::Snapshot Record::snapshotLocked(const std::string &resource) {
    Snapshot s;
    Statement known(*this, "SELECT 1 FROM chassis WHERE resource = ?1");
    known.bind(1, resource);
    s.known = known.step();
    Statement closed(*this, "SELECT row, col FROM closed WHERE resource = ?1");
    closed.bind(1, resource);
    while (closed.step())
        s.closed.insert({static_cast<int>(closed.integer(0)), static_cast<int>(closed.integer(1))});
    Statement paths(*this, "SELECT a, b, crosspoints, route FROM paths WHERE resource = ?1 ORDER BY id");
    paths.bind(1, resource);
    while (paths.step()) s.paths.push_back({paths.text(0), paths.text(1), parseList(paths.text(2)), paths.text(3)});
    return s;
}

Record::Snapshot Record::read(const std::string &resource) {
    exec("BEGIN");
    try {
        Snapshot s = snapshotLocked(resource);
        exec("COMMIT");
        return s;
    } catch (...) {
        sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
        throw;
    }
}

Record::Snapshot Record::Writer::snapshot(const std::string &resource) { return record_.snapshotLocked(resource); }

void Record::Writer::adopt(const std::string &resource, const ChassisGeometry &g) {
    Statement s(record_, "INSERT OR REPLACE INTO chassis(resource, model, rows, columns, adopted) VALUES(?1,?2,?3,?4,?5)");
    s.bind(1, resource).bind(2, g.model).bind(3, g.switchableRows).bind(4, g.usableColumns()).bind(5, now());
    s.run();
}

void Record::Writer::acknowledged(const std::string &resource, const std::set<Crosspoint> &previous,
                                  const std::set<Crosspoint> &now, bool countWear) {
    Statement open(record_, "DELETE FROM closed WHERE resource = ?1 AND row = ?2 AND col = ?3");
    for (const Crosspoint &x : previous)
        if (now.count(x) == 0) {
            open.bind(1, resource).bind(2, x.row).bind(3, x.column);
            open.run();
            open.reset();
        }
    Statement close(record_, "INSERT OR IGNORE INTO closed(resource, row, col) VALUES(?1,?2,?3)");
    Statement wear(record_,
                   "INSERT INTO wear(resource, row, col, closures) VALUES(?1,?2,?3,1) "
                   "ON CONFLICT(resource, row, col) DO UPDATE SET closures = closures + 1");
    for (const Crosspoint &x : now)
        if (previous.count(x) == 0) {
            close.bind(1, resource).bind(2, x.row).bind(3, x.column);
            close.run();
            close.reset();
            if (!countWear) continue;
            wear.bind(1, resource).bind(2, x.row).bind(3, x.column);
            wear.run();
            wear.reset();
        }
}

void Record::Writer::setPaths(const std::string &resource, const std::vector<StoredPath> &paths) {
    Statement drop(record_, "DELETE FROM paths WHERE resource = ?1");
    drop.bind(1, resource);
    drop.run();
    Statement add(record_, "INSERT INTO paths(resource, a, b, crosspoints, route) VALUES(?1,?2,?3,?4,?5)");
    for (const StoredPath &p : paths) {
        add.bind(1, resource).bind(2, p.a).bind(3, p.b).bind(4, core::listText(p.crosspoints)).bind(5, p.route);
        add.run();
        add.reset();
    }
}

void Record::Writer::event(const EventText &e) {
    Statement add(record_,
                  "INSERT INTO events(time, pid, user, program, resource, what, opened, closed, outcome) "
                  "VALUES(?1,?2,?3,?4,?5,?6,?7,?8,?9)");
    add.bind(1, now())
        .bind(2, static_cast<int64_t>(getpid()))
        .bind(3, record_.user_)
        .bind(4, record_.program_)
        .bind(5, e.resource)
        .bind(6, e.what)
        .bind(7, e.opened)
        .bind(8, e.closed)
        .bind(9, e.outcome);
    add.run();
    Statement prune(record_, "DELETE FROM events WHERE id <= last_insert_rowid() - ?1");
    prune.bind(1, kEventsKept);
    prune.run();
}

std::vector<Record::WearRow> Record::wear(const std::string &resource, size_t top) {
    Statement s(*this,
                "SELECT row, col, closures FROM wear WHERE resource = ?1 AND closures > 0 "
                "ORDER BY closures DESC, row, col LIMIT ?2");
    s.bind(1, resource).bind(2, top == 0 ? int64_t{-1} : static_cast<int64_t>(top));
    std::vector<WearRow> out;
    while (s.step()) out.push_back({{static_cast<int>(s.integer(0)), static_cast<int>(s.integer(1))}, s.integer(2)});
    return out;
}

std::vector<Event> Record::events(const std::string &resource, size_t last) {
    Statement s(*this,
                "SELECT id, time, pid, user, program, resource, what, opened, closed, outcome FROM "
                "(SELECT * FROM events WHERE resource = ?1 ORDER BY id DESC LIMIT ?2) ORDER BY id");
    s.bind(1, resource).bind(2, static_cast<int64_t>(last));
    std::vector<Event> out;
    while (s.step())
        out.push_back({s.integer(0), s.text(1), s.integer(2), s.text(3), s.text(4), s.text(5), s.text(6), s.text(7),
                       s.text(8), s.text(9)});
    return out;
}

std::string stateFolder() {
    if (const char *d = std::getenv("KORVAX_STATE_DIR"); d != nullptr && *d != '\0') return d;
    if (const char *x = std::getenv("XDG_STATE_HOME"); x != nullptr && *x != '\0') return std::string(x) + "/korvax";
    if (const char *h = std::getenv("HOME"); h != nullptr && *h != '\0') return std::string(h) + "/.local/state/korvax";
    return ".";
}

}  // namespace korvax::switching

/**
 * @file korvax/switching.hpp
 * @brief Switching by name: channels, paths, routes, safety rules and
 *        break-before-make transactions over the crosspoints of KORVAX.h.
 *
 * A topology file (TOML) names the rows and columns of each chassis
 * (channels), reserves configuration channels for row-to-row and
 * column-to-column paths, marks source channels, lists exclusions and
 * closure limits, and names routes and groups of routes. A Session opens
 * the chassis of a topology; each chassis is a Matrix that connects and
 * disconnects channels by name, answers canConnect() with a reason, and
 * switches every change as one transaction: rules checked on the final
 * state, then a frame with only the openings, the chassis's settle time,
 * then a frame with the closings.
 *
 * The host keeps the record the chassis cannot give: the crosspoints each
 * chassis last acknowledged, the recorded paths, an event log and the
 * closures per crosspoint relay, in one SQLite file shared by every process
 * of the machine. Each transaction reads, switches and records under one
 * write lock of that file. Programs that switch through KORVAX.h directly
 * bypass the record.
 *
 * Crosspoints are numbered as the `korvax` command numbers them: row from 1,
 * column from 1 counted across the whole chassis row, card after card.
 *
 * Every failure throws korvax::switching::Error.
 */
#pragma once

#include <chrono>
#include <compare>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <span>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#define KORVAX_SWITCH_API __attribute__((visibility("default")))

namespace korvax::switching {

/** One crosspoint: row and column from 1, the column counted across the chassis row. */
struct Crosspoint {
    int row = 0;
    int column = 0;
    friend auto operator<=>(const Crosspoint &, const Crosspoint &) = default;
};

/** "ROW!COLUMN", e.g. "2!17". */
KORVAX_SWITCH_API std::string toString(Crosspoint x);
/** Parses "ROW!COLUMN" (both from 1); nullopt for anything else. */
KORVAX_SWITCH_API std::optional<Crosspoint> parseCrosspoint(std::string_view text);

/** The answers of canConnect(), after the IVI switch class. */
enum class Answer : int {
    Possible = 0,        ///< a path is free and no rule forbids it
    Exists = 1,          ///< the two channels are already connected
    InUse = 2,           ///< no free configuration channel, or a channel is a configuration
                         ///< channel in use by another path
    SourceConflict = 3,  ///< the resulting net would hold two source channels
    Excluded = 4,        ///< an exclusion forbids two channels of the resulting net to meet
    Limit = 5,           ///< a closure limit of the topology or of the chassis would be exceeded
    Unsupported = 6,     ///< no path can exist (unknown channel, another chassis, a row the
                         ///< chassis cannot switch, no configuration channel of that kind)
};

/** The answer as the command prints it: "possible", "exists", "in-use", "source-conflict",
 *  "excluded", "limit", "unsupported". */
KORVAX_SWITCH_API std::string_view answerWord(Answer a);
/** The answer of a word answerWord() gives; nullopt for another text. */
KORVAX_SWITCH_API std::optional<Answer> parseAnswer(std::string_view word);

/** What the rules say about a change. */
struct Verdict {
    Answer answer = Answer::Possible;
    std::string rule;                   ///< the rule that refused, e.g. "exclusion PSU_POS, PSU_NEG"
                                        ///< or "max-per-column 2"; empty when possible
    std::string message;                ///< one sentence naming the channels and the rule
    std::vector<std::string> channels;  ///< the channels the rule names
    std::vector<Crosspoint> path;       ///< possible: the crosspoints a connect would close
    bool possible() const { return answer == Answer::Possible; }
};

/** How a failed transaction left the chassis. */
enum class Rollback : int {
    None = 0,          ///< nothing to undo (refused before sending, or the first frame failed)
    Acknowledged = 1,  ///< the closing frame failed; the state from before was sent again and
                       ///< the chassis acknowledged it
    Failed = 2,        ///< the closing frame failed and so did sending the state from before:
                       ///< the chassis holds the last acknowledged frame (the openings only)
};

enum class ErrorKind : int {
    Refused = 1,   ///< a rule refused; reason() says which, nothing was sent
    Chassis = 2,   ///< the library or the chassis failed; code() is the library's status
    Topology = 3,  ///< the topology file cannot be read or is wrong
    Record = 4,    ///< the SQLite record cannot be read or written
    NotFound = 5,  ///< no such channel, route, group, chassis or recorded path
    Invalid = 6,   ///< malformed input (a crosspoint text, a path that joins nothing)
};

/** Every failure of the engine. */
class KORVAX_SWITCH_API Error : public std::runtime_error {
public:
    Error(ErrorKind kind, const std::string &message, int32_t code = 0,
          std::optional<Answer> reason = std::nullopt, std::string rule = {},
          Rollback rollback = Rollback::None);
    ErrorKind kind() const noexcept { return kind_; }
    /** The library's status (KORVAX_ERR_* or a VISA status) for ErrorKind::Chassis, else 0. */
    int32_t code() const noexcept { return code_; }
    /** The answer that refused, for ErrorKind::Refused. */
    std::optional<Answer> reason() const noexcept { return reason_; }
    /** The rule that refused (see Verdict::rule). */
    const std::string &rule() const noexcept { return *rule_; }
    /** For a transaction whose closing frame failed: what became of the chassis. */
    Rollback rollback() const noexcept { return rollback_; }

private:
    ErrorKind kind_;
    int32_t code_;
    std::optional<Answer> reason_;
    std::shared_ptr<const std::string> rule_;  // shared: copying an exception must not throw
    Rollback rollback_;
};

/** A recorded path between two channels and the crosspoints it closed. */
struct Path {
    std::string a, b;                    ///< channel names (in this topology)
    std::vector<Crosspoint> crosspoints;  ///< closed for it, in order from a to b
    std::string route;                   ///< the route that connected it; empty for none
};

/** One change of a transaction. Channel names may carry the chassis, "bench/DMM_HI". */
struct Change {
    enum class Kind : int {
        Connect,        ///< a, b
        Disconnect,     ///< a, b: opens the recorded path between them
        DisconnectAll,  ///< every crosspoint of the chassis opens
        RouteOn,        ///< a = route or group name; legs already connected are kept
        RouteOff,       ///< a = route or group name; legs not connected are skipped
        RouteOnly,      ///< a = route or group name; every other path of the chassis opens
        Close,          ///< crosspoints, by number
        Open,           ///< crosspoints, by number
        SetPath,        ///< a, b, crosspoints: connect through exactly these crosspoints
    };
    Kind kind = Kind::Connect;
    std::string a, b;
    std::vector<Crosspoint> crosspoints;

    static Change connect(std::string a, std::string b) { return {Kind::Connect, std::move(a), std::move(b), {}}; }
    static Change disconnect(std::string a, std::string b) { return {Kind::Disconnect, std::move(a), std::move(b), {}}; }
    static Change disconnectAll() { return {Kind::DisconnectAll, {}, {}, {}}; }
    static Change routeOn(std::string name) { return {Kind::RouteOn, std::move(name), {}, {}}; }
    static Change routeOff(std::string name) { return {Kind::RouteOff, std::move(name), {}, {}}; }
    static Change routeOnly(std::string name) { return {Kind::RouteOnly, std::move(name), {}, {}}; }
    static Change close(std::vector<Crosspoint> x) { return {Kind::Close, {}, {}, std::move(x)}; }
    static Change open(std::vector<Crosspoint> x) { return {Kind::Open, {}, {}, std::move(x)}; }
    static Change setPath(std::string a, std::string b, std::vector<Crosspoint> x) {
        return {Kind::SetPath, std::move(a), std::move(b), std::move(x)};
    }
};

/** A call of the library that switches the chassis by other means than the engine's frames
 *  (KORVAX_Clear, an SCPI relay command through KORVAX_SCPIQuery), for Matrix::record(). */
struct Operation {
    std::string what;  ///< for the event log, e.g. "clear" or "scpi :CLOS (@0(1!1))"
    /** Makes the call. Gets the crosspoints the record holds (so that the library's own image
     *  of the relays can be brought in line first) and returns the library's status. */
    std::function<int32_t(std::span<const Crosspoint> recorded)> run;
    /** The call opens every relay whatever was closed: a relay-state file of an earlier korvax
     *  that cannot be believed does not stop it (the call puts the chassis right). */
    bool opensEverything = false;
};

/** A relay-state frame of a transaction: every crosspoint closed after it. */
struct Frame {
    std::vector<Crosspoint> closed;
};

/** A transaction on one chassis: what apply() switched, or what dryRun() would switch. */
struct Transaction {
    std::string chassis;               ///< chassis name in the topology
    Verdict verdict;                   ///< possible, or the rule that refuses it
    std::vector<Crosspoint> opening;   ///< crosspoints the transaction opens
    std::vector<Crosspoint> closing;   ///< crosspoints it closes
    std::vector<Frame> frames;         ///< in order: the openings first, then the closings
    std::vector<Path> paths;           ///< recorded paths afterwards
};

/** Closures of one crosspoint relay: its 0-to-1 transitions in consecutive acknowledged frames. */
struct Wear {
    Crosspoint crosspoint;
    std::string row, column;  ///< channel names
    int64_t closures = 0;
};

/** One entry of the record's event log. */
struct Event {
    int64_t id = 0;
    std::string time;      ///< UTC, ISO 8601 with milliseconds
    int64_t process = 0;   ///< process id
    std::string user, program, resource;
    std::string what;      ///< the change asked for, e.g. "connect DMM_HI DUT1"
    std::string opened, closed;  ///< crosspoints, "R!C R!C ..."
    std::string outcome;   ///< "switched", "recorded", or the failure
};

/** A chassis as the topology file describes it. */
struct ChassisTopology {
    std::string name;      ///< the table name: [chassis.NAME]
    std::string resource;  ///< VISA resource string
    int settleMs = 0;      ///< wait between the opening and the closing frame
    std::map<int, std::string> rows, columns;  ///< names by number (from 1)
    std::vector<std::string> configuration, sources;
    std::vector<std::vector<std::string>> exclusions;
    std::optional<int> maxPerRow, maxPerColumn;
    int line = 0;  ///< line of the table in the file
};
/** One leg of a route: two channels of one chassis. */
struct RouteLeg {
    std::string chassis, a, b;
};
struct Route {
    std::string name;
    std::vector<RouteLeg> legs;
    int line = 0;
};
struct Group {
    std::string name;
    std::vector<std::string> routes;
    int line = 0;
};

/** A topology file, checked: names unique and well-formed, every route leg on one chassis. */
struct KORVAX_SWITCH_API Topology {
    std::string file;
    std::vector<ChassisTopology> chassis;  ///< in the file's order
    std::vector<Route> routes;             ///< in the file's order
    std::vector<Group> groups;

    /** Reads a topology file. Throws Error (ErrorKind::Topology) naming the file, line and key. */
    static Topology load(const std::string &path);
    /** Parses topology text; fileName is used in messages. */
    static Topology parse(std::string_view text, const std::string &fileName);
    /** $XDG_CONFIG_HOME/korvax/topology.toml, else ~/.config/korvax/topology.toml. */
    static std::string defaultPath();

    const ChassisTopology *findChassis(std::string_view name) const;
    const Route *findRoute(std::string_view name) const;
    const Group *findGroup(std::string_view name) const;
};

/** What a chassis offers for switching (from KORVAX_GetGeometry()). */
struct ChassisGeometry {
    uint16_t model = 0;
    int rows = 0;            ///< rows of each card
    int switchableRows = 0;  ///< rows a frame reaches (4 on an RQ522)
    int positions = 0;       ///< card positions in a row of the state array
    int cardColumns = 0;     ///< columns of a card
    int cardsFitted = 0;     ///< positions 1 .. cardsFitted hold a card
    int stateWords = 0;      ///< 32-bit words of a state array
    int closureLimit = -1;   ///< relays the chassis closes at once; -1 none
    int columns() const { return positions * cardColumns; }
    int usableColumns() const { return cardsFitted * cardColumns; }
};

/** One chassis as the engine drives it. The default backend goes through KORVAX.h;
 *  tests and other front ends may bring their own. */
class KORVAX_SWITCH_API Backend {
public:
    virtual ~Backend();
    virtual ChassisGeometry geometry() const = 0;
    /** The state the library last had acknowledged in this process (the state array). */
    virtual std::vector<uint32_t> storedState() = 0;
    /** Sends a whole state array in one relay-state frame; 0 once acknowledged, else the
     *  library's negative status. */
    virtual int32_t send(std::span<const uint32_t> state) = 0;
};

/** Opens the chassis of a topology (all at once, so that discovery runs once). */
class KORVAX_SWITCH_API ChassisOpener {
public:
    virtual ~ChassisOpener();
    /** One backend per resource, in the same order. Throws Error (ErrorKind::Chassis). */
    virtual std::vector<std::unique_ptr<Backend>> open(const std::vector<std::string> &resources) = 0;
};

/** The opener through KORVAX.h: discovery restricted to the topology's resources
 *  (KORVAX_VISA_ONLY), KORVAX_Connect, KORVAX_OpenSpecifiedCard for sub-unit 0. */
KORVAX_SWITCH_API std::shared_ptr<ChassisOpener> libraryOpener();

/** One discovery rule per process. A discovery ends every chassis handle of the one before, so
 *  the engine runs one only when a chassis of a new session is not among those found, for that
 *  chassis and every chassis its open sessions hold (KORVAX_VISA_ONLY, unless the program set it),
 *  and attaches its sessions' chassis again afterwards (a new handle, the cards identified
 *  again). A program that holds chassis of its own (the Python package) hands the rule to a
 *  hook instead: the engine calls it with the resources a new session needs, and the hook makes
 *  them connectable, running any discovery with the program's own chassis and
 *  heldResources(), then calling reattach(). An empty hook restores the engine's own rule. */
using DiscoveryHook = std::function<int32_t(const std::vector<std::string> &resources)>;
KORVAX_SWITCH_API void setDiscoveryHook(DiscoveryHook hook);
/** The resources the open sessions of this process hold, in the order they were opened. */
KORVAX_SWITCH_API std::vector<std::string> heldResources();
/** Attaches every chassis the open sessions hold again, after a discovery the engine did not run.
 *  A chassis that discovery did not find stays detached, and its next frame is refused
 *  (KORVAX_ERR_RESOURCE_ABSENT) until a later discovery finds it. */
KORVAX_SWITCH_API void reattach();

struct SessionOptions {
    std::string record;   ///< SQLite file; empty: switching.sqlite3 in the state folder
    std::string program;  ///< the event log's program; empty: this process's name
    std::shared_ptr<ChassisOpener> opener;  ///< null: libraryOpener()
    std::chrono::milliseconds busyTimeout{15000};  ///< longest wait for another process's
                                                   ///< transaction on the record
    std::vector<std::string> chassis;  ///< open only these chassis of the topology; empty: all
};

class Session;
namespace detail {
struct SessionState;
struct MatrixState;
}  // namespace detail

/** One chassis of a session, switched by channel name. */
class KORVAX_SWITCH_API Matrix {
public:
    const std::string &name() const;
    const std::string &resource() const;
    const ChassisGeometry &geometry() const;
    const ChassisTopology &topology() const;
    /** Name of row r / column c: the topology's name, else "R3" / "C17". */
    std::string rowName(int row) const;
    std::string columnName(int column) const;

    /** Closes the path from a to b: their crosspoint for a row and a column, else through the
     *  lowest-numbered free configuration channel. Refused (nothing sent) unless
     *  canConnect(a, b) is possible. */
    Transaction connect(std::string_view a, std::string_view b);
    /** Opens exactly the recorded path between a and b. */
    Transaction disconnect(std::string_view a, std::string_view b);
    /** Opens every crosspoint of the chassis and forgets its paths. */
    Transaction disconnectAll();
    Verdict canConnect(std::string_view a, std::string_view b) const;
    /** The recorded path between a and b; throws NotFound when there is none. */
    Path path(std::string_view a, std::string_view b) const;
    /** Connects a and b through exactly these crosspoints (a chain from a to b). */
    Transaction setPath(std::string_view a, std::string_view b, std::span<const Crosspoint> crosspoints);

    /** A route or group of the topology on, off, or alone on its chassis (every other path
     *  opens in the same transaction). A route that spans chassis is applied on each of them,
     *  one transaction per chassis in the file's order. */
    std::vector<Transaction> route(std::string_view name);
    std::vector<Transaction> routeOff(std::string_view name);
    std::vector<Transaction> routeOnly(std::string_view name);
    /** Names of the routes with a leg on this chassis. */
    std::vector<std::string> routes() const;

    /** Any mix of changes as one break-before-make transaction. */
    Transaction apply(std::span<const Change> changes);
    /** What apply() would send, and the rules' answer; sends nothing. */
    Transaction dryRun(std::span<const Change> changes) const;
    /** Runs an operation that switches the chassis outside the engine's frames, under the
     *  record's write lock, and records the state the library then holds (Backend::storedState()):
     *  closures counted, paths through crosspoints it opened forgotten, the event logged. No rule
     *  is asked. A negative status leaves the record as it was (the library judges each frame:
     *  a refused one moved no relay) and throws Error (ErrorKind::Chassis) with that code.
     *  The transaction's frames hold the one state recorded. */
    Transaction record(const Operation &operation);

    /** Waits until the settle time after this process's last frame to the chassis has passed. */
    void waitForDebounce() const;
    bool isDebounced() const;

    /** Nets of channels joined through closed crosspoints (one entry per net of two or more). */
    std::vector<std::vector<std::string>> nets() const;
    /** Crosspoints the chassis last acknowledged (as recorded). */
    std::vector<Crosspoint> closed() const;
    std::vector<Path> paths() const;
    /** Most-closed crosspoint relays first; top 0: all that closed at least once. */
    std::vector<Wear> wear(size_t top = 0) const;
    /** The last events of this chassis, oldest first. */
    std::vector<Event> events(size_t last = 50) const;

private:
    friend class Session;
    explicit Matrix(detail::MatrixState *state) : state_(state) {}
    detail::MatrixState *state_;
};

/** The chassis of a topology, opened once (RAII: closed with the session). */
class KORVAX_SWITCH_API Session {
public:
    /** Reads the topology file (empty: Topology::defaultPath()) and opens its chassis. */
    explicit Session(const std::string &topologyFile = {}, SessionOptions options = {});
    Session(Topology topology, SessionOptions options);
    ~Session();
    Session(Session &&) noexcept;
    Session &operator=(Session &&) noexcept;
    Session(const Session &) = delete;
    Session &operator=(const Session &) = delete;

    const Topology &topology() const;
    /** The chassis of that name; an empty name means the only chassis of the topology. */
    Matrix &matrix(std::string_view chassis = {});
    /** Names of the chassis this session opened, in the file's order. */
    std::vector<std::string> chassisNames() const;

    /** Route or group on / off / only, across every chassis it spans (file order). When a
     *  later chassis refuses or fails, the chassis already switched are put back. */
    std::vector<Transaction> route(std::string_view name);
    std::vector<Transaction> routeOff(std::string_view name);
    std::vector<Transaction> routeOnly(std::string_view name);
    /** What route(name) (or routeOff/routeOnly) would do on each chassis; sends nothing. */
    std::vector<Transaction> dryRunRoute(std::string_view name, Change::Kind kind = Change::Kind::RouteOn) const;

    /** The record file used. */
    const std::string &recordPath() const;
    /** Where the record lives by default: $KORVAX_STATE_DIR, else $XDG_STATE_HOME/korvax,
     *  else ~/.local/state/korvax; the file switching.sqlite3 in it. */
    static std::string defaultRecordPath();

private:
    std::unique_ptr<detail::SessionState> state_;
};

}  // namespace korvax::switching

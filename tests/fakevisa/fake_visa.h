// A scripted VISA library for tests.
//
// libKORVAX loads it through KORVAX_VISA_LIBRARY exactly as it would load a
// vendor VISA; the test program links the same shared object and scripts it
// through this interface: which resources exist and how they answer "*IDN?",
// the replies to binary requests, injected failures. Every call that reaches
// it is logged, so tests can check the bytes on the wire.
#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <string>
#include <vector>

#include "visa/visa.h"

namespace fakevisa {

using Bytes = std::vector<uint8_t>;

// One reply: the bytes viRead delivers, or a failing read status.
struct Reply {
    Bytes bytes;
    ViStatus status = VI_SUCCESS;
};

// Computes the reply to a written request (used when no queued reply waits).
using Responder = std::function<Reply(const Bytes &request)>;

struct Resource {
    std::string name;
    std::string idn;                 // reply to "*IDN?\n"; empty: handled like any request
    uint32_t baud = 0;               // serial: "*IDN?" is answered only at this rate (0 = any)
    ViStatus openStatus = VI_SUCCESS;
    int failWrites = 0;              // the next n writes fail with VI_ERROR_IO
    int failReads = 0;               // the next n reads fail with VI_ERROR_TMO
    int readDelayMs = 0;             // every read of this resource takes this long
    // Called before each read of this resource completes, outside the
    // library's lock (reads of other sessions go on): a test blocks in it to
    // hold a reply back until it lets it go.
    std::function<void()> readGate;
    std::vector<uint32_t> refusedBauds;  // rates viSetAttribute refuses
    std::deque<Reply> replies;       // replies to requests, in order
    Responder responder;             // used when replies is empty
    Bytes defaultReply = Bytes(16, 0);
};

enum class Op { OpenRM, Find, FindNext, Open, Close, Write, Read, SetAttribute, Flush };

struct Event {
    Op op;
    std::string rsrc;    // resource of the session ("" for the manager)
    ViObject session = 0;
    Bytes bytes;         // written or read bytes
    ViAttr attr = 0;
    ViAttrState value = 0;
    ViStatus status = VI_SUCCESS;
};

// Forgets every resource, session and logged event (logging back on).
void reset();
// Benchmarks switch the event log off: it would grow with every call.
void setLogging(bool on);
// Declares a resource; the reference stays valid until reset().
Resource &add(const std::string &name, const std::string &idn = "");
Resource *find(const std::string &name);
// Makes viOpenDefaultRM fail with this status (VI_SUCCESS to undo).
void failOpenDefaultRM(ViStatus status);

std::vector<Event> events();
void clearEvents();
// Bytes of every successful write to a resource, in order ("*IDN?" probes excluded).
std::vector<Bytes> writes(const std::string &rsrc);
// The expression passed to the last viFindRsrc.
std::string lastExpression();
// Sessions currently open (resource sessions, not managers).
int openSessions();
// Resources of the sessions currently open, sorted.
std::vector<std::string> openResources();
// The session a resource was last opened with (0 if never).
ViSession sessionOf(const std::string &rsrc);

}  // namespace fakevisa

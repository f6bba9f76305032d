/**
 * @file korvax/switching.h
 * @brief C interface of the switching engine (libkorvaxswitch.so.1), for
 *        C programs and language bindings such as the Python package.
 *
 * The same engine as korvax/switching.hpp behind opaque handles: a session
 * opens the chassis of a topology file; a matrix is one chassis of it.
 * Every call returns a status: 0 (KORVAXSW_OK), a negative KORVAXSW_*
 * status, or, for a failure of the chassis or the library, the library's
 * own negative status (KORVAX_ERR_* or a VISA status).
 *
 * Calls that produce data (KORVAXSW_CanConnect(), KORVAXSW_Apply(),
 * KORVAXSW_Query(), ...) leave it as JSON text in a result that belongs to
 * the calling thread, read with KORVAXSW_Result() until the thread's next
 * call. A failing call leaves {"error": {"code": ..., "name": ...,
 * "message": ..., "kind": ..., "reason": ..., "rule": ..., "rollback": ...}}
 * there instead ("code" is the status the call returned, "name" its name in
 * this header or KORVAX.h), and its message in KORVAXSW_LastError(). The
 * README's section "Switching by name" shows the shapes.
 *
 * Handles: calls on one session (and its matrices) are serialised inside;
 * a matrix handle is valid until its session is closed.
 */
#ifndef KORVAX_SWITCHING_H
#define KORVAX_SWITCHING_H

#include <stdint.h>

/** Marks the functions libkorvaxswitch exports. */
#define KORVAXSW_API __attribute__((visibility("default")))

#ifdef __cplusplus
extern "C" {
#endif

/** A session: the chassis of one topology, opened once. */
typedef struct KORVAXSW_Session KORVAXSW_Session;
/** One chassis of a session. */
typedef struct KORVAXSW_Matrix KORVAXSW_Matrix;

/** Statuses of the switching engine (the library's own codes are below -9999). */
enum KORVAXSW_Status {
    KORVAXSW_OK = 0,          /**< done */
    KORVAXSW_REFUSED = -1,    /**< a rule refused; nothing was sent (KORVAXSW_LastAnswer()) */
    KORVAXSW_NOT_FOUND = -2,  /**< no such channel, route, group, chassis or recorded path */
    KORVAXSW_INVALID = -3,    /**< malformed argument: null pointer, bad JSON, bad crosspoint text */
    KORVAXSW_TOPOLOGY = -4,   /**< the topology file cannot be read or is wrong */
    KORVAXSW_RECORD = -5      /**< the SQLite record cannot be read or written */
};

/** Answers of KORVAXSW_CanConnect(), as "possible", "exists", ... in JSON. */
enum KORVAXSW_Answer {
    KORVAXSW_POSSIBLE = 0,
    KORVAXSW_EXISTS = 1,
    KORVAXSW_IN_USE = 2,
    KORVAXSW_SOURCE_CONFLICT = 3,
    KORVAXSW_EXCLUDED = 4,
    KORVAXSW_LIMIT = 5,
    KORVAXSW_UNSUPPORTED = 6
};

/** Route modes of KORVAXSW_Route() and KORVAXSW_DryRunRoute(). */
enum KORVAXSW_RouteMode {
    KORVAXSW_ROUTE_ON = 0,   /**< connect the route's legs (legs already connected are kept) */
    KORVAXSW_ROUTE_OFF = 1,  /**< disconnect them */
    KORVAXSW_ROUTE_ONLY = 2  /**< the route alone on its chassis: every other path opens */
};

/** Opens the chassis of a topology.
 *  @param topology file name; null or "" for the default topology file.
 *  @param record   SQLite record; null or "" for the default one in the state folder.
 *  @param program  name for the event log; null or "" for the process's name.
 *  @param session  receives the session.
 *  @return 0, KORVAXSW_TOPOLOGY, KORVAXSW_RECORD, KORVAXSW_INVALID, or the library's status
 *          for a chassis that cannot be opened. */
KORVAXSW_API int32_t KORVAXSW_OpenSession(const char *topology, const char *record, const char *program,
                                          KORVAXSW_Session **session);
/** Closes a session; its matrix handles become invalid.
 *  @param session the session; null is ignored. */
KORVAXSW_API void KORVAXSW_CloseSession(KORVAXSW_Session *session);
/** The matrix of a chassis of the session. Result: the chassis's geometry and names.
 *  @param session the session.
 *  @param chassis chassis name in the topology; null or "" for the only chassis.
 *  @param matrix  receives the matrix handle.
 *  @return 0, KORVAXSW_NOT_FOUND, KORVAXSW_INVALID. */
KORVAXSW_API int32_t KORVAXSW_GetMatrix(KORVAXSW_Session *session, const char *chassis, KORVAXSW_Matrix **matrix);

/** Connects two channels. Result: the transaction.
 *  @param matrix the chassis.
 *  @param a      a channel: a name, "R3" / "C17", or "chassis/NAME".
 *  @param b      the other channel.
 *  @return 0, KORVAXSW_REFUSED (nothing sent), KORVAXSW_RECORD, or the library's status. */
KORVAXSW_API int32_t KORVAXSW_Connect(KORVAXSW_Matrix *matrix, const char *a, const char *b);
/** Opens the recorded path between two channels. Result: the transaction.
 *  @param matrix the chassis.
 *  @param a      a channel.
 *  @param b      the other channel.
 *  @return 0, KORVAXSW_NOT_FOUND when no path joins them, KORVAXSW_RECORD, or the library's status. */
KORVAXSW_API int32_t KORVAXSW_Disconnect(KORVAXSW_Matrix *matrix, const char *a, const char *b);
/** Opens every crosspoint of the chassis. Result: the transaction.
 *  @param matrix the chassis.
 *  @return 0, KORVAXSW_RECORD, or the library's status. */
KORVAXSW_API int32_t KORVAXSW_DisconnectAll(KORVAXSW_Matrix *matrix);
/** Whether two channels could be connected now. Result: the verdict.
 *  @param matrix the chassis.
 *  @param a      a channel.
 *  @param b      the other channel.
 *  @param answer receives a KORVAXSW_Answer; may be null.
 *  @return 0 whatever the answer; KORVAXSW_INVALID; KORVAXSW_RECORD. */
KORVAXSW_API int32_t KORVAXSW_CanConnect(KORVAXSW_Matrix *matrix, const char *a, const char *b, int32_t *answer);
/** The recorded path between two channels. Result: the path.
 *  @param matrix the chassis.
 *  @param a      a channel.
 *  @param b      the other channel.
 *  @return 0 or KORVAXSW_NOT_FOUND. */
KORVAXSW_API int32_t KORVAXSW_GetPath(KORVAXSW_Matrix *matrix, const char *a, const char *b);
/** Connects two channels through exactly these crosspoints. Result: the transaction.
 *  @param matrix      the chassis.
 *  @param a           a channel.
 *  @param b           the other channel.
 *  @param crosspoints a chain from a to b, e.g. "1!48,5!48".
 *  @return 0, KORVAXSW_REFUSED, KORVAXSW_INVALID for crosspoints that do not join a and b, or the
 *          library's status. */
KORVAXSW_API int32_t KORVAXSW_SetPath(KORVAXSW_Matrix *matrix, const char *a, const char *b,
                                      const char *crosspoints);
/** A route or group on, off or alone, on every chassis it spans (one transaction per chassis in the
 *  file's order; chassis already switched are put back when a later one fails).
 *  Result: an array of transactions.
 *  @param session the session.
 *  @param name    route or group of the topology.
 *  @param mode    a KORVAXSW_RouteMode.
 *  @return 0, KORVAXSW_REFUSED, KORVAXSW_NOT_FOUND, or the library's status. */
KORVAXSW_API int32_t KORVAXSW_Route(KORVAXSW_Session *session, const char *name, int32_t mode);
/** What KORVAXSW_Route() would do; sends nothing. Result: an array of transactions.
 *  @param session the session.
 *  @param name    route or group of the topology.
 *  @param mode    a KORVAXSW_RouteMode.
 *  @return 0 (refusals are in the transactions' "answer"), KORVAXSW_NOT_FOUND. */
KORVAXSW_API int32_t KORVAXSW_DryRunRoute(KORVAXSW_Session *session, const char *name, int32_t mode);
/** Any mix of changes as one break-before-make transaction. Result: the transaction.
 *  @param matrix  the chassis.
 *  @param changes a JSON array, e.g. [{"disconnect": ["DMM_HI", "DUT1"]},
 *                 {"connect": ["DMM_HI", "DUT2"]}, {"route": "power_dut3"}]; the keys are connect,
 *                 disconnect, disconnect_all, route, route_off, route_only, close, open, set_path.
 *  @return 0, KORVAXSW_REFUSED, KORVAXSW_NOT_FOUND, KORVAXSW_INVALID, or the library's status. */
KORVAXSW_API int32_t KORVAXSW_Apply(KORVAXSW_Matrix *matrix, const char *changes);
/** What KORVAXSW_Apply() would do, with the rules' answer; sends nothing.
 *  Result: the transaction (its "answer" says whether it would be refused).
 *  @param matrix  the chassis.
 *  @param changes as for KORVAXSW_Apply().
 *  @return 0, KORVAXSW_NOT_FOUND, KORVAXSW_INVALID. */
KORVAXSW_API int32_t KORVAXSW_DryRun(KORVAXSW_Matrix *matrix, const char *changes);
/** Waits until the chassis's settle time after this process's last frame has passed.
 *  @param matrix the chassis.
 *  @return 0 or KORVAXSW_INVALID. */
KORVAXSW_API int32_t KORVAXSW_WaitForDebounce(KORVAXSW_Matrix *matrix);
/** Whether the settle time after this process's last frame has passed.
 *  @param matrix the chassis.
 *  @return 1 when it has, 0 when not, KORVAXSW_INVALID for a null handle. */
KORVAXSW_API int32_t KORVAXSW_IsDebounced(KORVAXSW_Matrix *matrix);
/** Reads the record or the topology.
 *  @param matrix the chassis.
 *  @param what   "closed" (crosspoints), "nets" (arrays of channel names), "paths", "wear" (most
 *                worn first), "events" (the last ones), "info" (name, resource, geometry, channel
 *                names, routes).
 *  @param count  for "wear" and "events": how many (0: every worn relay / the last 50).
 *  @return 0, KORVAXSW_INVALID for another what, KORVAXSW_RECORD. */
KORVAXSW_API int32_t KORVAXSW_Query(KORVAXSW_Matrix *matrix, const char *what, int64_t count);
/** The session's topology file, record file, chassis names, routes and groups. Result: an object.
 *  @param session the session.
 *  @return 0 or KORVAXSW_INVALID. */
KORVAXSW_API int32_t KORVAXSW_SessionInfo(KORVAXSW_Session *session);

/** Makes resources connectable under the program's own discovery rule.
 *  @param resources the resources a new session needs, ';'-separated.
 *  @param context   the context given to KORVAXSW_SetDiscoveryHook().
 *  @return 0, or the library's status when a discovery failed. */
typedef int32_t (*KORVAXSW_DiscoveryHook)(const char *resources, void *context);

/** Hands the process's discoveries to a program that holds chassis of its own (the Python
 *  package does). A discovery ends every chassis handle of the one before; the engine runs one
 *  only when a chassis of a new session was not found before, for it and every chassis its open
 *  sessions hold, and attaches those again afterwards. With a hook, the engine calls it instead
 *  with the resources a new session needs; the hook runs any discovery for them, its own
 *  chassis and those of KORVAXSW_HeldResources(), then calls KORVAXSW_Reattach().
 *  @param hook    the hook; null restores the engine's own rule.
 *  @param context passed to the hook. */
KORVAXSW_API void KORVAXSW_SetDiscoveryHook(KORVAXSW_DiscoveryHook hook, void *context);
/** The resources the open sessions of this process hold. Result: an array of resource strings.
 *  @return 0. */
KORVAXSW_API int32_t KORVAXSW_HeldResources(void);
/** Attaches every chassis of the open sessions again after a discovery the engine did not run
 *  (a new handle, the cards identified again; nothing is sent). A chassis the discovery did not
 *  find refuses frames with KORVAX_ERR_RESOURCE_ABSENT until a later discovery finds it.
 *  Result: the array of KORVAXSW_HeldResources().
 *  @return 0. */
KORVAXSW_API int32_t KORVAXSW_Reattach(void);

/** Copies the calling thread's result text (cut to fit, always terminated).
 *  @param buffer receives the text; may be null when size is 0.
 *  @param size   bytes available at buffer.
 *  @return the whole text's length without its NUL: call with size 0 to size the buffer. */
KORVAXSW_API int64_t KORVAXSW_Result(char *buffer, uint64_t size);
/** Copies the message of the calling thread's last failure ("" after a success).
 *  @param buffer receives the message; may be null when size is 0.
 *  @param size   bytes available at buffer.
 *  @return the whole message's length. */
KORVAXSW_API int64_t KORVAXSW_LastError(char *buffer, uint64_t size);
/** The answer of the calling thread's last refusal.
 *  @return a KORVAXSW_Answer, or -1 when the last call was not refused. */
KORVAXSW_API int32_t KORVAXSW_LastAnswer(void);

#ifdef __cplusplus
}
#endif

#endif /* KORVAX_SWITCHING_H */

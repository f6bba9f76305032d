/**
 * @file korvax/extensions.h
 * @brief What the Linux library offers beside the flat C API of KORVAX.h.
 *
 * The operations of KORVAX.h are the interface every delivery of the library
 * shares. The calls here are extensions of the Linux shared object
 * (libKORVAX.so.1) for tools and language bindings: the geometry of a
 * connected chassis, its model's name and the state the library keeps for
 * it, so that nobody needs a copy of the model tables; the VISA timeout;
 * what the last discovery saw at each resource, so that a tool can say why
 * a chassis was not found; the firmware update with a progress report; the
 * names of the status codes; and two settings for tests and benchmarks.
 * KORVAX.dll does not export them.
 *
 * Every call follows the rules of KORVAX.h: a signed status, negative on
 * failure, and nothing allocated for the caller.
 */
#ifndef KORVAX_EXTENSIONS_H
#define KORVAX_EXTENSIONS_H

#include <stdint.h>

#include "KORVAX.h"

#ifdef __cplusplus
extern "C" {
#endif

/** The crosspoint matrix of a sub-unit, as the state array of KORVAX_OpMatrix() numbers it.
 *
 *  Crosspoint (row r, card position k, column c), all from 0, is bit
 *  p = r * columns + k * cardColumns + c of the state array: a row of the state array runs
 *  across every card position of the chassis, card after card. */
typedef struct KORVAX_Geometry {
    uint16_t model;          /**< model code, e.g. KORVAX_MODEL_RQ522 */
    uint16_t subUnits;       /**< sub-units the model has: 3 on RQ520/RQ520B (matrix, RF card,
                                  adapter plate), else 1 */
    uint16_t rows;           /**< rows of each card */
    uint16_t switchableRows; /**< rows a relay-state frame reaches: 4 on an RQ522 (its rows 5 to 16
                                  fold beyond the words a frame block carries, and
                                  KORVAX_OpMatrix() refuses them with KORVAX_ERR_ROW_RANGE), else
                                  rows */
    uint16_t positions;      /**< card positions in a row of the state array */
    uint16_t cardColumns;    /**< columns of one card */
    uint16_t columns;        /**< columns of a row of the state array: positions x cardColumns */
    uint16_t cardsFitted;    /**< positions holding a card, as KORVAX_OpenSpecifiedCard() found them
                                  (0 before the cards are identified); positions 0 .. cardsFitted - 1 */
    uint16_t stateWords;     /**< 32-bit words of a state array that hold every crosspoint */
    int32_t closureLimit;    /**< relays the chassis closes at once (KORVAX_ERR_CLOSURE_LIMIT beyond),
                                  -1 for no limit */
} KORVAX_Geometry;

/** Geometry of a sub-unit's crosspoint matrix.
 *  The model's facts are there from KORVAX_Connect() on; cardsFitted once
 *  KORVAX_OpenSpecifiedCard() identified the cards.
 *  @param handle   chassis handle from KORVAX_Connect().
 *  @param subUnit  0 (other numbers mean 0 on the models with one sub-unit).
 *  @param geometry receives the geometry.
 *  @return 0; KORVAX_ERR_HANDLE (-10023); KORVAX_ERR_PARAMETER (-10038) for a null geometry;
 *          KORVAX_ERR_UNKNOWN_CARD_TYPE (-10026) for sub-units 1 and 2 of an RQ520/RQ520B or a
 *          number outside 0..2 (they are not switched by crosspoint);
 *          KORVAX_ERR_NOT_SUPPORTED (-10020) for a model the library does not know. */
KORVAX_API int32_t KORVAX_GetGeometry(uint32_t handle, int64_t subUnit, KORVAX_Geometry *geometry);

/** The state the library keeps for a sub-unit: the last state array the chassis acknowledged
 *  (KORVAX_OpMatrix(), the SCPI relay commands), all open after an acknowledged KORVAX_Clear()
 *  or KORVAX_Init(). A chassis cannot report its relays; this is what it was last told. A
 *  discovery that finds the chassis again keeps it (by resource name, whatever record the chassis
 *  lands in); a chassis new to the process starts all open.
 *  @param handle  chassis handle.
 *  @param subUnit sub-unit number (as KORVAX_OpMatrix() takes it).
 *  @param state   receives min(count, stateWords) words; may be null when count is 0.
 *  @param count   words available at state.
 *  @return the sub-unit's stateWords (>= 0; call with count 0 to size the buffer);
 *          KORVAX_ERR_HANDLE; KORVAX_ERR_PARAMETER for a negative count, a null state with a
 *          positive count, or a sub-unit outside 0..2. */
KORVAX_API int32_t KORVAX_GetStoredState(uint32_t handle, int64_t subUnit, uint32_t *state,
                                         int32_t count);

/** Progress of a firmware update: data bytes the chassis acknowledged so far, and the file's size
 *  when the transfer began (0 when it cannot be known, as for a pipe). */
typedef void (*KORVAX_UpdateProgress)(uint64_t sent, uint64_t total, void *context);

/** KORVAX_OnlineUpdate() with a progress report after every acknowledged block.
 *  @param handle   chassis handle.
 *  @param path     file name of the firmware image.
 *  @param progress called after each acknowledged block; may be null.
 *  @param context  handed to progress.
 *  @return as KORVAX_OnlineUpdate(). A transfer that stopped part-way (any failure after the first
 *          block) leaves the chassis's loader without a complete image: run the update again. */
KORVAX_API int32_t KORVAX_OnlineUpdateProgress(uint32_t handle, const char *path,
                                               KORVAX_UpdateProgress progress, void *context);

/** Name of a status code as this header spells it.
 *  @param code a status of the library.
 *  @return e.g. "KORVAX_ERR_HANDLE" for -10023; "KORVAX_OK" for 0; "" for any other code (VISA
 *          statuses included). Never null; static text. */
KORVAX_API const char *KORVAX_ErrorName(int64_t code);

/** Name of a model code as "*IDN?" reports it.
 *  @param model a model code, e.g. KORVAX_MODEL_RQ522 (0x043A).
 *  @return e.g. "RQ522"; "" for a code the library does not know. Never null; static text. */
KORVAX_API const char *KORVAX_ModelName(uint16_t model);

/** VISA timeout, in milliseconds, of the sessions the library opens or holds.
 *  Sets VI_ATTR_TMO_VALUE: every reply (the identity probe of discovery included) is waited for
 *  at most this long. Handle 0 sets it for every session discovery opens from then on (the
 *  sessions of the chassis it finds among them); a chassis handle sets it for that chassis's
 *  session now. 0 milliseconds for handle 0 goes back to the VISA library's own default.
 *  @param handle       0, or a chassis handle from KORVAX_Connect().
 *  @param milliseconds the timeout.
 *  @return 0; KORVAX_ERR_HANDLE (-10023) for an unknown handle; the VISA status when the VISA
 *          library refused the value. */
KORVAX_API int32_t KORVAX_SetTimeout(uint32_t handle, uint32_t milliseconds);

/** What discovery saw at one resource the VISA library listed. */
typedef enum KORVAX_ProbeOutcome {
    KORVAX_PROBE_ACCEPTED = 0,      /**< answered as one of our models: KORVAX_Connect() takes it */
    KORVAX_PROBE_BEYOND_LIMIT = 1,  /**< listed after discovery had kept KORVAX_MAX_CHASSIS (5)
                                         chassis: not kept; model is set when its probe (under way
                                         by then) answered as one of ours, 0 when it was not probed */
    KORVAX_PROBE_OPEN_FAILED = 2,   /**< viOpen failed; status is VISA's (VI_ERROR_RSRC_NFOUND: the
                                         connection was refused or nothing is at that address;
                                         VI_ERROR_TMO: no answer while connecting) */
    KORVAX_PROBE_WRITE_FAILED = 3,  /**< "*IDN?" could not be sent; status is VISA's */
    KORVAX_PROBE_NO_ANSWER = 4,     /**< no reply to "*IDN?" (VI_ERROR_TMO: none within the
                                         timeout; a serial line: at none of the five rates) */
    KORVAX_PROBE_NOT_OURS = 5,      /**< a reply that is not our maker's identity; reply holds it */
    KORVAX_PROBE_UNKNOWN_MODEL = 6, /**< our maker, a model this library does not know: discovery
                                         stopped there (KORVAX_ERR_NOT_SUPPORTED) */
    KORVAX_PROBE_NOT_PROBED = 7     /**< never probed: discovery had stopped at an unknown model */
} KORVAX_ProbeOutcome;

/** One resource of the last discovery and what happened there. */
typedef struct KORVAX_ProbeReport {
    char resource[256]; /**< the resource string as the VISA library listed it */
    int32_t outcome;    /**< a KORVAX_ProbeOutcome */
    int32_t status;     /**< VISA status of the step that failed, else 0 */
    uint16_t model;     /**< model code when the identity named a known model, else 0 */
    uint32_t baudRate;  /**< serial resources: the rate that answered, else 0 */
    char reply[128];    /**< the identity reply as received (cut to fit, terminated), or "" */
} KORVAX_ProbeReport;

/** What the last discovery (KORVAX_FindRsrc(), or the one KORVAX_Connect() ran) saw at each
 *  resource the VISA library listed, in list order: why a resource is not among the chassis
 *  found. Call with a null report to count them. Each discovery replaces the report.
 *  @param index  0 .. count - 1.
 *  @param report receives resource index when index < count; may be null.
 *  @return the number of resources the last discovery listed (0 before any discovery). */
KORVAX_API int32_t KORVAX_GetDiscoveryReport(uint32_t index, KORVAX_ProbeReport *report);

/** How many resources discovery probes at once.
 *  The outcome of a discovery is the same either way. Takes effect at the next discovery.
 *  @param threads 1 (one after another) to 32 (the default).
 *  @return the value now in force (the argument, clamped to 1..32). */
KORVAX_API uint32_t KORVAX_SetDiscoveryThreads(uint32_t threads);

/** Replaces the library's waits (the settle times of control-mode changes, restarts and LAN-mode
 *  changes, in whole seconds) by a call of hook.
 *  For tests and simulations, where no settle time needs to pass.
 *  @param hook called with the seconds to wait; returns the seconds it did not wait (0). Null
 *              sleeps for real again. */
KORVAX_API void KORVAX_SetSleepHook(uint32_t (*hook)(uint32_t seconds));

#ifdef __cplusplus
}
#endif

#endif /* KORVAX_EXTENSIONS_H */

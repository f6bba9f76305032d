/**
 * @file KORVAX.h
 * @brief KORVAX — control library for relay switch-matrix chassis.
 *
 * Every function returns a signed 32-bit status: 0 (or, where said, a
 * positive count) on success, a negative KORVAX_ERR_* code or a negative
 * VISA status on failure. KORVAX_ErrorCodeToMessage() turns any of them into
 * text. A handle is the VISA session of a chassis as handed out by
 * KORVAX_Connect(); it stays valid until the next discovery.
 *
 * Calling order: KORVAX_Connect (runs discovery the first time),
 * KORVAX_OpenSpecifiedCard, KORVAX_Init, then switching, settings and
 * diagnostics on the same handle.
 *
 * Threads: every call that takes a handle holds the lock of that chassis from
 * its first request until its last reply is decoded, so calls on one handle
 * from several threads run one after the other, each with its own replies,
 * and calls on different chassis run side by side, never waiting for each
 * other (frames to different chassis go to different sessions). The SCPI
 * commands and KORVAX_SelfTest hold the lock for all their steps.
 * KORVAX_FindRsrc (and the discovery KORVAX_Connect runs on first use) waits
 * for the calls under way, holds new ones back until it is done, and then
 * leaves the handles of an earlier discovery invalid (-10023). KORVAX.dll's
 * KORVAX_Connect, which opens a new session each time, waits the same way.
 * KORVAX.dll creates its locks on first use; when Windows cannot create one
 * (no handles left), the call is refused with KORVAX_ERR_MALLOC (-10035),
 * nothing sent, instead of running unlocked.
 *
 * Buffers: every text result goes into a buffer the caller provides, of the
 * size each function names; nothing is allocated for the caller and nothing
 * needs to be freed. Unless a function says otherwise, an output is left
 * untouched when the function fails before the instrument answered.
 *
 * The SCPI text interface (KORVAX_SCPIWrite, KORVAX_SCPIRead,
 * KORVAX_SCPIQuery) is described, command by command with its reply texts,
 * in the README's section "SCPI text commands".
 */
#ifndef KORVAX_H
#define KORVAX_H

#include <stdint.h>

#if defined(_WIN32)
#  if defined(KORVAX_BUILDING_LIBRARY)
/* KORVAX.def lists what the DLL exports, at fixed ordinals. */
#    define KORVAX_API
#  else
#    define KORVAX_API __declspec(dllimport)
#  endif
#else
#  define KORVAX_API __attribute__((visibility("default")))
#endif

#ifdef __cplusplus
extern "C" {
#endif

/** Version text written by KORVAX_GetLibVersion() (7 bytes with its NUL).
 *  KORVAX.dll writes "1.0.1378" (9 bytes) instead. */
#define KORVAX_LIB_VERSION "1.1.77"

/** Most chassis one discovery hands out: only records 0..4 get a handle. */
#define KORVAX_MAX_CHASSIS 5

/** Length of the resource-name field of a discovery entry (NUL included). */
#define KORVAX_RSRC_NAME_SIZE 64

/** Model code of an RQ520 chassis (RsrcEntry::typeCode): five matrix cards, an RF card, an adapter plate. */
#define KORVAX_MODEL_RQ520  0x041A
/** Model code of an RQ520B chassis: as the RQ520, with the other adapter plate. */
#define KORVAX_MODEL_RQ520B 0x041B
/** Model code of an RQ521 chassis: four matrix cards of 10 rows x 12 columns. */
#define KORVAX_MODEL_RQ521  0x042A
/** Model code of an RQ522 chassis: up to 21 matrix cards of 16 rows x 96 columns, of which
 *  4 switchable rows x 2016 columns: its relay-state frame reaches rows 1 to 4 only. */
#define KORVAX_MODEL_RQ522  0x043A
/** Model code of an RQ523 chassis: one matrix card of 8 rows x 12 columns with cascade relays. */
#define KORVAX_MODEL_RQ523  0x044A
/** Model code of an RQ523B chassis: as the RQ523. */
#define KORVAX_MODEL_RQ523B 0x044B

#pragma pack(push, 1)
/** One discovered chassis: resource string (NUL-terminated) and model code. 66 bytes. */
typedef struct RsrcEntry {
    char rsrcName[KORVAX_RSRC_NAME_SIZE]; /**< VISA resource string, cut to 63 characters + NUL */
    uint16_t typeCode;                    /**< model code, e.g. 0x042A for an RQ521 */
} RsrcEntry;
#pragma pack(pop)

/** Status codes of the library; KORVAX_ErrorCodeToMessage gives their text. */
enum KORVAX_Error {
    KORVAX_OK = 0,                          /**< success */
    KORVAX_ERR_LOAD_WINSOCK = -10000,       /**< "VISA_IO:Load winsock error" */
    KORVAX_ERR_INVALID_IO = -10001,         /**< "VISA_IO:Invalid VISA_IO" */
    KORVAX_ERR_BIND_PORT = -10002,          /**< port already in use */
    KORVAX_ERR_SET_TIMEOUT = -10003,        /**< timeout could not be set */
    KORVAX_ERR_SEND = -10004,               /**< request could not be written */
    KORVAX_ERR_RECEIVE = -10005,            /**< reply could not be read, or ended before the
                                                 fields the operation reads */
    KORVAX_ERR_CLOSE = -10006,              /**< invalid VISA_IO handle on close */
    KORVAX_ERR_ROW_RANGE = -10007,          /**< matrix row out of range */
    KORVAX_ERR_COLUMN_RANGE = -10008,       /**< matrix column out of range */
    KORVAX_ERR_STATE_RANGE = -10009,        /**< matrix state not 0 or 1 */
    KORVAX_ERR_IP_CONFLICT = -10010,        /**< IP address conflict */
    KORVAX_ERR_ARRAY_SIZE = -10011,         /**< matrix array size error */
    KORVAX_ERR_ERROR_CODE = -10012,         /**< not an error code (ErrorCodeToMessage) */
    KORVAX_ERR_NO_LOCATION = -10013,        /**< physical location not found */
    KORVAX_ERR_CARD_IN_PLACE_SET = -10014,  /**< board-in-place mask refused */
    KORVAX_ERR_UPDATE_FILE_OPEN = -10015,   /**< firmware file cannot be opened or read */
    KORVAX_ERR_NO_TYPE0_CARD = -10016,      /**< no card in sub-unit 0 */
    KORVAX_ERR_NEWER_DRIVER = -10017,       /**< card requires a newer driver */
    KORVAX_ERR_SPI_LOOPBACK = -10018,       /**< SPI loop-back test failed */
    KORVAX_ERR_UPDATE_CHECK = -10019,       /**< online update check failed */
    KORVAX_ERR_NOT_SUPPORTED = -10020,      /**< model or firmware does not support this */
    KORVAX_ERR_POINT_DEFINITION = -10021,   /**< point definition error */
    KORVAX_ERR_DEVICE_TYPE = -10022,        /**< RF card kind unknown */
    KORVAX_ERR_HANDLE = -10023,             /**< handle or resource unknown */
    KORVAX_ERR_NO_TYPE1_CARD = -10024,      /**< no card in sub-unit 1 */
    KORVAX_ERR_NO_TYPE2_CARD = -10025,      /**< no card in sub-unit 2 */
    KORVAX_ERR_UNKNOWN_CARD_TYPE = -10026,  /**< sub-unit not supported by the operation */
    KORVAX_ERR_DEVICE_TYPE2 = -10027,       /**< adapter plate not recognised */
    KORVAX_ERR_SN_INPUT = -10028,           /**< serial-number text refused */
    KORVAX_ERR_SN_UNSET = -10029,           /**< serial number unset or out of range */
    KORVAX_ERR_CLOSURE_LIMIT = -10030,      /**< too many relays would close; nothing sent */
    KORVAX_ERR_BAD_IP = -10031,             /**< IP address text refused */
    KORVAX_ERR_BAD_HW_NUMBER = -10032,      /**< hardware-number text refused */
    KORVAX_ERR_BAD_SLOT = -10033,           /**< slot or sub-unit number refused */
    KORVAX_ERR_CHASSIS_NUM = -10034,        /**< chassis number error */
    KORVAX_ERR_MALLOC = -10035,             /**< allocation failed */
    KORVAX_ERR_PARALLEL_TIMEOUT = -10036,   /**< parallel signal timeout */
    KORVAX_ERR_BAD_PORT = -10037,           /**< bad port number */
    KORVAX_ERR_PARAMETER = -10038,          /**< parameter error */
    KORVAX_ERR_BAD_MODEL = -10039,          /**< bad model number */
    KORVAX_ERR_MODE_CONFLICT = -10040,      /**< chassis is in local control */
    KORVAX_ERR_SAME_MODE = -10041,          /**< control mode already set */
    KORVAX_ERR_BAD_SUBUNIT = -10042,        /**< bad sub-unit number */
    KORVAX_ERR_INVALID_MODE = -10043,       /**< invalid mode */
    KORVAX_ERR_FILE_MAPPING = -10044,       /**< file mapping failed */
    KORVAX_ERR_SHM_NOT_MAPPED = -10045,     /**< shared memory not mapped */
    KORVAX_ERR_SHM_CAPACITY = -10046,       /**< shared memory too small */
    KORVAX_ERR_INVALID_PORT = -10047,       /**< invalid port number */
    KORVAX_ERR_RESOURCE_ABSENT = -10048,    /**< resource name not discovered */
    KORVAX_ERR_USB_ADAPTER = -10049,        /**< instrument replied FF FF FF FF (error report) */
    KORVAX_ERR_GPIB_ADDRESS = -10050,       /**< GPIB address outside 1..30 */
    KORVAX_ERR_BAUDRATE = -10051,           /**< baud rate not supported */
    KORVAX_ERR_IP_MODE = -10052,            /**< LAN mode not 0 or 1 */
    KORVAX_ERR_VISA_API = -10053            /**< VISA error (also the text of every lower code) */
};

/* ---- library ------------------------------------------------------------ */

/** Version of the library.
 *  @param version buffer of at least 7 bytes; receives "1.1.77" and its NUL (KORVAX_LIB_VERSION).
 *                 KORVAX.dll writes "1.0.1378" (9 bytes): provide at least 9 there.
 *                 A null pointer is ignored. */
KORVAX_API void KORVAX_GetLibVersion(char *version);

/** Message text of a status code.
 *  @param code    a KORVAX_ERR_* code, or a negative VISA status (every code below -10053 gives
 *                 "Error caused by VISA API").
 *  @param message receives the text, NUL-terminated, cut to fit.
 *  @param size    bytes available at message (256 hold every message).
 *  @return 0, or KORVAX_ERR_ERROR_CODE (-10012) for a code of -9999 or above or a null message
 *          (nothing written). */
KORVAX_API int32_t KORVAX_ErrorCodeToMessage(int64_t code, char *message, uint64_t size);

/* ---- discovery and connection ------------------------------------------- */

/** Finds every chassis that answers "*IDN?" with the maker's name.
 *  Closes every earlier session: handles handed out before are no longer valid.
 *  @param entries array of KORVAX_MAX_CHASSIS entries; the first *count are filled.
 *  @param count   receives the number of chassis found (0 when no instrument answers). It is
 *                 set to 0 first and stays 0 on every failure but one: after
 *                 KORVAX_ERR_NOT_SUPPORTED it holds the number of chassis found before the
 *                 unknown model, which can be connected by name (entries is not written then).
 *  @return 0, a negative VISA status when the VISA library or its resource manager fails
 *          (VI_ERROR_LIBRARY_NFOUND when no VISA library loads), or KORVAX_ERR_NOT_SUPPORTED
 *          (-10020) for a chassis of an unknown model (discovery ends there). However it ends,
 *          chassis of an earlier discovery that this one did not find are forgotten: their
 *          names give KORVAX_ERR_RESOURCE_ABSENT and their handles KORVAX_ERR_HANDLE. */
KORVAX_API int32_t KORVAX_FindRsrc(RsrcEntry *entries, uint32_t *count);

/** Handle of the chassis with exactly this resource string (case-sensitive).
 *  Runs discovery (KORVAX_FindRsrc()) on first use.
 *  @param rsrcName resource string as discovery reported it, e.g. "TCPIP0::192.168.1.5::INSTR".
 *  @param handle   receives the handle; untouched on failure.
 *  @return 0, KORVAX_ERR_RESOURCE_ABSENT (-10048) when no discovered chassis has that name, or
 *          discovery's status. */
KORVAX_API int32_t KORVAX_Connect(const char *rsrcName, uint32_t *handle);

/* ---- card identification, initialisation, clearing ---------------------- */

/** Identifies the cards of a sub-unit and sets its geometry (rows, columns, card positions).
 *  @param handle        chassis handle from KORVAX_Connect().
 *  @param subUnit       0 matrix cards, 1 RF card, 2 adapter plate (1 and 2 on RQ520/RQ520B only;
 *                       other models take every number as 0).
 *  @param openedSubUnit receives the sub-unit actually opened; must not be null.
 *  @return 0; KORVAX_ERR_HANDLE (-10023); KORVAX_ERR_NO_TYPE0_CARD, _NO_TYPE1_CARD,
 *          _NO_TYPE2_CARD when no card is present; KORVAX_ERR_NOT_SUPPORTED (-10020) for
 *          hardware or firmware too old; KORVAX_ERR_DEVICE_TYPE / _DEVICE_TYPE2 for an unknown
 *          RF card or adapter plate; or an exchange error. */
KORVAX_API int32_t KORVAX_OpenSpecifiedCard(uint32_t handle, int64_t subUnit, int64_t *openedSubUnit);

/** Prepares a sub-unit for switching: builds the relay maps, refreshes the firmware version,
 *  takes an RQ521 into remote control and opens every relay of the sub-unit.
 *  @param handle  chassis handle.
 *  @param subUnit sub-unit number (see KORVAX_OpenSpecifiedCard()).
 *  @return 0, KORVAX_ERR_HANDLE, or the error of the step that failed (control mode, clearing,
 *          exchange). */
KORVAX_API int32_t KORVAX_Init(uint32_t handle, int64_t subUnit);

/** Opens every relay of a sub-unit (one relay-state frame of zero words).
 *  The reply is judged as KORVAX_OpMatrix() judges it.
 *  @param handle  chassis handle.
 *  @param subUnit sub-unit number.
 *  @return the reply's byte count (1 or more: the chassis acknowledged the frame);
 *          KORVAX_ERR_HANDLE; KORVAX_ERR_UNKNOWN_CARD_TYPE (-10026) for sub-units 1 and 2 (their
 *          stored state is cleared, nothing is sent); KORVAX_ERR_PARAMETER (-10038) when the
 *          cards were never identified (KORVAX_OpenSpecifiedCard()); a no-card code (nothing
 *          sent); KORVAX_ERR_MODE_CONFLICT (-10040) when the chassis refused the frame (an
 *          RQ521 in local control answers 0xFF in byte 0: every relay stays as it was);
 *          KORVAX_ERR_RECEIVE (-10005) for an empty reply; or another exchange error
 *          (KORVAX_ERR_SEND, KORVAX_ERR_USB_ADAPTER). The stored state of sub-unit 0 becomes
 *          "all open" only once the instrument acknowledged the frame; after any failure it
 *          still holds what the chassis may have closed. */
KORVAX_API int32_t KORVAX_Clear(uint32_t handle, int64_t subUnit);

/* ---- switching ---------------------------------------------------------- */

/** Applies the complete wanted state of a sub-unit in one relay-state frame.
 *  Bit p (bit p % 32 of word p / 32) closes crosspoint p, with rows, card positions and
 *  columns counted from 0: p = row * positions * columns + card * columns + column
 *  (positions x columns: 4 x 12 RQ521, 5 x 10 RQ520/RQ520B, 21 x 96 RQ522, 1 x 12 RQ523/RQ523B).
 *  Every relay not named is opened.
 *  @param handle  chassis handle.
 *  @param subUnit sub-unit number; only sub-unit 0 has crosspoints.
 *  @param state   the state words; only the words the sub-unit has are read.
 *  @param count   number of words at state.
 *  @return 0; KORVAX_ERR_CLOSURE_LIMIT (-10030) when more relays would close than the chassis
 *          allows (400 RQ520/RQ520B, 270 RQ521; nothing is sent); KORVAX_ERR_ROW_RANGE (-10007)
 *          for a closed crosspoint on rows 5 to 16 of an RQ522 (nothing is sent: the frame
 *          carries 49 driver words per card, and its rows fold in groups of four onto them, so
 *          rows 5 to 16 fall beyond the words a card's block has; an all-ones state is refused
 *          the same way); KORVAX_ERR_MODE_CONFLICT
 *          (-10040) on an RQ521 in local control; KORVAX_ERR_PARAMETER (-10038) when the
 *          sub-unit's cards were never identified (KORVAX_OpenSpecifiedCard()); KORVAX_ERR_HANDLE;
 *          KORVAX_ERR_UNKNOWN_CARD_TYPE for sub-units 1 and 2; or an exchange error. On failure the
 *          state the library keeps for the SCPI relay commands is unchanged. */
KORVAX_API int32_t KORVAX_OpMatrix(uint32_t handle, long subUnit, const uint32_t *state, int32_t count);

/* ---- SCPI text interface ------------------------------------------------ */

/** Executes one SCPI command and keeps its reply text for KORVAX_SCPIRead().
 *  Commands: *IDN?, *RST>, :SYST:VERS?, :SYST:MANF?, :SYST:MOD?, the :SYST:COMM and :SYST:CTRL
 *  settings, :DIAG:TEST:CARD:BIP?/SPILOOP?/STAT?, :OPEN/:CLOS with a channel list such as
 *  (@0(1!1,2!3:4!5)) and :OPEN:ALL/:CLOS:ALL; the README's section "SCPI text commands" lists every spelling
 *  and reply text. Failures of the command are reported in the reply text, not the result.
 *  @param handle  chassis handle.
 *  @param command the command text, NUL-terminated.
 *  @return 0, or KORVAX_ERR_HANDLE (-10023; no reply is kept). */
KORVAX_API int32_t KORVAX_SCPIWrite(uint32_t handle, const char *command);

/** Hands over the reply text of the last KORVAX_SCPIWrite() and clears it (a second read gives "").
 *  @param handle chassis handle.
 *  @param reply  buffer of at least 256 bytes; receives the text, NUL-terminated.
 *  @return 0, or KORVAX_ERR_HANDLE (-10023; reply untouched). */
KORVAX_API int32_t KORVAX_SCPIRead(uint32_t handle, char *reply);

/** Executes one SCPI command (see KORVAX_SCPIWrite()) and writes its reply text.
 *  Every outcome, an unknown handle included, is reported as reply text.
 *  @param handle  chassis handle.
 *  @param command the command text, NUL-terminated.
 *  @param reply   buffer of at least 400 bytes; receives the reply text, NUL-terminated. */
KORVAX_API void KORVAX_SCPIQuery(uint32_t handle, const char *command, char *reply);

/* ---- identity, versions, card info --------------------------------------- */

/** Identity of the chassis as four texts (each at most 9 characters).
 *  @param handle       chassis handle.
 *  @param model        receives the model code, "%04X" (e.g. "042A").
 *  @param manufacturer receives the two-character maker code.
 *  @param serial       receives the chassis serial number, "%8u".
 *  @param firmware     receives the controller firmware version, "%x.%02x" (e.g. "3.08").
 *  @param maxLen       longest text wanted; each buffer must hold maxLen + 1 bytes (10 suffice).
 *  @return 0; KORVAX_ERR_HANDLE; KORVAX_ERR_SN_UNSET (-10029) when the serial number is unset or
 *          out of range; or an exchange error. The buffers are written only on success. */
KORVAX_API int32_t KORVAX_GetDeviceInfo(uint32_t handle, char *model, char *manufacturer,
                                        char *serial, char *firmware, uint64_t maxLen);

/** Serial numbers of the chassis and its cards.
 *  @param handle  chassis handle.
 *  @param serials receives entry 0 the chassis serial number, entry s that of the card in slot s
 *                 (0 when the slot reports none).
 *  @param count   entries to copy, at most 30.
 *  @return 0; KORVAX_ERR_HANDLE; KORVAX_ERR_SN_UNSET (-10029) when a serial number is unset or
 *          out of range; KORVAX_ERR_NOT_SUPPORTED on RQ520/RQ520B firmware before 3.06; or an
 *          exchange error. serials is written only on success. */
KORVAX_API int32_t KORVAX_GetSN(uint32_t handle, uint32_t *serials, uint32_t count);

/** Stores the chassis serial number and hardware number, then resets the chassis.
 *  @param handle   chassis handle.
 *  @param serial   8 decimal digits (10000000..99999999).
 *  @param hwNumber decimal digits; the low byte of its value is stored.
 *  @return 0; KORVAX_ERR_HANDLE; KORVAX_ERR_SN_INPUT (-10028) for a refused serial;
 *          KORVAX_ERR_BAD_HW_NUMBER (-10032) for a refused hardware number; or an exchange error. */
KORVAX_API int32_t KORVAX_SetSN(uint32_t handle, const char *serial, const char *hwNumber);

/** Stores the serial number and hardware number of the card in one slot.
 *  @param handle   chassis handle.
 *  @param serial   8 decimal digits (10000000..99999999).
 *  @param hwNumber decimal digits; the low byte of its value is stored.
 *  @param slot     slot 1..6.
 *  @return 0; KORVAX_ERR_HANDLE; KORVAX_ERR_SN_INPUT; KORVAX_ERR_BAD_HW_NUMBER;
 *          KORVAX_ERR_BAD_SLOT (-10033) for a slot outside 1..6; KORVAX_ERR_NOT_SUPPORTED on
 *          RQ520/RQ520B firmware before 3.06; or an exchange error. */
KORVAX_API int32_t KORVAX_SetCardSN(uint32_t handle, const char *serial, const char *hwNumber,
                                    uint32_t slot);

/** Hardware versions of the chassis and its cards.
 *  @param handle   chassis handle.
 *  @param versions receives 10-byte text slots, "%x.%x" each: slot 0 the chassis, slot s the card
 *                  in slot s (10 x (slots + 1) bytes hold them all; 220 always suffice).
 *  @param size     bytes available at versions; only slots that fit whole are written.
 *  @return 0; KORVAX_ERR_HANDLE; KORVAX_ERR_NOT_SUPPORTED on RQ520/RQ520B firmware before 3.06;
 *          or an exchange error. */
KORVAX_API int32_t KORVAX_GetHWVersion(uint32_t handle, char *versions, uint64_t size);

/** Firmware versions of the chassis.
 *  @param handle   chassis handle.
 *  @param versions receives 10-byte text slots, "%x.%02x" each: the controller first; on an RQ521
 *                  the communication board second; on other models every version the chassis
 *                  reports (50 bytes hold five).
 *  @param size     bytes available at versions; only slots that fit whole are written.
 *  @return 0, KORVAX_ERR_HANDLE, or an exchange error. */
KORVAX_API int32_t KORVAX_GetSWVersion(uint32_t handle, char *versions, uint64_t size);

/** Card name of a sub-unit, e.g. "Y8342" ("Unknown" for a card type the library does not name).
 *  @param handle  chassis handle.
 *  @param subUnit sub-unit 0..2, identified before with KORVAX_OpenSpecifiedCard().
 *  @param name    buffer of at least 10 bytes; receives the name, NUL-terminated.
 *  @return 0; KORVAX_ERR_HANDLE; KORVAX_ERR_PARAMETER for a null name or a sub-unit outside 0..2;
 *          or a no-card code. */
KORVAX_API int32_t KORVAX_GetCardType(uint32_t handle, int64_t subUnit, char *name);

/** Size of a card model as "rows*columns", e.g. "10*12" for "Y8342"; "Unknown" for another name.
 *  @param name card name as KORVAX_GetCardType() gives it.
 *  @param size buffer of at least 10 bytes; receives the text, NUL-terminated.
 *  @return 0 (KORVAX_ERR_PARAMETER for a null pointer). */
KORVAX_API int32_t KORVAX_GetCardSize(const char *name, char *size);

/* ---- communication and control settings --------------------------------- */

/** Sets the instrument's IP address. On models other than the RQ521 the chassis is reset after.
 *  Null pointers given to this or any setting query give KORVAX_ERR_PARAMETER (-10038).
 *  @param handle  chassis handle.
 *  @param address "192.168.1.x", x from 1 to 254 but not 200, without leading zeros.
 *  @return 0; KORVAX_ERR_BAD_IP (-10031) for a refused address (checked before the handle);
 *          KORVAX_ERR_HANDLE; or an exchange error. */
KORVAX_API int32_t KORVAX_SetIPAddress(uint32_t handle, const char *address);
/** Reads the IP address. RQ521 only.
 *  @param handle  chassis handle.
 *  @param address buffer of at least 16 bytes; receives "a.b.c.d", NUL-terminated.
 *  @return 0, KORVAX_ERR_HANDLE, KORVAX_ERR_NOT_SUPPORTED (-10020) on other models, or an exchange
 *          error. */
KORVAX_API int32_t KORVAX_GetCOMMIPAddr(uint32_t handle, char *address);
/** Sets the LAN mode (waits 6 s for the instrument). RQ521 only.
 *  @param handle chassis handle.
 *  @param mode   0 manual IP, 1 automatic IP.
 *  @return 0, KORVAX_ERR_IP_MODE (-10052) for another mode, KORVAX_ERR_HANDLE,
 *          KORVAX_ERR_NOT_SUPPORTED, or an exchange error. */
KORVAX_API int32_t KORVAX_SetLANMode(uint32_t handle, uint32_t mode);
/** Reads the LAN mode. RQ521 only.
 *  @param handle chassis handle.
 *  @param mode   receives 0 (manual IP) or 1 (automatic IP).
 *  @return 0, KORVAX_ERR_HANDLE, KORVAX_ERR_NOT_SUPPORTED, or an exchange error. */
KORVAX_API int32_t KORVAX_GetLANMode(uint32_t handle, uint32_t *mode);
/** Sets the GPIB address. RQ521 only.
 *  @param handle  chassis handle.
 *  @param address 1..30.
 *  @return 0, KORVAX_ERR_GPIB_ADDRESS (-10050) outside 1..30, KORVAX_ERR_HANDLE,
 *          KORVAX_ERR_NOT_SUPPORTED, or an exchange error. */
KORVAX_API int32_t KORVAX_SetGPIBAddress(uint32_t handle, uint32_t address);
/** Reads the GPIB address. RQ521 only.
 *  @param handle  chassis handle.
 *  @param address receives the address.
 *  @return 0, KORVAX_ERR_HANDLE, KORVAX_ERR_NOT_SUPPORTED, or an exchange error. */
KORVAX_API int32_t KORVAX_GetGPIBAddress(uint32_t handle, uint32_t *address);
/** Sets the RS-232 baud rate of the instrument and then of the VISA session. RQ521 only.
 *  @param handle chassis handle.
 *  @param rate   9600, 19200, 38400, 57600 or 115200.
 *  @return 0, KORVAX_ERR_BAUDRATE (-10051) for another rate, KORVAX_ERR_HANDLE,
 *          KORVAX_ERR_NOT_SUPPORTED, or an exchange error. */
KORVAX_API int32_t KORVAX_SetBaudRate(uint32_t handle, uint32_t rate);
/** Reads the RS-232 baud rate. RQ521 only.
 *  @param handle chassis handle.
 *  @param rate   receives the rate.
 *  @return 0, KORVAX_ERR_HANDLE, KORVAX_ERR_NOT_SUPPORTED, or an exchange error. */
KORVAX_API int32_t KORVAX_GetBaudRate(uint32_t handle, uint32_t *rate);
/** Reads the control mode. RQ521 only.
 *  @param handle chassis handle.
 *  @param mode   receives 0 (local: the front panel has control) or 1 (remote).
 *  @return 0, KORVAX_ERR_HANDLE, KORVAX_ERR_NOT_SUPPORTED, or an exchange error. */
KORVAX_API int32_t KORVAX_GetControlMode(uint32_t handle, uint32_t *mode);
/** Switches the control mode. RQ521 only; switching needs remote control.
 *  @param handle chassis handle.
 *  @param mode   0 local, 1 remote.
 *  @return 0, KORVAX_ERR_SAME_MODE (-10041) when already in that mode, KORVAX_ERR_HANDLE,
 *          KORVAX_ERR_NOT_SUPPORTED, or an exchange error. */
KORVAX_API int32_t KORVAX_SetControlMode(uint32_t handle, uint32_t mode);

/* ---- board presence, self test, firmware update ------------------------- */

/** Declares which sub-unit 0 boards are fitted and checks them by loop-back.
 *  @param handle chassis handle.
 *  @param mask   1..31, bit j set: board j is fitted.
 *  @return 0; KORVAX_ERR_HANDLE; KORVAX_ERR_CARD_IN_PLACE_SET (-10014) for a mask outside 1..31
 *          or a declared board that does not answer; KORVAX_ERR_NO_TYPE0_CARD; or an exchange
 *          error. */
KORVAX_API int32_t KORVAX_BoardInPlace(uint32_t handle, int32_t mask);
/** Presence of every slot of the chassis.
 *  @param handle chassis handle.
 *  @param states receives states[j] = 1 when slot j + 1 holds a board, else 0; must hold the
 *                chassis's slot total (21 always suffice).
 *  @param count  receives the slot total (4 RQ521, 6 RQ520/RQ520B, 21 RQ522, 1 RQ523/RQ523B).
 *  @return the reply's byte count (>= 0), KORVAX_ERR_PARAMETER (-10038) for a null pointer,
 *          KORVAX_ERR_HANDLE, or an exchange error (the states are then meaningless). */
KORVAX_API int32_t KORVAX_BoardInPlaceInfo(uint32_t handle, uint32_t *states, uint32_t *count);
/** Rescans the boards of a sub-unit from the hardware.
 *  @param handle  chassis handle.
 *  @param subUnit 0..2 (1 and 2 on RQ520/RQ520B only).
 *  @return 0, KORVAX_ERR_PARAMETER for a sub-unit above 2, KORVAX_ERR_UNKNOWN_CARD_TYPE for
 *          sub-units 1 and 2 of other models, KORVAX_ERR_HANDLE, or an exchange error. */
KORVAX_API int32_t KORVAXBoardInPlaceHDW(uint32_t handle, uint32_t subUnit);
/** Opens a sub-unit afresh and runs its loop-back test.
 *  @param handle  chassis handle.
 *  @param subUnit sub-unit number.
 *  @param text    receives one line of text, e.g. "SelfTest:SelfTest Success!\n", cut to fit,
 *                 NUL-terminated, the rest of the usable area (at most 512 bytes) zero-filled.
 *  @param size    bytes available at text, at least 1.
 *  @return 0 when the test passed; KORVAX_ERR_PARAMETER for a null text or a size of 0 (nothing
 *          written); KORVAX_ERR_HANDLE (nothing written); otherwise the failure's code, with its
 *          line in text. */
KORVAX_API int32_t KORVAX_SelfTest(uint32_t handle, int64_t subUnit, char *text, uint64_t size);
/** Per-board SPI loop-back results of a sub-unit.
 *  @param handle  chassis handle.
 *  @param subUnit 0..2.
 *  @param results receives results[j] = 1 when board j passed, else 0 (21 entries always suffice).
 *  @param count   receives the sub-unit's slot count.
 *  @return 0; KORVAX_ERR_HANDLE; KORVAX_ERR_BAD_SLOT (-10033) for a sub-unit above 2;
 *          KORVAX_ERR_PARAMETER for a null pointer; KORVAX_ERR_NOT_SUPPORTED;
 *          KORVAX_ERR_DEVICE_TYPE for an unknown RF card; or an exchange error. */
KORVAX_API int32_t KORVAX_SPILoopTestInfo(uint32_t handle, uint32_t subUnit, uint32_t *results,
                                          uint32_t *count);
/** Streams a firmware file to the instrument in 128-byte blocks, the last one flagged.
 *  @param handle chassis handle.
 *  @param path   file name of the firmware image.
 *  @return 0 when the whole file was sent; KORVAX_ERR_HANDLE (the file is not opened);
 *          KORVAX_ERR_UPDATE_FILE_OPEN (-10015) when the file cannot be opened or a read fails
 *          (nothing more is sent); or the exchange error of the block that failed. */
KORVAX_API int32_t KORVAX_OnlineUpdate(uint32_t handle, const char *path);

/* ---- published size constants ------------------------------------------- */

KORVAX_API extern int32_t MATRIXARRAYSIZE;         /**< 32 state words of a base-family sub-unit */
KORVAX_API extern int32_t MATRIX8340SPICOUNT;      /**< 12 driver words of a base-family card */
KORVAX_API extern int32_t MATRIXPOINTCOUNT;        /**< 600 crosspoints of a base-family sub-unit */
KORVAX_API extern int32_t QD2_SUBMATRIXCOL;        /**< 7: first column of the second row-isolation relay */
KORVAX_API extern int32_t QD3_SUBMATRIXCOL;        /**< 7 */
KORVAX_API extern int32_t QD3_MATRIXPOINTCOUNT;    /**< 800 */
KORVAX_API extern int32_t QD3C_SUBMATRIXCOL;       /**< 7 */
KORVAX_API extern int32_t QD3C_MATRIXPOINTCOUNT;   /**< 800 */
KORVAX_API extern int32_t QD3Mix_SUBMATRIXCOL;     /**< 7 */
KORVAX_API extern int32_t QD3Mix_MATRIXPOINTCOUNT; /**< 800 */

#ifdef __cplusplus
}
#endif

#endif /* KORVAX_H */

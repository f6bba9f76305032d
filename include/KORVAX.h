/*
 * KORVAX — control library for relay switch-matrix chassis.
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
 * Threads: calls on one handle must be serialised by the caller; discovery
 * must not overlap any other call. Relay-state frames of different threads
 * never interleave on the wire.
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

/** Version text written by KORVAX_GetLibVersion (7 bytes with its NUL).
 *  KORVAX.dll writes "1.0.1378" (9 bytes) instead. */
#define KORVAX_LIB_VERSION "1.1.77"

/** Most chassis one discovery hands out: only records 0..4 get a handle. */
#define KORVAX_MAX_CHASSIS 5

/** Length of the resource-name field of a discovery entry (NUL included). */
#define KORVAX_RSRC_NAME_SIZE 64

/** Chassis model codes (RsrcEntry.typeCode). */
#define KORVAX_MODEL_RQ520  0x041A
#define KORVAX_MODEL_RQ520B 0x041B
#define KORVAX_MODEL_RQ521  0x042A
#define KORVAX_MODEL_RQ522  0x043A
#define KORVAX_MODEL_RQ523  0x044A
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
    KORVAX_OK = 0,
    KORVAX_ERR_LOAD_WINSOCK = -10000,       /**< "VISA_IO:Load winsock error" */
    KORVAX_ERR_INVALID_IO = -10001,         /**< "VISA_IO:Invalid VISA_IO" */
    KORVAX_ERR_BIND_PORT = -10002,          /**< port already in use */
    KORVAX_ERR_SET_TIMEOUT = -10003,        /**< timeout could not be set */
    KORVAX_ERR_SEND = -10004,               /**< request could not be written */
    KORVAX_ERR_RECEIVE = -10005,            /**< reply could not be read */
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

/** Writes "1.1.77" and its NUL (7 bytes) into version ("1.0.1378", 9 bytes, from
 *  KORVAX.dll: provide at least 9); a null pointer is ignored. */
KORVAX_API void KORVAX_GetLibVersion(char *version);

/** Message of a status code into message (at most size bytes, NUL-terminated; cut when short).
 *  Codes below -10053 (VISA statuses) give "Error caused by VISA API".
 *  Returns 0, or -10012 for a code of -9999 or above or a null message (nothing written). */
KORVAX_API int32_t KORVAX_ErrorCodeToMessage(int64_t code, char *message, uint64_t size);

/* ---- discovery and connection ------------------------------------------- */

/** Finds every chassis that answers "*IDN?" with the maker's name (closes all earlier sessions).
 *  entries must hold KORVAX_MAX_CHASSIS entries; *count receives how many were filled.
 *  Returns 0, a negative VISA status, or -10020 for a chassis of an unknown model. */
KORVAX_API int32_t KORVAX_FindRsrc(RsrcEntry *entries, uint32_t *count);

/** Handle of the chassis with exactly this resource string (runs discovery on first use).
 *  Returns 0, -10048 when no discovered chassis has that name, or discovery's status. */
KORVAX_API int32_t KORVAX_Connect(const char *rsrcName, uint32_t *handle);

/* ---- card identification, initialisation, clearing ---------------------- */

/** Identifies the cards of a sub-unit (0 matrix, 1 RF card, 2 adapter plate) and sets its geometry.
 *  *openedSubUnit receives the sub-unit actually opened. Returns 0 or an error. */
KORVAX_API int32_t KORVAX_OpenSpecifiedCard(uint32_t handle, int64_t subUnit, int64_t *openedSubUnit);

/** Builds the relay maps, refreshes the firmware version, takes an RQ521 into remote control
 *  and opens every relay of the sub-unit. Returns 0 or an error. */
KORVAX_API int32_t KORVAX_Init(uint32_t handle, int64_t subUnit);

/** Opens every relay of a sub-unit. Returns the reply's byte count (>= 0) or an error;
 *  -10026 for sub-units 1 and 2 (their stored state is cleared, nothing is sent); -10038 when
 *  the cards were never identified (KORVAX_OpenSpecifiedCard). */
KORVAX_API int32_t KORVAX_Clear(uint32_t handle, int64_t subUnit);

/* ---- switching ---------------------------------------------------------- */

/** Applies the complete wanted state of a sub-unit: bit p of the words closes crosspoint p
 *  (p = row * slots * columns + card * columns + column). Returns 0, -10030 when the closure
 *  limit would be passed (nothing sent), -10040 on an RQ521 in local control, -10038 when the
 *  sub-unit's cards were never identified (KORVAX_OpenSpecifiedCard), or another error. */
KORVAX_API int32_t KORVAX_OpMatrix(uint32_t handle, long subUnit, const uint32_t *state, int32_t count);

/* ---- SCPI text interface ------------------------------------------------ */

/** Executes one SCPI command and keeps the reply text for KORVAX_SCPIRead. Returns 0 or -10023. */
KORVAX_API int32_t KORVAX_SCPIWrite(uint32_t handle, const char *command);

/** Copies the pending reply text (buffer of at least 256 bytes) and clears it. Returns 0 or -10023. */
KORVAX_API int32_t KORVAX_SCPIRead(uint32_t handle, char *reply);

/** Executes one SCPI command and writes the reply text into reply (at least 400 bytes). */
KORVAX_API void KORVAX_SCPIQuery(uint32_t handle, const char *command, char *reply);

/* ---- identity, versions, card info --------------------------------------- */

/** Model code ("%04X"), maker code, chassis serial ("%8u") and firmware ("%x.%02x") as texts;
 *  each cut to maxLen characters (buffers of maxLen + 1 bytes). Returns 0 or an error. */
KORVAX_API int32_t KORVAX_GetDeviceInfo(uint32_t handle, char *model, char *manufacturer,
                                        char *serial, char *firmware, uint64_t maxLen);

/** Entry 0 the chassis serial number, entry s that of the card in slot s (0 = none);
 *  at most 30 entries are copied. Returns 0 or an error (-10029 when a serial is unset). */
KORVAX_API int32_t KORVAX_GetSN(uint32_t handle, uint32_t *serials, uint32_t count);

/** Stores the chassis serial number (8 digits) and hardware number. Returns 0 or an error. */
KORVAX_API int32_t KORVAX_SetSN(uint32_t handle, const char *serial, const char *hwNumber);

/** Stores the serial number (8 digits) and hardware number of the card in slot 1..6. */
KORVAX_API int32_t KORVAX_SetCardSN(uint32_t handle, const char *serial, const char *hwNumber,
                                    uint32_t slot);

/** Hardware versions ("%x.%x") in 10-byte slots: slot 0 chassis, slot s card s.
 *  Only slots that fit whole in size bytes are written. Returns 0 or an error. */
KORVAX_API int32_t KORVAX_GetHWVersion(uint32_t handle, char *versions, uint64_t size);

/** Firmware versions ("%x.%02x") in 10-byte slots; only slots that fit whole in size bytes
 *  are written. Returns 0 or an error. */
KORVAX_API int32_t KORVAX_GetSWVersion(uint32_t handle, char *versions, uint64_t size);

/** Card name of a sub-unit (buffer of at least 10 bytes). Returns 0 or an error. */
KORVAX_API int32_t KORVAX_GetCardType(uint32_t handle, int64_t subUnit, char *name);

/** Size text ("rows*columns") of a card name (buffer of at least 10 bytes); always 0. */
KORVAX_API int32_t KORVAX_GetCardSize(const char *name, char *size);

/* ---- communication and control settings --------------------------------- */

/** Sets the instrument's IP address (192.168.1.x, x not 200 or 255). Returns 0, -10031 for a refused
 *  address, or an error. Null pointers given to any setting or query give -10038. */
KORVAX_API int32_t KORVAX_SetIPAddress(uint32_t handle, const char *address);
/** Reads the IP address as "a.b.c.d" (buffer of at least 16 bytes). RQ521 only. */
KORVAX_API int32_t KORVAX_GetCOMMIPAddr(uint32_t handle, char *address);
/** Sets the LAN mode: 0 manual IP, 1 automatic IP (waits 6 s for the instrument). RQ521 only. */
KORVAX_API int32_t KORVAX_SetLANMode(uint32_t handle, uint32_t mode);
/** Reads the LAN mode (0 manual, 1 automatic). RQ521 only. */
KORVAX_API int32_t KORVAX_GetLANMode(uint32_t handle, uint32_t *mode);
/** Sets the GPIB address (1..30). RQ521 only. */
KORVAX_API int32_t KORVAX_SetGPIBAddress(uint32_t handle, uint32_t address);
/** Reads the GPIB address. RQ521 only. */
KORVAX_API int32_t KORVAX_GetGPIBAddress(uint32_t handle, uint32_t *address);
/** Sets the RS-232 baud rate (9600/19200/38400/57600/115200) of instrument and session. RQ521 only. */
KORVAX_API int32_t KORVAX_SetBaudRate(uint32_t handle, uint32_t rate);
/** Reads the RS-232 baud rate. RQ521 only. */
KORVAX_API int32_t KORVAX_GetBaudRate(uint32_t handle, uint32_t *rate);
/** Reads the control mode (0 local, 1 remote). RQ521 only. */
KORVAX_API int32_t KORVAX_GetControlMode(uint32_t handle, uint32_t *mode);
/** Switches the control mode; -10041 when already in that mode. RQ521 only. */
KORVAX_API int32_t KORVAX_SetControlMode(uint32_t handle, uint32_t mode);

/* ---- board presence, self test, firmware update ------------------------- */

/** Declares the fitted sub-unit 0 boards (mask 1..31) and checks them by loop-back. */
KORVAX_API int32_t KORVAX_BoardInPlace(uint32_t handle, int32_t mask);
/** Presence of every slot: states[j] = 1 when slot j holds a board; *count = the chassis's slot total
 *  (4 RQ521, 6 RQ520/RQ520B, 21 RQ522, 1 RQ523/RQ523B); states must hold that many (21 always suffice).
 *  Returns the reply's byte count, -10038 for a null pointer, or an error (the states are then meaningless). */
KORVAX_API int32_t KORVAX_BoardInPlaceInfo(uint32_t handle, uint32_t *states, uint32_t *count);
/** Rescans the boards of a sub-unit from the hardware. Returns 0 or an error. */
KORVAX_API int32_t KORVAXBoardInPlaceHDW(uint32_t handle, uint32_t subUnit);
/** Opens a sub-unit afresh and runs its loop-back test; one line of text into text (size >= 1). */
KORVAX_API int32_t KORVAX_SelfTest(uint32_t handle, int64_t subUnit, char *text, uint64_t size);
/** Per-board SPI loop-back results of a sub-unit (*count = its slot count). Returns 0 or an error. */
KORVAX_API int32_t KORVAX_SPILoopTestInfo(uint32_t handle, uint32_t subUnit, uint32_t *results,
                                          uint32_t *count);
/** Streams a firmware file to the instrument in 128-byte blocks. Returns 0 or an error. */
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

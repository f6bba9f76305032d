// The binary request/reply exchange with a chassis.
//
// Every operation writes one request frame with a single viWrite and reads
// one reply of at most 400 bytes with a single viRead. Frame: byte 0 the
// command, byte 1 the argument, bytes 2-3 a little-endian word (payload
// length of relay-state frames, else 0), then little-endian 16-bit payload
// words. A reply whose first four bytes are all 0xFF is the instrument's
// error report.
#pragma once

#include <stddef.h>
#include <stdint.h>

#include "base/export.h"
#include "base/records.h"

// Writes length bytes of request to the session and reads the reply into
// reply (400 bytes). Returns the reply's byte count, or -10004 (bad argument
// or write failure), -10005 (read failure), -10049 (error report).
KORVAX_INTERNAL int32_t SendRecvMsg(uint32_t handle, const uint8_t *request, int32_t length,
                                    uint8_t *reply);
// As SendRecvMsg, with write and read under the lock of the handle's chassis
// (connection/chassis_lock.h), so that exchanges of different threads with
// one chassis never interleave; -10035 when that lock cannot be created. A
// session that is no chassis handle is exchanged without a lock.
KORVAX_INTERNAL int32_t SendRecvMsgLock(uint32_t handle, const uint8_t *request, int32_t length,
                                        uint8_t *reply);
// Sum of the bytes modulo 2^32; 0 for a null pointer.
KORVAX_INTERNAL uint32_t checkSum(const uint8_t *data, uint64_t length);

#ifdef __cplusplus
#include "base/command_numbers.h"

namespace korvax {

// Little-endian payload word k of a frame (bytes 2k, 2k+1).
inline void setWord(uint8_t *frame, int k, uint16_t value) {
    frame[2 * k] = static_cast<uint8_t>(value & 0xFF);
    frame[2 * k + 1] = static_cast<uint8_t>(value >> 8);
}

// Clears txBuf (and rxBuf when asked) and writes the command and argument
// bytes; the caller adds payload words with setWord(c.txBuf, ...).
void beginRequest(ChassisInfo &c, uint8_t command, uint8_t argument = 0, bool clearReply = false);
// Exchanges the first length bytes of txBuf without the lock.
int32_t exchange(ChassisInfo &c, int32_t length);
// A 4-byte request without payload: begin + exchange.
int32_t query(ChassisInfo &c, uint8_t command, uint8_t argument = 0, bool clearReply = false);

// The status of an exchange whose reply the caller decodes up to, not
// including, byte `fields`. Failures pass through; a reply that ended before
// the last byte the caller reads is a failed receive, so nothing is decoded
// from the zeros or the older reply still standing in rxBuf.
constexpr int32_t replyHolding(int32_t status, size_t fields) {
    if (status < 0) return status;
    return static_cast<size_t>(status) < fields ? KORVAX_ERR_RECEIVE : status;
}

// Which step of a round trip that is not a binary exchange failed.
enum class WireStep { None, Write, Read };

// The "*IDN?" round trip on a session: the question as text, the answer read
// into reply (at most room bytes, not terminated). count is the bytes read.
struct IdentityReply {
    WireStep failed;
    uint32_t count;
    int32_t status = 0;  // VISA's status of the step that failed
};
IdentityReply askIdentity(uint32_t session, char *reply, uint32_t room);

// Restarts the controller (command 14, two bytes). The controller may go
// down before it answers, so a reply, even an error report, says nothing;
// only a write or read that failed is reported.
WireStep restartController(ChassisInfo &c);

// Moves the session to a new serial rate, after the instrument moved. A
// session that cannot follow shows up as a failure of the next exchange.
void retuneBaudRate(const ChassisInfo &c, uint32_t rate);

}  // namespace korvax
#endif

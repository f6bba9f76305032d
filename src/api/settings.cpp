// Communication and control settings of a chassis: IP address, LAN
// addressing mode, GPIB address, RS-232 baud rate and local/remote control.
//
// Only the RQ521 controller serves these requests (apart from the IP
// address, which every LAN-capable controller takes). The library keeps none
// of the settings: every query asks the instrument. Arguments are checked
// before the handle is looked up, so a bad value is reported even for a
// handle that is no longer valid; out arguments are written only on success.
#include <cstdio>

#include "KORVAX.h"
#include "api/operations.h"
#include "base/chassis_model.h"
#include "base/qmbase.h"
#include "connection/VISAconnection.h"
#include "connection/chassis_lock.h"

namespace {

using korvax::beginRequest;
using korvax::exchange;
using korvax::query;

// The handle's record, locked, and the model rule shared by every setting
// except the IP address.
int32_t rq521Of(const korvax::ChassisGuard &c) {
    if (!c) return c.status();
    if (!korvax::modelOf(*c).servesSettings) return KORVAX_ERR_NOT_SUPPORTED;
    return 0;
}

// A 4-byte query of an RQ521 whose answer ends before byte `fields`; on
// success the record's rxBuf carries the answer.
int32_t rq521Query(const korvax::ChassisGuard &c, uint8_t command, size_t fields) {
    if (const int32_t st = rq521Of(c); st < 0) return st;
    const int32_t st = korvax::replyHolding(query(*c, command), fields);
    return st < 0 ? st : 0;
}

// Reply bytes the setting queries read: byte 2; the octets in bytes 2, 4, 6
// and 8; the rate in bytes 2 to 5.
constexpr size_t kByteAnswer = 3, kAddressAnswer = 9, kRateAnswer = 6;

// A query whose answer is the single byte 2 of the reply.
int32_t queryByte(uint32_t handle, uint8_t command, uint32_t *out) {
    const korvax::ChassisGuard c(handle);
    if (const int32_t st = rq521Query(c, command, kByteAnswer); st < 0) return st;
    *out = c->rxBuf[2];
    return 0;
}

// A 6-byte setting request carrying one 16-bit value in word 2.
int32_t sendWordSetting(ChassisInfo &c, uint8_t command, uint32_t value) {
    beginRequest(c, command);
    korvax::setWord(c.txBuf, 2, static_cast<uint16_t>(value & 0xFFFF));
    const int32_t st = exchange(c, 6);
    return st < 0 ? st : 0;
}

int32_t setWordSetting(uint32_t handle, uint8_t command, uint32_t value) {
    const korvax::ChassisGuard c(handle);
    if (const int32_t st = rq521Of(c); st < 0) return st;
    return sendWordSetting(*c, command, value);
}

constexpr bool isSupportedBaud(uint32_t rate) {
    constexpr uint32_t kRates[] = {9600, 19200, 38400, 57600, 115200};
    for (uint32_t r : kRates)
        if (r == rate) return true;
    return false;
}

}  // namespace

extern "C" KORVAX_API int32_t KORVAX_SetIPAddress(uint32_t handle, const char *address) {
    if (address == nullptr) return KORVAX_ERR_PARAMETER;
    if (!validIPAddress(address)) return KORVAX_ERR_BAD_IP;
    const korvax::ChassisGuard c(handle);
    if (!c) return c.status();

    const auto ip = static_cast<uint32_t>(toInt(address));
    const uint16_t a = (ip >> 24) & 0xFF, b = (ip >> 16) & 0xFF, cc = (ip >> 8) & 0xFF,
                   d = ip & 0xFF;
    beginRequest(*c, korvax::kCmdSetIP);
    // The address is followed by host 1 of the same /24 network, in the
    // field where the controller expects its second address.
    const uint16_t words[] = {a, b, cc, d, a, b, cc, 1};
    for (int k = 0; k < 8; ++k) korvax::setWord(c->txBuf, 2 + k, words[k]);
    if (const int32_t st = exchange(*c, 20); st < 0) return st;

    // The RQ521 applies the address by itself; the other controllers take it
    // on their next restart. The restart drops the link, so whatever the
    // reset request gets back says nothing about the new address.
    if (!korvax::modelOf(*c).appliesIpAtOnce) korvax::restartController(*c);
    return 0;
}

extern "C" KORVAX_API int32_t KORVAX_GetCOMMIPAddr(uint32_t handle, char *address) {
    if (address == nullptr) return KORVAX_ERR_PARAMETER;
    const korvax::ChassisGuard c(handle);
    if (const int32_t st = rq521Query(c, korvax::kCmdGetIP, kAddressAnswer); st < 0) return st;
    // The octets sit in the low bytes of four reply words.
    std::snprintf(address, 16, "%d.%d.%d.%d", c->rxBuf[2], c->rxBuf[4], c->rxBuf[6],
                  c->rxBuf[8]);
    return 0;
}

extern "C" KORVAX_API int32_t KORVAX_SetLANMode(uint32_t handle, uint32_t mode) {
    if (mode > 1) return KORVAX_ERR_IP_MODE;
    const korvax::ChassisGuard c(handle);
    if (const int32_t st = rq521Of(c); st < 0) return st;
    if (const int32_t st = sendWordSetting(*c, korvax::kCmdSetLANMode, mode); st < 0) return st;
    // The controller restarts its network interface (and with automatic IP
    // asks for a lease); it answers nothing until that is done.
    SLEEP(6000);
    return 0;
}

extern "C" KORVAX_API int32_t KORVAX_GetLANMode(uint32_t handle, uint32_t *mode) {
    if (mode == nullptr) return KORVAX_ERR_PARAMETER;
    return queryByte(handle, korvax::kCmdGetLANMode, mode);
}

extern "C" KORVAX_API int32_t KORVAX_SetGPIBAddress(uint32_t handle, uint32_t address) {
    // 0 is the controller-in-charge's address on the bus; 31 is reserved.
    if (address == 0 || address > 30) return KORVAX_ERR_GPIB_ADDRESS;
    return setWordSetting(handle, korvax::kCmdSetGPIB, address);
}

extern "C" KORVAX_API int32_t KORVAX_GetGPIBAddress(uint32_t handle, uint32_t *address) {
    if (address == nullptr) return KORVAX_ERR_PARAMETER;
    return queryByte(handle, korvax::kCmdGetGPIB, address);
}

extern "C" KORVAX_API int32_t KORVAX_SetBaudRate(uint32_t handle, uint32_t rate) {
    // The instrument and the session must change rate together: no other
    // caller may slip a request in between, or it would go out at a rate the
    // instrument no longer listens to.
    korvax::platform::LockGuard guard(korvax::apiMutex());
    if (!guard.owns()) return KORVAX_ERR_MALLOC;
    if (!isSupportedBaud(rate)) return KORVAX_ERR_BAUDRATE;
    const korvax::ChassisGuard c(handle);
    if (const int32_t st = rq521Of(c); st < 0) return st;
    beginRequest(*c, korvax::kCmdSetBaud);
    korvax::setWord(c->txBuf, 2, static_cast<uint16_t>(rate & 0xFFFF));
    korvax::setWord(c->txBuf, 3, static_cast<uint16_t>(rate >> 16));
    if (const int32_t st = exchange(*c, 8); st < 0) return st;
    // The instrument already listens at the new rate.
    korvax::retuneBaudRate(*c, rate);
    return 0;
}

extern "C" KORVAX_API int32_t KORVAX_GetBaudRate(uint32_t handle, uint32_t *rate) {
    if (rate == nullptr) return KORVAX_ERR_PARAMETER;
    const korvax::ChassisGuard c(handle);
    if (const int32_t st = rq521Query(c, korvax::kCmdGetBaud, kRateAnswer); st < 0) return st;
    // Unlike the other 16- and 32-bit reply fields, the rate comes low byte first.
    const uint8_t *r = c->rxBuf;
    *rate = uint32_t{r[2]} | uint32_t{r[3]} << 8 | uint32_t{r[4]} << 16 | uint32_t{r[5]} << 24;
    return 0;
}

int32_t korvax::controlModeOf(ChassisInfo &c, uint32_t &mode) {
    if (!modelOf(c).servesSettings) return KORVAX_ERR_NOT_SUPPORTED;
    const int32_t st = replyHolding(query(c, kCmdGetControlMode), kByteAnswer);
    if (st < 0) return st;
    mode = c.rxBuf[2];
    return 0;
}

int32_t korvax::changeControlMode(ChassisInfo &c, uint32_t mode) {
    // Ask first, so that the caller can tell a real switch from a request
    // that would change nothing.
    uint32_t current = 0;
    if (const int32_t st = controlModeOf(c, current); st < 0) return st;
    if (mode == current) return KORVAX_ERR_SAME_MODE;
    return sendWordSetting(c, kCmdSetControlMode, mode);
}

extern "C" KORVAX_API int32_t KORVAX_GetControlMode(uint32_t handle, uint32_t *mode) {
    if (mode == nullptr) return KORVAX_ERR_PARAMETER;
    const korvax::ChassisGuard c(handle);
    if (!c) return c.status();
    return korvax::controlModeOf(*c, *mode);
}

extern "C" KORVAX_API int32_t KORVAX_SetControlMode(uint32_t handle, uint32_t mode) {
    const korvax::ChassisGuard c(handle);
    if (!c) return c.status();
    return korvax::changeControlMode(*c, mode);
}

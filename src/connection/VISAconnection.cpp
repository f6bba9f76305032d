#include "connection/VISAconnection.h"

#include <cstring>

#include "connection/chassis_lock.h"
#include "connection/visa_loader.h"

namespace {

bool isErrorReport(const uint8_t *reply) {
    return reply[0] == 0xFF && reply[1] == 0xFF && reply[2] == 0xFF && reply[3] == 0xFF;
}

int32_t writeThenRead(uint32_t handle, const uint8_t *request, int32_t length, uint8_t *reply) {
    ViUInt32 count = 0;
    if (korvax::visa::write(handle, request, static_cast<ViUInt32>(length), &count) < 0)
        return KORVAX_ERR_SEND;
    count = 0;
    if (korvax::visa::read(handle, reply, KORVAX_RX_SIZE, &count) < 0) return KORVAX_ERR_RECEIVE;
    // The error report is judged on the first four bytes of the buffer even
    // after a shorter read: that is how the instrument's firmware expects it.
    if (isErrorReport(reply)) return KORVAX_ERR_USB_ADAPTER;
    return static_cast<int32_t>(count);
}

}  // namespace

int32_t SendRecvMsg(uint32_t handle, const uint8_t *request, int32_t length, uint8_t *reply) {
    if (handle == 0 || request == nullptr || reply == nullptr || length <= 0)
        return KORVAX_ERR_SEND;
    return writeThenRead(handle, request, length, reply);
}

int32_t SendRecvMsgLock(uint32_t handle, const uint8_t *request, int32_t length, uint8_t *reply) {
    if (handle == 0 || request == nullptr || reply == nullptr || length <= 0)
        return KORVAX_ERR_SEND;
    // The lock of the handle's chassis (already this thread's inside an
    // operation on it). A session that is no chassis handle has no record
    // whose buffers need it.
    const korvax::ChassisGuard chassis(handle);
    if (chassis.status() == KORVAX_ERR_MALLOC) return KORVAX_ERR_MALLOC;
    return writeThenRead(handle, request, length, reply);
}

uint32_t checkSum(const uint8_t *data, uint64_t length) {
    if (data == nullptr) return 0;
    uint32_t sum = 0;
    for (uint64_t i = 0; i < length; ++i) sum += data[i];
    return sum;
}

namespace korvax {

void beginRequest(ChassisInfo &c, uint8_t command, uint8_t argument, bool clearReply) {
    std::memset(c.txBuf, 0, sizeof c.txBuf);
    if (clearReply) std::memset(c.rxBuf, 0, sizeof c.rxBuf);
    c.txBuf[0] = command;
    c.txBuf[1] = argument;
}

int32_t exchange(ChassisInfo &c, int32_t length) {
    return SendRecvMsg(c.vi, c.txBuf, length, c.rxBuf);
}

int32_t query(ChassisInfo &c, uint8_t command, uint8_t argument, bool clearReply) {
    beginRequest(c, command, argument, clearReply);
    return exchange(c, 4);
}

IdentityReply askIdentity(uint32_t session, char *reply, uint32_t room) {
    static constexpr char kIdn[] = "*IDN?\n";
    ViUInt32 count = 0;
    if (const ViStatus st = visa::write(session, reinterpret_cast<ViConstBuf>(kIdn), sizeof kIdn - 1, &count);
        st < 0)
        return {WireStep::Write, 0, st};
    count = 0;
    if (const ViStatus st = visa::read(session, reinterpret_cast<ViBuf>(reply), room, &count); st < 0)
        return {WireStep::Read, 0, st};
    return {WireStep::None, count};
}

WireStep restartController(ChassisInfo &c) {
    beginRequest(c, kCmdReset);
    const int32_t st = exchange(c, 2);
    if (st == KORVAX_ERR_SEND) return WireStep::Write;
    if (st == KORVAX_ERR_RECEIVE) return WireStep::Read;
    return WireStep::None;
}

void retuneBaudRate(const ChassisInfo &c, uint32_t rate) {
    visa::setAttribute(c.vi, VI_ATTR_ASRL_BAUD, rate);
}

}  // namespace korvax

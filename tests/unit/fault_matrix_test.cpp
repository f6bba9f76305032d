// Every operation that talks to the instrument, with each of its exchanges
// failing in each way an exchange can fail. The cases are generated: a good
// run of the operation lists its exchanges, and each failure is then put on
// one of them. For every case the operation must answer the failure's code,
// leave the record as it was (presence may be marked absent: a failed scan
// does that on purpose), free the chassis lock, close any file it opened,
// and work again once the instrument answers.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <functional>
#include <future>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "KORVAX.h"
#include "support/open_matrix.h"

namespace {

using fakevisa::Bytes;
using fakevisa::Reply;

enum class Fault { Write, Read, Timeout, ErrorReport, Short };

struct FaultKind {
    Fault fault;
    const char *what;
    int32_t code;
};
constexpr FaultKind kFaults[] = {
    {Fault::Write, "write fails", KORVAX_ERR_SEND},
    {Fault::Read, "read fails", KORVAX_ERR_RECEIVE},
    {Fault::Timeout, "read times out", KORVAX_ERR_RECEIVE},
    {Fault::ErrorReport, "FF FF FF FF reply", KORVAX_ERR_USB_ADAPTER},
    {Fault::Short, "reply shorter than its fields", KORVAX_ERR_RECEIVE},
};

// What an exchange's reply means to the operation, by its request.
enum class Role {
    Decoded,       // fields from byte 2 on are read
    Acknowledged,  // byte 0 acknowledges a relay-state frame
    Ignored,       // nothing is read from the reply
    Restart,       // the controller may go down before it answers: no failure counts
};

Role roleOf(const Bytes &request) {
    switch (request[0]) {
    case 14: return Role::Restart;
    case 19:
    case 67: return Role::Acknowledged;
    case 12: return request[1] == 0 ? Role::Ignored : Role::Decoded;  // argument 0: an update block
    case 2: case 6: case 13: case 20: case 21: case 48:
    case 32: case 33: case 34: case 35: case 36: case 37: return Role::Ignored;
    default: return Role::Decoded;
    }
}

constexpr uint32_t kSerial = 12345678;

// The scripted instrument, with a valid chassis serial and a full-size
// slot-information block.
fakevisa::Responder goodInstrument(uint16_t model) {
    testsupport::InstrumentState st;
    st.rq520Layout = model == KORVAX_MODEL_RQ520 || model == KORVAX_MODEL_RQ520B;
    auto base = testsupport::instrument(st);
    return [base](const Bytes &req) {
        Reply r = base(req);
        if (!req.empty() && req[0] == 8) {
            r.bytes.resize(KORVAX_RX_SIZE, 0);
            for (int i = 0; i < 4; ++i) r.bytes[2 * i] = static_cast<uint8_t>(kSerial >> (24 - 8 * i));
        }
        return r;
    };
}

// Exchange `at` (counted from 0) fails as `fault` says.
fakevisa::Responder failing(fakevisa::Responder good, fakevisa::Resource *res, int at, Fault fault) {
    auto seen = std::make_shared<int>(0);
    return [=](const Bytes &req) {
        const int i = (*seen)++;
        Reply r = good(req);
        // The responder answers a write that went through; the next write
        // fails.
        if (fault == Fault::Write && i == at - 1) res->failWrites = 1;
        if (i != at) return r;
        switch (fault) {
        case Fault::Read: return Reply{{}, VI_ERROR_IO};
        case Fault::Timeout: return Reply{{}, VI_ERROR_TMO};
        case Fault::ErrorReport:
            if (r.bytes.size() < 4) r.bytes.resize(4);
            std::fill_n(r.bytes.begin(), 4, 0xFF);
            return r;
        case Fault::Short:
            // Command and argument echoed, no data; an acknowledgement gets
            // nothing at all.
            r.bytes.resize(roleOf(req) == Role::Acknowledged ? 0 : 2);
            return r;
        case Fault::Write: break;
        }
        return r;
    };
}

std::string errorText(int32_t code) {
    std::array<char, 100> text{};
    KORVAX_ErrorCodeToMessage(code, text.data(), text.size());
    return text.data();
}

// The SCPI entry points answer in text: turn the text back into a status.
int32_t scpiStatus(uint32_t handle, const char *command, const char *success) {
    std::array<char, 400> out{};
    KORVAX_SCPIQuery(handle, command, out.data());
    const std::string text = out.data();
    if (text == success) return 0;
    for (int32_t code = -10000; code >= -10053; --code)
        if (text == errorText(code)) return code;
    ADD_FAILURE() << command << " answered " << text;
    return 1;
}

std::string firmwareFile() {
    static const std::string path = [] {
        const std::string p = testing::TempDir() + "fault_matrix_firmware.bin";
        std::FILE *f = std::fopen(p.c_str(), "wb");
        for (int i = 0; i < 300; ++i) std::fputc(i & 0xFF, f);
        std::fclose(f);
        return p;
    }();
    return path;
}

int openDescriptors() {
    int n = 0;
    for ([[maybe_unused]] const auto &e : std::filesystem::directory_iterator("/proc/self/fd")) ++n;
    return n;
}

struct Operation {
    const char *what;
    uint16_t model;
    std::function<int32_t(uint32_t)> call;
    // Every failure of the loop-back is reported as a failed receive.
    bool loopBackAsReceive = false;
    // Its success waits seconds for the instrument: only its failures run.
    int slowExchanges = 0;
};

std::vector<Operation> operations() {
    static uint32_t u32[KORVAX_SLOTS + 8];
    static uint32_t count;
    static char text[4][64];
    static char versions[400];
    static int64_t opened;
    const uint32_t one = 1;
    return {
        {"OpenSpecifiedCard 0", KORVAX_MODEL_RQ521, [](uint32_t h) { return KORVAX_OpenSpecifiedCard(h, 0, &opened); }},
        {"OpenSpecifiedCard 1", KORVAX_MODEL_RQ520, [](uint32_t h) { return KORVAX_OpenSpecifiedCard(h, 1, &opened); }},
        {"OpenSpecifiedCard 2", KORVAX_MODEL_RQ520, [](uint32_t h) { return KORVAX_OpenSpecifiedCard(h, 2, &opened); }},
        {"Init RQ521", KORVAX_MODEL_RQ521, [](uint32_t h) { return KORVAX_Init(h, 0); }},
        {"Init RQ520", KORVAX_MODEL_RQ520, [](uint32_t h) { return KORVAX_Init(h, 0); }},
        {"Clear RQ522", KORVAX_MODEL_RQ522, [](uint32_t h) { return KORVAX_Clear(h, 0); }},
        {"Clear RQ523", KORVAX_MODEL_RQ523, [](uint32_t h) { return KORVAX_Clear(h, 0); }},
        {"OpMatrix RQ521", KORVAX_MODEL_RQ521, [one](uint32_t h) { return KORVAX_OpMatrix(h, 0, &one, 1); }},
        {"OpMatrix RQ520", KORVAX_MODEL_RQ520, [one](uint32_t h) { return KORVAX_OpMatrix(h, 0, &one, 1); }},
        {"SCPI close", KORVAX_MODEL_RQ521, [](uint32_t h) { return scpiStatus(h, ":CLOS (@0(1!2))", "Relays Operate Success"); }},
        {"SCPI control mode", KORVAX_MODEL_RQ521, [](uint32_t h) { return scpiStatus(h, ":SYST:CTRL:SET: LOCAL", "Set Control Mode Success"); }},
        {"GetDeviceInfo", KORVAX_MODEL_RQ521, [](uint32_t h) { return KORVAX_GetDeviceInfo(h, text[0], text[1], text[2], text[3], 9); }},
        {"GetSN", KORVAX_MODEL_RQ523, [](uint32_t h) { return KORVAX_GetSN(h, u32, 8); }},
        {"SetSN", KORVAX_MODEL_RQ521, [](uint32_t h) { return KORVAX_SetSN(h, "12345678", "3"); }},
        {"SetCardSN", KORVAX_MODEL_RQ523, [](uint32_t h) { return KORVAX_SetCardSN(h, "12345678", "3", 1); }},
        {"GetHWVersion", KORVAX_MODEL_RQ522, [](uint32_t h) { return KORVAX_GetHWVersion(h, versions, sizeof versions); }},
        {"GetSWVersion RQ520", KORVAX_MODEL_RQ520, [](uint32_t h) { return KORVAX_GetSWVersion(h, versions, sizeof versions); }},
        {"GetSWVersion RQ521", KORVAX_MODEL_RQ521, [](uint32_t h) { return KORVAX_GetSWVersion(h, versions, sizeof versions); }},
        {"GetSWVersion RQ523", KORVAX_MODEL_RQ523, [](uint32_t h) { return KORVAX_GetSWVersion(h, versions, sizeof versions); }},
        {"SetIPAddress RQ520", KORVAX_MODEL_RQ520, [](uint32_t h) { return KORVAX_SetIPAddress(h, "192.168.1.5"); }},
        {"SetIPAddress RQ521", KORVAX_MODEL_RQ521, [](uint32_t h) { return KORVAX_SetIPAddress(h, "192.168.1.5"); }},
        {"GetCOMMIPAddr", KORVAX_MODEL_RQ521, [](uint32_t h) { return KORVAX_GetCOMMIPAddr(h, text[0]); }},
        {"SetLANMode", KORVAX_MODEL_RQ521, [](uint32_t h) { return KORVAX_SetLANMode(h, 1); }},
        {"GetLANMode", KORVAX_MODEL_RQ521, [](uint32_t h) { return KORVAX_GetLANMode(h, u32); }},
        {"SetGPIBAddress", KORVAX_MODEL_RQ521, [](uint32_t h) { return KORVAX_SetGPIBAddress(h, 5); }},
        {"GetGPIBAddress", KORVAX_MODEL_RQ521, [](uint32_t h) { return KORVAX_GetGPIBAddress(h, u32); }},
        {"SetBaudRate", KORVAX_MODEL_RQ521, [](uint32_t h) { return KORVAX_SetBaudRate(h, 9600); }},
        {"GetBaudRate", KORVAX_MODEL_RQ521, [](uint32_t h) { return KORVAX_GetBaudRate(h, u32); }},
        {"GetControlMode", KORVAX_MODEL_RQ521, [](uint32_t h) { return KORVAX_GetControlMode(h, u32); }},
        {"SetControlMode", KORVAX_MODEL_RQ521, [](uint32_t h) { return KORVAX_SetControlMode(h, 0); }},
        {"BoardInPlace", KORVAX_MODEL_RQ521, [](uint32_t h) { return KORVAX_BoardInPlace(h, 1); }},
        {"BoardInPlaceInfo RQ522", KORVAX_MODEL_RQ522, [](uint32_t h) { return KORVAX_BoardInPlaceInfo(h, u32, &count); }},
        {"BoardInPlaceHDW 0", KORVAX_MODEL_RQ523, [](uint32_t h) { return KORVAXBoardInPlaceHDW(h, 0); }},
        {"BoardInPlaceHDW 2", KORVAX_MODEL_RQ520, [](uint32_t h) { return KORVAXBoardInPlaceHDW(h, 2); }},
        {"SelfTest 0", KORVAX_MODEL_RQ521, [](uint32_t h) { return KORVAX_SelfTest(h, 0, versions, 100); }, true},
        {"SelfTest 1", KORVAX_MODEL_RQ520, [](uint32_t h) { return KORVAX_SelfTest(h, 1, versions, 100); }, true},
        {"SPILoopTestInfo 0", KORVAX_MODEL_RQ522, [](uint32_t h) { return KORVAX_SPILoopTestInfo(h, 0, u32, &count); }},
        {"SPILoopTestInfo 1", KORVAX_MODEL_RQ520, [](uint32_t h) { return KORVAX_SPILoopTestInfo(h, 1, u32, &count); }},
        {"SPILoopTestInfo 2", KORVAX_MODEL_RQ520, [](uint32_t h) { return KORVAX_SPILoopTestInfo(h, 2, u32, &count); }},
        {"OnlineUpdate", KORVAX_MODEL_RQ521, [](uint32_t h) { return KORVAX_OnlineUpdate(h, firmwareFile().c_str()); }},
    };
}

struct Bench {
    testsupport::FakeChassis f;
};

// The chassis under test with every sub-unit it has opened and a relay
// closed.
Bench setUp(uint16_t model) {
    Bench b{testsupport::installChassis(model)};
    b.f.res->responder = goodInstrument(model);
    for (int64_t sub = 0; sub < 3; ++sub) {
        int64_t opened = 0;
        KORVAX_OpenSpecifiedCard(b.f.handle, sub, &opened);
    }
    InitPointInfo();
    b.f.rec->subUnits[0].userState[0] = 1;
    // As the instrument reports it: a version refresh changes nothing.
    b.f.rec->fwMajor = 3;
    b.f.rec->fwMinor = 6;
    fakevisa::clearEvents();
    return b;
}

// The record as far as a failed operation may not change it: the exchange
// buffers, the pending SCPI reply and the presence a failed scan marks
// absent are taken from `after`. Answers the offset of the first changed
// byte, or -1.
// A relay frame the instrument acknowledged before the failure has become
// the remembered state.
long changedAt(ChassisInfo before, const ChassisInfo &after, bool switched) {
    if (switched)
        for (int s = 0; s < 3; ++s)
            std::memcpy(before.subUnits[s].userState, after.subUnits[s].userState,
                        sizeof before.subUnits[s].userState);
    std::memcpy(before.txBuf, after.txBuf, sizeof before.txBuf);
    std::memcpy(before.rxBuf, after.rxBuf, sizeof before.rxBuf);
    std::memcpy(before.scpiReply, after.scpiReply, sizeof before.scpiReply);
    for (int s = 0; s < 3; ++s) {
        std::memcpy(before.subUnits[s].slotPresent, after.subUnits[s].slotPresent, KORVAX_SLOTS);
        std::memcpy(before.subUnits[s].cardSlot, after.subUnits[s].cardSlot, KORVAX_SLOTS);
    }
    const auto *a = reinterpret_cast<const unsigned char *>(&before);
    const auto *b = reinterpret_cast<const unsigned char *>(&after);
    for (size_t i = 0; i < sizeof before; ++i)
        if (a[i] != b[i]) return static_cast<long>(i);
    return -1;
}

// Asks the chassis's card type from another thread: the answer comes only
// once the chassis lock is free. The wait is bounded; a thread stuck on the
// lock is left behind.
bool lockIsFree(uint32_t handle) {
    auto done = std::make_shared<std::promise<int32_t>>();
    std::future<int32_t> result = done->get_future();
    std::thread([done, handle] {
        char name[16];
        done->set_value(KORVAX_GetCardType(handle, 0, name));
    }).detach();
    return result.wait_for(std::chrono::seconds(2)) == std::future_status::ready;
}

TEST(FaultMatrix, EveryExchangeOfEveryOperationFailsCleanly) {
    int cases = 0;
    for (const Operation &op : operations()) {
        std::vector<Bytes> exchanges;
        int32_t good = 0;
        if (op.slowExchanges == 0) {
            Bench b = setUp(op.model);
            good = op.call(b.f.handle);
            ASSERT_GE(good, 0) << op.what << ": the good run";
            exchanges = fakevisa::writes(b.f.rsrc);
        } else {
            exchanges.assign(static_cast<size_t>(op.slowExchanges), Bytes{48});
        }
        ASSERT_FALSE(exchanges.empty()) << op.what;
        for (size_t at = 0; at < exchanges.size(); ++at) {
            const Role role = roleOf(exchanges[at]);
            for (const FaultKind &fk : kFaults) {
                if (fk.fault == Fault::Short && role == Role::Ignored) continue;
                const std::string where = std::string(op.what) + ", exchange " + std::to_string(at) +
                                          " (command " + std::to_string(exchanges[at][0]) + "), " + fk.what;
                Bench b = setUp(op.model);
                const ChassisInfo before = *b.f.rec;
                const int fds = openDescriptors();
                b.f.res->responder = failing(goodInstrument(op.model), b.f.res, static_cast<int>(at), fk.fault);
                if (fk.fault == Fault::Write && at == 0) b.f.res->failWrites = 1;

                int32_t expected = fk.code;
                if (role == Role::Restart) expected = good;
                else if (op.loopBackAsReceive && exchanges[at][0] == 12) expected = KORVAX_ERR_RECEIVE;
                EXPECT_EQ(op.call(b.f.handle), expected) << where;
                bool switched = false;
                for (size_t k = 0; k < at; ++k) switched |= roleOf(exchanges[k]) == Role::Acknowledged;
                EXPECT_EQ(changedAt(before, *b.f.rec, switched), -1) << where << ": the record changed at this offset";
                EXPECT_EQ(openDescriptors(), fds) << where << ": a descriptor stayed open";
                EXPECT_TRUE(lockIsFree(b.f.handle)) << where << ": the chassis lock is held";

                b.f.res->failWrites = 0;
                b.f.res->responder = goodInstrument(op.model);
                if (op.slowExchanges == 0) {
                    EXPECT_EQ(op.call(b.f.handle), good) << where << ": the next good call";
                }
                ++cases;
            }
        }
    }
    EXPECT_GT(cases, 300);
}

// Where each decoder's fields end: a reply of exactly that many bytes is
// enough, one byte less is a failed receive.
TEST(FaultMatrix, RepliesEndingOneByteBeforeTheLastFieldAreRefused) {
    struct Row {
        const char *what;  // the operation of operations() that is run
        uint8_t command;   // whose reply is cut
        size_t fields;
    } rows[] = {
        {"GetSWVersion RQ520", 11, 4},       // the version pair in bytes 2-3
        {"GetControlMode", 5, 3},            // byte 2
        {"GetGPIBAddress", 22, 3},
        {"GetCOMMIPAddr", 24, 9},            // octets in bytes 2, 4, 6, 8
        {"GetBaudRate", 23, 6},              // bytes 2 to 5
        {"OpenSpecifiedCard 1", 17, 3},      // the RF card kind in byte 2
        {"OpenSpecifiedCard 1", 8, 75},      // slot 6 hardware code at byte 74
        {"OpenSpecifiedCard 2", 8, 12},      // adapter code in bytes 10-11
        {"GetDeviceInfo", 8, 15},            // maker code at bytes 12 and 14
        {"GetSN", 8, 23},                    // one card record after 16 bytes
        {"GetHWVersion", 8, 225},            // 21 card records, version in their ninth byte
        {"BoardInPlaceInfo RQ522", 10, 5},   // 24 slot bits in bytes 2-4
        {"BoardInPlaceHDW 0", 10, 5},
        {"BoardInPlaceHDW 2", 12, 3},
        {"SPILoopTestInfo 0", 12, 13},       // four lines per board, 21 boards
        {"OpMatrix RQ520", 19, 1},           // the acknowledgement
    };
    const std::vector<Operation> ops = operations();
    for (const Row &r : rows) {
        const auto op = std::find_if(ops.begin(), ops.end(),
                                     [&](const Operation &o) { return std::string(o.what) == r.what; });
        ASSERT_NE(op, ops.end()) << r.what;
        for (const size_t n : {r.fields, r.fields - 1}) {
            Bench b = setUp(op->model);
            const fakevisa::Responder good = goodInstrument(op->model);
            b.f.res->responder = [good, r, n](const Bytes &req) {
                Reply reply = good(req);
                if (req[0] == r.command) reply.bytes.resize(n);
                return reply;
            };
            const int32_t st = op->call(b.f.handle);
            const std::string where = std::string(r.what) + ", command " + std::to_string(r.command) +
                                      ": " + std::to_string(n) + " bytes";
            if (n == r.fields) {
                EXPECT_GE(st, 0) << where;
            } else {
                EXPECT_EQ(st, KORVAX_ERR_RECEIVE) << where;
            }
        }
    }
}

}  // namespace

// The reply fields of every request, per model and firmware, checked byte
// by byte at the offsets the protocol fixes.
#include <gtest/gtest.h>

#include <functional>
#include <utility>

#include "sim_support.h"

namespace {

using namespace korvax::sim;
using simtest::request;

struct ReplyCase {
    const char *name;
    uint16_t model;
    std::function<void(Config &)> setup;
    Bytes request;
    std::vector<std::pair<std::size_t, uint8_t>> fields;   // offset, value
};

void none(Config &) {}

const std::vector<ReplyCase> &replyCases() {
    static const std::vector<ReplyCase> cases = {
        {"version pairs from byte 2", kRQ522, [](Config &c) { c.firmware = {{1, 2}, {3, 4}}; },
         request(11), {{2, 1}, {3, 2}, {4, 3}, {5, 4}, {6, 0}, {7, 0}}},
        {"slot information, current layout", kRQ521,
         [](Config &c) {
             c.serial = 12345678;   // 0x00BC614E
             c.hwVersion = 21;
             c.makerCode = {'Q', 'M'};
             c.slots[0].serial = 87654321;   // 0x05397FB1
             c.slots[0].hwVersion = 13;
             c.slots[3].hwVersion = 44;
         },
         request(8),
         {{0, 0x00}, {1, 0}, {2, 0xBC}, {3, 0}, {4, 0x61}, {5, 0}, {6, 0x4E}, {8, 21}, {10, 0x04}, {11, 0x2A},
          {12, 'Q'}, {14, 'M'}, {16, 0x05}, {18, 0x39}, {20, 0x7F}, {22, 0xB1}, {24, 13}, {54, 44}}},
        {"slot information, RQ520 firmware 3.05 uses the short layout", kRQ520,
         [](Config &c) {
             c.firmware = {{3, 5}};
             c.serial = 1234567;   // 0x12D687
         },
         request(8), {{0, 0x12}, {2, 0xD6}, {4, 0x87}, {6, 0x04}, {7, 0x1A}, {8, 'Q'}, {10, 'M'}}},
        {"slot information, RQ520B firmware 3.05 default serial has 7 digits", kRQ520B,
         [](Config &c) { c.firmware = {{3, 5}}; },
         request(8), {{0, 0x12}, {2, 0xD6}, {4, 0x87}, {6, 0x04}, {7, 0x1B}}},
        {"slot information, RQ520 controller version is the second pair when set", kRQ520,
         [](Config &c) {
             c.firmware = {{3, 8}, {3, 5}};
             c.serial = 1234567;
         },
         request(8), {{0, 0x12}, {6, 0x04}, {7, 0x1A}}},
        {"slot information, RQ520 firmware 3.06 uses the current layout", kRQ520,
         [](Config &c) { c.firmware = {{3, 5}, {3, 6}}; }, request(8), {{10, 0x04}, {11, 0x1A}}},
        {"slot information, RQ522 firmware 3.05 keeps the current layout", kRQ522,
         [](Config &c) { c.firmware = {{3, 5}}; }, request(8), {{10, 0x04}, {11, 0x3A}}},
        {"slot information, adapter code in the model field", kRQ520B,
         [](Config &c) { c.adapterCode = 0x1234; }, request(8), {{10, 0x12}, {11, 0x34}}},
        {"slot information, RF card hardware code of slot 6", kRQ520,
         [](Config &c) { c.slots[5].hwVersion = 9; }, request(8), {{24 + 10 * 5, 9}}},
        {"slot information, an empty slot reads as zeros", kRQ521,
         [](Config &c) { c.slots[1].fitted = false; }, request(8),
         {{26, 0}, {28, 0}, {30, 0}, {32, 0}, {34, 0}}},
        {"slot information, unset serial is all ones", kRQ523,
         [](Config &c) { c.serial = kSerialUnset; }, request(8),
         {{0, 0xFF}, {1, 0}, {2, 0xFF}, {4, 0xFF}, {6, 0xFF}}},
        {"presence bits over three bytes", kRQ522,
         [](Config &c) {
             for (auto &s : c.slots) s.fitted = false;
             c.slots[0].fitted = c.slots[9].fitted = c.slots[20].fitted = true;
         },
         request(10), {{2, 0x01}, {3, 0x02}, {4, 0x10}}},
        {"presence, RF card is bit 5", kRQ520, [](Config &c) { c.slots[2].fitted = false; },
         request(10), {{2, 0x3B}, {3, 0}}},
        {"loop-back, one bit per matrix board", kRQ520, [](Config &c) { c.slots[1].loopback = 0x7; },
         request(12, 1), {{2, 0x1D}}},
        {"loop-back, an empty slot does not answer", kRQ521, [](Config &c) { c.slots[3].fitted = false; },
         request(12, 1), {{2, 0x07}}},
        {"loop-back, RQ522 four lines per board", kRQ522,
         [](Config &c) {
             c.slots[1].loopback = 0xE;
             c.slots[20].loopback = 0x5;
             c.slots[19].fitted = false;
         },
         request(12, 1), {{2, 0xEF}, {3, 0xFF}, {11, 0x0F}, {12, 0x05}}},
        {"loop-back, RF board line mask", kRQ520, [](Config &c) { c.slots[5].loopback = 0x3; },
         request(12, 2), {{2, 0x03}}},
        {"loop-back, adapter plate answers", kRQ520B, none, request(12, 4), {{2, 1}}},
        {"loop-back, adapter plate missing", kRQ520, [](Config &c) { c.adapterFitted = false; },
         request(12, 4), {{2, 0}}},
        {"loop-back, no adapter plate on an RQ521", kRQ521, none, request(12, 4), {{2, 0}}},
        {"RF card kind", kRQ520, [](Config &c) { c.rfCardKind = 11; }, request(17), {{2, 11}}},
        {"control mode", kRQ521, [](Config &c) { c.controlMode = 1; }, request(5), {{2, 1}}},
        {"GPIB address", kRQ521, [](Config &c) { c.gpibAddress = 17; }, request(22), {{2, 17}}},
        {"baud rate low byte first", kRQ521, [](Config &c) { c.baudRate = 115200; }, request(23),
         {{2, 0x00}, {3, 0xC2}, {4, 0x01}, {5, 0x00}}},
        {"IP address on even bytes", kRQ521, [](Config &c) { c.ip = {192, 168, 1, 77}; }, request(24),
         {{2, 192}, {4, 168}, {6, 1}, {8, 77}}},
        {"LAN mode", kRQ521, [](Config &c) { c.lanMode = 1; }, request(25), {{2, 1}}},
        {"communication board version", kRQ521, [](Config &c) { c.commFirmware = {2, 0x10}; },
         request(49), {{2, 2}, {3, 0x10}}},
    };
    return cases;
}

TEST(ChassisReplies, FieldsSitWhereTheProtocolPutsThem) {
    for (const ReplyCase &c : replyCases()) {
        SCOPED_TRACE(c.name);
        Config config = Config::forModel(c.model);
        c.setup(config);
        Chassis chassis(config);
        const auto reply = chassis.receive(c.request);
        ASSERT_TRUE(reply.has_value());
        ASSERT_EQ(reply->size(), kReplySize);
        EXPECT_FALSE(simtest::isErrorReport(*reply));
        for (const auto &[offset, value] : c.fields)
            EXPECT_EQ((*reply)[offset], value) << "byte " << offset;
    }
}

// Requests the chassis cannot take: the error report, and no state change.
TEST(ChassisReplies, MalformedRequestsGetTheErrorReport) {
    struct Case {
        const char *name;
        uint16_t model;
        Bytes request;
    };
    const Case cases[] = {
        {"unknown command", kRQ521, request(99)},
        {"one byte", kRQ521, {11}},
        {"query with a payload", kRQ521, request(8, 0, {0})},
        {"query with a length word", kRQ521, {11, 0, 2, 0}},
        {"argument on a plain query", kRQ521, request(11, 1)},
        {"loop-back of no sub-unit", kRQ520, request(12, 3)},
        {"reset with a length word", kRQ521, request(14)},
        {"RQ521-only query on an RQ522", kRQ522, request(5)},
        {"RF card kind on an RQ521", kRQ521, request(17)},
        {"wide relay frame on an RQ521", kRQ521, simtest::relayFrame(geometry(Config::forModel(kRQ521)), {}, 67)},
        {"GPIB address 31", kRQ521, request(20, 0, {31})},
        {"GPIB address 0", kRQ521, request(20, 0, {0})},
        {"baud rate 4800", kRQ521, request(21, 0, {4800, 0})},
        {"LAN mode 2", kRQ521, request(48, 0, {2})},
        {"control mode 2", kRQ521, request(6, 0, {2})},
        {"card serial of slot 5 on a four-slot chassis", kRQ521, request(36, 0, {1, 2, 3, 4, 5, 0, 0, 0})},
        {"text other than the identity query", kRQ521, simtest::text("*RST\n")},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        Chassis chassis(Config::forModel(c.model));
        const Config before = chassis.config();
        const auto reply = chassis.receive(c.request);
        ASSERT_TRUE(reply.has_value());
        EXPECT_TRUE(simtest::isErrorReport(*reply));
        EXPECT_EQ(chassis.counters().errorReplies, 1u);
        const Config after = chassis.config();
        EXPECT_EQ(after.gpibAddress, before.gpibAddress);
        EXPECT_EQ(after.baudRate, before.baudRate);
        EXPECT_EQ(after.lanMode, before.lanMode);
        EXPECT_EQ(after.controlMode, before.controlMode);
    }
}

TEST(ChassisReplies, IdentityNamesMakerModelSerialAndControllerVersion) {
    struct Case {
        const char *name;
        uint16_t model;
        std::function<void(Config &)> setup;
        const char *idn;
    };
    const Case cases[] = {
        {"defaults", kRQ521, [](Config &c) { c.serial = 12345678; c.firmware = {{3, 6}}; },
         "QM,RQ521,12345678,3.06\n"},
        {"long maker name and numeric model", kRQ520,
         [](Config &c) {
             c.idnMaker = "Quillmark";
             c.idnModel = "041A";
             c.serial = 7654321;
             c.firmware = {{1, 0}, {3, 0x10}};
         },
         "Quillmark,041A,7654321,3.10\n"},
        {"RQ520 controller from the first pair when the second is zero", kRQ520B,
         [](Config &c) { c.firmware = {{2, 7}, {0, 0}}; c.serial = 1; }, "QM,RQ520B,1,2.07\n"},
        {"someone else's instrument", kRQ523B, [](Config &c) { c.idnMaker = "ACME"; c.serial = 5; c.firmware = {{1, 0}}; },
         "ACME,RQ523B,5,1.00\n"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        Config config = Config::forModel(c.model);
        c.setup(config);
        Chassis chassis(config);
        for (const char *query : {"*IDN?\n", "*IDN?", "*IDN?\r\n"}) {
            const auto reply = chassis.receive(simtest::text(query));
            ASSERT_TRUE(reply.has_value());
            EXPECT_EQ(std::string(reply->begin(), reply->end()), c.idn) << query;
        }
    }
}

// A setting written over the wire is what the matching query reads back.
TEST(ChassisSettings, WrittenValuesReadBack) {
    struct Case {
        const char *name;
        Bytes set;
        Bytes query;
        std::vector<std::pair<std::size_t, uint8_t>> fields;
    };
    const Case cases[] = {
        {"GPIB address", request(20, 0, {30}), request(22), {{2, 30}}},
        {"baud rate", request(21, 0, {9600, 0}), request(23), {{2, 0x80}, {3, 0x25}, {4, 0}, {5, 0}}},
        {"baud rate above 16 bits", request(21, 0, {0xC200, 1}), request(23), {{2, 0x00}, {3, 0xC2}, {4, 1}}},
        {"control mode", request(6, 0, {1}), request(5), {{2, 1}}},
        {"LAN mode", request(48, 0, {1}), request(25), {{2, 1}}},
        {"IP address and host-1 gateway", request(13, 0, {192, 168, 1, 42, 192, 168, 1, 1}), request(24),
         {{2, 192}, {4, 168}, {6, 1}, {8, 42}}},
        {"chassis serial and hardware number", request(2, 0, {0x00, 0xBC, 0x61, 0x4E, 33, 0, 0, 0, 0, 0}),
         request(8), {{0, 0x00}, {2, 0xBC}, {4, 0x61}, {6, 0x4E}, {8, 33}}},
        {"card serial of slot 2", request(33, 0, {0x05, 0x39, 0x7F, 0xB1, 17, 0, 0, 0}), request(8),
         {{26, 0x05}, {28, 0x39}, {30, 0x7F}, {32, 0xB1}, {34, 17}}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        Chassis chassis(Config::forModel(kRQ521));
        const auto ack = chassis.receive(c.set);
        ASSERT_TRUE(ack.has_value());
        ASSERT_FALSE(simtest::isErrorReport(*ack));
        const auto reply = chassis.receive(c.query);
        ASSERT_TRUE(reply.has_value());
        for (const auto &[offset, value] : c.fields) EXPECT_EQ((*reply)[offset], value) << "byte " << offset;
    }
}

TEST(ChassisSettings, ResetOpensEveryRelayAndKeepsSettings) {
    Config config = Config::forModel(kRQ523);
    Chassis chassis(config);
    ASSERT_FALSE(simtest::isErrorReport(*chassis.receive(simtest::relayFrame(chassis.geometry(), {{0, 3, 1}}))));
    ASSERT_FALSE(chassis.closedRelays().empty());
    const auto reply = chassis.receive(Bytes{14, 0});
    ASSERT_TRUE(reply.has_value());
    EXPECT_FALSE(simtest::isErrorReport(*reply));
    EXPECT_TRUE(chassis.closedRelays().empty());
    EXPECT_EQ(chassis.counters().resets, 1u);
    EXPECT_EQ(chassis.config().serial, config.serial);
}

}  // namespace

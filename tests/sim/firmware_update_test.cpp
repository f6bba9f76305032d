// Firmware-update blocks: command 12 argument 0, big-endian header of
// length, 16-bit checksum and last-block flag, then up to 128 data bytes.
#include <gtest/gtest.h>

#include <numeric>

#include "sim_support.h"

namespace {

using namespace korvax::sim;

Bytes block(const Bytes &data, bool last, int checksumError = 0, int lengthError = 0) {
    const uint32_t sum = std::accumulate(data.begin(), data.end(), 0u) + static_cast<uint32_t>(checksumError);
    const std::size_t n = data.size() + static_cast<std::size_t>(lengthError);
    Bytes b(8 + data.size(), 0);
    b[0] = 12;
    b[2] = static_cast<uint8_t>(n >> 8);
    b[3] = static_cast<uint8_t>(n & 0xFF);
    b[4] = static_cast<uint8_t>((sum >> 8) & 0xFF);
    b[5] = static_cast<uint8_t>(sum & 0xFF);
    b[7] = last ? 1 : 0;
    std::copy(data.begin(), data.end(), b.begin() + 8);
    return b;
}

Bytes image(std::size_t size) {
    Bytes bytes(size);
    for (std::size_t i = 0; i < size; ++i) bytes[i] = static_cast<uint8_t>((i * 7 + 3) & 0xFF);
    return bytes;
}

// The blocks a file of `size` bytes goes out in: 128-byte blocks, the
// last one shorter and flagged (empty when the size is a multiple of 128).
std::vector<Bytes> blocksOf(const Bytes &file) {
    std::vector<Bytes> out;
    for (std::size_t at = 0;; at += 128) {
        const std::size_t n = std::min<std::size_t>(128, file.size() - at);
        out.push_back(block(Bytes(file.begin() + static_cast<std::ptrdiff_t>(at),
                                  file.begin() + static_cast<std::ptrdiff_t>(at + n)), n < 128));
        if (n < 128) return out;
    }
}

TEST(FirmwareUpdate, WholeFilesAreInstalledIntact) {
    for (const std::size_t size : {std::size_t{300}, std::size_t{256}, std::size_t{0}, std::size_t{127}, std::size_t{5000}}) {
        SCOPED_TRACE(size);
        Chassis chassis(Config::forModel(kRQ522));
        const Bytes file = image(size);
        const auto blocks = blocksOf(file);
        for (const Bytes &b : blocks) {
            EXPECT_FALSE(chassis.installedFirmware().has_value());
            ASSERT_FALSE(simtest::isErrorReport(*chassis.receive(b)));
        }
        const auto installed = chassis.installedFirmware();
        ASSERT_TRUE(installed.has_value());
        EXPECT_EQ(installed->bytes, file);
        EXPECT_EQ(installed->size, size);
        EXPECT_EQ(installed->checksum, std::accumulate(file.begin(), file.end(), 0u));
        EXPECT_EQ(installed->blocks, blocks.size());
        EXPECT_EQ(chassis.counters().firmwareUpdates, 1u);
    }
}

TEST(FirmwareUpdate, ABadBlockIsRefusedAndDropsThePartialImage) {
    const Bytes data = image(128);
    struct Case {
        const char *name;
        Bytes bad;
    };
    const Case cases[] = {
        {"checksum off by one", block(data, false, 1)},
        {"checksum off in the high byte", block(data, false, 0x100)},
        {"length field one short", block(data, false, 0, -1)},
        {"length field one long", block(data, false, 0, 1)},
        {"more than 128 bytes", block(image(129), false)},
        {"flag neither 0 nor 1", [&] { Bytes b = block(data, true); b[7] = 2; return b; }()},
        {"header cut short", Bytes{12, 0, 0, 0, 0}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        Chassis chassis(Config::forModel(kRQ521));
        ASSERT_FALSE(simtest::isErrorReport(*chassis.receive(block(image(128), false))));
        EXPECT_TRUE(simtest::isErrorReport(*chassis.receive(c.bad)));
        // A fresh transfer afterwards holds only its own bytes.
        const Bytes tail = image(40);
        ASSERT_FALSE(simtest::isErrorReport(*chassis.receive(block(tail, true))));
        ASSERT_TRUE(chassis.installedFirmware().has_value());
        EXPECT_EQ(chassis.installedFirmware()->bytes, tail);
    }
}

}  // namespace

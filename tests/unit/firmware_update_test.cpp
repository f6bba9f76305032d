#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "KORVAX.h"
#include "api/firmware_update.h"
#include "fakevisa/fake_visa.h"
#include "support/fake_chassis.h"

namespace {

namespace fs = std::filesystem;
using fakevisa::Bytes;

// Header fields of one update block as the instrument's loader reads them.
struct Block {
    uint16_t length, sum, last;
};

Block header(const Bytes &frame) {
    return {static_cast<uint16_t>(frame[2] << 8 | frame[3]),
            static_cast<uint16_t>(frame[4] << 8 | frame[5]),
            static_cast<uint16_t>(frame[6] << 8 | frame[7])};
}

// Bytes that differ from block to block, so a misplaced block shows.
Bytes image(size_t size) {
    Bytes b(size);
    for (size_t i = 0; i < size; ++i) b[i] = static_cast<uint8_t>(i * 7 + i / 128 + 1);
    return b;
}

// Descriptors open in this process, or -1 where the system cannot tell.
int openDescriptors() {
    std::error_code ec;
    fs::directory_iterator it("/proc/self/fd", ec);
    if (ec) return -1;
    int n = 0;
    for (; it != fs::directory_iterator(); it.increment(ec)) ++n;
    return n;
}

class FirmwareUpdate : public ::testing::Test {
protected:
    void SetUp() override {
        std::random_device rd;
        dir_ = fs::temp_directory_path() /
               ("korvax-fw-" + std::to_string(rd()) + "-" + std::to_string(rd()));
        ASSERT_TRUE(fs::create_directory(dir_));
        f_ = testsupport::installChassis(KORVAX_MODEL_RQ522);
    }
    void TearDown() override {
        std::error_code ec;
        fs::remove_all(dir_, ec);
    }
    std::string write(const Bytes &content, const std::string &name = "image.bin") {
        const fs::path p = dir_ / name;
        std::ofstream(p, std::ios::binary)
            .write(reinterpret_cast<const char *>(content.data()),
                   static_cast<std::streamsize>(content.size()));
        return p.string();
    }
    std::vector<Bytes> sent() const { return fakevisa::writes(f_.rsrc); }

    fs::path dir_;
    testsupport::FakeChassis f_;
};

TEST_F(FirmwareUpdate, BlockFraming) {
    struct {
        size_t fileSize;
        std::vector<size_t> frameSizes;  // the last one carries the flag
    } cases[] = {
        {300, {136, 136, 52}},
        {256, {136, 136, 8}},
        {128, {136, 8}},
        {127, {135}},
        {1, {9}},
        {0, {8}},
    };
    for (const auto &c : cases) {
        f_ = testsupport::installChassis(KORVAX_MODEL_RQ522);
        const Bytes content = image(c.fileSize);
        ASSERT_EQ(KORVAX_OnlineUpdate(f_.handle, write(content).c_str()), 0) << c.fileSize;
        const auto frames = sent();
        ASSERT_EQ(frames.size(), c.frameSizes.size()) << c.fileSize;
        size_t offset = 0;
        for (size_t k = 0; k < frames.size(); ++k) {
            const Bytes &f = frames[k];
            const std::string where = std::to_string(c.fileSize) + " bytes, block " + std::to_string(k);
            ASSERT_EQ(f.size(), c.frameSizes[k]) << where;
            EXPECT_EQ(f[0], 12) << where;
            EXPECT_EQ(f[1], 0) << where;
            const Block h = header(f);
            EXPECT_EQ(h.length, f.size() - 8) << where;
            EXPECT_EQ(h.last, k + 1 == frames.size() ? 1 : 0) << where;
            uint32_t sum = 0;
            for (size_t i = 0; i < h.length; ++i) {
                EXPECT_EQ(f[8 + i], content[offset + i]) << where << ", byte " << i;
                sum += content[offset + i];
            }
            EXPECT_EQ(h.sum, sum) << where;
            offset += h.length;
        }
        EXPECT_EQ(offset, c.fileSize);
    }
}

TEST_F(FirmwareUpdate, ChecksumIsBigEndian) {
    // 18 * 0xFF + 0x46 = 0x1234.
    Bytes content(18, 0xFF);
    content.push_back(0x46);
    ASSERT_EQ(KORVAX_OnlineUpdate(f_.handle, write(content).c_str()), 0);
    const auto frames = sent();
    ASSERT_EQ(frames.size(), 1u);
    EXPECT_EQ(frames[0][4], 0x12);
    EXPECT_EQ(frames[0][5], 0x34);
    // Length 19 and the flag in the other header words, high byte first.
    EXPECT_EQ(Bytes(frames[0].begin(), frames[0].begin() + 8), (Bytes{12, 0, 0, 19, 0x12, 0x34, 0, 1}));
}

TEST_F(FirmwareUpdate, Failures) {
    const std::string image300 = write(image(300));
    const std::string unreadable = (dir_ / "sub").string();
    fs::create_directory(unreadable);
    struct {
        const char *what;
        bool knownHandle;
        std::string path;
        int failWrites;
        std::vector<fakevisa::Reply> replies;
        int32_t result;
        size_t framesSent;
    } cases[] = {
        {"missing file", true, (dir_ / "absent.bin").string(), 0, {}, KORVAX_ERR_UPDATE_FILE_OPEN, 0},
        {"unknown handle is checked before the file", false, (dir_ / "absent.bin").string(), 0, {},
         KORVAX_ERR_HANDLE, 0},
        {"unknown handle, readable file", false, image300, 0, {}, KORVAX_ERR_HANDLE, 0},
        // Opens, but every read fails: a read error must not pass for the end of
        // the image, which would send an empty last block.
        {"read error", true, unreadable, 0, {}, KORVAX_ERR_UPDATE_FILE_OPEN, 0},
        {"first block not written", true, image300, 1, {}, KORVAX_ERR_SEND, 0},
        {"second block's reply not read", true, image300, 0,
         {{Bytes(16, 0)}, {{}, VI_ERROR_TMO}}, KORVAX_ERR_RECEIVE, 2},
        {"second block reported as error", true, image300, 0,
         {{Bytes(16, 0)}, {Bytes(4, 0xFF)}}, KORVAX_ERR_USB_ADAPTER, 2},
    };
    for (const auto &c : cases) {
        f_ = testsupport::installChassis(KORVAX_MODEL_RQ522);
        f_.res->failWrites = c.failWrites;
        for (const auto &r : c.replies) f_.res->replies.push_back(r);
        const int fdsBefore = openDescriptors();
        std::vector<std::pair<uint64_t, uint64_t>> progress;
        const int32_t got = korvax::onlineUpdate(
            c.knownHandle ? f_.handle : f_.handle + 1000, c.path.c_str(),
            [&](uint64_t done, uint64_t total) { progress.emplace_back(done, total); });
        EXPECT_EQ(got, c.result) << c.what;
        EXPECT_EQ(sent().size(), c.framesSent) << c.what << ": nothing sent after the failure";
        // Only blocks the instrument acknowledged count as progress.
        EXPECT_EQ(progress.size(), c.framesSent > 0 ? c.framesSent - 1 : 0) << c.what;
        EXPECT_EQ(openDescriptors(), fdsBefore) << c.what << ": the file is closed";
    }
    EXPECT_EQ(KORVAX_OnlineUpdate(f_.handle, nullptr), KORVAX_ERR_UPDATE_FILE_OPEN);
}

TEST_F(FirmwareUpdate, ProgressAfterEachAcknowledgedBlock) {
    using Calls = std::vector<std::pair<uint64_t, uint64_t>>;
    struct {
        size_t fileSize;
        Calls calls;
    } cases[] = {
        {300, {{128, 300}, {256, 300}, {300, 300}}},
        {256, {{128, 256}, {256, 256}, {256, 256}}},
        {0, {{0, 0}}},
    };
    for (const auto &c : cases) {
        f_ = testsupport::installChassis(KORVAX_MODEL_RQ520);
        Calls calls;
        const std::string path = write(image(c.fileSize));
        ASSERT_EQ(korvax::onlineUpdate(f_.handle, path.c_str(),
                                       [&](uint64_t done, uint64_t total) {
                                           // Each call follows the block it reports.
                                           EXPECT_EQ(fakevisa::writes(f_.rsrc).size(), calls.size() + 1);
                                           calls.emplace_back(done, total);
                                       }),
                  0);
        EXPECT_EQ(calls, c.calls) << c.fileSize;
    }
    // No callback at all is allowed.
    EXPECT_EQ(korvax::onlineUpdate(f_.handle, write(image(10)).c_str(), {}), 0);
}

}  // namespace

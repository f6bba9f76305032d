#include "api/firmware_update.h"

#include <array>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <system_error>

#include "KORVAX.h"
#include "api/operations.h"
#include "connection/VISAconnection.h"
#include "connection/chassis_lock.h"

namespace korvax {
namespace {

struct FileCloser {
    void operator()(std::FILE *f) const noexcept { std::fclose(f); }
};
using File = std::unique_ptr<std::FILE, FileCloser>;

// The loader's block header is big-endian, unlike the rest of the protocol.
void putBigEndian16(uint8_t *at, uint16_t value) {
    at[0] = static_cast<uint8_t>(value >> 8);
    at[1] = static_cast<uint8_t>(value & 0xFF);
}

// Size of the file for the progress report; 0 when it is not known.
uint64_t fileSize(const char *path) {
    std::error_code ec;
    const auto size = std::filesystem::file_size(path, ec);
    return ec ? 0 : static_cast<uint64_t>(size);
}

}  // namespace
}  // namespace korvax

using namespace korvax;

int32_t OnlineUpdateWithProgress(uint32_t handle, const char *path, UpdateProgressFn progress,
                                 void *context) {
    const ChassisGuard c(handle);
    if (!c) return c.status();
    if (path == nullptr) return KORVAX_ERR_UPDATE_FILE_OPEN;
    const File file(std::fopen(path, "rb"));
    if (!file) return KORVAX_ERR_UPDATE_FILE_OPEN;
    const uint64_t total = fileSize(path);

    uint64_t sent = 0;
    for (;;) {
        std::array<uint8_t, kUpdateFrameSize> frame{};
        frame[0] = kCmdLoopBackOrUpdate;
        frame[1] = 0;  // argument 0: an update block, not a loop-back test
        uint8_t *data = frame.data() + kUpdateHeaderSize;
        const size_t n = std::fread(data, 1, kUpdateChunkSize, file.get());
        // A short read is either the end of the image or a failing medium. A
        // block sent after a read error would carry the last-block flag and
        // make the loader take a truncated image for a whole one; stopping
        // here leaves the image unfinished instead.
        if (n < kUpdateChunkSize && std::ferror(file.get())) return KORVAX_ERR_UPDATE_FILE_OPEN;
        const bool last = n < kUpdateChunkSize;
        putBigEndian16(&frame[2], static_cast<uint16_t>(n));
        // At most 128 * 255 = 32640: the low 16 bits are the whole sum.
        putBigEndian16(&frame[4], static_cast<uint16_t>(checkSum(data, n) & 0xFFFF));
        putBigEndian16(&frame[6], last ? 1 : 0);

        const int32_t st = SendRecvMsg(c->vi, frame.data(),
                                       static_cast<int32_t>(n + kUpdateHeaderSize), c->rxBuf);
        if (st < 0) return st;
        sent += n;
        if (progress) progress(sent, total, context);
        // The end of a file whose length is a multiple of 128 is only seen by
        // the next read, so such a file ends with an empty flagged block: the
        // loader always gets exactly one.
        if (last) return 0;
    }
}

extern "C" KORVAX_API int32_t KORVAX_OnlineUpdate(uint32_t handle, const char *path) {
    return OnlineUpdateWithProgress(handle, path, nullptr, nullptr);
}

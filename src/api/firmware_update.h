// Online firmware update: streaming a firmware image to a chassis.
//
// The instrument's loader takes the image in blocks of 128 bytes, one
// request (command 12, argument 0) per block, each with its own length,
// 16-bit additive checksum and last-block flag; the flagged block tells the
// loader that the image is complete. An update is hundreds of round trips, so the
// project's own tools use this C++ entry point to show progress;
// KORVAX_OnlineUpdate is the same transfer without a progress report.
#pragma once

#include <cstdint>
#include <functional>

#include "base/export.h"

// Called after each block the instrument acknowledged: data bytes sent so far
// and the file's size when the transfer began (0 when the size cannot be
// known in advance, as for a pipe). The final call has the last-block flag's
// acknowledgement behind it.
typedef void (*UpdateProgressFn)(uint64_t sent, uint64_t total, void *context);

// Streams the file at path to the chassis of handle, reporting progress when
// progress is not null. Returns 0 when the whole file was sent; -10023 for an
// unknown handle (the file is not opened); -10015 when the file cannot be
// opened or a read fails part-way (nothing more is sent, so the loader never
// sees a last-block flag for a truncated image); or the exchange's code when
// a block could not be written or its reply not read. The file is closed on
// every return. The transfer holds the chassis's lock throughout, and so
// does the callback: it may call operations on this chassis, but it must not
// wait for another chassis (a discovery waiting for this one could be
// holding it back) nor start a discovery (refused with -10038). Exported
// under a plain name for the project's tools.
KORVAX_INTERNAL int32_t OnlineUpdateWithProgress(uint32_t handle, const char *path,
                                                 UpdateProgressFn progress, void *context);

namespace korvax {

// Data bytes per update block and the size of one block request.
constexpr uint32_t kUpdateChunkSize = 128;
constexpr uint32_t kUpdateHeaderSize = 8;
constexpr uint32_t kUpdateFrameSize = kUpdateChunkSize + kUpdateHeaderSize;

// The same transfer with a C++ callback.
using UpdateProgress = std::function<void(uint64_t sent, uint64_t total)>;

inline int32_t onlineUpdate(uint32_t handle, const char *path, const UpdateProgress &progress) {
    if (!progress) return OnlineUpdateWithProgress(handle, path, nullptr, nullptr);
    auto call = [](uint64_t sent, uint64_t total, void *context) {
        (*static_cast<const UpdateProgress *>(context))(sent, total);
    };
    return OnlineUpdateWithProgress(handle, path, call, const_cast<UpdateProgress *>(&progress));
}

}  // namespace korvax

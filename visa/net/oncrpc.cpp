#include "visa/net/oncrpc.h"

#include <algorithm>

namespace korvax::net {
namespace {

constexpr uint32_t kMsgCall = 0;
constexpr uint32_t kMsgReply = 1;
constexpr uint32_t kRpcVersion = 2;
constexpr uint32_t kReplyAccepted = 0;
constexpr uint32_t kReplyDenied = 1;
constexpr uint32_t kDeniedRpcMismatch = 0;
constexpr uint32_t kAuthNone = 0;
constexpr std::size_t kMaxAuthBody = 400;
constexpr uint32_t kLastFragment = 0x80000000u;
// A sender may split a record into as many fragments as it likes; this many
// is already absurd and ends the stream.
constexpr std::size_t kMaxFragments = 1024;

std::size_t padded(std::size_t n) {
    return (n + 3) & ~std::size_t{3};
}

uint32_t be32(const uint8_t *p) {
    return uint32_t{p[0]} << 24 | uint32_t{p[1]} << 16 | uint32_t{p[2]} << 8 | p[3];
}

}  // namespace

void XdrWriter::u32(uint32_t v) {
    out_.push_back(static_cast<uint8_t>(v >> 24));
    out_.push_back(static_cast<uint8_t>(v >> 16));
    out_.push_back(static_cast<uint8_t>(v >> 8));
    out_.push_back(static_cast<uint8_t>(v));
}

void XdrWriter::opaque(std::span<const uint8_t> data) {
    u32(static_cast<uint32_t>(data.size()));
    out_.insert(out_.end(), data.begin(), data.end());
    out_.resize(out_.size() + (padded(data.size()) - data.size()), 0);
}

void XdrWriter::string(std::string_view text) {
    opaque({reinterpret_cast<const uint8_t *>(text.data()), text.size()});
}

uint32_t XdrReader::u32() {
    if (!ok_ || data_.size() - pos_ < 4) {
        ok_ = false;
        return 0;
    }
    const uint32_t v = be32(data_.data() + pos_);
    pos_ += 4;
    return v;
}

std::span<const uint8_t> XdrReader::opaque(std::size_t maxLength) {
    const uint32_t n = u32();
    if (!ok_ || n > maxLength || padded(n) > data_.size() - pos_) {
        ok_ = false;
        return {};
    }
    const auto out = data_.subspan(pos_, n);
    pos_ += padded(n);
    return out;
}

std::string XdrReader::string(std::size_t maxLength) {
    const auto bytes = opaque(maxLength);
    return {bytes.begin(), bytes.end()};
}

Bytes frameRecord(std::span<const uint8_t> payload) {
    Bytes out;
    out.reserve(payload.size() + 4);
    XdrWriter header;
    header.u32(kLastFragment | static_cast<uint32_t>(payload.size()));
    out = header.take();
    out.insert(out.end(), payload.begin(), payload.end());
    return out;
}

void RecordAssembler::feed(std::span<const uint8_t> bytes) {
    // Drop what was consumed before growing, so the buffer stays small.
    if (pos_ > 0) {
        in_.erase(in_.begin(), in_.begin() + static_cast<std::ptrdiff_t>(pos_));
        pos_ = 0;
    }
    in_.insert(in_.end(), bytes.begin(), bytes.end());
}

RecordAssembler::Result RecordAssembler::next(Bytes &record) {
    for (;;) {
        if (in_.size() - pos_ < 4) return Result::Incomplete;
        const uint32_t header = be32(in_.data() + pos_);
        const std::size_t length = header & ~kLastFragment;
        if (length > max_ || partial_.size() + length > max_ || fragments_ >= kMaxFragments)
            return Result::Oversized;
        if (in_.size() - pos_ - 4 < length) return Result::Incomplete;
        const auto begin = in_.begin() + static_cast<std::ptrdiff_t>(pos_ + 4);
        partial_.insert(partial_.end(), begin, begin + static_cast<std::ptrdiff_t>(length));
        pos_ += 4 + length;
        ++fragments_;
        if (header & kLastFragment) {
            record = std::move(partial_);
            partial_.clear();
            fragments_ = 0;
            return Result::Record;
        }
    }
}

namespace {

bool skipAuth(XdrReader &in) {
    in.u32();                 // flavour: any is taken, none is checked
    in.opaque(kMaxAuthBody);  // body
    return in.ok();
}

void writeAuthNone(XdrWriter &out) {
    out.u32(kAuthNone);
    out.u32(0);
}

}  // namespace

CallProblem readCall(XdrReader &in, CallHeader &call) {
    call.xid = in.u32();
    const uint32_t type = in.u32();
    if (!in.ok()) return CallProblem::Malformed;
    if (type != kMsgCall) return CallProblem::NotACall;
    if (in.u32() != kRpcVersion) return in.ok() ? CallProblem::RpcVersion : CallProblem::Malformed;
    call.program = in.u32();
    call.version = in.u32();
    call.procedure = in.u32();
    if (!skipAuth(in) || !skipAuth(in)) return CallProblem::Malformed;
    return CallProblem::None;
}

void writeCall(XdrWriter &out, const CallHeader &call) {
    out.u32(call.xid);
    out.u32(kMsgCall);
    out.u32(kRpcVersion);
    out.u32(call.program);
    out.u32(call.version);
    out.u32(call.procedure);
    writeAuthNone(out);
    writeAuthNone(out);
}

void writeAcceptedReply(XdrWriter &out, uint32_t xid, AcceptStat stat, uint32_t low,
                        uint32_t high) {
    out.u32(xid);
    out.u32(kMsgReply);
    out.u32(kReplyAccepted);
    writeAuthNone(out);
    out.u32(static_cast<uint32_t>(stat));
    if (stat == AcceptStat::ProgMismatch) {
        out.u32(low);
        out.u32(high);
    }
}

void writeRpcMismatch(XdrWriter &out, uint32_t xid) {
    out.u32(xid);
    out.u32(kMsgReply);
    out.u32(kReplyDenied);
    out.u32(kDeniedRpcMismatch);
    out.u32(kRpcVersion);
    out.u32(kRpcVersion);
}

std::optional<ReplyHeader> readReply(XdrReader &in) {
    ReplyHeader reply;
    reply.xid = in.u32();
    if (in.u32() != kMsgReply || !in.ok()) return std::nullopt;
    const uint32_t state = in.u32();
    if (state == kReplyDenied) {
        reply.accepted = false;
        return in.ok() ? std::optional(reply) : std::nullopt;
    }
    if (state != kReplyAccepted || !skipAuth(in)) return std::nullopt;
    const uint32_t stat = in.u32();
    if (!in.ok() || stat > static_cast<uint32_t>(AcceptStat::SystemErr)) return std::nullopt;
    reply.accepted = true;
    reply.stat = static_cast<AcceptStat>(stat);
    return reply;
}

}  // namespace korvax::net

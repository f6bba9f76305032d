// ONC RPC on TCP, as instruments speak it: XDR encoding, record marking,
// and the call and reply headers (the messages of VXI-11 and the
// portmapper are in vxi11.h). The VXI-11 client of the VISA library and the
// server of korvax-sim share it. Everything that reads from the wire is
// bounded: a length beyond its limit, a truncated item or a header that is
// not ONC RPC version 2 makes the reader fail, never read past its input.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace korvax::net {

using Bytes = std::vector<uint8_t>;

// Big-endian four-byte units; variable-length items carry their length
// first and are padded with zeros to a multiple of four.
class XdrWriter {
public:
    void u32(uint32_t v);
    void i32(int32_t v) { u32(static_cast<uint32_t>(v)); }
    void boolean(bool v) { u32(v ? 1 : 0); }
    void opaque(std::span<const uint8_t> data);
    void string(std::string_view text);
    // Items already encoded by another writer.
    void append(std::span<const uint8_t> encoded) { out_.insert(out_.end(), encoded.begin(), encoded.end()); }
    const Bytes &bytes() const { return out_; }
    Bytes take() { return std::move(out_); }

private:
    Bytes out_;
};

// Reads XDR items from a buffer. After the first failure every item reads
// as zero or empty and ok() stays false, so a decoder reads a whole
// structure and checks once.
class XdrReader {
public:
    explicit XdrReader(std::span<const uint8_t> data) : data_(data) {}
    uint32_t u32();
    int32_t i32() { return static_cast<int32_t>(u32()); }
    bool boolean() { return u32() != 0; }
    // Fails when the length exceeds maxLength or the bytes are not there.
    std::span<const uint8_t> opaque(std::size_t maxLength);
    std::string string(std::size_t maxLength);
    bool ok() const { return ok_; }
    bool atEnd() const { return ok_ && pos_ == data_.size(); }
    // The bytes not read yet (none after a failure).
    std::span<const uint8_t> rest() const {
        return ok_ ? data_.subspan(pos_) : std::span<const uint8_t>{};
    }

private:
    std::span<const uint8_t> data_;
    std::size_t pos_ = 0;
    bool ok_ = true;
};

// Record marking: each fragment starts with a four-byte header, its length
// in the low 31 bits and "last fragment" in the top bit.
Bytes frameRecord(std::span<const uint8_t> payload);

// Collects the fragments of records from a byte stream.
class RecordAssembler {
public:
    enum class Result { Incomplete, Record, Oversized };
    explicit RecordAssembler(std::size_t maxRecord) : max_(maxRecord) {}
    void feed(std::span<const uint8_t> bytes);
    // Record: `record` holds the next whole record. Oversized: a record (or
    // the fragments of one) is beyond the limit; the stream is unusable.
    Result next(Bytes &record);
    std::size_t buffered() const { return in_.size() - pos_; }

private:
    std::size_t max_;
    Bytes in_;
    std::size_t pos_ = 0;
    Bytes partial_;  // fragments of the record being collected
    std::size_t fragments_ = 0;
};

enum class AcceptStat : uint32_t {
    Success = 0,
    ProgUnavail = 1,
    ProgMismatch = 2,
    ProcUnavail = 3,
    GarbageArgs = 4,
    SystemErr = 5,
};

struct CallHeader {
    uint32_t xid = 0;
    uint32_t program = 0;
    uint32_t version = 0;
    uint32_t procedure = 0;
};

// Why a record could not be taken as a call.
enum class CallProblem { None, NotACall, RpcVersion, Malformed };

// Reads the header of a call (credentials and verifier are skipped; their
// bodies are at most 400 bytes as the protocol allows). On RpcVersion the
// xid is filled in, so the caller can answer with a version mismatch.
CallProblem readCall(XdrReader &in, CallHeader &call);
// A call with AUTH_NONE credentials and verifier.
void writeCall(XdrWriter &out, const CallHeader &call);

// An accepted reply; for ProgMismatch the supported versions follow.
void writeAcceptedReply(XdrWriter &out, uint32_t xid, AcceptStat stat, uint32_t low = 0,
                        uint32_t high = 0);
// A denied reply: RPC version mismatch (only version 2 is spoken).
void writeRpcMismatch(XdrWriter &out, uint32_t xid);

struct ReplyHeader {
    uint32_t xid = 0;
    bool accepted = false;  // false: denied (RPC version or authentication)
    AcceptStat stat = AcceptStat::Success;
};
// Reads a reply header; nullopt when the record is not a reply at all.
std::optional<ReplyHeader> readReply(XdrReader &in);

}  // namespace korvax::net

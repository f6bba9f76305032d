// Fuzzes what the VISA library's VXI-11 client reads from the network,
// short of the socket: record marking, the RPC reply header and the result
// bodies it decodes (GETPORT, create_link, device_write, device_read,
// device_readstb). The first byte sets the size of the pieces the stream
// arrives in (1 to 256 bytes); the rest is the stream.
//
// Every record taken out is framed again and reassembled unchanged, and
// nothing decoded reaches past its record: a device_read's data lies
// inside it and is no longer than was asked for.
#include <cstdint>
#include <cstdlib>
#include <span>

#include "visa/net/oncrpc.h"
#include "visa/net/vxi11.h"

using namespace korvax::net;

namespace {

bool inside(std::span<const uint8_t> part, const Bytes &whole) {
    return part.empty() ||
           (part.data() >= whole.data() && part.data() + part.size() <= whole.data() + whole.size());
}

void decodeBodies(const Bytes &record, std::span<const uint8_t> body) {
    {
        XdrReader in(body);
        portmap::PortAnswer answer;
        decode(in, answer);
    }
    {
        XdrReader in(body);
        vxi11::CreateLinkResp answer;
        decode(in, answer);
    }
    {
        XdrReader in(body);
        vxi11::WriteResp answer;
        decode(in, answer);
    }
    {
        XdrReader in(body);
        vxi11::ReadStbResp answer;
        decode(in, answer);
    }
    {  // device_read: data of at most the size asked for, inside the record
        const std::size_t asked = body.size() % 97;
        XdrReader in(body);
        vxi11::ReadResp answer;
        decode(in, answer, asked);
        if (answer.data.size() > asked || !inside(answer.data, record)) std::abort();
        if (!inside(in.rest(), record)) std::abort();
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    if (size == 0) return 0;
    const std::size_t piece = std::size_t{data[0]} + 1;
    std::span<const uint8_t> stream(data + 1, size - 1);
    // A small limit as well, so that Oversized is reached too.
    RecordAssembler records(data[0] & 1 ? vxi11::kMaxRecord : 64);
    Bytes record;
    while (!stream.empty()) {
        const auto chunk = stream.first(std::min(piece, stream.size()));
        stream = stream.subspan(chunk.size());
        records.feed(chunk);
        for (;;) {
            const auto r = records.next(record);
            if (r == RecordAssembler::Result::Oversized) return 0;  // the client drops the stream
            if (r == RecordAssembler::Result::Incomplete) break;
            RecordAssembler again(vxi11::kMaxRecord);
            again.feed(frameRecord(record));
            Bytes copy;
            if (again.next(copy) != RecordAssembler::Result::Record || copy != record) std::abort();
            XdrReader in(record);
            const auto reply = readReply(in);
            if (!reply) continue;
            if (!inside(in.rest(), record)) std::abort();
            if (reply->accepted && reply->stat == AcceptStat::Success) decodeBodies(record, in.rest());
        }
    }
    return 0;
}

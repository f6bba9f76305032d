// TCPIP::host::port::SOCKET: the instrument's protocol straight on a TCP
// connection, with TCP_NODELAY and each viWrite sent in one piece.
//
// A byte stream has no message boundaries, so a read ends at the first of:
//   1. the requested count;
//   2. the termination character, when VI_ATTR_TERMCHAR_EN is set;
//   3. a complete reply of the chassis protocol: the answer to a text
//      request (printable, ending in a line feed, such as "*IDN?\n") is
//      complete at its line feed; the answer to a binary request is
//      complete at 400 bytes, the chassis's fixed reply size. Either way
//      the read ends with VI_SUCCESS (END) as soon as the last byte is in,
//      however slowly or in however many pieces it came;
//   4. the timeout (VI_ERROR_TMO, with the bytes that did come).
// A new request drops whatever is left of an earlier answer.
//
// The connection is made at viOpen. When the instrument closes it (power
// cycle, server restart), the call that notices fails with
// VI_ERROR_CONN_LOST and the next viWrite connects again.
#pragma once

#include <memory>
#include <optional>
#include <utility>
#include <string>
#include <vector>

#include "visa/net/socket_io.h"
#include "visa/transport.h"

namespace korvax::visa {

class SocketTransport final : public Transport {
public:
    // VI_ERROR_RSRC_NFOUND when nobody listens, VI_ERROR_TMO when the
    // connection is not made in time.
    static ViStatus open(const std::string &host, uint16_t port,
                         std::unique_ptr<Transport> &out);

    ViStatus write(std::span<const ViByte> data, ViUInt32 &written) override;
    ViStatus read(std::span<ViByte> buffer, ViUInt32 &got) override;
    ViStatus flush(ViUInt16 mask) override;
    ViStatus setAttribute(ViAttr attr, ViAttrState value) override;
    ViStatus getAttribute(ViAttr attr, void *value) const override;
    ViStatus clear() override;

    // What the answer to a request looks like.
    enum class Reply { Unknown, Text, Binary };
    static Reply replyKind(std::span<const ViByte> request);

private:
    SocketTransport(std::string host, uint16_t port) : host_(std::move(host)), port_(port) {}
    ViStatus connect();
    // The end of the pending input that completes a read, if it is there.
    std::optional<std::pair<std::size_t, ViStatus>> readEnd(std::size_t limit) const;

    std::string host_;
    uint16_t port_;
    net::UniqueFd fd_;
    IoSettings io_;
    Reply expect_ = Reply::Unknown;
    std::size_t replyTaken_ = 0;  // bytes of the current answer already read
    std::vector<ViByte> pending_;
};

}  // namespace korvax::visa

#include "visa/socket_transport.h"

#include "visa/net_transport_support.h"

#include <algorithm>
#include <array>
#include <cstring>

namespace korvax::visa {
namespace {

// Every binary answer of the chassis is this long, zero-filled past its fields.
constexpr std::size_t kBinaryReplySize = 400;
constexpr std::size_t kReceiveChunk = 4096;


}  // namespace

SocketTransport::Reply SocketTransport::replyKind(std::span<const ViByte> request) {
    if (request.empty()) return Reply::Unknown;
    const bool printable = std::all_of(request.begin(), request.end() - 1, [](ViByte b) {
        return (b >= 0x20 && b < 0x7F) || b == '\t' || b == '\r';
    });
    if (printable && request.back() == '\n' && request.front() >= 0x20) return Reply::Text;
    return Reply::Binary;
}

ViStatus SocketTransport::open(const std::string &host, uint16_t port,
                               std::unique_ptr<Transport> &out) {
    std::unique_ptr<SocketTransport> t(new SocketTransport(host, port));
    if (const ViStatus st = t->connect(); st < 0) return st;
    out = std::move(t);
    return VI_SUCCESS;
}

ViStatus SocketTransport::connect() {
    pending_.clear();
    expect_ = Reply::Unknown;
    return statusOf(net::connectTcp(host_, port_, net::Deadline::after(io_.timeoutMs), fd_));
}

ViStatus SocketTransport::write(std::span<const ViByte> data, ViUInt32 &written) {
    written = 0;
    // An instrument that was restarted has closed the old connection (and
    // what is left of an old answer goes): connect anew for this request.
    if (fd_ && net::drainInput(fd_.get()) == net::IoResult::Closed) fd_.reset();
    if (!fd_) {
        const ViStatus st = connect();
        if (st < 0) return st == VI_ERROR_RSRC_NFOUND ? VI_ERROR_CONN_LOST : st;
    }
    pending_.clear();
    const net::IoResult r = net::sendAll(fd_.get(), data, net::Deadline::after(io_.timeoutMs));
    if (r != net::IoResult::Ok) {
        if (r == net::IoResult::Closed) fd_.reset();
        return statusOf(r);
    }
    written = static_cast<ViUInt32>(data.size());
    expect_ = replyKind(data);
    replyTaken_ = 0;
    return VI_SUCCESS;
}

std::optional<std::pair<std::size_t, ViStatus>> SocketTransport::readEnd(std::size_t limit) const {
    const std::size_t avail = std::min(limit, pending_.size());
    for (std::size_t i = 0; i < avail; ++i) {
        const ViByte b = pending_[i];
        if (io_.termCharEnabled && b == io_.termChar) return std::pair(i + 1, VI_SUCCESS_TERM_CHAR);
        if (expect_ == Reply::Text && b == '\n') return std::pair(i + 1, VI_SUCCESS);
        if (expect_ == Reply::Binary && replyTaken_ + i + 1 == kBinaryReplySize)
            return std::pair(i + 1, VI_SUCCESS);
    }
    if (pending_.size() >= limit) return std::pair(limit, VI_SUCCESS_MAX_CNT);
    return std::nullopt;
}

ViStatus SocketTransport::read(std::span<ViByte> buffer, ViUInt32 &got) {
    got = 0;
    const net::Deadline deadline = net::Deadline::after(io_.timeoutMs);
    for (;;) {
        if (auto end = readEnd(buffer.size())) {
            auto [n, status] = *end;
            std::copy_n(pending_.begin(), n, buffer.begin());
            pending_.erase(pending_.begin(), pending_.begin() + static_cast<std::ptrdiff_t>(n));
            got = static_cast<ViUInt32>(n);
            replyTaken_ += n;
            // The answer is over: the next read waits for a new one.
            if (status == VI_SUCCESS) {
                replyTaken_ = 0;
                expect_ = Reply::Unknown;
            }
            return status;
        }
        if (!fd_) return VI_ERROR_CONN_LOST;
        std::array<ViByte, kReceiveChunk> chunk;
        std::size_t n = 0;
        const net::IoResult r = net::receiveSome(fd_.get(), chunk, deadline, n);
        if (r != net::IoResult::Ok) {
            if (r == net::IoResult::Closed) fd_.reset();
            // Hand over what did come, as VISA does on a timeout.
            const std::size_t partial = std::min(buffer.size(), pending_.size());
            std::copy_n(pending_.begin(), partial, buffer.begin());
            pending_.erase(pending_.begin(), pending_.begin() + static_cast<std::ptrdiff_t>(partial));
            replyTaken_ += partial;
            got = static_cast<ViUInt32>(partial);
            return statusOf(r);
        }
        pending_.insert(pending_.end(), chunk.begin(), chunk.begin() + static_cast<std::ptrdiff_t>(n));
    }
}

ViStatus SocketTransport::flush(ViUInt16 mask) {
    if (const ViStatus st = checkFlushMask(mask); st < 0) return st;
    if (flushesInput(mask)) {
        pending_.clear();
        if (fd_ && net::drainInput(fd_.get()) == net::IoResult::Closed) fd_.reset();
    }
    return VI_SUCCESS;
}

ViStatus SocketTransport::clear() {
    // A raw socket has no device clear; dropping the unread answer is what
    // the instrument side can be given.
    return flush(VI_READ_BUF_DISCARD);
}

ViStatus SocketTransport::setAttribute(ViAttr attr, ViAttrState value) {
    if (attr == VI_ATTR_TCPIP_NODELAY || attr == VI_ATTR_TCPIP_KEEPALIVE)
        return value == VI_TRUE || value == VI_FALSE ? VI_SUCCESS : VI_ERROR_NSUP_ATTR_STATE;
    return io_.set(attr, value);
}

ViStatus SocketTransport::getAttribute(ViAttr attr, void *value) const {
    switch (attr) {
    case VI_ATTR_TCPIP_ADDR:
    case VI_ATTR_TCPIP_HOSTNAME: putAttributeString(value, host_); return VI_SUCCESS;
    case VI_ATTR_TCPIP_PORT: putAttribute<ViUInt16>(value, port_); return VI_SUCCESS;
    case VI_ATTR_TCPIP_NODELAY: putAttribute<ViUInt16>(value, VI_TRUE); return VI_SUCCESS;
    case VI_ATTR_TCPIP_KEEPALIVE: putAttribute<ViUInt16>(value, VI_FALSE); return VI_SUCCESS;
    default: return io_.get(attr, value);
    }
}

}  // namespace korvax::visa

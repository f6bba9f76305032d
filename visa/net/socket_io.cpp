#include "visa/net/socket_io.h"

#include <arpa/inet.h>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <array>

namespace korvax::net {

Deadline Deadline::after(uint32_t ms) {
    Deadline d;
    if (ms == 0xFFFFFFFFu) return d;
    d.infinite_ = false;
    d.at_ = Clock::now() + std::chrono::milliseconds(ms);
    return d;
}

int Deadline::pollTimeout() const {
    if (infinite_) return -1;
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(at_ - Clock::now()).count();
    return left <= 0 ? 0 : static_cast<int>(std::min<long long>(left, 1 << 30));
}

int Deadline::pollTimeout(int atMost) const {
    const int left = pollTimeout();
    return left < 0 ? atMost : std::min(left, atMost);
}

bool Deadline::passed() const {
    return !infinite_ && Clock::now() >= at_;
}

UniqueFd &UniqueFd::operator=(UniqueFd &&other) noexcept {
    if (this != &other) reset(other.release());
    return *this;
}

void UniqueFd::reset(int fd) {
    if (fd_ >= 0) ::close(fd_);
    fd_ = fd;
}

namespace {

// Waits for `events` on fd; Timeout when the deadline passes first.
IoResult waitFor(int fd, short events, Deadline deadline) {
    for (;;) {
        pollfd p{fd, events, 0};
        const int n = ::poll(&p, 1, deadline.pollTimeout());
        if (n > 0) return IoResult::Ok;
        if (n == 0) return IoResult::Timeout;
        if (errno != EINTR) return IoResult::Failed;
    }
}

IoResult fromErrno(int err) {
    switch (err) {
    case ECONNREFUSED:
    case EHOSTUNREACH:
    case ENETUNREACH: return IoResult::Refused;
    case ECONNRESET:
    case EPIPE:
    case ECONNABORTED:
    case ENOTCONN: return IoResult::Closed;
    case ETIMEDOUT: return IoResult::Timeout;
    default: return IoResult::Failed;
    }
}

bool resolve(const std::string &host, uint16_t port, sockaddr_in &addr) {
    std::memset(&addr, 0, sizeof addr);
    addr.sin_family = AF_INET;
    addr.sin_port = htons(port);
    if (::inet_pton(AF_INET, host.c_str(), &addr.sin_addr) == 1) return true;
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo *found = nullptr;
    if (::getaddrinfo(host.c_str(), nullptr, &hints, &found) != 0 || !found) return false;
    addr.sin_addr = reinterpret_cast<sockaddr_in *>(found->ai_addr)->sin_addr;
    ::freeaddrinfo(found);
    return true;
}

}  // namespace

IoResult connectTcp(const std::string &host, uint16_t port, Deadline deadline, UniqueFd &out) {
    sockaddr_in addr{};
    if (!resolve(host, port, addr)) return IoResult::NotFound;
    UniqueFd fd(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
    if (!fd) return IoResult::Failed;
    const int one = 1;
    ::setsockopt(fd.get(), IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    if (::connect(fd.get(), reinterpret_cast<sockaddr *>(&addr), sizeof addr) != 0) {
        if (errno != EINPROGRESS) return fromErrno(errno);
        if (const IoResult r = waitFor(fd.get(), POLLOUT, deadline); r != IoResult::Ok) return r;
        int err = 0;
        socklen_t len = sizeof err;
        if (::getsockopt(fd.get(), SOL_SOCKET, SO_ERROR, &err, &len) != 0) return IoResult::Failed;
        if (err != 0) return fromErrno(err);
    }
    out = std::move(fd);
    return IoResult::Ok;
}

int writeAll(int fd, std::span<const uint8_t> data, Deadline deadline, std::size_t &written) {
    written = 0;
    // send() keeps a socket whose peer went from raising SIGPIPE; anything
    // else takes write().
    bool socket = true;
    while (written < data.size()) {
        const uint8_t *from = data.data() + written;
        const std::size_t left = data.size() - written;
        ssize_t n = socket ? ::send(fd, from, left, MSG_NOSIGNAL) : ::write(fd, from, left);
        if (n < 0 && socket && errno == ENOTSOCK) {
            socket = false;
            continue;
        }
        if (n > 0) {
            written += static_cast<std::size_t>(n);
            continue;
        }
        if (n == 0) return EIO;  // no progress, and no reason given
        if (errno == EINTR) continue;
        if (errno != EAGAIN && errno != EWOULDBLOCK) return errno;
        pollfd p{fd, POLLOUT, 0};
        const int r = ::poll(&p, 1, deadline.pollTimeout());
        if (r < 0 && errno != EINTR) return errno;
        if (r == 0) return ETIMEDOUT;
        if (r > 0 && !(p.revents & POLLOUT)) {
            if (p.revents & POLLNVAL) return EBADF;
            if (p.revents & (POLLHUP | POLLERR)) return EPIPE;
        }
    }
    return 0;
}

IoResult sendAll(int fd, std::span<const uint8_t> data, Deadline deadline) {
    std::size_t written = 0;
    const int error = writeAll(fd, data, deadline, written);
    return error == 0 ? IoResult::Ok : fromErrno(error);
}

IoResult receiveSome(int fd, std::span<uint8_t> buffer, Deadline deadline, std::size_t &got) {
    got = 0;
    // An answer is rarely there yet when it is asked for: wait first, so
    // that the common case costs one wake-up and one recv.
    if (const IoResult r = waitFor(fd, POLLIN, deadline); r != IoResult::Ok) return r;
    for (;;) {
        const ssize_t n = ::recv(fd, buffer.data(), buffer.size(), 0);
        if (n > 0) {
            got = static_cast<std::size_t>(n);
            return IoResult::Ok;
        }
        if (n == 0) return IoResult::Closed;
        if (errno == EINTR) continue;
        if (errno != EAGAIN && errno != EWOULDBLOCK) return fromErrno(errno);
        if (const IoResult r = waitFor(fd, POLLIN, deadline); r != IoResult::Ok) return r;
    }
}

IoResult drainInput(int fd) {
    std::array<uint8_t, 4096> scratch;
    // Bounded: a peer that keeps sending cannot hold the caller here.
    for (int i = 0; i < 256; ++i) {
        const ssize_t n = ::recv(fd, scratch.data(), scratch.size(), MSG_DONTWAIT);
        if (n == 0) return IoResult::Closed;
        if (n < 0) {
            if (errno == EINTR) continue;
            return errno == EAGAIN || errno == EWOULDBLOCK ? IoResult::Ok : fromErrno(errno);
        }
    }
    return IoResult::Ok;
}

bool peerClosed(int fd) {
    uint8_t byte = 0;
    for (;;) {
        const ssize_t n = ::recv(fd, &byte, 1, MSG_PEEK | MSG_DONTWAIT);
        if (n == 0) return true;
        if (n > 0) return false;
        if (errno == EINTR) continue;
        return errno != EAGAIN && errno != EWOULDBLOCK;
    }
}

}  // namespace korvax::net

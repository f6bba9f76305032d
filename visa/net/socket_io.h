// Blocking I/O with a deadline on every step: connect, send and receive
// (and writing to any descriptor) each give up when the deadline passes
// instead of waiting on the kernel's own (minutes-long) timeouts.
#pragma once

#include <chrono>
#include <cstdint>
#include <span>
#include <string>

namespace korvax::net {

class Deadline {
public:
    using Clock = std::chrono::steady_clock;
    // A deadline `ms` from now; VI_TMO_INFINITE (all ones) never passes.
    static Deadline after(uint32_t ms);
    static Deadline never() { return Deadline(); }
    // For poll(): -1 for never, else the milliseconds left (0 once passed).
    int pollTimeout() const;
    // The smaller of what is left and `atMost`.
    int pollTimeout(int atMost) const;
    bool passed() const;

private:
    Deadline() = default;
    bool infinite_ = true;
    Clock::time_point at_{};
};

// Owns a file descriptor.
class UniqueFd {
public:
    UniqueFd() = default;
    explicit UniqueFd(int fd) : fd_(fd) {}
    UniqueFd(UniqueFd &&other) noexcept : fd_(other.release()) {}
    UniqueFd &operator=(UniqueFd &&other) noexcept;
    UniqueFd(const UniqueFd &) = delete;
    UniqueFd &operator=(const UniqueFd &) = delete;
    ~UniqueFd() { reset(); }
    int get() const { return fd_; }
    int release() {
        const int fd = fd_;
        fd_ = -1;
        return fd;
    }
    void reset(int fd = -1);
    explicit operator bool() const { return fd_ >= 0; }

private:
    int fd_ = -1;
};

enum class IoResult {
    Ok,
    Timeout,   // the deadline passed
    Closed,    // the peer closed or reset the connection
    Refused,   // nobody listens there (or the host is unreachable)
    NotFound,  // the host name does not resolve
    Failed,    // any other error of the system
};

// Connects to host:port (IPv4; a name is resolved first) with TCP_NODELAY
// set, so that each message leaves at once rather than waiting for the
// peer's delayed acknowledgement.
IoResult connectTcp(const std::string &host, uint16_t port, Deadline deadline, UniqueFd &out);
// Writes every byte to a descriptor in non-blocking mode (a socket, a
// terminal, a device node), waiting in poll() for room. `written` counts
// what went. Returns 0, or the errno of the failure: ETIMEDOUT when the
// deadline passed first, EPIPE when the far end hung up. The one write loop
// of the transports and of korvax-sim's terminals.
int writeAll(int fd, std::span<const uint8_t> data, Deadline deadline, std::size_t &written);
// Sends every byte on a socket.
IoResult sendAll(int fd, std::span<const uint8_t> data, Deadline deadline);
// Waits for at least one byte and takes what has arrived, up to buffer.size().
IoResult receiveSome(int fd, std::span<uint8_t> buffer, Deadline deadline, std::size_t &got);
// Throws away whatever has arrived, without waiting. Closed when the peer
// has closed the connection.
IoResult drainInput(int fd);
// The peer has closed (or reset) the connection; what it sent before stays
// to be read.
bool peerClosed(int fd);

}  // namespace korvax::net

#include "sim/server/pty_server.h"

#include "visa/net/socket_io.h"

#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <string_view>
#include <system_error>

namespace korvax::simserver {
namespace {

constexpr int kQuietMs = 25;
// A request longer than any the protocol has is noise; it is dropped.
constexpr std::size_t kMaxRequest = 64 * 1024;
constexpr int kSendWaitMs = 1000;

struct Rate {
    speed_t code;
    uint32_t baud;
};
constexpr std::array<Rate, 13> kRates = {{
    {B300, 300},
    {B600, 600},
    {B1200, 1200},
    {B2400, 2400},
    {B4800, 4800},
    {B9600, 9600},
    {B19200, 19200},
    {B38400, 38400},
    {B57600, 57600},
    {B115200, 115200},
    {B230400, 230400},
    {B460800, 460800},
    {B921600, 921600},
}};

uint32_t baudOf(speed_t code) {
    for (const Rate &r : kRates)
        if (r.code == code) return r.baud;
    return 0;
}

speed_t codeOf(uint32_t baud) {
    for (const Rate &r : kRates)
        if (r.baud == baud) return r.code;
    return B9600;
}

[[noreturn]] void fail(const char *what) {
    throw std::system_error(errno, std::generic_category(), what);
}

bool isIdentityLine(const std::vector<uint8_t> &bytes) {
    const std::string_view text(reinterpret_cast<const char *>(bytes.data()), bytes.size());
    return text.starts_with("*IDN?") && text.ends_with("\n");
}

// A reply as one readable line: the identity text, or the command byte and
// how the chassis took it.
std::string describe(const std::vector<uint8_t> &request, const std::optional<sim::Bytes> &reply) {
    std::string line;
    if (isIdentityLine(request)) {
        line = "*IDN? -> ";
        if (reply) {
            for (uint8_t b : *reply)
                if (b >= 0x20 && b < 0x7F) line += static_cast<char>(b);
        } else {
            line += "(no reply)";
        }
        return line;
    }
    char head[96];
    std::snprintf(head, sizeof head, "command %u, %zu bytes -> ", request.empty() ? 0u : request[0],
                  request.size());
    line = head;
    if (!reply)
        line += "no reply";
    else if (reply->size() >= 4 && (*reply)[0] == 0xFF && (*reply)[1] == 0xFF &&
             (*reply)[2] == 0xFF && (*reply)[3] == 0xFF)
        line += "error reply";
    else
        line += std::to_string(reply->size()) + " bytes";
    return line;
}

}  // namespace

PtyServer::PtyServer(std::shared_ptr<sim::Chassis> chassis, uint32_t baud, bool verbose,
                     RelayLog *relays, std::string rsrc)
    : chassis_(std::move(chassis)), verbose_(verbose), relays_(relays), rsrc_(std::move(rsrc)) {
    master_ = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (master_ < 0) fail("posix_openpt");
    std::array<char, 128> name{};
    if (::grantpt(master_) != 0 || ::unlockpt(master_) != 0 ||
        ::ptsname_r(master_, name.data(), name.size()) != 0) {
        const int saved = errno;
        ::close(master_);
        errno = saved;
        fail("pseudo-terminal set-up");
    }
    path_ = name.data();
    slave_ = ::open(path_.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    int stop[2] = {-1, -1};
    if (slave_ < 0 || ::pipe2(stop, O_CLOEXEC | O_NONBLOCK) != 0) {
        const int saved = errno;
        if (slave_ >= 0) ::close(slave_);
        ::close(master_);
        errno = saved;
        fail("pseudo-terminal open");
    }
    stopRead_ = stop[0];
    stopWrite_ = stop[1];
    termios tio{};
    if (::tcgetattr(slave_, &tio) == 0) {
        ::cfmakeraw(&tio);
        tio.c_cflag |= CLOCAL | CREAD;
        ::cfsetispeed(&tio, codeOf(baud));
        ::cfsetospeed(&tio, codeOf(baud));
        ::tcsetattr(slave_, TCSANOW, &tio);
    }
    ::fcntl(master_, F_SETFL, ::fcntl(master_, F_GETFL) | O_NONBLOCK);
    thread_ = std::thread([this] { serve(); });
}

PtyServer::~PtyServer() {
    const char stop = 1;
    [[maybe_unused]] const ssize_t n = ::write(stopWrite_, &stop, 1);
    thread_.join();
    ::close(master_);
    ::close(slave_);
    ::close(stopRead_);
    ::close(stopWrite_);
}

const std::string &PtyServer::path() const { return path_; }

void PtyServer::serve() {
    std::vector<uint8_t> request;
    std::array<uint8_t, 4096> chunk;
    for (;;) {
        std::array<pollfd, 2> fds{{{stopRead_, POLLIN, 0}, {master_, POLLIN, 0}}};
        const int r = ::poll(fds.data(), fds.size(), request.empty() ? -1 : kQuietMs);
        if (r < 0 && errno == EINTR) continue;
        if (r < 0 || fds[0].revents != 0) return;
        if (r == 0) {
            answer(request);
            request.clear();
            continue;
        }
        if (fds[1].revents & POLLIN) {
            const ssize_t n = ::read(master_, chunk.data(), chunk.size());
            if (n > 0) {
                request.insert(request.end(), chunk.begin(), chunk.begin() + n);
                if (request.size() > kMaxRequest) {
                    if (verbose_)
                        std::fprintf(stderr, "korvax-sim: %s: dropped %zu bytes of noise\n",
                                     path_.c_str(), request.size());
                    request.clear();
                } else if (isIdentityLine(request)) {
                    answer(request);
                    request.clear();
                }
                continue;
            }
        }
        // Nothing to read although poll() said so (a hang-up the held slave
        // should prevent): do not spin.
        if (fds[1].revents & (POLLHUP | POLLERR)) ::poll(fds.data(), 1, kQuietMs);
    }
}

void PtyServer::answer(const std::vector<uint8_t> &request) {
    const uint32_t listens = chassis_->config().baudRate;
    termios tio{};
    const bool known = ::tcgetattr(master_, &tio) == 0;
    const uint32_t baud = known ? baudOf(::cfgetospeed(&tio)) : 0;
    const bool lineMatches = known && baud == listens && (tio.c_cflag & CSIZE) == CS8 &&
                             !(tio.c_cflag & PARENB) && !(tio.c_cflag & CSTOPB);
    if (!lineMatches) {
        if (verbose_)
            std::fprintf(stderr, "korvax-sim: %s: %zu bytes at %u baud ignored (chassis at %u 8N1)\n",
                         path_.c_str(), request.size(), baud, listens);
        return;
    }
    sim::Exchange exchange = chassis_->serve(request);
    if (exchange.framesApplied && relays_) relays_->frameApplied(rsrc_, *chassis_);
    const std::optional<sim::Bytes> &reply = exchange.reply;
    if (reply && exchange.delay.count() > 0) {
        // Busy operating relays; a stop request still ends the wait.
        pollfd stop{stopRead_, POLLIN, 0};
        if (::poll(&stop, 1, static_cast<int>(exchange.delay.count())) > 0) return;
    }
    const bool sent = !reply || send(*reply);
    if (verbose_)
        std::fprintf(stderr, "korvax-sim: %s: %s%s\n", path_.c_str(),
                     describe(request, reply).c_str(), sent ? "" : " (not taken by the client)");
}

bool PtyServer::send(const std::vector<uint8_t> &reply) {
    // A client that stops reading fills the terminal's buffer; give it a
    // second, then drop the rest rather than stall every later request.
    std::size_t written = 0;
    return net::writeAll(master_, reply, net::Deadline::after(kSendWaitMs), written) == 0;
}

}  // namespace korvax::simserver

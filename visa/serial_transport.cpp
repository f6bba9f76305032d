#include "visa/serial_transport.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cctype>
#include <cerrno>
#include <charconv>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <tuple>

#include "visa/resource_name.h"

namespace korvax::visa {
namespace {

namespace fs = std::filesystem;

// Parity values of VI_ATTR_ASRL_PARITY between NONE (0) and SPACE (4).
constexpr ViUInt16 kParityOdd = 1;
constexpr ViUInt16 kParityEven = 2;
constexpr ViUInt16 kParityMark = 3;

struct Speed {
    ViUInt32 baud;
    speed_t code;
};
constexpr std::array<Speed, 30> kSpeeds = {{
    {50, B50},         {75, B75},           {110, B110},         {134, B134},
    {150, B150},       {200, B200},         {300, B300},         {600, B600},
    {1200, B1200},     {1800, B1800},       {2400, B2400},       {4800, B4800},
    {9600, B9600},     {19200, B19200},     {38400, B38400},     {57600, B57600},
    {115200, B115200}, {230400, B230400},   {460800, B460800},   {500000, B500000},
    {576000, B576000}, {921600, B921600},   {1000000, B1000000}, {1152000, B1152000},
    {1500000, B1500000}, {2000000, B2000000}, {2500000, B2500000}, {3000000, B3000000},
    {3500000, B3500000}, {4000000, B4000000},
}};

std::optional<speed_t> speedCode(ViUInt32 baud) {
    for (const Speed &s : kSpeeds)
        if (s.baud == baud) return s.code;
    return std::nullopt;
}

bool isLineAttribute(ViAttr attr) {
    return attr == VI_ATTR_ASRL_BAUD || attr == VI_ATTR_ASRL_DATA_BITS ||
           attr == VI_ATTR_ASRL_PARITY || attr == VI_ATTR_ASRL_STOP_BITS ||
           attr == VI_ATTR_ASRL_FLOW_CNTRL;
}

// A number made of digits only (no sign, no blanks), below `limit`.
std::optional<unsigned> digits(std::string_view s, unsigned limit) {
    unsigned value = 0;
    const auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), value);
    if (s.empty() || ec != std::errc{} || end != s.data() + s.size() || value >= limit)
        return std::nullopt;
    return value;
}

// The number after `prefix` in a device name such as "ttyUSB3".
std::optional<unsigned> portNumber(std::string_view name, std::string_view prefix) {
    if (!name.starts_with(prefix)) return std::nullopt;
    return digits(name.substr(prefix.size()), 100000);
}

bool opensAsTerminal(const std::string &path) {
    const int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return false;
    const bool tty = ::isatty(fd) == 1;
    ::close(fd);
    return tty;
}

// A ttyS port with a UART behind it, by what sysfs says of it.
bool hasUart(const std::string &sysfs, const std::string &name) {
    const fs::path port = fs::path(sysfs) / "class" / "tty" / name;
    std::error_code ec;
    if (!fs::exists(port / "device", ec)) return false;
    std::ifstream typeFile(port / "type");
    if (int type = 0; typeFile >> type) return type != 0;  // 0 is PORT_UNKNOWN
    const fs::path bus = fs::read_symlink(port / "device" / "subsystem", ec);
    return ec || bus.filename() != "platform";
}

// VISA's serial resource names start "ASRL" in any letter case.
std::string_view serialBoard(std::string_view rsrc) {
    if (!isSerialResource(rsrc)) return {};
    std::string_view board = rsrc.substr(4);
    return board.substr(0, board.find("::"));
}

}  // namespace

HostRoots hostRoots() {
    HostRoots roots;
    if (const char *dev = std::getenv("KORVAX_DEV_ROOT"); dev && *dev) roots.dev = dev;
    if (const char *sys = std::getenv("KORVAX_SYSFS_ROOT"); sys && *sys) roots.sysfs = sys;
    return roots;
}

std::optional<std::string> serialDevicePath(std::string_view rsrc, const HostRoots &roots) {
    const std::string_view board = serialBoard(rsrc);
    if (board.starts_with('/')) return std::string(board);
    const auto n = digits(board, 100000);
    if (!n || *n == 0) return std::nullopt;
    return roots.dev + "/ttyS" + std::to_string(*n - 1);
}

std::vector<std::string> listSerialPorts(const HostRoots &roots, bool onBoard) {
    struct Port {
        int family;  // ttyS, ttyUSB, ttyACM
        unsigned number;
        std::string name;
    };
    constexpr std::array<std::string_view, 3> kFamilies = {"ttyS", "ttyUSB", "ttyACM"};
    std::vector<Port> ports;
    std::error_code ec;
    for (fs::directory_iterator it(roots.dev, ec), end; !ec && it != end; it.increment(ec)) {
        const std::string name = it->path().filename().string();
        for (int f = 0; f < static_cast<int>(kFamilies.size()); ++f) {
            const auto n = portNumber(name, kFamilies[static_cast<std::size_t>(f)]);
            if (!n) continue;
            if (f == 0 && (!onBoard || !hasUart(roots.sysfs, name))) break;
            if (opensAsTerminal(it->path().string())) ports.push_back({f, *n, name});
            break;
        }
    }
    std::sort(ports.begin(), ports.end(), [](const Port &a, const Port &b) {
        return std::tie(a.family, a.number) < std::tie(b.family, b.number);
    });
    std::vector<std::string> names;
    for (const Port &p : ports) {
        std::string rsrc = p.family == 0 ? "ASRL" + std::to_string(p.number + 1) + "::INSTR"
                                         : "ASRL" + roots.dev + "/" + p.name + "::INSTR";
        // A device folder whose path cannot stand in a resource name.
        if (canonicalResourceName(rsrc)) names.push_back(std::move(rsrc));
    }
    return names;
}

SerialTransport::SerialTransport(int fd) : fd_(fd) {}

SerialTransport::~SerialTransport() {
    // Closing a port with output still queued waits for it to drain (up to
    // 30 s on a stalled handshake); give it one timeout, then drop it.
    drain(net::Deadline::after(std::min<ViUInt32>(io_.timeoutMs, 2000)));
    ::tcflush(fd_, TCOFLUSH);
    ::close(fd_);
}

ViStatus SerialTransport::open(const std::string &path, std::unique_ptr<Transport> &out) {
    const int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return errno == EBUSY ? VI_ERROR_RSRC_BUSY : VI_ERROR_RSRC_NFOUND;
    if (::isatty(fd) != 1) {
        ::close(fd);
        return VI_ERROR_RSRC_NFOUND;
    }
    std::unique_ptr<SerialTransport> t(new SerialTransport(fd));
    if (t->applyLine(t->line_) < 0) return VI_ERROR_IO;
    ::tcflush(fd, TCIOFLUSH);
    out = std::move(t);
    return VI_SUCCESS;
}

ViStatus SerialTransport::applyLine(const SerialSettings &line) {
    termios tio{};
    if (::tcgetattr(fd_, &tio) != 0) return VI_ERROR_IO;
    ::cfmakeraw(&tio);
    tio.c_cflag |= CLOCAL | CREAD;
    tio.c_cflag &= ~static_cast<tcflag_t>(CSIZE | PARENB | PARODD | CMSPAR | CSTOPB | CRTSCTS);
    tio.c_iflag &= ~static_cast<tcflag_t>(IXON | IXOFF | IXANY);
    switch (line.dataBits) {
    case 5: tio.c_cflag |= CS5; break;
    case 6: tio.c_cflag |= CS6; break;
    case 7: tio.c_cflag |= CS7; break;
    default: tio.c_cflag |= CS8; break;
    }
    switch (line.parity) {
    case VI_ASRL_PAR_NONE: break;
    case kParityOdd: tio.c_cflag |= PARENB | PARODD; break;
    case kParityEven: tio.c_cflag |= PARENB; break;
    case kParityMark: tio.c_cflag |= PARENB | PARODD | CMSPAR; break;
    default: tio.c_cflag |= PARENB | CMSPAR; break;  // space
    }
    // A UART sends one and a half stop bits only with 5 data bits, where
    // the "two stop bits" setting gives exactly that.
    if (line.stopBits == VI_ASRL_STOP_ONE5 && line.dataBits != 5) return VI_ERROR_NSUP_ATTR_STATE;
    if (line.stopBits != VI_ASRL_STOP_ONE) tio.c_cflag |= CSTOPB;
    if (line.flowControl & VI_ASRL_FLOW_DTR_DSR) return VI_ERROR_NSUP_ATTR_STATE;
    if (line.flowControl & VI_ASRL_FLOW_RTS_CTS) tio.c_cflag |= CRTSCTS;
    if (line.flowControl & VI_ASRL_FLOW_XON_XOFF) tio.c_iflag |= IXON | IXOFF;
    const auto speed = speedCode(line.baud);
    if (!speed) return VI_ERROR_NSUP_ATTR_STATE;
    ::cfsetispeed(&tio, *speed);
    ::cfsetospeed(&tio, *speed);
    tio.c_cc[VMIN] = 0;
    tio.c_cc[VTIME] = 0;
    if (::tcsetattr(fd_, TCSANOW, &tio) != 0)
        return errno == EINVAL ? VI_ERROR_NSUP_ATTR_STATE : VI_ERROR_IO;
    return VI_SUCCESS;
}

bool SerialTransport::stopsAtTermChar() const {
    return line_.endIn == VI_ASRL_END_TERMCHAR || io_.termCharEnabled;
}

ViStatus SerialTransport::writeAll(std::span<const ViByte> data, ViUInt32 &written,
                                   const net::Deadline &deadline) {
    std::size_t n = 0;
    const int error = net::writeAll(fd_, data, deadline, n);
    written = static_cast<ViUInt32>(n);
    switch (error) {
    case 0: return VI_SUCCESS;
    case ETIMEDOUT: return VI_ERROR_TMO;
    // The other end hung up (modem line dropped, adapter unplugged).
    case EPIPE:
    case EIO: return VI_ERROR_CONN_LOST;
    default: return VI_ERROR_IO;
    }
}

ViStatus SerialTransport::write(std::span<const ViByte> data, ViUInt32 &written) {
    written = 0;
    const net::Deadline deadline = net::Deadline::after(io_.timeoutMs);
    if (const ViStatus st = writeAll(data, written, deadline); st < 0) return st;
    if (io_.sendEnd && line_.endOut == VI_ASRL_END_TERMCHAR) {
        ViUInt32 extra = 0;
        const ViByte term = io_.termChar;
        if (const ViStatus st = writeAll({&term, 1}, extra, deadline); st < 0) return st;
    } else if (io_.sendEnd && line_.endOut == VI_ASRL_END_BREAK) {
        ::tcsendbreak(fd_, 0);
    }
    return VI_SUCCESS;
}

ViStatus SerialTransport::read(std::span<ViByte> buffer, ViUInt32 &got) {
    got = 0;
    const net::Deadline deadline = net::Deadline::after(io_.timeoutMs);
    const bool termChar = stopsAtTermChar();
    // 20 character times of 10 bits, at least 50 ms.
    const int quietMs =
        std::max<int>(50, static_cast<int>(200000 / std::max<ViUInt32>(line_.baud, 1)) + 1);
    std::size_t used = 0;
    for (;;) {
        while (used < pending_.size() && got < buffer.size()) {
            const ViByte b = pending_[used++];
            buffer[got++] = b;
            if (termChar && b == io_.termChar) {
                pending_.erase(pending_.begin(), pending_.begin() + static_cast<long>(used));
                return VI_SUCCESS_TERM_CHAR;
            }
        }
        pending_.erase(pending_.begin(), pending_.begin() + static_cast<long>(used));
        used = 0;
        if (got == buffer.size()) return VI_SUCCESS_MAX_CNT;

        const bool waitQuiet = got > 0 && !termChar;
        pollfd p{fd_, POLLIN, 0};
        const int r = ::poll(&p, 1, waitQuiet ? deadline.pollTimeout(quietMs) : deadline.pollTimeout());
        if (r < 0) {
            if (errno == EINTR) continue;
            return VI_ERROR_IO;
        }
        if (r == 0) {
            if (deadline.passed()) return VI_ERROR_TMO;
            if (waitQuiet) return VI_SUCCESS;  // the line went quiet: the answer is complete
            continue;
        }
        if (p.revents & POLLNVAL) return VI_ERROR_IO;
        std::array<ViByte, 4096> chunk;
        const ssize_t n = ::read(fd_, chunk.data(), chunk.size());
        if (n > 0) {
            pending_.insert(pending_.end(), chunk.begin(), chunk.begin() + n);
            continue;
        }
        // End of file or EIO on a terminal: the other end hung up (modem
        // line dropped, adapter unplugged, pseudo-terminal closed).
        if (n == 0 || errno == EIO) return VI_ERROR_CONN_LOST;
        if (errno != EAGAIN && errno != EINTR) return VI_ERROR_IO;
        if (p.revents & (POLLHUP | POLLERR)) return VI_ERROR_CONN_LOST;
    }
}

ViStatus SerialTransport::drain(const net::Deadline &deadline) {
    for (;;) {
        int queued = 0;
        if (::ioctl(fd_, TIOCOUTQ, &queued) != 0 || queued <= 0) return VI_SUCCESS;
        if (deadline.passed()) return VI_ERROR_TMO;
        ::poll(nullptr, 0, deadline.pollTimeout(5));
    }
}

ViStatus SerialTransport::flush(ViUInt16 mask) {
    if (const ViStatus st = checkFlushMask(mask); st < 0) return st;
    if (flushesInput(mask)) {
        pending_.clear();
        ::tcflush(fd_, TCIFLUSH);
    }
    if (mask & (VI_WRITE_BUF | VI_IO_OUT_BUF)) {
        if (const ViStatus st = drain(net::Deadline::after(io_.timeoutMs)); st < 0) return st;
    }
    if (mask & (VI_WRITE_BUF_DISCARD | VI_IO_OUT_BUF_DISCARD)) ::tcflush(fd_, TCOFLUSH);
    return VI_SUCCESS;
}

ViStatus SerialTransport::setAttribute(ViAttr attr, ViAttrState value) {
    if (const ViStatus st = io_.set(attr, value); st != VI_ERROR_NSUP_ATTR) return st;
    SerialSettings next = line_;
    if (const ViStatus st = next.set(attr, value); st < 0) return st;
    // The "last bit" end mode belongs to 9-bit lines, which termios has not.
    if ((attr == VI_ATTR_ASRL_END_IN || attr == VI_ATTR_ASRL_END_OUT) &&
        value == VI_ASRL_END_LAST_BIT)
        return VI_ERROR_NSUP_ATTR_STATE;
    if (isLineAttribute(attr)) {
        if (const ViStatus st = applyLine(next); st < 0) {
            applyLine(line_);
            return st;
        }
    }
    line_ = next;
    return VI_SUCCESS;
}

ViStatus SerialTransport::getAttribute(ViAttr attr, void *value) const {
    if (const ViStatus st = io_.get(attr, value); st != VI_ERROR_NSUP_ATTR) return st;
    return line_.get(attr, value);
}

}  // namespace korvax::visa

#include "visa/usbtmc_transport.h"

#include <fcntl.h>
#include <linux/usb/tmc.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <charconv>
#include <cstdio>
#include <filesystem>
#include <fstream>

#include "visa/resource_name.h"

namespace korvax::visa {
namespace {

namespace fs = std::filesystem;

// The first line of a sysfs attribute file, or "" when there is none.
std::string attribute(const fs::path &file) {
    std::ifstream in(file);
    std::string line;
    std::getline(in, line);
    while (!line.empty() && std::isspace(static_cast<unsigned char>(line.back()))) line.pop_back();
    return line;
}

// "0x1234" or "1234" in hexadecimal (sysfs writes ids without 0x); with
// `decimalUnlessPrefixed`, plain digits are decimal, as in a resource name.
std::optional<unsigned> number(std::string_view s, bool decimalUnlessPrefixed) {
    int base = decimalUnlessPrefixed ? 10 : 16;
    if (s.size() > 2 && s[0] == '0' && (s[1] == 'x' || s[1] == 'X')) {
        s.remove_prefix(2);
        base = 16;
    }
    unsigned value = 0;
    const auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), value, base);
    if (s.empty() || ec != std::errc{} || end != s.data() + s.size()) return std::nullopt;
    return value;
}

std::optional<UsbtmcDevice> describe(const fs::path &entry, const HostRoots &roots) {
    std::error_code ec;
    const fs::path interface = fs::canonical(entry / "device", ec);
    if (ec) return std::nullopt;
    const fs::path device = interface.parent_path();
    UsbtmcDevice d;
    const auto vendor = number(attribute(device / "idVendor"), false);
    const auto product = number(attribute(device / "idProduct"), false);
    d.serial = attribute(device / "serial");
    if (!vendor || !product || *vendor > 0xFFFF || *product > 0xFFFF || d.serial.empty())
        return std::nullopt;
    d.vendor = *vendor;
    d.product = *product;
    d.interface = number(attribute(interface / "bInterfaceNumber"), false).value_or(0);
    d.node = roots.dev + "/" + entry.filename().string();
    if (!fs::exists(d.node, ec)) return std::nullopt;
    char ids[32];
    std::snprintf(ids, sizeof ids, "USB0::0x%04X::0x%04X::", d.vendor, d.product);
    d.rsrc = ids + d.serial;
    if (d.interface != 0) d.rsrc += "::" + std::to_string(d.interface);
    d.rsrc += "::INSTR";
    // A serial number with blanks or "::" in it cannot be written as a name.
    if (!canonicalResourceName(d.rsrc) || splitFields(d.rsrc).size() != (d.interface ? 6u : 5u))
        return std::nullopt;
    return d;
}

ViStatus driverError(int error) {
    switch (error) {
    case ETIMEDOUT: return VI_ERROR_TMO;
    case ENODEV:
    case ESHUTDOWN:
    case ENXIO:
    case EIO: return VI_ERROR_CONN_LOST;  // unplugged, or the far end is gone
    default: return VI_ERROR_IO;
    }
}

}  // namespace

std::vector<UsbtmcDevice> listUsbtmcDevices(const HostRoots &roots) {
    std::vector<std::pair<unsigned, UsbtmcDevice>> found;
    std::error_code ec;
    const fs::path dir = fs::path(roots.sysfs) / "class" / "usbmisc";
    for (fs::directory_iterator it(dir, ec), end; !ec && it != end; it.increment(ec)) {
        const std::string name = it->path().filename().string();
        if (!name.starts_with("usbtmc")) continue;
        const auto n = number(std::string_view(name).substr(6), true);
        if (!n) continue;
        if (auto d = describe(it->path(), roots)) found.emplace_back(*n, std::move(*d));
    }
    std::sort(found.begin(), found.end(),
              [](const auto &a, const auto &b) { return a.first < b.first; });
    std::vector<UsbtmcDevice> out;
    out.reserve(found.size());
    for (auto &f : found) out.push_back(std::move(f.second));
    return out;
}

std::optional<std::string> usbtmcNodeOf(std::string_view rsrc, const HostRoots &roots) {
    const auto canonical = canonicalResourceName(rsrc);
    if (!canonical || !canonical->starts_with("USB")) return std::nullopt;
    // USB<board>::vid::pid::serial[::interface]::INSTR, serial as written.
    const auto parts = splitFields(rsrc);
    if (parts.size() < 4 || parts.size() > 6) return std::nullopt;
    const bool hasClass = upperCase(parts.back()) == "INSTR";
    const std::size_t idFields = parts.size() - (hasClass ? 1 : 0);
    if (idFields < 4 || idFields > 5) return std::nullopt;
    const auto vendor = number(parts[1], true);
    const auto product = number(parts[2], true);
    const auto interface = idFields == 5 ? number(parts[4], true) : std::optional<unsigned>(0);
    if (!vendor || !product || !interface) return std::nullopt;
    const std::string serial = upperCase(parts[3]);
    for (const UsbtmcDevice &d : listUsbtmcDevices(roots))
        if (d.vendor == *vendor && d.product == *product && upperCase(d.serial) == serial &&
            d.interface == *interface)
            return d.node;
    return std::nullopt;
}

UsbtmcTransport::UsbtmcTransport(int fd, bool driver) : fd_(fd), driver_(driver) {}

UsbtmcTransport::~UsbtmcTransport() { ::close(fd_); }

ViStatus UsbtmcTransport::open(const std::string &node, std::unique_ptr<Transport> &out) {
    int fd = ::open(node.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) return errno == EBUSY ? VI_ERROR_RSRC_BUSY : VI_ERROR_RSRC_NFOUND;
    unsigned timeout = 0;
    const bool driver = ::ioctl(fd, USBTMC_IOCTL_GET_TIMEOUT, &timeout) == 0;
    // A stand-in node is waited on with poll(), so it must never block.
    if (!driver) ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK);
    std::unique_ptr<UsbtmcTransport> t(new UsbtmcTransport(fd, driver));
    t->configureDriver();
    out = std::move(t);
    return VI_SUCCESS;
}

void UsbtmcTransport::configureDriver() {
    if (!driver_) return;
    // The driver refuses timeouts below 100 ms.
    __u32 timeout = std::max<ViUInt32>(io_.timeoutMs, 100);
    ::ioctl(fd_, USBTMC_IOCTL_SET_TIMEOUT, &timeout);
    __u8 eom = io_.sendEnd ? 1 : 0;
    ::ioctl(fd_, USBTMC_IOCTL_EOM_ENABLE, &eom);
}

ViStatus UsbtmcTransport::await(short events, const net::Deadline &deadline) const {
    for (;;) {
        pollfd p{fd_, events, 0};
        const int r = ::poll(&p, 1, deadline.pollTimeout());
        if (r < 0 && errno == EINTR) continue;
        if (r < 0) return VI_ERROR_IO;
        if (r == 0) return VI_ERROR_TMO;
        if (p.revents & POLLNVAL) return VI_ERROR_IO;
        if ((p.revents & events) == 0 && (p.revents & (POLLHUP | POLLERR)))
            return VI_ERROR_CONN_LOST;
        return VI_SUCCESS;
    }
}

ViStatus UsbtmcTransport::write(std::span<const ViByte> data, ViUInt32 &written) {
    written = 0;
    if (driver_) {
        const ssize_t n = ::write(fd_, data.data(), data.size());
        if (n < 0) return driverError(errno);
        written = static_cast<ViUInt32>(n);
        return VI_SUCCESS;
    }
    std::size_t n = 0;
    const int error = net::writeAll(fd_, data, net::Deadline::after(io_.timeoutMs), n);
    written = static_cast<ViUInt32>(n);
    if (error == 0) return VI_SUCCESS;
    return error == EPIPE ? VI_ERROR_CONN_LOST : driverError(error);
}

ViStatus UsbtmcTransport::read(std::span<ViByte> buffer, ViUInt32 &got) {
    got = 0;
    if (buffer.empty()) return VI_SUCCESS_MAX_CNT;
    ssize_t n = 0;
    if (driver_) {
        n = ::read(fd_, buffer.data(), buffer.size());
        if (n < 0) return driverError(errno);
    } else {
        // A pipe has no message boundaries: the message is what arrives
        // before the stream pauses for 20 ms.
        const net::Deadline deadline = net::Deadline::after(io_.timeoutMs);
        for (;;) {
            const ViStatus st =
                await(POLLIN, n > 0 ? net::Deadline::after(std::min<ViUInt32>(20, io_.timeoutMs)) : deadline);
            if (st == VI_ERROR_TMO && n > 0) break;
            if (st < 0) return st;
            const ssize_t r = ::read(fd_, buffer.data() + n, buffer.size() - static_cast<std::size_t>(n));
            if (r > 0) {
                n += r;
                if (static_cast<std::size_t>(n) == buffer.size()) break;
                continue;
            }
            if (r < 0 && (errno == EAGAIN || errno == EINTR)) continue;
            if (n > 0) break;
            return r == 0 ? VI_ERROR_CONN_LOST : driverError(errno);
        }
    }
    got = static_cast<ViUInt32>(n);
    if (io_.termCharEnabled && got > 0 && buffer[got - 1] == io_.termChar)
        return VI_SUCCESS_TERM_CHAR;
    return got == buffer.size() ? VI_SUCCESS_MAX_CNT : VI_SUCCESS;
}

ViStatus UsbtmcTransport::flush(ViUInt16 mask) {
    // The driver keeps no bytes between reads, so there is nothing to drop.
    return checkFlushMask(mask);
}

ViStatus UsbtmcTransport::setAttribute(ViAttr attr, ViAttrState value) {
    const ViStatus st = io_.set(attr, value);
    if (st >= 0) configureDriver();
    return st;
}

ViStatus UsbtmcTransport::getAttribute(ViAttr attr, void *value) const {
    return io_.get(attr, value);
}

}  // namespace korvax::visa

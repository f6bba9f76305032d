// Stand-ins for this machine's devices: pseudo-terminals and a temporary
// folder holding a device folder and a sysfs tree of the test's own. The
// library is pointed at them through KORVAX_DEV_ROOT and KORVAX_SYSFS_ROOT,
// so no test ever touches a real port.
#pragma once

#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <termios.h>
#include <unistd.h>

#include <array>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <string>
#include <vector>

namespace hosttest {

namespace fs = std::filesystem;

// A pseudo-terminal in raw mode; the test plays the instrument on master().
class Pty {
public:
    Pty() {
        master_ = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
        if (master_ < 0 || ::grantpt(master_) != 0 || ::unlockpt(master_) != 0)
            throw std::runtime_error("no pseudo-terminal");
        path_ = ::ptsname(master_);
        // Held so that the master does not report a hang-up between clients.
        held_ = ::open(path_.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
        termios tio{};
        ::tcgetattr(held_, &tio);
        ::cfmakeraw(&tio);
        ::tcsetattr(held_, TCSANOW, &tio);
    }
    ~Pty() { hangUp(); }
    Pty(const Pty &) = delete;
    Pty &operator=(const Pty &) = delete;

    const std::string &path() const { return path_; }
    int master() const { return master_; }

    void send(const std::string &bytes) const {
        if (::write(master_, bytes.data(), bytes.size()) != static_cast<ssize_t>(bytes.size()))
            throw std::runtime_error("pty write");
    }
    // What the client wrote, waiting at most `ms` for the first byte and
    // 50 ms for each further one.
    std::string received(int ms = 1000) const {
        std::string out;
        std::array<char, 4096> buf;
        for (int wait = ms; out.size() < (1u << 20); wait = 50) {
            pollfd p{master_, POLLIN, 0};
            if (::poll(&p, 1, wait) <= 0 || !(p.revents & POLLIN)) break;
            const ssize_t n = ::read(master_, buf.data(), buf.size());
            if (n <= 0) break;
            out.append(buf.data(), static_cast<std::size_t>(n));
        }
        return out;
    }
    termios line() const {
        termios tio{};
        ::tcgetattr(master_, &tio);
        return tio;
    }
    // Closes the master: the client's end of the line hangs up.
    void hangUp() {
        if (master_ >= 0) ::close(master_);
        if (held_ >= 0) ::close(held_);
        master_ = held_ = -1;
    }

private:
    int master_ = -1;
    int held_ = -1;
    std::string path_;
};

// A temporary folder removed with everything in it.
class TempDir {
public:
    TempDir() {
        std::string pattern = (fs::temp_directory_path() / "korvax-test-XXXXXX").string();
        if (!::mkdtemp(pattern.data())) throw std::runtime_error("mkdtemp");
        path_ = pattern;
    }
    ~TempDir() {
        std::error_code ec;
        fs::remove_all(path_, ec);
    }
    TempDir(const TempDir &) = delete;
    TempDir &operator=(const TempDir &) = delete;

    const fs::path &path() const { return path_; }

    // Writes a file, creating its folders.
    void file(const fs::path &relative, const std::string &text) const {
        fs::create_directories((path_ / relative).parent_path());
        std::ofstream(path_ / relative) << text;
    }
    void link(const fs::path &relative, const fs::path &target) const {
        fs::create_directories((path_ / relative).parent_path());
        fs::create_symlink(target, path_ / relative);
    }

private:
    fs::path path_;
};

// Points the library at a device folder and a sysfs tree for one scope.
class HostRoots {
public:
    HostRoots(const fs::path &dev, const fs::path &sysfs) {
        ::setenv("KORVAX_DEV_ROOT", dev.c_str(), 1);
        ::setenv("KORVAX_SYSFS_ROOT", sysfs.c_str(), 1);
    }
    ~HostRoots() {
        ::setenv("KORVAX_DEV_ROOT", kNowhere, 1);
        ::setenv("KORVAX_SYSFS_ROOT", kNowhere, 1);
    }
    HostRoots(const HostRoots &) = delete;
    HostRoots &operator=(const HostRoots &) = delete;

    // Where the suites point the library when no test tree is in place.
    static constexpr const char *kNowhere = "/nonexistent/korvax-test-root";
};

// Milliseconds a call took.
template <typename F>
long long elapsedMs(F &&call) {
    const auto start = std::chrono::steady_clock::now();
    call();
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() -
                                                                 start)
        .count();
}

}  // namespace hosttest

// korvax-sim as a child process of a test: started on a resource file of
// the test's own, on loopback ports picked free, and always stopped.
#pragma once

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

namespace korvax::testing {

// A TCP port of 127.0.0.1 that nobody listens on right now.
inline uint16_t freeLoopbackPort() {
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ::bind(fd, reinterpret_cast<sockaddr *>(&addr), sizeof addr);
    socklen_t len = sizeof addr;
    ::getsockname(fd, reinterpret_cast<sockaddr *>(&addr), &len);
    ::close(fd);
    return ntohs(addr.sin_port);
}

class SimServer {
public:
    // Starts the server on `config`, where "{raw}" stands for a raw-socket
    // port; the portmapper and raw ports are picked free here. Waits (5 s at
    // most) for `serving` lines. A port taken in the meantime by someone
    // else makes the server fail: it is tried again on other ports.
    // `args` go before the file; `maxFiles` (when not 0) limits the
    // descriptors the server may hold.
    SimServer(const std::string &config, int serving, std::vector<std::string> args = {},
              int maxFiles = 0)
        : serving_(serving), args_(std::move(args)), maxFiles_(maxFiles) {
        char dir[] = "/tmp/korvax-sim-test-XXXXXX";
        if (!::mkdtemp(dir)) throw std::runtime_error("mkdtemp");
        dir_ = dir;
        for (int attempt = 0;; ++attempt) {
            portmapperPort_ = freeLoopbackPort();
            rawPort_ = freeLoopbackPort();
            std::string text = config;
            for (std::size_t at; (at = text.find("{raw}")) != std::string::npos;)
                text.replace(at, 5, std::to_string(rawPort_));
            std::ofstream(dir_ + "/resources.conf") << text;
            try {
                start();
                return;
            } catch (const std::runtime_error &) {
                if (attempt == 4) throw;
            }
        }
    }
    uint16_t portmapperPort() const { return portmapperPort_; }
    uint16_t rawPort() const { return rawPort_; }
    ~SimServer() {
        stop(SIGTERM);
        std::remove((dir_ + "/resources.conf").c_str());
        std::remove((dir_ + "/out.txt").c_str());
        ::rmdir(dir_.c_str());
    }
    SimServer(const SimServer &) = delete;
    SimServer &operator=(const SimServer &) = delete;

    void start() {
        const char *program = std::getenv("KORVAX_SIM");
        if (!program) throw std::runtime_error("KORVAX_SIM is not set");
        const std::string out = dir_ + "/out.txt";
        const std::string conf = dir_ + "/resources.conf";
        const std::string port = std::to_string(portmapperPort_);
        // The lines of an earlier run must not count as this one's.
        std::remove(out.c_str());
        std::vector<const char *> argv = {program, "--portmapper-port", port.c_str()};
        for (const auto &a : args_) argv.push_back(a.c_str());
        argv.push_back(conf.c_str());
        argv.push_back(nullptr);
        pid_ = ::fork();
        if (pid_ == 0) {
            const int fd = ::open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
            ::dup2(fd, 1);
            ::dup2(fd, 2);
            ::close(fd);
            if (maxFiles_ > 0) {
                const rlimit limit{static_cast<rlim_t>(maxFiles_), static_cast<rlim_t>(maxFiles_)};
                ::setrlimit(RLIMIT_NOFILE, &limit);
            }
            ::execv(program, const_cast<char *const *>(argv.data()));
            ::_exit(127);
        }
        for (int i = 0; i < 100; ++i) {
            if (countServing() >= serving_) return;
            if (::waitpid(pid_, &status_, WNOHANG) == pid_) {  // it gave up
                pid_ = -1;
                break;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
        stop(SIGKILL);
        throw std::runtime_error("korvax-sim did not start: " + output());
    }

    // Ends the server with `sig` and reaps it (SIGKILL after 3 s).
    void stop(int sig) {
        if (pid_ <= 0) return;
        ::kill(pid_, sig);
        ::kill(pid_, SIGCONT);  // a paused server must run to see it
        for (int i = 0; i < 60; ++i) {
            if (::waitpid(pid_, &status_, WNOHANG) == pid_) {
                pid_ = -1;
                return;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
        ::kill(pid_, SIGKILL);
        ::waitpid(pid_, &status_, 0);
        pid_ = -1;
    }
    pid_t pid() const { return pid_; }
    void pause() { ::kill(pid_, SIGSTOP); }
    void resume() { ::kill(pid_, SIGCONT); }
    bool running() const { return pid_ > 0 && ::waitpid(pid_, nullptr, WNOHANG) == 0; }
    int exitStatus() const { return status_; }

    std::string output() const {
        std::ifstream in(dir_ + "/out.txt");
        std::stringstream s;
        s << in.rdbuf();
        return s.str();
    }

private:
    int countServing() const {
        std::istringstream lines(output());
        int n = 0;
        for (std::string line; std::getline(lines, line);) n += line.rfind("serving ", 0) == 0;
        return n;
    }

    std::string dir_;
    uint16_t portmapperPort_ = 0;
    uint16_t rawPort_ = 0;
    int serving_;
    std::vector<std::string> args_;
    int maxFiles_;
    pid_t pid_ = -1;
    int status_ = 0;
};

}  // namespace korvax::testing

#include "terminal.h"

#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>

namespace korvax::tools {

int terminalWidth(int fd) {
    winsize size{};
    if (ioctl(fd, TIOCGWINSZ, &size) == 0 && size.ws_col > 0) return size.ws_col;
    if (const char *c = std::getenv("COLUMNS")) {
        char *end = nullptr;
        const long width = std::strtol(c, &end, 10);
        if (end != c && *end == '\0' && width > 0 && width <= 10000) return static_cast<int>(width);
    }
    return 80;
}

std::string ProgressLine::render(uint64_t sent, uint64_t total, int width) {
    const int percent = total ? static_cast<int>(std::min<uint64_t>(100, sent * 100 / total)) : 0;
    const std::string counts =
        total ? std::to_string(sent) + "/" + std::to_string(total) + " bytes" : std::to_string(sent) + " bytes";
    std::string pct = std::to_string(percent) + "%";
    pct.insert(0, 4 - pct.size(), ' ');
    const int room = std::max(width - 1, 1);
    std::string tail = total ? pct + " " + counts : counts;
    constexpr int kNarrowestBar = 10;
    const int bar = room - 3 - static_cast<int>(tail.size());
    if (total && bar >= kNarrowestBar) {
        const int filled = static_cast<int>(static_cast<uint64_t>(bar) * std::min(sent, total) / total);
        return "[" + std::string(filled, '#') + std::string(bar - filled, ' ') + "] " + tail;
    }
    if (static_cast<int>(tail.size()) <= room) return tail;
    const std::string shortest = total ? pct.substr(pct.find_first_not_of(' ')) : counts;
    return shortest.substr(0, room);
}

std::optional<std::string> ProgressLine::update(uint64_t sent, uint64_t total, Clock::time_point now) {
    const bool final = total != 0 && sent >= total;
    if (last_ && !final && now - *last_ < kInterval) return std::nullopt;
    last_ = now;
    std::string line = render(sent, total, width_);
    // Blanks over whatever a longer earlier line left.
    const auto room = static_cast<size_t>(std::max(width_ - 1, 1));
    if (line.size() < room) line.append(room - line.size(), ' ');
    return "\r" + line;
}

}  // namespace korvax::tools

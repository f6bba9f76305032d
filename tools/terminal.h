// What korvax draws on a terminal: its width, and the progress line of a
// firmware update.
#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>

namespace korvax::tools {

// Columns of the terminal on fd (TIOCGWINSZ), else $COLUMNS, else 80.
int terminalWidth(int fd);

// The progress line of a transfer, redrawn in place ("\r") at most ten times
// a second however often blocks are acknowledged (a serial chassis
// acknowledges hundreds a second, and every redraw costs the terminal), and
// never wider than the terminal, so that it does not wrap into a new line
// at each redraw.
class ProgressLine {
public:
    using Clock = std::chrono::steady_clock;
    static constexpr auto kInterval = std::chrono::milliseconds(100);

    explicit ProgressLine(int width) : width_(width) {}
    // The text to draw now ("\r" first), or nothing when the last drawing is
    // too recent; the first and the final state (sent == total) are always drawn.
    std::optional<std::string> update(uint64_t sent, uint64_t total, Clock::time_point now);
    // "[####    ]  50% 512/1024 bytes" in at most width - 1 columns (the last
    // column of a line makes some terminals wrap); narrower terminals lose
    // the bar, then the byte counts.
    static std::string render(uint64_t sent, uint64_t total, int width);

private:
    int width_;
    std::optional<Clock::time_point> last_;
};

}  // namespace korvax::tools

#include "sim/server/relay_log.h"

#include <algorithm>
#include <cstdio>
#include <utility>
#include <vector>

namespace korvax::simserver {

std::string RelayLog::closedList(const sim::Chassis &chassis) {
    const int columns = chassis.geometry().columns;
    std::vector<std::pair<int, int>> closed;
    for (const sim::Crosspoint &x : chassis.closedCrosspoints())
        if (x.card >= 0) closed.emplace_back(x.row + 1, x.card * columns + x.column + 1);
    std::sort(closed.begin(), closed.end());
    if (closed.empty()) return "none";
    std::string text;
    for (const auto &[row, column] : closed) {
        if (!text.empty()) text += ' ';
        text += std::to_string(row) + '!' + std::to_string(column);
    }
    return text;
}

void RelayLog::frameApplied(const std::string &rsrc, const sim::Chassis &chassis) {
    const std::string line = rsrc + " closed: " + closedList(chassis) + "\n";
    std::lock_guard guard(lock_);
    (void)std::fputs(line.c_str(), stdout);
    (void)std::fflush(stdout);  // a line lost to a full disk is no reason to stop
}

}  // namespace korvax::simserver

#include "grid.h"

#include <algorithm>
#include <vector>

namespace korvax::tools {
namespace {

int digits(int n) {
    int d = 1;
    while (n >= 10) n /= 10, ++d;
    return d;
}

std::string span(int a, int b) {
    return a == b ? std::to_string(a) : std::to_string(a) + "-" + std::to_string(b);
}

// `text` right-aligned in a field of `width` characters.
std::string right(const std::string &text, int width) {
    const auto w = static_cast<size_t>(std::max(width, 0));
    return text.size() >= w ? text : std::string(w - text.size(), ' ') + text;
}

// Words of `text` in lines of at most `width` columns (a longer word stands alone).
std::string wrapped(const std::string &text, int width) {
    std::string out, line;
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find(' ', start);
        if (end == std::string::npos) end = text.size();
        const std::string word = text.substr(start, end - start);
        if (!line.empty() && static_cast<int>(line.size() + 1 + word.size()) > width) {
            out += line + '\n';
            line.clear();
        }
        line += (line.empty() ? "" : " ") + word;
        start = end + 1;
    }
    return out + line + '\n';
}

}  // namespace

std::string renderGrid(const GridLayout &layout, const std::set<Crosspoint> &closed,
                       const GridSelection &selection) {
    std::string out;
    if (layout.rows <= 0 || layout.cardColumns <= 0 || layout.cards <= 0) return "no cards\n";
    const int totalColumns = layout.cards * layout.cardColumns;
    const int cell = std::max(3, digits(totalColumns) + 1);
    const int label = digits(layout.rows) + 2;
    const int perWindow = std::max(1, (selection.width - label) / cell);
    const bool picked = selection.card.has_value() || selection.columns.has_value();

    std::vector<int> quietCards;  // wide, all open, summarised at the end
    for (int k = 1; k <= layout.cards; ++k) {
        if (selection.card && *selection.card != k) continue;
        int first = (k - 1) * layout.cardColumns + 1;
        int last = k * layout.cardColumns;
        if (selection.columns) {
            first = std::max(first, selection.columns->first);
            last = std::min(last, selection.columns->second);
            if (first > last) continue;
        }
        int closedHere = 0;
        for (const auto &p : closed)
            if (p.column >= first && p.column <= last && p.row <= layout.rows) ++closedHere;
        if (!picked && closedHere == 0 && last - first + 1 > perWindow) {
            quietCards.push_back(k);
            continue;
        }
        for (int w0 = first; w0 <= last; w0 += perWindow) {
            const int w1 = std::min(last, w0 + perWindow - 1);
            out += "card " + std::to_string(k) + ", columns " + span(w0, w1) + " (" +
                   std::to_string(closedHere) + " closed)\n";
            out += std::string(static_cast<size_t>(label), ' ');
            for (int c = w0; c <= w1; ++c) out += right(std::to_string(c), cell);
            out += '\n';
            for (int r = 1; r <= layout.rows; ++r) {
                out += right(std::to_string(r), label - 1) + " ";
                for (int c = w0; c <= w1; ++c)
                    out += right(closed.contains({r, c}) ? "X" : ".", cell);
                out += '\n';
            }
        }
    }
    if (!quietCards.empty()) {
        std::string list;
        for (size_t i = 0; i < quietCards.size();) {
            size_t j = i;
            while (j + 1 < quietCards.size() && quietCards[j + 1] == quietCards[j] + 1) ++j;
            if (!list.empty()) list += ", ";
            list += span(quietCards[i], quietCards[j]);
            i = j + 1;
        }
        out += wrapped(std::string(quietCards.size() > 1 ? "cards " : "card ") + list +
                           ": all open (see one with --card N or --columns A:B)",
                       selection.width);
    }
    if (out.empty()) out = "nothing selected\n";
    return out;
}

}  // namespace korvax::tools

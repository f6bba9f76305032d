// The chassis a panel serves: those of a topology file, those named on the
// command line, or every chassis discovery finds; and what the page shows
// of each beside its crosspoints (model, serial, firmware, cards).
#pragma once

#include <string>
#include <vector>

#include "korvax/switching.hpp"

namespace korvax::panel {

struct Card {
    int position = 0;         // 1 .. cards fitted
    int firstColumn = 0;      // in the command's numbering
    int lastColumn = 0;
};

struct ChassisInfo {
    std::string name, resource;
    std::string model;        // "RQ521"
    std::string serial, firmware, cardType;  // empty when the chassis would not say
    std::vector<Card> cards;  // fitted positions
    std::vector<int> slotsPresent;  // slots that report a board (board presence), when it answers
};

// The topology the panel opens. With a file, `named` picks chassis of it by
// name or resource (all when empty). Without one, the default topology file
// when it exists and nothing is named; else the resources named, or with
// none every chassis discovery finds, each named by its lowercase model
// ("rq521", "rq521-2" for a second). Throws switching::Error.
switching::Topology panelTopology(const std::string &file, const std::vector<std::string> &named,
                                  std::vector<std::string> &chosen);

// Identity and cards of each chassis a session opened.
std::vector<ChassisInfo> describe(switching::Session &session);

}  // namespace korvax::panel

// Why a chassis was not found: what the last discovery saw at each
// resource, in words a user can act on.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "korvax/extensions.h"

namespace korvax::tools {

// What the last discovery saw at each resource the VISA library listed.
std::vector<KORVAX_ProbeReport> discoveryReport();

// One word per outcome for JSON: "accepted", "beyond-limit", "open-failed",
// "write-failed", "no-answer", "not-ours", "unknown-model", "not-probed".
std::string outcomeWord(int32_t outcome);

// What happened at the resource, e.g. "answered as RQ521", "no answer to
// *IDN? within the timeout (VI_ERROR_TMO)".
std::string describe(const KORVAX_ProbeReport &report);

// The candidate a typo most likely meant: the nearest by edits (letter case
// aside), when it is near enough to be a slip; never `name` itself.
std::optional<std::string> closestName(std::string_view name, const std::vector<std::string> &candidates);

// Why `rsrc` is not among the chassis found: its line of the report, or
// that the VISA library did not list it, with the closest of `declared` and
// the listed names when one looks like what was meant.
std::string whyNotFound(const std::string &rsrc, const std::vector<std::string> &declared);

}  // namespace korvax::tools

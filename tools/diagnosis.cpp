#include "diagnosis.h"

#include <algorithm>
#include <cctype>

#include "errors.h"

namespace korvax::tools {
namespace {

constexpr int32_t kTimeout = static_cast<int32_t>(0xBFFF0015u);
constexpr int32_t kNotFound = static_cast<int32_t>(0xBFFF0011u);
constexpr int32_t kBadName = static_cast<int32_t>(0xBFFF0012u);
constexpr int32_t kBusy = static_cast<int32_t>(0xBFFF0072u);

std::string status(int32_t st) { return " (" + visaStatusName(st) + ")"; }

std::string model(const KORVAX_ProbeReport &r) {
    const std::string name = KORVAX_ModelName(r.model);
    return name.empty() ? "an unknown model" : name;
}

// Edits (insert, delete, replace, swap two neighbours) between a and b,
// letter case aside.
std::size_t distance(std::string_view a, std::string_view b) {
    const auto lower = [](char c) { return static_cast<char>(std::tolower(static_cast<unsigned char>(c))); };
    std::vector<std::vector<std::size_t>> d(a.size() + 1, std::vector<std::size_t>(b.size() + 1));
    for (std::size_t i = 0; i <= a.size(); ++i) d[i][0] = i;
    for (std::size_t j = 0; j <= b.size(); ++j) d[0][j] = j;
    for (std::size_t i = 1; i <= a.size(); ++i)
        for (std::size_t j = 1; j <= b.size(); ++j) {
            const bool same = lower(a[i - 1]) == lower(b[j - 1]);
            d[i][j] = std::min({d[i - 1][j] + 1, d[i][j - 1] + 1, d[i - 1][j - 1] + (same ? 0 : 1)});
            if (i > 1 && j > 1 && lower(a[i - 1]) == lower(b[j - 2]) && lower(a[i - 2]) == lower(b[j - 1]))
                d[i][j] = std::min(d[i][j], d[i - 2][j - 2] + 1);
        }
    return d[a.size()][b.size()];
}

}  // namespace

std::vector<KORVAX_ProbeReport> discoveryReport() {
    std::vector<KORVAX_ProbeReport> out(static_cast<std::size_t>(std::max(0, KORVAX_GetDiscoveryReport(0, nullptr))));
    for (uint32_t i = 0; i < out.size(); ++i)
        if (KORVAX_GetDiscoveryReport(i, &out[i]) <= static_cast<int32_t>(i)) out.resize(i);
    return out;
}

std::string outcomeWord(int32_t outcome) {
    switch (outcome) {
    case KORVAX_PROBE_ACCEPTED: return "accepted";
    case KORVAX_PROBE_BEYOND_LIMIT: return "beyond-limit";
    case KORVAX_PROBE_OPEN_FAILED: return "open-failed";
    case KORVAX_PROBE_WRITE_FAILED: return "write-failed";
    case KORVAX_PROBE_NO_ANSWER: return "no-answer";
    case KORVAX_PROBE_NOT_OURS: return "not-ours";
    case KORVAX_PROBE_UNKNOWN_MODEL: return "unknown-model";
    default: return "not-probed";
    }
}

std::string describe(const KORVAX_ProbeReport &r) {
    switch (r.outcome) {
    case KORVAX_PROBE_ACCEPTED: return "answered as " + model(r);
    case KORVAX_PROBE_BEYOND_LIMIT:
        if (r.model == 0) return "not probed: listed beyond the five chassis a discovery keeps";
        return "answered as " + model(r) + ", beyond the five chassis a discovery keeps: not kept";
    case KORVAX_PROBE_OPEN_FAILED:
        if (r.status == kNotFound) return "could not be opened: connection refused, or no such instrument there" + status(r.status);
        if (r.status == kTimeout) return "could not be opened: no answer within the timeout while connecting" + status(r.status);
        if (r.status == kBadName) return "not a valid VISA resource name" + status(r.status);
        if (r.status == kBusy) return "in use by another program" + status(r.status);
        return "could not be opened" + status(r.status);
    case KORVAX_PROBE_WRITE_FAILED: return "the identity query *IDN? could not be sent" + status(r.status);
    case KORVAX_PROBE_NO_ANSWER: {
        const std::string rates = r.baudRate == 0 && std::string_view(r.resource).starts_with("ASRL")
                                      ? " at any of the five baud rates"
                                      : "";
        if (r.status == kTimeout) return "no answer to *IDN? within the timeout" + rates + status(r.status);
        return "no answer to *IDN?" + rates + status(r.status);
    }
    case KORVAX_PROBE_NOT_OURS: return "answered '" + std::string(r.reply) + "': not our maker's identity";
    case KORVAX_PROBE_UNKNOWN_MODEL:
        return "answered '" + std::string(r.reply) + "': our maker, a model this library does not know (discovery stopped here)";
    default: return "not probed: discovery had stopped at a model it does not know";
    }
}

std::optional<std::string> closestName(std::string_view name, const std::vector<std::string> &candidates) {
    const std::size_t allowed = std::clamp<std::size_t>(name.size() / 6, 1, 3);
    std::optional<std::string> best;
    std::size_t bestDistance = allowed + 1;
    for (const auto &c : candidates) {
        if (c == name) continue;
        const std::size_t d = distance(name, c);
        if (d < bestDistance) {
            bestDistance = d;
            best = c;
        }
    }
    return best;
}

std::string whyNotFound(const std::string &rsrc, const std::vector<std::string> &declared) {
    const auto report = discoveryReport();
    std::vector<std::string> names = declared;
    std::string why;
    for (const auto &r : report) {
        names.emplace_back(r.resource);
        if (why.empty() && rsrc == r.resource) why = rsrc + ": " + describe(r);
    }
    if (why.empty())
        why = rsrc + ": not among the " + std::to_string(report.size()) + " resource(s) the VISA library listed";
    if (const auto meant = closestName(rsrc, names)) why += "; did you mean '" + *meant + "'?";
    return why;
}

}  // namespace korvax::tools

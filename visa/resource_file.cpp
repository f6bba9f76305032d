#include "visa/resource_file.h"

#include <algorithm>
#include <charconv>
#include <cstdlib>
#include <optional>
#include <set>

#include "visa/builtin_visa.h"
#include "visa/resource_name.h"

namespace korvax::visa {
namespace {

constexpr std::string_view kPortmapperPort = "portmapper-port";
constexpr std::string_view kSocketPort = "socket-port";

std::optional<uint16_t> port(std::string_view s) {
    unsigned value = 0;
    const auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), value);
    if (s.empty() || ec != std::errc{} || end != s.data() + s.size() || value == 0 || value > 0xFFFF)
        return std::nullopt;
    return static_cast<uint16_t>(value);
}

class Reader {
public:
    ResourceFileContent read(std::string_view text) {
        int lineNo = 0;
        while (!text.empty()) {
            ++lineNo;
            const std::size_t nl = text.find('\n');
            const std::string_view raw = text.substr(0, nl);
            text = nl == std::string_view::npos ? std::string_view() : text.substr(nl + 1);
            line(lineNo, trimmed(raw));
        }
        finish();
        sortByLine(out_.problems);
        return std::move(out_);
    }

private:
    void complain(int line, std::string message) {
        if (current_)
            current_->problems.push_back({line, std::move(message)});
        else
            out_.problems.push_back({line, std::move(message)});
    }

    void line(int n, std::string_view text) {
        if (text.empty() || text.front() == '#' || text.front() == ';') return;
        if (text.front() == '[') {
            finish();
            current_.emplace();
            current_->line = n;
            if (text.back() != ']') {
                complain(n, "a section header is [resource string]");
                return;
            }
            current_->name = trimmed(text.substr(1, text.size() - 2));
            const auto canonical = canonicalResourceName(current_->name);
            if (!canonical)
                complain(n, "\"" + current_->name + "\" is not a resource string");
            else if (!seen_.insert(*canonical).second)
                complain(n, "declared a second time");
            return;
        }
        const std::size_t eq = text.find('=');
        if (eq == std::string_view::npos) {
            complain(n, "expected [resource string] or key = value");
            return;
        }
        std::string key = lowerCase(trimmed(text.substr(0, eq)));
        if (!current_) {
            setting(n, key, lowerCase(trimmed(text.substr(eq + 1))));
            return;
        }
        if (std::any_of(current_->entries.begin(), current_->entries.end(),
                        [&](const ResourceFileEntry &e) { return e.key == key; }))
            complain(n, key + ": given twice");
        current_->entries.push_back({n, std::move(key), std::string(trimmed(text.substr(eq + 1)))});
    }

    // A setting of the library, before the first section.
    void setting(int n, const std::string &key, const std::string &value) {
        if (key != "serial-scan") {
            complain(n, key + ": not a setting (before the first [resource string] only "
                              "serial-scan may stand)");
        } else if (out_.scanAllSerialPorts) {
            complain(n, key + ": given twice");
        } else if (value == "all" || value == "named") {
            out_.scanAllSerialPorts = value == "all";
        } else {
            complain(n, key + ": expected all or named");
        }
    }

    // A section whose keys all say how to reach a real instrument.
    static bool namesInstrument(const ResourceFileSection &section) {
        return std::all_of(section.entries.begin(), section.entries.end(), [](const auto &e) {
            return e.key == kPortmapperPort || e.key == kSocketPort;
        });
    }

    void finish() {
        if (!current_) return;
        ResourceFileSection section = std::move(*current_);
        current_.reset();
        if (!namesInstrument(section)) {
            out_.served.push_back(std::move(section));
            return;
        }
        InstrumentDeclaration instrument{section.name, 0, 0};
        for (const ResourceFileEntry &e : section.entries) {
            const auto p = port(e.value);
            if (!p)
                section.problems.push_back({e.line, e.key + ": expected a port 1..65535"});
            else
                (e.key == kSocketPort ? instrument.socketPort : instrument.portmapperPort) = *p;
        }
        if (section.problems.empty())
            out_.instruments.push_back(std::move(instrument));
        else
            reportIgnored(section, out_.problems);
    }

    ResourceFileContent out_;
    std::optional<ResourceFileSection> current_;
    std::set<std::string> seen_;
};

}  // namespace

ResourceFileContent readResourceFile(std::string_view text) {
    return Reader().read(text);
}

void reportIgnored(ResourceFileSection &section, std::vector<ResourceFileProblem> &out) {
    const std::string ignored =
        " (resource " + (section.name.empty() ? std::string("section") : section.name) + " ignored)";
    for (auto &p : section.problems) out.push_back({p.line, std::move(p.message) + ignored});
    section.problems.clear();
}

void sortByLine(std::vector<ResourceFileProblem> &problems) {
    std::stable_sort(problems.begin(), problems.end(),
                     [](const auto &a, const auto &b) { return a.line < b.line; });
}

std::string resourceFilePath() {
    if (const char *chosen = std::getenv("KORVAX_VISA_RESOURCES")) return chosen;
    if (const char *xdg = std::getenv("XDG_CONFIG_HOME"); xdg && *xdg)
        return std::string(xdg) + "/korvax/resources.conf";
    if (const char *home = std::getenv("HOME"); home && *home)
        return std::string(home) + "/.config/korvax/resources.conf";
    return {};
}

}  // namespace korvax::visa

#include "visa-sim/chassis_file.h"

#include "sim/config_keys.h"

namespace korvax::visa {

std::optional<sim::Config> chassisConfigOf(ResourceFileSection &section) {
    std::vector<sim::ConfigLine> lines;
    lines.reserve(section.entries.size());
    for (const auto &e : section.entries) lines.push_back({e.line, e.key, e.value});
    return sim::configFromLines(lines, section.line, [&](int line, std::string message) {
        section.problems.push_back({line, std::move(message)});
    });
}

ParsedResourceFile parseResourceFile(std::string_view text) {
    ResourceFileContent content = readResourceFile(text);
    ParsedResourceFile out{{}, std::move(content.instruments), std::move(content.problems)};
    for (auto &section : content.served) {
        auto config = chassisConfigOf(section);
        if (config && section.problems.empty())
            out.resources.push_back({section.name, std::move(*config)});
        else
            reportIgnored(section, out.problems);
    }
    sortByLine(out.problems);
    return out;
}

}  // namespace korvax::visa

// The relay-state files the korvax command kept before the record: one per
// resource and sub-unit in the state folder. The record reads a chassis's
// file once, the first time it meets that chassis, with every value checked
// against the chassis: a file that cannot be believed is an error naming it,
// never "nothing closed" (that would open every relay the next frame does
// not name).
//
//   # korvax relay record 1
//   1!1
//   2!17
//   # end 2
//
// The header and the count at the end tell a whole file from a cut one;
// files of still earlier versions hold crosspoint lines only.
#pragma once

#include <filesystem>
#include <optional>
#include <set>
#include <string>
#include <string_view>

#include "korvax/switching.hpp"

namespace korvax::switching::core {

// What a crosspoint of the file must fit: the rows a frame switches and the
// columns of a whole chassis row.
struct LegacyLimits {
    std::string model;  // for messages, e.g. "RQ522"
    int rows = 0;
    int columns = 0;
};

// The file kept for the resource's sub-unit 0 in `folder`.
std::filesystem::path legacyStateFile(const std::filesystem::path &folder, std::string_view resource);

// The closed crosspoints the file holds; nullopt when there is no file.
// Throws Error (ErrorKind::Record) naming the file, and the line where one
// is at fault.
std::optional<std::set<Crosspoint>> readLegacyState(const std::filesystem::path &file, const LegacyLimits &limits);

}  // namespace korvax::switching::core

// Helpers around the library's status codes, shared by the backend and the
// session.
#pragma once

#include <cstdint>
#include <string>

#include "korvax/switching.hpp"

namespace korvax::switching {

// "Resource is not present (-10048 KORVAX_ERR_RESOURCE_ABSENT)".
std::string statusText(int32_t code);
// Throws Error (ErrorKind::Chassis) for a negative status.
void check(int32_t status, const std::string &what);

}  // namespace korvax::switching

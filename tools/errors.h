// Names of the library's status codes, as the public header spells them,
// so that a message can say which KORVAX_ERR_ code it was.
#pragma once

#include <cstdint>
#include <string>

namespace korvax::tools {

// "KORVAX_ERR_HANDLE" for -10023; "VISA status 0xBFFF0011" for a VISA code
// below the library's range; "KORVAX_OK" for 0.
std::string errorName(int32_t code);

// The library's own message for a status code.
std::string errorMessage(int32_t code);

}  // namespace korvax::tools

// Status codes and failure texts as a user should see them: the names of
// the public headers, the library's messages, the VISA statuses a
// discovery can meet, and which SCPI replies report a failure.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace korvax::tools {

// "KORVAX_ERR_HANDLE" for -10023, "KORVAX_OK" for 0; a VISA status (below
// the library's codes) is "KORVAX_ERR_VISA_API", as the library files them.
std::string errorName(int32_t code);

// The library's own message for a status code.
std::string errorMessage(int32_t code);

// "VI_ERROR_TMO" for the VISA statuses a session can end with; else the
// status in hex ("VISA status 0xBFFF0011").
std::string visaStatusName(int32_t status);

// The code a reply of KORVAX_SCPIQuery() reports failure with, or 0 for a
// reply that is an answer or a success text. A library message gives its
// own code, a lost exchange KORVAX_ERR_SEND / _RECEIVE, a refused command or
// argument (the parser's "Error: ..." texts, "Unknown ...", "Invalid ...")
// KORVAX_ERR_PARAMETER.
int32_t scpiFailure(std::string_view reply);

}  // namespace korvax::tools

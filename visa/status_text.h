// The texts of viStatusDesc.
#pragma once

#include <string>

#include "visa/visa.h"

namespace korvax::visa {

// "VI_ERROR_TMO: Timeout expired before operation completed." and the like;
// an unknown status is described with its number.
std::string statusDescription(ViStatus status);

}  // namespace korvax::visa

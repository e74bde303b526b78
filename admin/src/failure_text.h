#pragma once

#include <string>

#include "qs/fault/exception.h"

namespace qs::admin {

// One line for a failure of the record layer: what its three expected codes mean, or
// the code.
std::string failure_text(const exception& e);

} // namespace qs::admin

#pragma once

#include <string>

#include "qs/fault/exception.h"
#include "qs/store/db_error.h"

namespace qs::admin {

// One line: the driver's SQLSTATE and messages, and the missing SQLite file if that is why.
std::string failure_text(const db_error& e);

// One line for a failure of the record layer.
std::string failure_text(const exception& e);

} // namespace qs::admin

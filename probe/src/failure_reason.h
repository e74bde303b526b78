#pragma once

#include <exception>
#include <string>

namespace qs::probe {

// One line telling why opening a table failed: the driver's SQLSTATE and messages for
// a db_error, the code of a record-layer exception (counted from 0), or the text of
// anything else.
std::string failure_reason(const std::exception_ptr& failure);

} // namespace qs::probe

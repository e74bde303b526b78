#pragma once

#include <ostream>

#include "qs/store/odbc/connection.h"

namespace qs::admin {

// Opens userinfo, groupinfo and msgpool with every column the server reads, printing
// "TABLE: ok" for each; throws failure naming the first that does not open, and why.
void check_tables(odbc::connection& conn, std::ostream& out);

} // namespace qs::admin

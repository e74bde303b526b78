#pragma once

#include <ostream>

#include "qs/store/odbc/connection.h"

namespace qs::admin {

// Opens userinfo, groupinfo and msgpool with every column the server reads, printing
// "TABLE: ok" for each; throws failure naming the first that does not open, and why.
// On PostgreSQL then the cluster tables nodes and sessions: "TABLE: ok", or a line
// "warning: table TABLE: ..." for one that does not open with its columns.
void check_tables(odbc::connection& conn, std::ostream& out);

} // namespace qs::admin

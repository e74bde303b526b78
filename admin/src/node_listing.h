#pragma once

#include <ostream>

#include "qs/store/odbc/connection.h"

namespace qs::admin {

// "NAME: live|dead, S s of lease left, started TIME UTC, N sessions": each node of a
// cluster sharing the database, by name, measured by the database's clock; one line
// saying so when there is none. Throws failure on SQLite (no cluster) or when a
// cluster table is missing.
void list_nodes(odbc::connection& conn, std::ostream& out);

} // namespace qs::admin

#pragma once

#include <string>

#include "qs/store/odbc/connection.h"

namespace qs::admin {

// Writes a consistent copy of a SQLite database to file, which must not exist yet
// (VACUUM INTO). Throws failure for another kind of database or an existing file.
void backup_sqlite(odbc::connection& conn, const std::string& file);

} // namespace qs::admin

#pragma once

#include <sql.h>

namespace qs::odbc {

// The process's one ODBC environment (ODBC 3), made on first use and kept for the
// life of the process. Safe to reach from any thread.
SQLHENV environment();

} // namespace qs::odbc

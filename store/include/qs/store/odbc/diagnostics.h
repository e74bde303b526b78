#pragma once

#include <sql.h>

#include "qs/store/db_error.h"

namespace qs::odbc {

// The driver's diagnostics for a handle gathered into one error: the first record's
// SQLSTATE and every record's message.
db_error diagnostics(SQLSMALLINT handle_type, SQLHANDLE handle, const char* what);

// Throws the handle's diagnostics when rc is not a success.
void check(SQLRETURN rc, SQLSMALLINT handle_type, SQLHANDLE handle, const char* what);

} // namespace qs::odbc

#pragma once

#include <string>

#include "qs/store/odbc/connection.h"

namespace qs {

// Writes the userinfo and msgpool rows of a new user in one transaction on conn, then
// turns autocommit back on; password as it is to be stored. On a failure it rolls back
// and rethrows it (db_error, or exception of the record layer); a connection too broken
// to roll back is left as it is.
void add_user_rows(odbc::connection& conn, const std::string& name, const std::string& password);

} // namespace qs

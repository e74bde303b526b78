#pragma once

#include "qs/store/odbc/connection.h"

namespace qs::odbc {

// The descriptor of the TCP socket a PostgreSQL connection talks through, found by the
// ports the server sees at both ends; -1 when it cannot be told (a Unix socket, a proxy
// between). Runs one statement on conn.
int connection_socket(connection& conn);

} // namespace qs::odbc

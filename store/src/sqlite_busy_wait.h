#pragma once

#include <string>

namespace qs::odbc {

// connect_string, and for the SQLite driver a busy wait of at most limit_ms: how long it
// waits for another connection's lock is its Timeout, else its data source's, else the
// driver's default of 100 s.
std::string with_busy_wait_limit(const std::string& connect_string, long limit_ms);

} // namespace qs::odbc

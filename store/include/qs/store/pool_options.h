#pragma once

#include <chrono>
#include <string>

namespace qs {

// How a connection_pool connects and how long it waits.
struct pool_options {
    std::string connect_string = "DSN=Quillspeak Database;";
    int size = 4;                                 // connections kept open
    unsigned timeout_seconds = 10;                // statement time-out; also the longest wait to borrow
    std::chrono::milliseconds first_backoff{100}; // after a failed connect
    std::chrono::milliseconds longest_backoff{5000};
    // While the database is unavailable, how often a probe checks whether it is back, and
    // the statement it runs: one that needs what the pool's users need (a write lock).
    std::chrono::milliseconds probe_interval{1000};
    std::string probe_sql = "SELECT 1";
};

} // namespace qs

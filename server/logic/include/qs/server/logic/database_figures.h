#pragma once

#include <cstddef>
#include <cstdint>

namespace qs {

// The database connections at one moment, for /metrics.
struct database_figures {
    std::size_t in_use = 0;  // connections borrowed
    std::size_t waiting = 0; // threads waiting to borrow one
    std::uint64_t timeouts = 0;
    bool available = true;
};

} // namespace qs

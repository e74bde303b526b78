#pragma once

#include <memory>

namespace qs {

class connection_pool;
struct pool_options;

// A connection_pool owned through a pointer, for code that must not see ODBC's headers:
// it makes and ends the pool without its definition.
struct connection_pool_deleter {
    void operator()(connection_pool* pool) const noexcept;
};
using owned_pool = std::unique_ptr<connection_pool, connection_pool_deleter>;

owned_pool open_pool(const pool_options& options);

} // namespace qs

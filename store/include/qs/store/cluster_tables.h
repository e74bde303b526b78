#pragma once

#include <array>
#include <optional>
#include <string>
#include <string_view>

#include "qs/store/odbc/connection.h"

namespace qs {

// A table of cluster mode (PostgreSQL only) with the columns the nodes use.
struct cluster_table {
    std::string_view name;
    std::string_view columns;
};

inline constexpr std::array<cluster_table, 2> cluster_tables{{
    {"nodes", "name, lease_until, started"},
    {"sessions", "username, node, since, status"},
}};

// Why the table does not open with its columns on conn: "no such table", or the
// driver's reason naming a missing column; nothing when it opens. Other failures
// (the connection, a permission) pass through as db_error.
std::optional<std::string> cluster_table_problem(odbc::connection& conn, const cluster_table& table);

// "table NAME: PROBLEM; cluster mode needs it (single-node servers do not)".
std::string cluster_table_warning(const cluster_table& table, const std::string& problem);

} // namespace qs

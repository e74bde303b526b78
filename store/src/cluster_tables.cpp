#include "qs/store/cluster_tables.h"

#include "qs/store/db_error_text.h"
#include "qs/store/odbc/statement.h"

namespace qs {

namespace {

constexpr const char* undefined_table = "42P01";
constexpr const char* undefined_column = "42703";

} // namespace

std::optional<std::string> cluster_table_problem(odbc::connection& conn, const cluster_table& table)
{
    try {
        odbc::statement stmt(conn);
        stmt.execute("SELECT " + std::string(table.columns) + " FROM " + std::string(table.name) + " WHERE 1 = 0");
        return std::nullopt;
    } catch (const db_error& e) {
        if (e.sqlstate() == undefined_table)
            return "no such table";
        if (e.sqlstate() == undefined_column)
            return db_error_text(e);
        throw;
    }
}

std::string cluster_table_warning(const cluster_table& table, const std::string& problem)
{
    return "table " + std::string(table.name) + ": " + problem + "; cluster mode needs it (single-node servers do not)";
}

} // namespace qs

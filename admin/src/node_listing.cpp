#include "node_listing.h"

#include "admin_error.h"
#include "qs/store/cluster_tables.h"
#include "qs/store/odbc/statement.h"

namespace qs::admin {

namespace {

// Live as the nodes count it: while lease_until is ahead of the database's now(). A
// live node's lease left rounds up, so it never reads 0 s.
constexpr const char* node_rows = "SELECT n.name, CASE WHEN n.lease_until > now() THEN 'live' ELSE 'dead' END, "
                                  "CAST(GREATEST(0, CEIL(EXTRACT(EPOCH FROM n.lease_until - now()))) AS BIGINT), "
                                  "to_char(n.started AT TIME ZONE 'UTC', 'YYYY-MM-DD HH24:MI:SS'), "
                                  "(SELECT count(*) FROM sessions s WHERE s.node = n.name) "
                                  "FROM nodes n ORDER BY n.name";

void require_cluster_tables(odbc::connection& conn)
{
    if (conn.kind() != odbc::dialect::postgresql)
        throw failure("cluster mode needs PostgreSQL: this database has no nodes");
    for (const auto& table : cluster_tables)
        if (const auto problem = cluster_table_problem(conn, table))
            throw failure(cluster_table_warning(table, *problem));
}

std::string sessions(const std::string& count)
{
    return count + (count == "1" ? " session" : " sessions");
}

} // namespace

void list_nodes(odbc::connection& conn, std::ostream& out)
{
    require_cluster_tables(conn);
    odbc::statement stmt(conn);
    stmt.execute(node_rows);
    bool any = false;
    for (; stmt.fetch(); any = true)
        out << stmt.text(1) << ": " << stmt.text(2) << ", " << stmt.text(3) << " s of lease left, started "
            << stmt.text(4) << " UTC, " << sessions(stmt.text(5)) << '\n';
    if (!any)
        out << "No nodes: no cluster node has registered in this database.\n";
}

} // namespace qs::admin

#include "table_check.h"

#include "admin_error.h"
#include "qs/store/cluster_tables.h"
#include "qs/store/db_error_text.h"
#include "qs/store/group_info.h"
#include "qs/store/msg_pool.h"
#include "qs/store/user_info.h"

namespace qs::admin {

namespace {

void check_table(const char* table, recordset& record, std::ostream& out)
{
    try {
        record.open();
        record.close();
    } catch (const db_error& e) {
        throw failure(std::string("table ") + table + ": " + db_error_text(e));
    }
    out << table << ": ok\n";
}

// A missing cluster table is only a warning: single-node servers never use them.
void check_cluster_tables(odbc::connection& conn, std::ostream& out)
{
    for (const auto& table : cluster_tables) {
        if (const auto problem = cluster_table_problem(conn, table))
            out << "warning: " << cluster_table_warning(table, *problem) << '\n';
        else
            out << table.name << ": ok\n";
    }
}

} // namespace

void check_tables(odbc::connection& conn, std::ostream& out)
{
    user_info users(&conn);
    group_info groups(&conn);
    msg_pool pools(&conn);
    check_table("userinfo", users, out);
    check_table("groupinfo", groups, out);
    check_table("msgpool", pools, out);
    if (conn.kind() == odbc::dialect::postgresql)
        check_cluster_tables(conn, out);
}

} // namespace qs::admin

// qsprobe: opens each of the server's three tables once and tells the operator
// whether the database "Quillspeak Database" is set up; on PostgreSQL it then looks at
// the cluster tables, which only cluster mode needs. Changes nothing.
#include <iostream>

#include "arguments.h"
#include "failure_reason.h"
#include "key_press.h"
#include "qs/store/cluster_tables.h"
#include "qs/store/group_info.h"
#include "qs/store/msg_pool.h"
#include "qs/store/odbc/connection.h"
#include "qs/store/store_codes.h"
#include "qs/store/user_info.h"
#include "qs/version.h"

namespace {

void try_table(const char* table, qs::recordset& record)
{
    std::cout << "Trying to access table: " << table << "..." << std::flush;
    record.open();
    record.close();
    std::cout << "Ok." << std::endl;
}

// A cluster table that does not open is a warning, not a failure.
void try_cluster_tables()
{
    qs::odbc::connection conn(qs::recordset::data_source());
    if (conn.kind() != qs::odbc::dialect::postgresql)
        return;
    for (const auto& table : qs::cluster_tables) {
        std::cout << "Trying to access table: " << table.name << "..." << std::flush;
        if (const auto problem = qs::cluster_table_problem(conn, table))
            std::cout << "Warning." << std::endl << qs::cluster_table_warning(table, *problem) << std::endl;
        else
            std::cout << "Ok." << std::endl;
    }
}

// True when all three tables open; otherwise says which failed and why.
bool check_tables()
{
    qs::user_info users;
    qs::group_info groups;
    qs::msg_pool pools;
    try {
        try_table("userinfo", users);
        try_table("groupinfo", groups);
        try_table("msgpool", pools);
        try_cluster_tables();
        std::cout << std::endl << "Finished" << std::endl;
        return true;
    } catch (...) {
        std::cout << "Failed." << std::endl << "Please check the table(s) in the database." << std::endl;
        std::cout << qs::probe::failure_reason(std::current_exception()) << std::endl;
        return false;
    }
}

} // namespace

int main(int argc, char** argv)
{
    using qs::probe::action;
    const auto args = qs::probe::parse_arguments(argc, argv);
    switch (args.what) {
    case action::help:
        qs::probe::print_usage(std::cout);
        return 0;
    case action::version:
        std::cout << "qsprobe (Quillspeak) " QS_VERSION << std::endl;
        return 0;
    case action::usage_error:
        std::cerr << "qsprobe: unexpected argument '" << args.unexpected << "'" << std::endl;
        qs::probe::print_usage(std::cerr);
        return 2;
    case action::check:
        break;
    }
    qs::store_codes::set_max_field_len(255);
    std::cout << "Quillspeak database probe " QS_VERSION " - checks the tables of \"Quillspeak Database\"" << std::endl;
    qs::prompt_for_key("Press any key to begin the test...");
    const bool ok = check_tables();
    qs::prompt_for_key("Press any key to continue...");
    return ok ? 0 : 1;
}

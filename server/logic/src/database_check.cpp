#include "qs/server/logic/server_state.h"
#include "qs/store/database.h"
#include "qs/store/odbc/statement.h"

namespace qs {

std::string server_state::check_database()
{
    return db_->pool().run([](pooled_connection& c) {
        for (const char* table : {"userinfo", "groupinfo", "msgpool"}) {
            odbc::statement stmt(c.conn());
            stmt.execute(std::string("SELECT * FROM ") + table + " WHERE 1 = 0");
        }
        switch (c.conn().kind()) {
        case odbc::dialect::sqlite:
            return std::string("SQLite");
        case odbc::dialect::postgresql:
            return std::string("PostgreSQL");
        default:
            return std::string("ODBC");
        }
    });
}

} // namespace qs

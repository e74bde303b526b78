#include "sqlite_backup.h"

#include <filesystem>

#include "admin_error.h"
#include "qs/store/odbc/statement.h"

namespace qs::admin {

void backup_sqlite(odbc::connection& conn, const std::string& file)
{
    if (conn.kind() == odbc::dialect::postgresql)
        throw failure("backup copies SQLite databases only: back up PostgreSQL with pg_dump");
    if (conn.kind() != odbc::dialect::sqlite)
        throw failure("backup copies SQLite databases only");
    if (file.empty())
        throw failure("the backup file name is empty");
    std::error_code error;
    if (std::filesystem::exists(std::filesystem::symlink_status(file, error)))
        throw failure("'" + file + "' exists already");
    odbc::statement stmt(conn);
    stmt.execute("VACUUM INTO ?", {std::filesystem::absolute(file).string()});
}

} // namespace qs::admin

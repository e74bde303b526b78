#pragma once

#include <sql.h>
#include <string>
#include <vector>

#include "qs/store/odbc/connection.h"

namespace qs::odbc {

// One statement on a connection, used by the connection's thread only. Every
// parameter and column is text exchanged as single-byte characters (SQL_C_CHAR):
// bytes pass unchanged.
class statement {
public:
    explicit statement(connection& conn);
    ~statement();
    statement(const statement&) = delete;
    statement& operator=(const statement&) = delete;

    // Runs sql with each ? bound to the matching text. Throws db_error.
    void execute(const std::string& sql, const std::vector<std::string>& params = {});
    // Prepares sql once; run() then executes it with each ? bound to the matching text.
    void prepare(const std::string& sql);
    void run(const std::vector<std::string>& params);
    // Moves to the next row of the result; false past the last one.
    bool fetch();
    // Column 1.. of the current row as text; NULL reads as "".
    std::string text(int column);
    // Rows changed by the last INSERT, UPDATE or DELETE.
    long row_count();

private:
    void bind(const std::vector<std::string>& params, std::vector<SQLLEN>& lengths);
    void finish(SQLRETURN rc);

    connection& conn_;
    SQLHSTMT stmt_ = SQL_NULL_HSTMT;
};

} // namespace qs::odbc

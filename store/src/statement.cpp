#include "qs/store/odbc/statement.h"

#include <sqlext.h>

#include "qs/store/odbc/diagnostics.h"

namespace qs::odbc {

namespace {

constexpr SQLULEN long_text = 4000; // longer parameters go as SQL_LONGVARCHAR

} // namespace

statement::statement(connection& conn) : conn_(conn)
{
    check(SQLAllocHandle(SQL_HANDLE_STMT, conn.handle(), &stmt_), SQL_HANDLE_DBC, conn.handle(),
          "allocating a statement");
    // Drivers without a query timeout refuse it; the statement then runs without one.
    SQLSetStmtAttr(stmt_, SQL_ATTR_QUERY_TIMEOUT, reinterpret_cast<SQLPOINTER>(conn.timeout_seconds()), 0);
}

statement::~statement()
{
    SQLFreeHandle(SQL_HANDLE_STMT, stmt_);
}

void statement::bind(const std::vector<std::string>& params, std::vector<SQLLEN>& lengths)
{
    SQLFreeStmt(stmt_, SQL_CLOSE);
    SQLFreeStmt(stmt_, SQL_RESET_PARAMS);
    lengths.resize(params.size());
    for (std::size_t i = 0; i < params.size(); ++i) {
        lengths[i] = static_cast<SQLLEN>(params[i].size());
        SQLULEN size = params[i].empty() ? 1 : params[i].size();
        SQLRETURN rc = SQLBindParameter(stmt_, static_cast<SQLUSMALLINT>(i + 1), SQL_PARAM_INPUT, SQL_C_CHAR,
                                        size > long_text ? SQL_LONGVARCHAR : SQL_VARCHAR, size, 0,
                                        const_cast<char*>(params[i].data()), lengths[i], &lengths[i]);
        check(rc, SQL_HANDLE_STMT, stmt_, "binding a parameter");
    }
}

void statement::finish(SQLRETURN rc)
{
    conn_.statement_ran();
    if (rc != SQL_NO_DATA) // a searched UPDATE or DELETE that touched no row
        check(rc, SQL_HANDLE_STMT, stmt_, "running a statement");
}

void statement::execute(const std::string& sql, const std::vector<std::string>& params)
{
    std::vector<SQLLEN> lengths;
    bind(params, lengths);
    connection::in_driver waiting(conn_);
    finish(SQLExecDirect(stmt_, reinterpret_cast<SQLCHAR*>(const_cast<char*>(sql.c_str())), SQL_NTS));
}

void statement::prepare(const std::string& sql)
{
    SQLRETURN rc = SQLPrepare(stmt_, reinterpret_cast<SQLCHAR*>(const_cast<char*>(sql.c_str())), SQL_NTS);
    check(rc, SQL_HANDLE_STMT, stmt_, "preparing a statement");
}

void statement::run(const std::vector<std::string>& params)
{
    std::vector<SQLLEN> lengths;
    bind(params, lengths);
    connection::in_driver waiting(conn_);
    finish(SQLExecute(stmt_));
}

bool statement::fetch()
{
    connection::in_driver waiting(conn_);
    SQLRETURN rc = SQLFetch(stmt_);
    if (rc == SQL_NO_DATA)
        return false;
    check(rc, SQL_HANDLE_STMT, stmt_, "fetching a row");
    return true;
}

std::string statement::text(int column)
{
    std::string out;
    char chunk[4096];
    for (;;) {
        SQLLEN indicator = 0;
        SQLRETURN rc =
            SQLGetData(stmt_, static_cast<SQLUSMALLINT>(column), SQL_C_CHAR, chunk, sizeof chunk, &indicator);
        if (rc == SQL_NO_DATA)
            break;
        check(rc, SQL_HANDLE_STMT, stmt_, "reading a column");
        if (indicator == SQL_NULL_DATA)
            break;
        // A cut piece fills the chunk but for its terminator.
        bool whole = indicator != SQL_NO_TOTAL && indicator < static_cast<SQLLEN>(sizeof chunk);
        out.append(chunk, whole ? static_cast<std::size_t>(indicator) : sizeof chunk - 1);
        if (whole)
            break;
    }
    return out;
}

long statement::row_count()
{
    SQLLEN n = 0;
    check(SQLRowCount(stmt_, &n), SQL_HANDLE_STMT, stmt_, "counting rows");
    return static_cast<long>(n);
}

} // namespace qs::odbc

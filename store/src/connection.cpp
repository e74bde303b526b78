#include "qs/store/odbc/connection.h"

#include <algorithm>
#include <sqlext.h>

#include "qs/store/odbc/diagnostics.h"
#include "qs/store/odbc/environment.h"
#include "qs/sync/mutex.h"

namespace qs::odbc {

namespace {

// The SQLite driver keeps a process-wide list while it reads the data source's settings
// and corrupts it when two threads connect or disconnect at once (seen: a cycle that
// spins for ever). unixODBC does not serialise these calls, so we do.
qs::mutex& driver_setup_lock()
{
    static qs::mutex lock;
    return lock;
}

} // namespace

connection::connection(const std::string& connect_string, SQLULEN timeout_seconds) : timeout_(timeout_seconds)
{
    SQLHENV env = environment();
    check(SQLAllocHandle(SQL_HANDLE_DBC, env, &dbc_), SQL_HANDLE_ENV, env, "allocating a connection");
    const SQLULEN login_timeout = std::min<SQLULEN>(timeout_seconds, 10);
    SQLSetConnectAttr(dbc_, SQL_ATTR_LOGIN_TIMEOUT, reinterpret_cast<SQLPOINTER>(login_timeout), 0);
    std::string in = connect_string;
    qs::unique_lock setup(driver_setup_lock());
    SQLRETURN rc = SQLDriverConnect(dbc_, nullptr, reinterpret_cast<SQLCHAR*>(in.data()), SQL_NTS,
                                    nullptr, 0, nullptr, SQL_DRIVER_NOPROMPT);
    if (!SQL_SUCCEEDED(rc)) {
        db_error error = diagnostics(SQL_HANDLE_DBC, dbc_, "connecting to the data source");
        SQLFreeHandle(SQL_HANDLE_DBC, dbc_);
        throw error;
    }
    setup.unlock();
    read_dialect();
}

void connection::read_dialect()
{
    char name[64] = {};
    SQLSMALLINT len = 0;
    if (!SQL_SUCCEEDED(SQLGetInfo(dbc_, SQL_DBMS_NAME, name, sizeof name, &len)))
        return;
    const std::string dbms = name;
    if (dbms.find("SQLite") != std::string::npos)
        dialect_ = dialect::sqlite;
    else if (dbms.find("PostgreSQL") != std::string::npos)
        dialect_ = dialect::postgresql;
}

bool connection::is_dead() const
{
    SQLUINTEGER dead = SQL_CD_FALSE;
    SQLRETURN rc = SQLGetConnectAttr(dbc_, SQL_ATTR_CONNECTION_DEAD, &dead, 0, nullptr);
    return SQL_SUCCEEDED(rc) && dead == SQL_CD_TRUE;
}

connection::~connection()
{
    qs::lock_guard setup(driver_setup_lock());
    SQLDisconnect(dbc_);
    SQLFreeHandle(SQL_HANDLE_DBC, dbc_);
}

void connection::set_autocommit(bool on)
{
    SQLULEN value = on ? SQL_AUTOCOMMIT_ON : SQL_AUTOCOMMIT_OFF;
    check(SQLSetConnectAttr(dbc_, SQL_ATTR_AUTOCOMMIT, reinterpret_cast<SQLPOINTER>(value), 0),
          SQL_HANDLE_DBC, dbc_, "setting autocommit");
}

void connection::commit()
{
    end_transaction(SQL_COMMIT);
}

void connection::rollback()
{
    end_transaction(SQL_ROLLBACK);
}

void connection::end_transaction(SQLSMALLINT how)
{
    check(SQLEndTran(SQL_HANDLE_DBC, dbc_, how), SQL_HANDLE_DBC, dbc_, "ending the transaction");
}

} // namespace qs::odbc

#include "qs/store/odbc/connection.h"

#include <algorithm>
#include <sqlext.h>
#include <sys/socket.h>

#include "qs/store/odbc/diagnostics.h"
#include "qs/store/odbc/environment.h"
#include "qs/sync/mutex.h"
#include "connection_socket.h"
#include "sqlite_busy_wait.h"

namespace qs::odbc {

namespace {

// The SQLite driver keeps a process-wide list while it reads the data source's settings
// and corrupts it when two threads connect or disconnect at once (seen: a cycle that
// spins for ever). unixODBC does not serialise these calls, so we do: every connect
// (the driver is not known before), and the disconnects of drivers other than PostgreSQL's.
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
    // SQLite waits for another writer's lock as long as its data source says, a minute
    // or more perhaps, and the driver waits that long twice when it retries the
    // statement: half the time-out each, so that a statement ends within it, as a
    // PostgreSQL server's query time-out has it.
    std::string in = with_busy_wait_limit(connect_string, static_cast<long>(timeout_seconds) * 500);
    qs::unique_lock setup(driver_setup_lock());
    SQLRETURN rc = SQLDriverConnect(dbc_, nullptr, reinterpret_cast<SQLCHAR*>(in.data()), SQL_NTS, nullptr, 0, nullptr,
                                    SQL_DRIVER_NOPROMPT);
    if (!SQL_SUCCEEDED(rc)) {
        db_error error = diagnostics(SQL_HANDLE_DBC, dbc_, "connecting to the data source");
        SQLFreeHandle(SQL_HANDLE_DBC, dbc_);
        throw error;
    }
    setup.unlock();
    read_dialect();
    if (dialect_ == dialect::postgresql)
        socket_ = connection_socket(*this);
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
    if (was_cut())
        return true;
    SQLUINTEGER dead = SQL_CD_FALSE;
    SQLRETURN rc = SQLGetConnectAttr(dbc_, SQL_ATTR_CONNECTION_DEAD, &dead, 0, nullptr);
    return SQL_SUCCEEDED(rc) && dead == SQL_CD_TRUE;
}

// Other drivers disconnect beside a connect: a PostgreSQL connect to a server that stopped
// answering holds the lock until its login time-out.
connection::~connection()
{
    const auto disconnect = [this] {
        SQLDisconnect(dbc_);
        SQLFreeHandle(SQL_HANDLE_DBC, dbc_);
    };
    if (dialect_ == dialect::postgresql) {
        disconnect();
        return;
    }
    qs::lock_guard setup(driver_setup_lock());
    disconnect();
}

void connection::cut() noexcept
{
    cut_.store(true, std::memory_order_release);
    if (socket_ >= 0)
        ::shutdown(socket_, SHUT_RDWR);
}

void connection::set_autocommit(bool on)
{
    in_driver waiting(*this);
    SQLULEN value = on ? SQL_AUTOCOMMIT_ON : SQL_AUTOCOMMIT_OFF;
    check(SQLSetConnectAttr(dbc_, SQL_ATTR_AUTOCOMMIT, reinterpret_cast<SQLPOINTER>(value), 0), SQL_HANDLE_DBC, dbc_,
          "setting autocommit");
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
    in_driver waiting(*this);
    check(SQLEndTran(SQL_HANDLE_DBC, dbc_, how), SQL_HANDLE_DBC, dbc_, "ending the transaction");
}

} // namespace qs::odbc

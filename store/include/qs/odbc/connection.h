#pragma once

#include <sql.h>
#include <string>

namespace qs::odbc {

// One connection to a data source. Owned by one thread at a time: a connection is
// never used by two threads at once. Disconnects and frees its handle on destruction.
class connection {
public:
    // Connects without prompting; a stalled data source fails after the login timeout.
    // Throws db_error.
    explicit connection(const std::string& connect_string);
    ~connection();
    connection(const connection&) = delete;
    connection& operator=(const connection&) = delete;

    // Transactions: with autocommit off, nothing is kept until commit().
    void set_autocommit(bool on);
    void commit();
    void rollback();

    SQLHDBC handle() const noexcept { return dbc_; }

    static constexpr SQLUINTEGER login_timeout_seconds = 10;

private:
    void end_transaction(SQLSMALLINT how);

    SQLHDBC dbc_ = SQL_NULL_HDBC;
};

} // namespace qs::odbc

#pragma once

#include <atomic>
#include <cstdint>
#include <sql.h>
#include <string>

namespace qs::odbc {

// The kinds of database whose SQL differs where it matters.
enum class dialect { sqlite, postgresql, other };

// One connection to a data source. Owned by one thread at a time: a connection is
// never used by two threads at once. Disconnects and frees its handle on destruction.
class connection {
public:
    // Connects without prompting; a stalled data source fails after the login timeout,
    // and every statement on the connection gets timeout_seconds as its query timeout.
    // Throws db_error.
    explicit connection(const std::string& connect_string, SQLULEN timeout_seconds = default_timeout_seconds);
    ~connection();
    connection(const connection&) = delete;
    connection& operator=(const connection&) = delete;

    // Transactions: with autocommit off, nothing is kept until commit().
    void set_autocommit(bool on);
    void commit();
    void rollback();

    SQLHDBC handle() const noexcept { return dbc_; }
    dialect kind() const noexcept { return dialect_; }
    SQLULEN timeout_seconds() const noexcept { return timeout_; }
    // True when the driver reports the connection as lost.
    bool is_dead() const;

    // Every statement run on the connection adds one to counter from now on.
    void count_statements_in(std::atomic<std::uint64_t>* counter) noexcept { counter_ = counter; }
    void statement_ran() noexcept
    {
        if (counter_ != nullptr)
            counter_->fetch_add(1, std::memory_order_relaxed);
    }

    static constexpr SQLULEN default_timeout_seconds = 30;

private:
    void end_transaction(SQLSMALLINT how);
    void read_dialect();

    SQLHDBC dbc_ = SQL_NULL_HDBC;
    SQLULEN timeout_;
    dialect dialect_ = dialect::other;
    std::atomic<std::uint64_t>* counter_ = nullptr;
};

} // namespace qs::odbc

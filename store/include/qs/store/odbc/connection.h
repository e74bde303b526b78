#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <sql.h>
#include <string>

namespace qs::odbc {

// The kinds of database whose SQL differs where it matters.
enum class dialect { sqlite, postgresql, other };

// One connection to a data source. Owned by one thread at a time: a connection is
// never used by two threads at once; only waiting_since() and cut() may be called from
// another thread while it lives. Disconnects and frees its handle on destruction.
class connection {
public:
    using clock = std::chrono::steady_clock;

    // Marks the connection as waiting in the driver while it lives (a statement, a
    // commit), for a watchdog to see.
    class in_driver {
    public:
        explicit in_driver(connection& c) noexcept : c_(c)
        {
            c_.waiting_since_.store(clock::now().time_since_epoch().count(), std::memory_order_relaxed);
        }
        ~in_driver() { c_.waiting_since_.store(0, std::memory_order_relaxed); }
        in_driver(const in_driver&) = delete;
        in_driver& operator=(const in_driver&) = delete;

    private:
        connection& c_;
    };

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
    // True when the driver reports the connection as lost, or it was cut.
    bool is_dead() const;

    // From any thread: since when the owner waits in the driver; none while it does not.
    bool waiting_since(clock::time_point& since) const noexcept
    {
        const auto ticks = waiting_since_.load(std::memory_order_relaxed);
        since = clock::time_point(clock::duration(ticks));
        return ticks != 0;
    }
    // From any thread: ends the connection under its owner, who may be waiting in the
    // driver for a server that stopped answering. The TCP socket of a PostgreSQL
    // connection is shut down, so the driver's wait ends with an error at once; other
    // drivers finish their call in their own time. Either way the connection counts as
    // dead from now on.
    void cut() noexcept;
    bool was_cut() const noexcept { return cut_.load(std::memory_order_acquire); }

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
    int socket_ = -1; // the PostgreSQL connection's TCP socket, when it could be told
    std::atomic<clock::rep> waiting_since_{0};
    std::atomic<bool> cut_{false};
};

} // namespace qs::odbc

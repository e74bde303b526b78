#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

#include "qs/store/db_error.h"
#include "qs/store/odbc/connection.h"
#include "qs/store/odbc/statement.h"
#include "qs/sync/mutex.h"

namespace qs {

struct pool_options {
    std::string connect_string = "DSN=Quillspeak Database;";
    int size = 4;                             // connections kept open
    unsigned timeout_seconds = 10;            // statement time-out; also the longest wait to borrow
    std::chrono::milliseconds first_backoff{100};    // after a failed connect
    std::chrono::milliseconds longest_backoff{5000};
};

// One open connection of a pool with the statements prepared on it, by SQL text.
// Used by the one thread that borrowed it.
class pooled_connection {
public:
    pooled_connection(const pool_options& options, std::atomic<std::uint64_t>* counter);

    odbc::connection& conn() noexcept { return conn_; }
    // The statement for sql, prepared on first use.
    odbc::statement& prepared(const std::string& sql);

private:
    odbc::connection conn_;
    std::unordered_map<std::string, std::unique_ptr<odbc::statement>> statements_;
};

// A fixed set of connections to one data source, opened when first needed. A connection
// found broken is closed and opened again later, waiting longer after each failed
// connect, so the pool recovers by itself when the database comes back. The only place
// that connects. Safe from any thread.
class connection_pool {
public:
    // A borrowed connection, given back on destruction.
    class lease {
    public:
        lease(connection_pool& pool, std::size_t slot) : pool_(&pool), slot_(slot) {}
        lease(lease&& other) noexcept : pool_(other.pool_), slot_(other.slot_), broken_(other.broken_)
        {
            other.pool_ = nullptr;
        }
        lease(const lease&) = delete;
        lease& operator=(const lease&) = delete;
        lease& operator=(lease&&) = delete;
        ~lease();

        pooled_connection& operator*() const;
        pooled_connection* operator->() const { return &**this; }
        // The connection is broken: it is closed when given back.
        void discard() noexcept { broken_ = true; }

    private:
        connection_pool* pool_;
        std::size_t slot_;
        bool broken_ = false;
    };

    explicit connection_pool(pool_options options);
    connection_pool(const connection_pool&) = delete;
    connection_pool& operator=(const connection_pool&) = delete;

    // A connection within the time-out. Throws db_error: HYT00 when every connection
    // stays busy, or the connect's failure (also, without trying, while the back-off
    // after a failed connect runs).
    lease borrow();

    // Runs work(pooled_connection&) on a borrowed connection; a failure that shows the
    // connection broken discards it and passes on as a connection failure (08S01).
    template <typename Work>
    auto run(Work&& work)
    {
        lease l = borrow();
        try {
            return work(*l);
        } catch (const db_error& e) {
            if (!e.is_connection_lost() && !l->conn().is_dead())
                throw;
            l.discard();
            if (e.is_connection_lost())
                throw;
            throw db_error("08S01", e.what());
        }
    }

    // Statements run on the pool's connections since it was made.
    std::uint64_t statements() const noexcept { return statements_.load(std::memory_order_relaxed); }
    const pool_options& options() const noexcept { return options_; }

private:
    using clock = std::chrono::steady_clock;
    struct slot {
        std::unique_ptr<pooled_connection> open;  // null until connected, and after a break
        bool busy = false;
        clock::time_point retry_at{};  // no connect before this
        std::chrono::milliseconds backoff{0};
    };

    bool pick(std::size_t& index, std::string& refusal) REQUIRES(lock_);
    void open_slot(std::size_t index);
    void give_back(std::size_t index, bool broken);

    const pool_options options_;
    std::atomic<std::uint64_t> statements_{0};
    qs::mutex lock_;
    std::condition_variable freed_;  // a slot stopped being busy
    std::vector<slot> slots_ GUARDED_BY(lock_);  // a busy slot's connection is its borrower's
    db_error last_failure_ GUARDED_BY(lock_) {"08001", "no connection yet"};
};

} // namespace qs

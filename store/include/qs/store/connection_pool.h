#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <string>
#include <thread>
#include <unordered_map>
#include <vector>

#include "qs/store/circuit_breaker.h"
#include "qs/store/db_error.h"
#include "qs/store/odbc/connection.h"
#include "qs/store/odbc/statement.h"
#include "qs/store/pool_options.h"
#include "qs/sync/mutex.h"

namespace qs {

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
// connect. The only place that connects. Safe from any thread.
//
// Availability: a failure showing the database unreachable or not answering in time
// opens a circuit breaker. Until it closes, borrow() refuses at once and one probe at a
// time (the prober thread, every probe_interval) checks whether the database is back;
// its first success closes the breaker. A watchdog thread cuts a connection whose call
// into the driver has run past the time-out (a server that stopped answering) and opens
// the breaker: the caller gets an error and the connection is discarded. Work that began
// before the breaker last closed is a straggler of that outage: its failure does not
// open it again.
class connection_pool {
public:
    // A borrowed connection, given back on destruction.
    class lease {
    public:
        lease(connection_pool& pool, std::size_t slot) : pool_(&pool), slot_(slot) {}
        lease(lease&& other) noexcept
            : pool_(other.pool_), slot_(other.slot_), broken_(other.broken_), taken_at_(other.taken_at_)
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
        std::chrono::steady_clock::time_point taken_at() const noexcept { return taken_at_; }

    private:
        connection_pool* pool_;
        std::size_t slot_;
        bool broken_ = false;
        std::chrono::steady_clock::time_point taken_at_ = std::chrono::steady_clock::now();
    };

    explicit connection_pool(pool_options options);
    ~connection_pool();
    connection_pool(const connection_pool&) = delete;
    connection_pool& operator=(const connection_pool&) = delete;

    // A connection within the time-out. Throws db_error: HYT00 when every connection
    // stays busy, or the connect's failure (also, without trying, while the back-off
    // after a failed connect runs), or at once the breaker's refusal while it is open.
    lease borrow();

    // Runs work(pooled_connection&) on a borrowed connection; a failure that shows the
    // connection broken discards it and passes on as a connection failure (08S01). A
    // failure showing the database unavailable opens the breaker.
    template <typename Work>
    auto run(Work&& work)
    {
        lease l = borrow();
        try {
            return work(*l);
        } catch (const db_error& e) {
            throw failure_of(l, e);
        }
    }

    // Whether the database counts as available: false from a failure until a probe
    // finds it back. Cheap.
    bool available() const noexcept { return breaker_.available(); }
    // Waits until the database counts as available, at most within; true when it does.
    bool wait_available(std::chrono::steady_clock::duration within);
    // Hears each change of availability once (see circuit_breaker).
    void on_availability(circuit_breaker::listener l) { breaker_.on_change(std::move(l)); }
    // Ends the watchdog and the prober, cutting connections still waiting in the
    // driver; the listener hears nothing afterwards. Also done on destruction.
    void shutdown();

    // Statements run on the pool's connections since it was made.
    std::uint64_t statements() const noexcept { return statements_.load(std::memory_order_relaxed); }
    // Statements that ran past the time-out (the driver's, or cut by the watchdog).
    std::uint64_t timeouts() const noexcept { return timeouts_.load(std::memory_order_relaxed); }
    // Takes the pool's lock: connections borrowed now, and threads waiting to borrow one.
    struct usage {
        std::size_t in_use = 0;
        std::size_t waiting = 0;
    };
    usage in_use();
    const pool_options& options() const noexcept { return options_; }

private:
    using clock = std::chrono::steady_clock;
    struct slot {
        std::unique_ptr<pooled_connection> open; // null until connected, and after a break
        bool busy = false;
        clock::time_point retry_at{}; // no connect before this
        std::chrono::milliseconds backoff{0};
        clock::time_point connecting_since{}; // set while the borrower connects
    };

    lease take(bool probing);
    bool pick(std::size_t& index, std::string& refusal, bool probing) REQUIRES(lock_);
    void open_slot(std::size_t index);
    void give_back(std::size_t index, bool broken);
    db_error failure_of(lease& l, const db_error& e);
    void failed(const db_error& why, clock::time_point began);
    void probe();
    void probe_while_unavailable();
    void watch_driver_calls();
    void cut_overdue();

    const pool_options options_;
    std::atomic<std::uint64_t> statements_{0};
    std::atomic<std::uint64_t> timeouts_{0};
    qs::mutex lock_;
    std::condition_variable freed_;             // a slot stopped being busy
    std::vector<slot> slots_ GUARDED_BY(lock_); // a busy slot's connection is its borrower's
    std::size_t waiting_ GUARDED_BY(lock_) = 0; // borrowers waiting for a slot to be freed
    db_error last_failure_ GUARDED_BY(lock_){"08001", "no connection yet"};
    circuit_breaker breaker_; // thread-safe itself

    qs::mutex keeper_lock_;
    std::condition_variable keeper_wake_; // stopping, or the breaker opened
    bool stopping_ GUARDED_BY(keeper_lock_) = false;
    std::thread prober_;   // probes while the breaker is open
    std::thread watchdog_; // cuts driver calls past the time-out
};

} // namespace qs

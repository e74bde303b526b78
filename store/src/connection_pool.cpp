#include "qs/store/connection_pool.h"
#include "qs/store/owned_pool.h"

#include <algorithm>

namespace qs {

pooled_connection::pooled_connection(const pool_options& options, std::atomic<std::uint64_t>* counter)
    : conn_(options.connect_string, options.timeout_seconds)
{
    conn_.count_statements_in(counter);
}

odbc::statement& pooled_connection::prepared(const std::string& sql)
{
    auto it = statements_.find(sql);
    if (it != statements_.end())
        return *it->second;
    auto made = std::make_unique<odbc::statement>(conn_);
    made->prepare(sql);
    return *statements_.emplace(sql, std::move(made)).first->second;
}

connection_pool::lease::~lease()
{
    if (pool_ != nullptr)
        pool_->give_back(slot_, broken_);
}

// Escape: a busy slot's connection changes only by its borrower, who reads it here unlocked.
pooled_connection& connection_pool::lease::operator*() const NO_THREAD_SAFETY_ANALYSIS
{
    return *pool_->slots_[slot_].open;
}

connection_pool::connection_pool(pool_options options)
    : options_(std::move(options)), slots_(static_cast<std::size_t>(std::max(1, options_.size)))
{
    prober_ = std::thread([this] { probe_while_unavailable(); });
    watchdog_ = std::thread([this] { watch_driver_calls(); });
}

connection_pool::~connection_pool()
{
    shutdown();
}

// An idle open connection first, else an idle slot whose back-off is over (a probe does
// not wait for it). False with the reason when every idle slot is still backing off.
bool connection_pool::pick(std::size_t& index, std::string& refusal, bool probing)
{
    const auto now = clock::now();
    bool idle = false;
    std::size_t ready = slots_.size();
    for (std::size_t i = 0; i < slots_.size(); ++i) {
        if (slots_[i].busy)
            continue;
        idle = true;
        if (slots_[i].open) {
            index = i;
            return true;
        }
        if (ready == slots_.size() && (probing || slots_[i].retry_at <= now))
            ready = i;
    }
    if (ready < slots_.size()) {
        index = ready;
        return true;
    }
    if (idle)
        refusal = last_failure_.what();
    return false;
}

connection_pool::lease connection_pool::borrow()
{
    if (!breaker_.available())
        throw breaker_.refusal();
    return take(false);
}

connection_pool::lease connection_pool::take(bool probing)
{
    const auto deadline = clock::now() + std::chrono::seconds(options_.timeout_seconds);
    qs::unique_lock guard(lock_);
    std::size_t index = 0;
    for (;;) {
        std::string refusal;
        if (pick(index, refusal, probing))
            break;
        if (!refusal.empty())
            throw db_error(last_failure_.sqlstate(), refusal);
        ++waiting_;
        const auto woken = guard.wait_until(freed_, deadline);
        --waiting_;
        if (woken == std::cv_status::timeout)
            throw db_error("HYT00", "no database connection became free in time");
    }
    slots_[index].busy = true;
    const bool must_open = !slots_[index].open;
    if (must_open)
        slots_[index].connecting_since = clock::now();
    guard.unlock();
    if (must_open)
        open_slot(index);
    return lease(*this, index);
}

// Connects the borrowed slot's connection outside the pool's lock.
void connection_pool::open_slot(std::size_t index)
{
    const auto began = clock::now();
    try {
        auto made = std::make_unique<pooled_connection>(options_, &statements_);
        qs::lock_guard guard(lock_);
        slots_[index].open = std::move(made);
        slots_[index].backoff = std::chrono::milliseconds(0);
        slots_[index].connecting_since = {};
    } catch (const db_error& e) {
        {
            qs::lock_guard guard(lock_);
            slot& s = slots_[index];
            s.backoff = std::min(options_.longest_backoff, std::max(options_.first_backoff, s.backoff * 2));
            s.retry_at = clock::now() + s.backoff;
            s.busy = false;
            s.connecting_since = {};
            last_failure_ = db_error(e.sqlstate(), e.what()); // its own words: see circuit_breaker::reason
        }
        freed_.notify_one();
        if (e.is_unavailable())
            failed(e, began);
        throw;
    }
}

connection_pool::usage connection_pool::in_use()
{
    qs::lock_guard guard(lock_);
    usage u;
    u.waiting = waiting_;
    for (const auto& s : slots_)
        u.in_use += s.busy ? 1 : 0;
    return u;
}

void connection_pool::give_back(std::size_t index, bool broken)
{
    std::unique_ptr<pooled_connection> closing;
    {
        qs::lock_guard guard(lock_);
        slot& s = slots_[index];
        if (broken || (s.open && s.open->conn().was_cut())) {
            closing = std::move(s.open);
            s.retry_at = clock::now();
        }
        s.busy = false;
    }
    freed_.notify_one();
    closing.reset(); // disconnects outside the pool's lock
}

// The error a failed piece of work passes on: a connection found broken is discarded
// and its failure becomes a connection failure; either opens the breaker.
db_error connection_pool::failure_of(lease& l, const db_error& e)
{
    const bool lost = e.is_connection_lost() || l->conn().is_dead();
    if (lost)
        l.discard();
    if ((e.sqlstate() == "HYT00" || e.sqlstate() == "HYT01") && !l->conn().was_cut()) // a cut one counted already
        timeouts_.fetch_add(1, std::memory_order_relaxed);
    db_error out = lost && !e.is_connection_lost() ? db_error("08S01", e.what()) : e;
    if (out.is_unavailable())
        failed(out, l.taken_at());
    return out;
}

// Opens the breaker, unless the work that failed began before it last closed.
void connection_pool::failed(const db_error& why, clock::time_point began)
{
    if (began < breaker_.closed_at())
        return;
    breaker_.failed(why);
    {
        qs::lock_guard guard(keeper_lock_);
    } // the prober is waiting or will see it open
    keeper_wake_.notify_all();
}

bool connection_pool::wait_available(std::chrono::steady_clock::duration within)
{
    return breaker_.wait_available(clock::now() + within);
}

// Runs the probe statement on a pool connection, never waiting out a back-off. An answer,
// even a refusal of the statement, shows the database back.
void connection_pool::probe()
{
    try {
        lease l = take(true);
        try {
            l->prepared(options_.probe_sql).run({});
        } catch (const db_error& e) {
            const db_error passed = failure_of(l, e);
            if (passed.is_unavailable())
                return;
        }
        breaker_.succeeded();
    } catch (const db_error&) { // no connection: still unavailable
    }
}

// The prober thread: once at once when the breaker opens, then every probe_interval
// while it stays open.
void connection_pool::probe_while_unavailable()
{
    qs::unique_lock guard(keeper_lock_);
    while (!stopping_) {
        if (breaker_.available()) {
            guard.wait(keeper_wake_);
            continue;
        }
        guard.unlock();
        probe();
        guard.lock();
        const auto next = clock::now() + options_.probe_interval;
        while (!stopping_ && !breaker_.available() && clock::now() < next)
            guard.wait_until(keeper_wake_, next);
    }
}

// The watchdog thread: looks a few times a second for driver calls past the time-out.
void connection_pool::watch_driver_calls()
{
    const auto tick = std::clamp<clock::duration>(std::chrono::seconds(options_.timeout_seconds) / 4,
                                                  std::chrono::milliseconds(10), std::chrono::milliseconds(200));
    qs::unique_lock guard(keeper_lock_);
    for (;;) {
        const auto next = clock::now() + tick;
        while (!stopping_ && clock::now() < next)
            guard.wait_until(keeper_wake_, next);
        if (stopping_)
            return;
        guard.unlock();
        cut_overdue();
        guard.lock();
    }
}

// A statement past the time-out has its connection cut; a connect past it (which has a
// time-out of its own) only counts. Either opens the breaker. Half a second of grace
// lets a driver that keeps the time-out end the call itself.
void connection_pool::cut_overdue()
{
    const auto now = clock::now();
    const auto limit = std::chrono::seconds(options_.timeout_seconds) + std::chrono::milliseconds(500);
    const std::string seconds = std::to_string(options_.timeout_seconds);
    std::vector<std::pair<db_error, clock::time_point>> overdue;
    {
        qs::lock_guard guard(lock_);
        for (auto& s : slots_) {
            clock::time_point since;
            if (!s.busy)
                continue;
            if (s.open && !s.open->conn().was_cut() && s.open->conn().waiting_since(since) && now - since > limit) {
                s.open->conn().cut();
                timeouts_.fetch_add(1, std::memory_order_relaxed);
                overdue.emplace_back(db_error("HYT00", "no answer from the database within " + seconds +
                                                           " s; the connection is given up"),
                                     since);
            } else if (!s.open && s.connecting_since != clock::time_point{} && now - s.connecting_since > limit) {
                overdue.emplace_back(db_error("HYT00", "connecting to the database took more than " + seconds + " s"),
                                     s.connecting_since);
            }
        }
    }
    for (const auto& [why, began] : overdue)
        failed(why, began);
}

void connection_pool::shutdown()
{
    {
        qs::lock_guard guard(keeper_lock_);
        stopping_ = true;
    }
    keeper_wake_.notify_all();
    {
        qs::lock_guard guard(lock_); // a probe may be waiting on a server that stopped answering
        clock::time_point since;
        for (auto& s : slots_)
            if (s.busy && s.open && s.open->conn().waiting_since(since))
                s.open->conn().cut();
    }
    if (prober_.joinable())
        prober_.join();
    if (watchdog_.joinable())
        watchdog_.join();
}

void connection_pool_deleter::operator()(connection_pool* pool) const noexcept
{
    delete pool;
}

owned_pool open_pool(const pool_options& options)
{
    return owned_pool(new connection_pool(options));
}

} // namespace qs

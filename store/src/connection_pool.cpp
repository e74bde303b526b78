#include "qs/store/connection_pool.h"

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
}

// An idle open connection first, else an idle slot whose back-off is over. False with
// the reason when every idle slot is still backing off.
bool connection_pool::pick(std::size_t& index, std::string& refusal)
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
        if (ready == slots_.size() && slots_[i].retry_at <= now)
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
    const auto deadline = clock::now() + std::chrono::seconds(options_.timeout_seconds);
    qs::unique_lock guard(lock_);
    std::size_t index = 0;
    for (;;) {
        std::string refusal;
        if (pick(index, refusal))
            break;
        if (!refusal.empty())
            throw db_error(last_failure_.sqlstate(), refusal);
        if (guard.wait_until(freed_, deadline) == std::cv_status::timeout)
            throw db_error("HYT00", "no database connection became free in time");
    }
    slots_[index].busy = true;
    const bool must_open = !slots_[index].open;
    guard.unlock();
    if (must_open)
        open_slot(index);
    return lease(*this, index);
}

// Connects the borrowed slot's connection outside the pool's lock.
void connection_pool::open_slot(std::size_t index)
{
    try {
        auto made = std::make_unique<pooled_connection>(options_, &statements_);
        qs::lock_guard guard(lock_);
        slots_[index].open = std::move(made);
        slots_[index].backoff = std::chrono::milliseconds(0);
    } catch (const db_error& e) {
        qs::lock_guard guard(lock_);
        slot& s = slots_[index];
        s.backoff = std::min(options_.longest_backoff, std::max(options_.first_backoff, s.backoff * 2));
        s.retry_at = clock::now() + s.backoff;
        s.busy = false;
        last_failure_ = e;
        freed_.notify_one();
        throw;
    }
}

void connection_pool::give_back(std::size_t index, bool broken)
{
    std::unique_ptr<pooled_connection> closing;
    {
        qs::lock_guard guard(lock_);
        slot& s = slots_[index];
        if (broken) {
            closing = std::move(s.open);
            s.retry_at = clock::now();
        }
        s.busy = false;
    }
    freed_.notify_one();
    closing.reset();  // disconnects outside the pool's lock
}

} // namespace qs

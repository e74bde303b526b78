#include "qs/store/circuit_breaker.h"

namespace qs {

void circuit_breaker::on_change(listener l)
{
    qs::lock_guard guard(lock_);
    listener_ = std::move(l);
}

db_error circuit_breaker::refusal() const
{
    qs::lock_guard guard(lock_);
    return db_error(why_.sqlstate.empty() ? "08001" : why_.sqlstate, "the database is not available: " + why_.text);
}

void circuit_breaker::failed(const db_error& why)
{
    change_to(false, why);
}

void circuit_breaker::succeeded()
{
    change_to(true, db_error("", ""));
}

bool circuit_breaker::wait_available(std::chrono::steady_clock::time_point until)
{
    qs::unique_lock guard(lock_);
    while (!(heard_available_ && available()))
        if (guard.wait_until(closed_, until) == std::cv_status::timeout)
            return heard_available_ && available();
    return true;
}

// The first thread to find nobody delivering hands every queued change to the listener,
// its own and those made meanwhile, so that the listener hears them in order.
void circuit_breaker::change_to(bool available, const db_error& why)
{
    qs::unique_lock guard(lock_);
    if (available_.load(std::memory_order_relaxed) == available)
        return;
    available_.store(available, std::memory_order_release);
    if (!available)
        why_ = reason{why.sqlstate(), why.what()};
    else
        closed_at_.store(std::chrono::steady_clock::now().time_since_epoch().count(), std::memory_order_release);
    changes_.push_back({available, {why.sqlstate(), why.what()}});
    if (delivering_)
        return;
    delivering_ = true;
    while (!changes_.empty()) {
        const change next = std::move(changes_.front());
        changes_.pop_front();
        const listener hear = listener_;
        guard.unlock();
        if (hear)
            hear(next.available, db_error(next.why.sqlstate, next.why.text));
        guard.lock();
        heard_available_ = next.available;
        if (next.available)
            closed_.notify_all();
    }
    delivering_ = false;
}

} // namespace qs

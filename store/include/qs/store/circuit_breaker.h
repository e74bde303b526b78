#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <string>

#include "qs/store/db_error.h"
#include "qs/sync/mutex.h"

namespace qs {

// Whether a database counts as available. A failure showing it unreachable or not
// answering in time opens the breaker: callers are refused at once, without waiting on
// the database, until a probe finds it back; the first success closes it again.
// The listener hears every change once and in order, outside every lock, on a thread
// that made a change. Safe from any thread.
class circuit_breaker {
public:
    // available: the new state; why: the failure that opened it (empty when closing).
    using listener = std::function<void(bool available, const db_error& why)>;

    void on_change(listener l);

    // Cheap: one atomic load.
    bool available() const noexcept { return available_.load(std::memory_order_acquire); }
    // When it last closed (the epoch when it never did): work that began before is a
    // straggler of the outage, and its failure no evidence against the database now.
    std::chrono::steady_clock::time_point closed_at() const noexcept
    {
        return std::chrono::steady_clock::time_point(
            std::chrono::steady_clock::duration(closed_at_.load(std::memory_order_acquire)));
    }
    // The refusal while open: the SQLSTATE of the failure that opened it and its words.
    db_error refusal() const;

    // Opens the breaker (when closed) with why as the reason.
    void failed(const db_error& why);
    // Closes the breaker (when open).
    void succeeded();
    // Waits until the breaker is closed and the listener has heard so, or until passes;
    // true when closed.
    bool wait_available(std::chrono::steady_clock::time_point until);

private:
    // A failure kept as copies of its words: copies of a runtime_error share one message
    // through a count that ThreadSanitizer cannot see in libstdc++, so a copy read on one
    // thread while the original dies on another shows as a race.
    struct reason {
        std::string sqlstate;
        std::string text;
    };
    struct change {
        bool available;
        reason why;
    };
    void change_to(bool available, const db_error& why);

    std::atomic<bool> available_{true};                        // written under lock_
    std::atomic<std::chrono::steady_clock::rep> closed_at_{0}; // written under lock_
    mutable qs::mutex lock_;
    std::condition_variable closed_; // the listener heard the breaker close
    reason why_ GUARDED_BY(lock_);
    listener listener_ GUARDED_BY(lock_);
    std::deque<change> changes_ GUARDED_BY(lock_);  // made, not yet heard by the listener
    bool delivering_ GUARDED_BY(lock_) = false;     // a thread is handing changes_ to the listener
    bool heard_available_ GUARDED_BY(lock_) = true; // the state the listener heard last
};

} // namespace qs

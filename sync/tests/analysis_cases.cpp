// Cases for Clang's thread-safety analysis over the wrappers: every line marked
// "flagged" must draw a warning and no other line may. Only compiled, by analysis_test.sh.
#include <condition_variable>

#include "qs/sync/mutex.h"
#include "qs/sync/thread_role.h"

namespace {

class account {
public:
    void on_loop() const ASSERT_CAPABILITY(loop_) {}

    void deposit(int n)
    {
        qs::lock_guard guard(lock_);
        balance_ += n;
    }
    int read_unlocked() { return balance_; } // flagged
    void add_locked(int n) REQUIRES(lock_) { balance_ += n; }
    void call_without_lock() { add_locked(1); } // flagged
    void call_with_lock()
    {
        qs::unique_lock guard(lock_);
        add_locked(1);
    }
    void use_after_unlock()
    {
        qs::unique_lock guard(lock_);
        guard.unlock();
        balance_ = 0; // flagged
    }
    void relock()
    {
        qs::unique_lock guard(lock_);
        guard.unlock();
        guard.lock();
        balance_ = 0;
    }
    void wait_for_money(std::condition_variable& cv)
    {
        qs::unique_lock guard(lock_);
        while (balance_ == 0)
            guard.wait(cv);
        balance_ = 0;
    }
    bool try_take()
    {
        if (!lock_.try_lock())
            return false;
        balance_ = 0;
        lock_.unlock();
        return true;
    }
    void lock_twice()
    {
        qs::lock_guard guard(lock_);
        qs::lock_guard again(lock_); // flagged
    }

    void tick()
    {
        on_loop();
        ++ticks_;
    }
    void tick_anywhere() { ++ticks_; } // flagged
    void tick_later()
    {
        on_loop();
        auto later = [this] { ++ticks_; }; // flagged
        later();
    }
    void tick_later_on_loop()
    {
        auto later = [this] {
            on_loop();
            ++ticks_;
        };
        later();
    }
    void tick_helper() REQUIRES(loop_) { ++ticks_; }
    void tick_through_helper()
    {
        on_loop();
        tick_helper();
    }

private:
    qs::mutex lock_;
    int balance_ GUARDED_BY(lock_) = 0;
    [[no_unique_address]] qs::thread_role loop_;
    int ticks_ GUARDED_BY(loop_) = 0;
};

} // namespace

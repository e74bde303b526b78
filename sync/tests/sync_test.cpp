#include <gtest/gtest.h>

#include <condition_variable>
#include <future>
#include <thread>

#include "qs/sync/debug_assert.h"
#include "qs/sync/mutex.h"

namespace qs::test {
namespace {

// CMake sets QS_EXPECT_CHECKS to 1 for Debug and sanitizer builds.
TEST(DebugAssert, IsOnInDebugAndSanitizerBuildsOnly)
{
    int evaluated = 0;
    QS_ASSERT(++evaluated > 0);
    if (QS_EXPECT_CHECKS) {
        EXPECT_EQ(evaluated, 1);
        EXPECT_DEATH(QS_ASSERT(evaluated == 0), "sync_test.cpp:[0-9]+: assertion failed: evaluated == 0");
    } else {
        EXPECT_EQ(evaluated, 0) << "a release build evaluates nothing";
    }
}

struct shared_count {
    qs::mutex lock;
    std::condition_variable changed;
    int value GUARDED_BY(lock) = 0;
};

// The waiter lets the mutex go while it waits (else the writer could never set the
// value) and holds it again when it wakes (the writer's try_lock fails meanwhile).
TEST(UniqueLock, ReleasesWhileWaitingAndHoldsOnWaking)
{
    shared_count c;
    std::promise<void> woke;
    std::promise<void> checked;
    std::thread waiter([&] {
        qs::unique_lock guard(c.lock);
        while (c.value == 0)
            guard.wait(c.changed);
        woke.set_value();
        checked.get_future().wait();
        c.value = 2;
    });
    {
        qs::lock_guard guard(c.lock);
        c.value = 1;
    }
    c.changed.notify_all();
    woke.get_future().wait();
    const bool taken = c.lock.try_lock();
    if (taken)
        c.lock.unlock();
    checked.set_value();
    waiter.join();
    EXPECT_FALSE(taken) << "the waiter holds the mutex once it wakes";
    qs::lock_guard guard(c.lock);
    EXPECT_EQ(c.value, 2);
}

TEST(UniqueLock, WaitUntilTimesOutHoldingTheMutex)
{
    shared_count c;
    qs::unique_lock guard(c.lock);
    EXPECT_EQ(guard.wait_until(c.changed, std::chrono::steady_clock::now()), std::cv_status::timeout);
    c.value = 3; // held again: the analysis and the mutex agree
    guard.unlock();
    EXPECT_TRUE(c.lock.try_lock());
    c.lock.unlock();
}

} // namespace
} // namespace qs::test

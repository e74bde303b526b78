#include <gtest/gtest.h>

#include <atomic>
#include <future>
#include <latch>
#include <set>

#include "qs/server/logic/thread_cache.h"

namespace qs::test {
namespace {

TEST(ThreadCache, BlockingTasksEachGetAThreadAndIdleThreadsAreReused)
{
    thread_cache cache;
    std::latch all_started(3);
    std::promise<void> release;
    std::shared_future<void> released = release.get_future().share();
    std::atomic<int> done{0};
    for (int i = 0; i < 3; ++i)
        cache.run([&] {
            all_started.count_down();
            released.wait();
            ++done;
        });
    all_started.wait(); // would never return if two tasks shared a thread
    release.set_value();

    std::set<std::thread::id> ids;
    for (int i = 0; i < 20; ++i) {
        while (cache.idle() == 0) // the last task's thread is back waiting
            std::this_thread::yield();
        std::promise<std::thread::id> id;
        cache.run([&] { id.set_value(std::this_thread::get_id()); });
        ids.insert(id.get_future().get());
    }
    cache.shutdown();
    EXPECT_EQ(done.load(), 3);
    EXPECT_LE(ids.size(), 3u) << "sequential tasks reuse the cached threads";
}

// Tells, from its thread's end, that the thread has ended.
struct exit_signal {
    std::promise<void>* ended = nullptr;
    ~exit_signal()
    {
        if (ended != nullptr)
            ended->set_value();
    }
};

// A thread idle past idle_keep ends and is no longer counted; the next task gets a
// thread of its own again, and shutdown finds nothing left to wait for.
TEST(ThreadCache, IdleThreadsEndAndLaterTasksStillRun)
{
    thread_cache cache(std::chrono::milliseconds(1));
    for (int round = 0; round < 3; ++round) {
        std::promise<void> ended;
        cache.run([&ended] {
            thread_local exit_signal signal;
            signal.ended = &ended;
        });
        ended.get_future().wait();
        EXPECT_EQ(cache.idle(), 0u);
    }
    cache.shutdown();
}

} // namespace
} // namespace qs::test

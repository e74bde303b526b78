#include <gtest/gtest.h>

#include <atomic>
#include <future>
#include <mutex>
#include <thread>
#include <vector>

#include "worker_pool.h"

namespace qs::test {
namespace {

// A task that blocks until released, as a worker waits in a driver for a database that
// stopped answering.
struct blocking_task {
    std::promise<void> started;
    std::promise<void> release;
    std::shared_future<void> released = release.get_future().share();
    std::function<void()> body()
    {
        return [this] {
            started.set_value();
            released.wait();
        };
    }
};

TEST(WorkerPool, AStuckTaskWrittenOffLetsTheNextRunAndJoinStillWaitsForIt)
{
    worker_pool pool(1);
    blocking_task stuck;
    const auto ticket = pool.post(stuck.body());
    stuck.started.get_future().wait();
    std::promise<void> next_ran;
    pool.post([&] { next_ran.set_value(); });
    auto next = next_ran.get_future();
    EXPECT_EQ(next.wait_for(std::chrono::milliseconds(50)), std::future_status::timeout) << "width 1: it queues";

    pool.write_off(ticket);
    next.wait();            // would wait for ever if the stuck task still counted
    pool.write_off(ticket); // twice changes nothing: one stuck task frees one place

    std::atomic<bool> joined{false};
    auto joiner = std::async(std::launch::async, [&] {
        pool.join();
        joined = true;
    });
    EXPECT_EQ(joiner.wait_for(std::chrono::milliseconds(50)), std::future_status::timeout);
    EXPECT_FALSE(joined.load()) << "join waits for the written-off task too";
    stuck.release.set_value();
    joiner.wait();
    bool ran_late = false;
    pool.post([&] { ran_late = true; });
    EXPECT_FALSE(ran_late) << "a task posted after join is dropped";
}

TEST(WorkerPool, NeverMoreTasksAtOnceThanTheWidthAndEveryOneRuns)
{
    worker_pool pool(3);
    std::atomic<int> inside{0}, most{0};
    std::mutex lock;
    std::vector<int> started; // guarded by lock
    for (int i = 0; i < 60; ++i)
        pool.post([&, i] {
            {
                std::lock_guard guard(lock);
                started.push_back(i);
            }
            const int now = ++inside;
            for (int seen = most.load(); now > seen && !most.compare_exchange_weak(seen, now);) {
            }
            std::this_thread::yield();
            --inside;
        });
    pool.join();
    EXPECT_LE(most.load(), 3);
    ASSERT_EQ(started.size(), 60u);
}

} // namespace
} // namespace qs::test

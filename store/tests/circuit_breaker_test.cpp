#include <gtest/gtest.h>

#include <mutex>
#include <thread>
#include <vector>

#include "qs/store/circuit_breaker.h"

namespace qs::test {
namespace {

TEST(CircuitBreaker, OpensOnceWithTheFirstFailureAndRefusesWithItsSqlstate)
{
    circuit_breaker breaker;
    std::vector<std::string> heard;
    breaker.on_change([&](bool available, const db_error& why) {
        heard.push_back(available ? "available" : why.sqlstate() + " " + why.what());
    });
    EXPECT_TRUE(breaker.available());
    breaker.failed(db_error("08001", "could not connect"));
    breaker.failed(db_error("HYT00", "timed out"));
    EXPECT_FALSE(breaker.available());
    EXPECT_EQ(breaker.refusal().sqlstate(), "08001");
    EXPECT_TRUE(breaker.refusal().is_unavailable());
    EXPECT_FALSE(breaker.wait_available(std::chrono::steady_clock::now()));
    breaker.succeeded();
    breaker.succeeded();
    EXPECT_TRUE(breaker.wait_available(std::chrono::steady_clock::now()));
    EXPECT_EQ(heard, (std::vector<std::string>{"08001 could not connect", "available"}));
}

// Failures and successes from many threads at once: the listener hears each change in
// the order they were made, so it never hears the same state twice in a row, and it may
// ask the breaker back without a deadlock.
TEST(CircuitBreaker, ChangesFromManyThreadsAreHeardInOrderOutsideTheLock)
{
    circuit_breaker breaker;
    std::mutex lock;
    std::vector<bool> heard; // guarded by lock
    breaker.on_change([&](bool available, const db_error&) {
        (void)breaker.available();
        (void)breaker.refusal();
        std::lock_guard guard(lock);
        heard.push_back(available);
    });
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t)
        threads.emplace_back([&, t] {
            for (int i = 0; i < 2000; ++i) {
                if ((i + t) % 2 == 0)
                    breaker.failed(db_error("08S01", "lost"));
                else
                    breaker.succeeded();
            }
        });
    for (auto& th : threads)
        th.join();
    std::lock_guard guard(lock);
    ASSERT_FALSE(heard.empty());
    EXPECT_FALSE(heard.front()) << "it starts available";
    for (std::size_t i = 1; i < heard.size(); ++i)
        ASSERT_NE(heard[i], heard[i - 1]) << "change " << i << " heard out of order";
    EXPECT_EQ(heard.back(), breaker.available());
}

} // namespace
} // namespace qs::test

// What a spill may store: the entries kept only in memory that came by a cutoff, oldest
// first, never past a younger one, and never those already stored.
#include <gtest/gtest.h>

#include "qs/server/logic/pending_pool.h"

namespace qs::test {
namespace {

using namespace std::chrono_literals;

TEST(PendingPool, EntriesAreDueToBeStoredOldestFirstUpToTheCutoff)
{
    const pending_pool::time_point t0 = std::chrono::steady_clock::now();
    pending_pool pool;
    pool.push_stored("s1|s2");
    pool.push("a", nullptr, t0);
    pool.push("b", nullptr, t0 + 10ms);
    pool.push("c", nullptr, t0 + 20ms);

    EXPECT_EQ(pool.unstored_until(t0 - 1ms), 0u);
    EXPECT_EQ(pool.unstored_until(t0 + 10ms), 2u);
    EXPECT_EQ(pool.oldest_unstored(), t0);
    EXPECT_EQ(pool.unstored_text(2), "a|b");

    EXPECT_EQ(pool.begin_storing(2), 2u);
    EXPECT_EQ(pool.stored(), 4u);
    EXPECT_TRUE(pool.has_unstored());
    EXPECT_EQ(pool.oldest_unstored(), t0 + 20ms);
    EXPECT_EQ(pool.unstored_text(), "c");
    EXPECT_EQ(pool.unstored_until(t0 + 1h), 1u);
    EXPECT_EQ(pool.text(), "s1|s2|a|b|c");
}

TEST(PendingPool, EntriesPutBackAreDueAtTheNextSpill)
{
    const pending_pool::time_point later = std::chrono::steady_clock::now() + 1h;
    pending_pool pool;
    pool.push("a", nullptr, later);
    pool.push("b", nullptr, later);
    auto taken = pool.take(1);
    ASSERT_EQ(taken.entries, std::vector<std::string>{"a"});
    pool.put_back(taken);
    EXPECT_EQ(pool.unstored_until(later - 1s), 1u) << "the entry put back counts as old; b does not";
}

} // namespace
} // namespace qs::test

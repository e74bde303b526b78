#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "qs/store/msg_pool.h"
#include "qs/store/user_info.h"
#include "store_fixture.h"

namespace qs::test {
namespace {

using ConcurrencyTest = StoreTest;

// Many record objects open at once on one database from many threads: writers wait
// for each other instead of failing, and no write is lost.
TEST_F(ConcurrencyTest, SixteenWritersOfDifferentRowsLoseNothing)
{
    constexpr int threads = 16;
    constexpr int rows_each = 12;
    std::atomic<int> failures{0};
    std::string first_error;
    std::mutex error_lock; // guards first_error
    auto writer = [&](int t) {
        for (int r = 0; r < rows_each; ++r) {
            const std::string name = "w" + std::to_string(t) + "_" + std::to_string(r);
            try {
                user_info u;
                u.open();
                u.add_new();
                u.set_username(name);
                u.update();
                u.close();
                user_info edit;
                edit.find_user(name);
                edit.open();
                edit.edit();
                edit.set_nickname("nick " + name);
                edit.update();
            } catch (const std::exception& e) {
                std::lock_guard guard(error_lock);
                if (failures++ == 0)
                    first_error = e.what();
            }
        }
    };
    std::vector<std::thread> pool;
    for (int t = 0; t < threads; ++t)
        pool.emplace_back(writer, t);
    for (auto& th : pool)
        th.join();
    EXPECT_EQ(failures.load(), 0) << first_error;
    EXPECT_EQ(db.scalar("SELECT count(*) FROM userinfo WHERE nickname = 'nick ' || username"),
              std::to_string(threads * rows_each));
}

} // namespace
} // namespace qs::test

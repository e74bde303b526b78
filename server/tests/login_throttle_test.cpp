#include <gtest/gtest.h>

#include "qs/server/login_throttle.h"

namespace qs {
namespace {

using namespace std::chrono_literals;
using clock_t_ = login_throttle::clock;

TEST(LoginThrottle, WaitsGrowPastFiveFailuresPerAccountOrAddressAndEndWithTheWindow)
{
    login_throttle t;
    const auto start = clock_t_::time_point{} + 1h;
    for (int i = 0; i < 5; ++i) {
        EXPECT_EQ(t.wait_before_login("ann", "10.0.0.1", start), 0s) << i;
        t.failed("ann", "10.0.0.1", start);
    }
    EXPECT_EQ(t.wait_before_login("ann", "10.0.0.9", start), 1s) << "the account, from anywhere";
    EXPECT_EQ(t.wait_before_login("bob", "10.0.0.1", start), 1s) << "the address, for any account";
    EXPECT_EQ(t.wait_before_login("bob", "10.0.0.9", start), 0s);
    t.failed("ann", "10.0.0.1", start);
    EXPECT_EQ(t.wait_before_login("ann", "10.0.0.1", start), 2s);
    for (int i = 0; i < 10; ++i)
        t.failed("ann", "10.0.0.1", start);
    EXPECT_EQ(t.wait_before_login("ann", "10.0.0.1", start), 4s) << "capped";
    EXPECT_EQ(t.wait_before_login("ann", "10.0.0.1", start + login_throttle::window + 1ms), 0s);
}

TEST(LoginThrottle, ASuccessClearsTheAccountButNotTheAddress)
{
    login_throttle t;
    const auto now = clock_t_::time_point{} + 1h;
    for (int i = 0; i < 6; ++i)
        t.failed("ann", "10.0.0.1", now);
    t.succeeded("ann");
    EXPECT_EQ(t.wait_before_login("ann", "10.0.0.2", now), 0s);
    EXPECT_EQ(t.wait_before_login("ann", "10.0.0.1", now), 2s);
}

TEST(LoginThrottle, SprayedNamesAreForgottenOnceOutOfTheWindow)
{
    login_throttle t;
    const auto start = clock_t_::time_point{} + 1h;
    for (int i = 0; i < 10000; ++i)
        t.failed("n" + std::to_string(i), "10.0.0." + std::to_string(i % 200), start + std::chrono::milliseconds(i));
    const auto later = start + login_throttle::window + 20s;
    t.failed("last", "10.0.0.250", later);
    for (int i = 0; i < 5; ++i)
        EXPECT_EQ(t.wait_before_login("n" + std::to_string(i), "10.0.0.251", later), 0s);
}

} // namespace
} // namespace qs

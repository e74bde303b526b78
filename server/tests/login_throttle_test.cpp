#include <gtest/gtest.h>

#include "qs/server/logic/login_throttle.h"

namespace qs {
namespace {

using namespace std::chrono_literals;
using clock_t_ = login_throttle::clock;

const auto start = clock_t_::time_point{} + 1h;

// Simultaneous attempts reserve before any is checked: five run at once, then one a
// second, whatever the addresses.
TEST(LoginThrottle, PastFiveAttemptsAnAccountGetsOneASecondFromAnyAddress)
{
    login_throttle t;
    for (int i = 0; i < 50; ++i) {
        const auto a = t.reserve("ann", "10.0.0." + std::to_string(i), start);
        EXPECT_FALSE(a.refused);
        EXPECT_EQ(a.at - start, i < 5 ? 0s : std::chrono::seconds(i - 4)) << i;
    }
    EXPECT_EQ(t.reserve("bob", "10.0.0.1", start).at, start) << "another account runs at once";
}

// An address counts failures once checked: many right logins at once from one address
// (users behind one router) all run at once.
TEST(LoginThrottle, PastFiveFailuresAnAddressGetsOneAttemptASecondForAnyAccount)
{
    login_throttle t;
    for (int i = 0; i < 20; ++i)
        EXPECT_EQ(t.reserve("user" + std::to_string(i), "10.0.0.1", start).at, start) << i;
    for (int i = 0; i < 5; ++i)
        t.failed(t.reserve("guess" + std::to_string(i), "10.0.0.1", start), start);
    EXPECT_EQ(t.reserve("ann", "10.0.0.1", start + 10ms).at, start + 1s);
    EXPECT_EQ(t.reserve("bob", "10.0.0.1", start + 20ms).at, start + 2s);
    EXPECT_EQ(t.reserve("carl", "10.0.0.2", start + 20ms).at, start + 20ms);
    EXPECT_EQ(t.reserve("dora", "10.0.0.1", start + login_throttle::window + 3s).at,
              start + login_throttle::window + 3s)
        << "the failures are out of the window";
}

TEST(LoginThrottle, TheNextTurnIsASecondAfterTheLastOrAtOnceWhenThatHasPassed)
{
    login_throttle t;
    for (int i = 0; i < 5; ++i)
        t.reserve("ann", "a" + std::to_string(i), start);
    EXPECT_EQ(t.reserve("ann", "b", start + 3s).at, start + 3s) << "the last turn is long past";
    EXPECT_EQ(t.reserve("ann", "c", start + 3s).at, start + 4s);
    EXPECT_EQ(t.reserve("ann", "d", start + login_throttle::window + 5s).at, start + login_throttle::window + 5s)
        << "those out of the window are forgotten";
}

TEST(LoginThrottle, ASuccessForgetsTheAccountsFailuresUpToItButNotTheAddresses)
{
    login_throttle t;
    for (int i = 0; i < 5; ++i)
        t.failed(t.reserve("ann", "10.0.0.1", start), start);
    const auto right = t.reserve("ann", "10.0.0.1", start);
    ASSERT_EQ(right.at, start + 1s);
    const auto queued = t.reserve("ann", "10.0.0.9", start); // another's turn after it
    EXPECT_EQ(queued.at, start + 2s);
    t.succeeded(right);
    EXPECT_EQ(t.reserve("mia", "10.0.0.1", start).at, start + 2s) << "the address keeps its five failures";
    for (int i = 0; i < 4; ++i)
        EXPECT_EQ(t.reserve("ann", "x" + std::to_string(i), start).at, start) << i << ": the account starts afresh";
    EXPECT_EQ(t.reserve("ann", "y", start).at, start + 3s) << "the turn still reserved counts";
}

TEST(LoginThrottle, AnAttemptThatCheckedNothingIsTakenBack)
{
    login_throttle t;
    for (int i = 0; i < 4; ++i)
        t.reserve("ann", "10.0.0.1", start);
    t.cancel(t.reserve("ann", "10.0.0.1", start));
    EXPECT_EQ(t.reserve("ann", "10.0.0.1", start).at, start) << "still one free attempt";
    EXPECT_EQ(t.reserve("ann", "10.0.0.1", start).at, start + 1s);
}

TEST(LoginThrottle, ATurnMoreThanAMinuteAheadIsRefusedAndReservesNothing)
{
    login_throttle t;
    login_throttle::attempt last;
    for (int i = 0; i < 5 + 60; ++i)
        last = t.reserve("ann", "p" + std::to_string(i), start);
    EXPECT_FALSE(last.refused);
    EXPECT_EQ(last.at, start + 60s);
    EXPECT_TRUE(t.reserve("ann", "q", start).refused);
    EXPECT_TRUE(t.reserve("ann", "r", start).refused);
    const auto later = t.reserve("ann", "s", start + 1s);
    EXPECT_FALSE(later.refused);
    EXPECT_EQ(later.at, start + 61s) << "the refused ones took no turn";
}

TEST(LoginThrottle, SprayedNamesAndAddressesAreForgottenOnceOutOfTheWindow)
{
    login_throttle t;
    for (int i = 0; i < 10000; ++i) {
        const auto at = start + std::chrono::milliseconds(i);
        t.failed(t.reserve("n" + std::to_string(i), "10." + std::to_string(i), at), at);
    }
    const auto later = start + login_throttle::window + 20s;
    t.failed(t.reserve("last", "10.0.0.250", later), later);
    for (int i = 0; i < 5; ++i)
        EXPECT_EQ(t.reserve("n" + std::to_string(i), "10." + std::to_string(i), later).at, later);
}

} // namespace
} // namespace qs

// The rules a session_directory keeps, whatever implements it: one login per user, an
// orphan taken over, the end of a session. Each implementation joins through the
// factories at the end; these run against a directory of one node.
#include <atomic>
#include <functional>
#include <latch>
#include <memory>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "qs/server/logic/local_directory.h"
#include "qs/server/logic/qsexcpt.h"
#include "qs/store/database.h"

namespace qs::test {
namespace {

using directory_factory = std::function<std::unique_ptr<session_directory>(node_sessions&)>;

login_row row(const std::string& contacts, const std::string& stored_messages)
{
    login_row r;
    r.contacts = contacts;
    r.stored[database::messages] = stored_messages;
    return r;
}

class DirectoryTest : public ::testing::TestWithParam<directory_factory> {
protected:
    int refusal_of_claim(const std::string& name)
    {
        try {
            directory->claim(name, row("", ""));
        } catch (const qsexcpt& e) {
            return e.code();
        }
        return -1;
    }

    node_sessions sessions;
    std::unique_ptr<session_directory> directory = GetParam()(sessions);
};

TEST_P(DirectoryTest, OneLoginPerUser)
{
    const session_handle ann = directory->claim("ann", row("bob|cy", "from bob|from cy"));
    ASSERT_NE(ann, nullptr);
    EXPECT_EQ(ann->name, "ann");
    {
        state_guard table(sessions.lock());
        EXPECT_EQ(ann->contacts, "bob|cy");
        EXPECT_EQ(ann->pools[index_of(pool_kind::personal)].stored(), 2u) << "the stored pools come with the session";
        EXPECT_TRUE(ann->pending[index_of(pool_kind::personal)]);
        ann->status = "online";
    }
    EXPECT_EQ(refusal_of_claim("ann"), qsexcpt::user_online);
    EXPECT_EQ(sessions.find_now("ann"), ann) << "the first session is untouched";
    EXPECT_FALSE(ann->closed);
    std::string status;
    EXPECT_TRUE(directory->status_of("ann", status));
    EXPECT_EQ(status, "online");
    EXPECT_FALSE(directory->status_of("bob", status));
    EXPECT_NE(directory->claim("bob", row("", "")), nullptr) << "another user logs in beside";
}

TEST_P(DirectoryTest, AnOrphanIsTakenOverWithItsPools)
{
    const session_handle ann = directory->claim("ann", row("bob", "stored"));
    {
        state_guard table(sessions.lock());
        ann->pools[index_of(pool_kind::personal)].push("waiting in memory");
        ann->orphaned = true;
    }
    const session_handle again = directory->claim("ann", row("cy", "stored|waiting in memory"));
    EXPECT_EQ(again, ann);
    state_guard table(sessions.lock());
    EXPECT_FALSE(ann->orphaned);
    EXPECT_EQ(ann->contacts, "cy") << "the contacts come from the new row";
    EXPECT_EQ(ann->pools[index_of(pool_kind::personal)].text(), "stored|waiting in memory")
        << "the pools are kept, not read again";
}

TEST_P(DirectoryTest, AReleasedSessionIsGoneAndAStaleReleaseLeavesTheNextOne)
{
    const session_handle first = directory->claim("ann", row("", ""));
    directory->release(first);
    EXPECT_TRUE(first->closed);
    EXPECT_EQ(sessions.find_now("ann"), nullptr);
    std::string status;
    EXPECT_FALSE(directory->status_of("ann", status));

    const session_handle second = directory->claim("ann", row("", ""));
    EXPECT_NE(second, first);
    directory->release(first); // a late end of the old connection
    EXPECT_EQ(sessions.find_now("ann"), second);
    EXPECT_FALSE(second->closed);
}

TEST_P(DirectoryTest, OfClaimsRacingForOneUserExactlyOneWins)
{
    constexpr int racers = 8;
    std::latch start(racers);
    std::atomic<int> won = 0, refused = 0;
    std::vector<std::thread> threads;
    for (int i = 0; i < racers; ++i) {
        threads.emplace_back([&] {
            start.arrive_and_wait();
            const int code = refusal_of_claim("ann");
            if (code == -1)
                ++won;
            else if (code == qsexcpt::user_online)
                ++refused;
        });
    }
    for (auto& t : threads)
        t.join();
    EXPECT_EQ(won, 1);
    EXPECT_EQ(refused, racers - 1);
}

INSTANTIATE_TEST_SUITE_P(Local, DirectoryTest, ::testing::Values(directory_factory([](node_sessions& sessions) {
                             return std::make_unique<local_directory>(sessions);
                         })));

} // namespace
} // namespace qs::test

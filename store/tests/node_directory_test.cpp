// The cluster's node leases and session claims on PostgreSQL (SQLite has neither).
#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "qs/store/connection_pool.h"
#include "qs/store/node_directory.h"
#include "store_fixture.h"

namespace qs::test {
namespace {

using namespace std::chrono_literals;

class NodeDirectoryTest : public StoreTest {
protected:
    void SetUp() override
    {
        if (!db.is_postgresql())
            GTEST_SKIP() << "PostgreSQL only";
        StoreTest::SetUp();
        db.exec("DELETE FROM sessions");
        db.exec("DELETE FROM nodes");
    }
    // The node's lease ran out a moment ago, as if it had stopped renewing.
    void lapse(const std::string& node) const
    {
        db.exec("UPDATE nodes SET lease_until = now() - INTERVAL '1 second' WHERE name = '" + node + "'");
    }

    connection_pool pool{pool_options{}};
    node_directory nodes{pool};
};

TEST_F(NodeDirectoryTest, ANodeIsLiveFromItsRegistrationUntilItsReleaseOrItsLeaseEnds)
{
    ASSERT_TRUE(nodes.register_node("n1", 30s));
    ASSERT_TRUE(nodes.register_node("n2", 30s));
    EXPECT_EQ(nodes.live_nodes(), (std::vector<std::string>{"n1", "n2"}));
    EXPECT_FALSE(nodes.register_node("n1", 30s)) << "a live node's name is taken";
    EXPECT_TRUE(nodes.renew("n1", 30s));
    EXPECT_EQ(db.scalar("SELECT count(*) FROM nodes WHERE lease_until > now() + INTERVAL '20 seconds'"), "2");

    nodes.release_node("n1");
    EXPECT_EQ(nodes.live_nodes(), std::vector<std::string>{"n2"});
    EXPECT_FALSE(nodes.renew("n1", 30s)) << "a released lease is not renewed";
    lapse("n2");
    EXPECT_TRUE(nodes.live_nodes().empty());
    EXPECT_FALSE(nodes.renew("n2", 30s)) << "a lease that ran out is not renewed";
    EXPECT_FALSE(nodes.renew("unknown", 30s));

    EXPECT_TRUE(nodes.register_node("n1", 30s)) << "the name is free again";
    EXPECT_EQ(nodes.live_nodes(), std::vector<std::string>{"n1"});
}

TEST_F(NodeDirectoryTest, ALiveNodeKeepsItsSessionsAndOneWhoseLeaseRanOutLosesThem)
{
    ASSERT_TRUE(nodes.register_node("n1", 30s));
    ASSERT_TRUE(nodes.register_node("n2", 30s));
    EXPECT_EQ(nodes.holder("ann"), std::nullopt);
    ASSERT_TRUE(nodes.claim("ann", "n1"));
    const std::string since = db.scalar("SELECT since FROM sessions WHERE username = 'ann'");
    EXPECT_TRUE(nodes.claim("ann", "n1")) << "its holder keeps it";
    EXPECT_EQ(db.scalar("SELECT since FROM sessions WHERE username = 'ann'"), since);
    EXPECT_FALSE(nodes.claim("ann", "n2"));
    EXPECT_EQ(nodes.holder("ann"), "n1");

    lapse("n1");
    EXPECT_EQ(nodes.holder("ann"), std::nullopt);
    EXPECT_FALSE(nodes.claim("bob", "n1")) << "a node whose lease ran out claims nothing";
    EXPECT_FALSE(nodes.claim("ann", "n1"));
    ASSERT_TRUE(nodes.claim("ann", "n2"));
    EXPECT_EQ(nodes.holder("ann"), "n2");
}

TEST_F(NodeDirectoryTest, ReleasesEndOneSessionOrEveryOneOfANode)
{
    ASSERT_TRUE(nodes.register_node("n1", 30s));
    ASSERT_TRUE(nodes.register_node("n2", 30s));
    for (const char* user : {"ann", "bob", "cy"})
        ASSERT_TRUE(nodes.claim(user, "n1"));
    ASSERT_TRUE(nodes.claim("dan", "n2"));

    nodes.release("ann", "n2");
    EXPECT_EQ(nodes.holder("ann"), "n1") << "only its holder releases a session";
    nodes.release("ann", "n1");
    EXPECT_EQ(nodes.holder("ann"), std::nullopt);
    EXPECT_TRUE(nodes.claim("ann", "n2"));

    nodes.release_node("n1");
    EXPECT_EQ(db.scalar("SELECT count(*) FROM sessions WHERE node = 'n1'"), "0");
    EXPECT_EQ(nodes.holder("dan"), "n2");
    EXPECT_TRUE(nodes.claim("bob", "n2"));
}

TEST_F(NodeDirectoryTest, ARegistrationForgetsTheSessionsOfAnEarlierRunOfTheName)
{
    ASSERT_TRUE(nodes.register_node("n1", 30s));
    ASSERT_TRUE(nodes.claim("ann", "n1"));
    lapse("n1"); // it crashed: nobody released anything
    ASSERT_TRUE(nodes.register_node("n1", 30s));
    EXPECT_EQ(nodes.holder("ann"), std::nullopt);
    EXPECT_EQ(db.scalar("SELECT count(*) FROM sessions"), "0");

    ASSERT_TRUE(nodes.claim("ann", "n1"));
    EXPECT_FALSE(nodes.register_node("n1", 30s));
    EXPECT_EQ(nodes.holder("ann"), "n1") << "a refused registration leaves the live node's sessions";
}

TEST_F(NodeDirectoryTest, OfNodesClaimingOneUserAtOnceExactlyOneWins)
{
    const std::vector<std::string> names{"n1", "n2", "n3", "n4"};
    for (const auto& n : names)
        ASSERT_TRUE(nodes.register_node(n, 30s));
    connection_pool wide{[] {
        pool_options o;
        o.size = 8;
        return o;
    }()};
    node_directory shared{wide};
    for (int round = 0; round < 20; ++round) {
        const std::string user = "user" + std::to_string(round);
        std::atomic<int> wins{0};
        std::vector<std::thread> claimants;
        for (int i = 0; i < 8; ++i)
            claimants.emplace_back([&, i] {
                if (shared.claim(user, names[static_cast<std::size_t>(i) % names.size()]))
                    wins.fetch_add(1);
            });
        for (auto& t : claimants)
            t.join();
        // Two threads of the winning node both win: it holds the session either way.
        const auto holder = nodes.holder(user);
        ASSERT_TRUE(holder.has_value());
        EXPECT_EQ(wins.load(), 2) << user << ": the holder's two claims win, the others' lose";
    }
}

} // namespace
} // namespace qs::test

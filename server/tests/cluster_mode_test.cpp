// qsserver with cluster_url: nodes on one PostgreSQL database and one nats-server keep
// live leases and end them when they stop; a node joins a bus that comes up after it;
// SQLite refuses the cluster mode.
#include <gtest/gtest.h>

#include <thread>

#include "database_stall.h"
#include "store_fixture.h"
#include "nats_server.h"
#include "server_process.h"

namespace qs::test {
namespace {

using namespace std::chrono_literals;

class ClusterModeTest : public StoreTest {
protected:
    void SetUp() override
    {
        StoreTest::SetUp();
        if (db.is_postgresql()) {
            db.exec("DELETE FROM sessions");
            db.exec("DELETE FROM nodes");
        }
    }
    std::vector<std::string> node_conf(const std::string& name, int lease = 30) const
    {
        return {"cluster_url=" + nats.url(), "node_name=" + name, "node_lease=" + std::to_string(lease)};
    }
    std::string live_nodes() const
    {
        return db.scalar("SELECT string_agg(name, ',' ORDER BY name) FROM nodes WHERE lease_until > now()");
    }
    std::string lease_of(const std::string& name) const
    {
        return db.scalar("SELECT lease_until FROM nodes WHERE name = '" + name + "'");
    }
    // Polls the database until the lease of name is no longer was.
    bool lease_moves_on(const std::string& name, const std::string& was) const
    {
        const auto deadline = std::chrono::steady_clock::now() + 20s;
        while (lease_of(name) == was) {
            if (std::chrono::steady_clock::now() > deadline)
                return false;
            std::this_thread::sleep_for(50ms);
        }
        return true;
    }

    nats_server nats;
};

TEST_F(ClusterModeTest, TwoNodesOnOneDatabaseKeepLiveLeasesAndAStoppedOneEndsItsLeaseAtOnce)
{
    if (!db.is_postgresql())
        GTEST_SKIP() << "PostgreSQL only";
    server_process a(node_conf("node-a", 3)), b(node_conf("node-b"));
    a.start();
    b.start();
    EXPECT_EQ(live_nodes(), "node-a,node-b");
    ASSERT_TRUE(a.wait_for_log("Node node-a joined the cluster bus (" + nats.url() + ")."));
    ASSERT_TRUE(b.wait_for_log("Node node-b joined the cluster bus"));
    EXPECT_EQ(client(a.port()).exec("ver"), "0.1");

    EXPECT_TRUE(lease_moves_on("node-a", lease_of("node-a"))) << "renewed every second";
    EXPECT_EQ(live_nodes(), "node-a,node-b");

    ASSERT_EQ(a.stop(), 0);
    EXPECT_EQ(live_nodes(), "node-b") << "the stop ended the lease";
    EXPECT_EQ(db.scalar("SELECT count(*) FROM nodes WHERE name = 'node-a'"), "1") << "the row stays";
    EXPECT_EQ(count_of(a.log(), "The cluster bus is gone"), 0u) << "closing the bus is no outage";
}

TEST_F(ClusterModeTest, ANodeStartsWithoutItsBusAndJoinsItWhenItComesUp)
{
    if (!db.is_postgresql())
        GTEST_SKIP() << "PostgreSQL only";
    nats.kill();
    server_process node(node_conf("late"));
    node.start();
    EXPECT_EQ(live_nodes(), "late");
    EXPECT_NE(node.log().find("does not answer yet"), std::string::npos) << node.log();

    nats.restart();
    ASSERT_TRUE(node.wait_for_log("Node late joined the cluster bus"));
    nats.kill();
    ASSERT_TRUE(node.wait_for_log("The cluster bus is gone"));
    nats.restart();
    ASSERT_TRUE(node.wait_for_log("The cluster bus is back."));
    EXPECT_EQ(count_of(node.log(), "The cluster bus is gone"), 1u) << node.log();
    EXPECT_EQ(count_of(node.log(), "The cluster bus is back."), 1u) << node.log();
}

TEST_F(ClusterModeTest, ANameHeldByALiveNodeFailsTheStart)
{
    if (!db.is_postgresql())
        GTEST_SKIP() << "PostgreSQL only";
    server_process first(node_conf("twin")), second(node_conf("twin"));
    first.start();
    const auto [out, status] = run_qsserver(second.dir(), {"--console"});
    EXPECT_EQ(status, 1);
    EXPECT_NE(read_file(second.dir() + "/run.err").find("another live node is named twin"), std::string::npos);
    EXPECT_EQ(live_nodes(), "twin");
}

TEST_F(ClusterModeTest, ClusterModeOnSQLiteFailsTheStartWithTheReason)
{
    if (db.is_postgresql())
        GTEST_SKIP() << "SQLite only";
    server_process node(node_conf("lone"));
    const auto [out, status] = run_qsserver(node.dir(), {"--console"});
    EXPECT_EQ(status, 1);
    const std::string reason = "cluster_url needs the database on PostgreSQL; \"Quillspeak Database\" is on SQLite";
    EXPECT_NE(read_file(node.dir() + "/run.err").find(reason), std::string::npos) << read_file(node.dir() + "/run.err");
    EXPECT_NE(node.log().find(reason), std::string::npos);
    EXPECT_EQ(out.find("Listening on"), std::string::npos);
}

} // namespace
} // namespace qs::test

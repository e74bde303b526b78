// Nodes of a cluster serve one set of users: one login per user across the nodes,
// messages and status events that cross nodes, stored entries that reach a session on
// any node, a killed node's users freed by its lease, a bus that restarts, and two NATS
// servers joined by a route.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "logic_fixture.h"
#include "nats_server.h"
#include "qs/net/frame.h"
#include "server_process.h"
#include "store_fixture.h"

namespace qs::test {
namespace {

using namespace std::chrono_literals;

const std::string already_online = "The user is already online.";

class ClusterRoutingTest : public StoreTest {
protected:
    void SetUp() override
    {
        StoreTest::SetUp();
        if (!db.is_postgresql())
            GTEST_SKIP() << "PostgreSQL only";
        db.exec("DELETE FROM sessions");
        db.exec("DELETE FROM nodes");
    }
    std::unique_ptr<server_process> node(const std::string& name, int lease = 30, const nats_server* bus = nullptr)
    {
        auto p = std::make_unique<server_process>(std::vector<std::string>{
            "cluster_url=" + (bus ? bus : &nats)->url(), "node_name=" + name, "node_lease=" + std::to_string(lease)});
        p->start();
        EXPECT_TRUE(p->wait_for_log("Node " + name + " joined the cluster bus"));
        return p;
    }
    static void add_users(int port, std::initializer_list<const char*> names)
    {
        client admin(port);
        for (const char* n : names)
            ASSERT_EQ(admin.exec(std::string("newuser ") + n + " pw"), "Ok.");
    }
    // A logged-in connection whose replies can be awaited one by one.
    static std::unique_ptr<raw_client> logged_in(int port, const std::string& name)
    {
        auto c = bounded_client(port);
        EXPECT_EQ(ask(*c, "login " + name + " pw"), "Ok.");
        return c;
    }

    nats_server nats;
};

TEST_F(ClusterRoutingTest, MessagesOfEveryKindReachAUserOnAnotherNodeInOrderAndWakeItsSelect)
{
    auto a = node("a"), b = node("b");
    add_users(a->port(), {"ann", "bob", "cy"});
    client ann(a->port());
    ASSERT_EQ(ann.exec("login ann pw"), "Ok.");
    auto bob = logged_in(b->port(), "bob");
    bob->send(encode_frame(2, "select MSG"));
    ASSERT_EQ(ask(*bob, "ver"), "0.1"); // the select waits on b

    EXPECT_EQ(ann.exec("sendmessage bob hello"), "Ok.");
    EXPECT_EQ(texts_of(bob->next().text.substr(12)), std::vector<std::string>{"hello"});

    std::vector<std::string> sent;
    for (int i = 0; i < 20; ++i) {
        sent.push_back("m" + std::to_string(i));
        ASSERT_EQ(ann.exec("sendmessage bob " + sent.back()), "Ok.");
    }
    std::vector<std::string> got;
    for (std::string reply; got.size() < sent.size() && (reply = ask(*bob, "getmessage")).rfind("getmessage", 0) != 0;)
        for (auto& t : texts_of(reply))
            got.push_back(t);
    EXPECT_EQ(got, sent) << "in order, once each";

    EXPECT_EQ(ann.exec("sendcustommessage bob custom"), "Ok.");
    EXPECT_EQ(texts_of(ask(*bob, "getcustommessage")), std::vector<std::string>{"custom"});

    client cy(a->port());
    ASSERT_EQ(cy.exec("login cy pw"), "Ok.");
    ASSERT_EQ(ann.exec("newgroup g"), "Ok.");
    ASSERT_EQ(ann.exec("setmemberlist g ann|bob|cy"), "Ok.");
    EXPECT_EQ(ann.exec("sendgroupmessage g together"), "Ok.");
    EXPECT_EQ(texts_of(ask(*bob, "getgroupmessage")), std::vector<std::string>{"together"});
    EXPECT_EQ(texts_of(cy.exec("getgroupmessage")), std::vector<std::string>{"together"});
}

TEST_F(ClusterRoutingTest, AUserIsOnlineOnOneNodeOnlyAndOfRacingLoginsExactlyOneWins)
{
    auto a = node("a"), b = node("b"), c = node("c");
    add_users(a->port(), {"bob", "race"});
    auto bob = logged_in(a->port(), "bob");
    EXPECT_EQ(client(b->port()).exec("login bob pw"), already_online);
    EXPECT_EQ(ask(*bob, "getstatus bob"), "online") << "the session on a is untouched";
    ASSERT_EQ(ask(*bob, "logout"), "Ok.");
    EXPECT_EQ(client(b->port()).exec("login bob pw"), "Ok.") << "released at logout";

    const int ports[] = {a->port(), b->port(), c->port()};
    std::vector<std::unique_ptr<raw_client>> racers;
    for (int i = 0; i < 100; ++i) {
        racers.push_back(bounded_client(ports[i % 3]));
        ASSERT_EQ(ask(*racers.back(), "ver"), "0.1"); // accepted: the race is the logins' only
    }
    std::atomic<bool> go{false};
    std::atomic<int> ok{0}, online{0};
    std::vector<std::thread> threads;
    for (auto& r : racers)
        threads.emplace_back([&, r = r.get()] {
            while (!go.load())
                std::this_thread::yield();
            const std::string reply = ask(*r, "login race pw");
            ++(reply == "Ok." ? ok : reply == already_online ? online : ok);
        });
    go = true;
    for (auto& t : threads)
        t.join();

    EXPECT_EQ(ok.load(), 1);
    EXPECT_EQ(online.load(), 99);
}

TEST_F(ClusterRoutingTest, StatusChangesAndTheirEventsAreSeenFromEveryNode)
{
    auto a = node("a"), b = node("b");
    add_users(a->port(), {"ann", "bob"});
    client ann(a->port());
    ASSERT_EQ(ann.exec("login ann pw"), "Ok.");
    ASSERT_EQ(ann.exec("setcontactlist bob"), "Ok.");
    auto bob = logged_in(b->port(), "bob");
    EXPECT_EQ(ask(*bob, "getstatus ann"), "online");

    bob->send(encode_frame(2, "select STATUS"));
    ASSERT_EQ(ask(*bob, "ver"), "0.1");
    ASSERT_EQ(ann.exec("setstatus away"), "Ok.");
    EXPECT_EQ(bob->next().text, "getstatus ann: away") << "as on one node, the event reads the status";
    EXPECT_EQ(ask(*bob, "getstatus ann"), "away") << "the event follows the change";

    ASSERT_EQ(ann.exec("logout"), "Ok.");
    EXPECT_EQ(ask(*bob, "select STATUS"), "getstatus ann: ");
    EXPECT_EQ(ask(*bob, "getstatus ann"), "");
}

TEST_F(ClusterRoutingTest, EntriesStoredForAUserOnlineSomewhereReachItsSession)
{
    auto a = node("a"), b = node("b");
    add_users(a->port(), {"ann", "bob"});
    auto bob = logged_in(b->port(), "bob");
    bob->send(encode_frame(2, "select MSG"));
    ASSERT_EQ(ask(*bob, "ver"), "0.1");
    db.exec("UPDATE msgpool SET messages = 'ann 2026-12-10 00:00:00 \"appended\"' WHERE username = 'bob'");
    EXPECT_EQ(texts_of(bob->next().text.substr(12)), std::vector<std::string>{"appended"});

    nats.kill(); // a cannot route: it stores, and b's sweep finds the entry
    ASSERT_TRUE(a->wait_for_log("The cluster bus is gone"));
    client ann(a->port());
    ASSERT_EQ(ann.exec("login ann pw"), "Ok.");
    bob->send(encode_frame(3, "select MSG"));
    ASSERT_EQ(ask(*bob, "ver"), "0.1");
    EXPECT_EQ(ann.exec("sendmessage bob while-away"), "Ok.");
    EXPECT_EQ(texts_of(bob->next().text.substr(12)), std::vector<std::string>{"while-away"});

    nats.restart();
    ASSERT_TRUE(a->wait_for_log("The cluster bus is back."));
    ASSERT_TRUE(b->wait_for_log("The cluster bus is back."));
    bob->send(encode_frame(4, "select MSG"));
    ASSERT_EQ(ask(*bob, "ver"), "0.1");
    EXPECT_EQ(ann.exec("sendmessage bob back"), "Ok.");
    EXPECT_EQ(texts_of(bob->next().text.substr(12)), std::vector<std::string>{"back"});
    EXPECT_EQ(ask(*bob, "getmessage"), "No messages.") << "nothing twice";
}

TEST_F(ClusterRoutingTest, AKilledNodesUsersAreFreedWhenItsLeaseEndsAndNothingSentToThemIsLost)
{
    auto a = node("a", 3), b = node("b");
    add_users(b->port(), {"ann", "bob"});
    client ann(b->port());
    ASSERT_EQ(ann.exec("login ann pw"), "Ok.");
    auto bob = logged_in(a->port(), "bob");
    a->kill_hard();
    EXPECT_EQ(ann.exec("sendmessage bob unanswered"), "Ok.") << "stored once a did not answer";
    auto again = bounded_client(b->port());
    std::string reply;
    const auto deadline = std::chrono::steady_clock::now() + 20s;
    while ((reply = ask(*again, "login bob pw")) == already_online && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(100ms); // polling for a's lease to run out
    ASSERT_EQ(reply, "Ok.");
    EXPECT_EQ(texts_of(ask(*again, "getmessage")), std::vector<std::string>{"unanswered"});
}

TEST_F(ClusterRoutingTest, AStoppedNodesUsersLogInElsewhereAtOnceWithTheirMessages)
{
    auto a = node("a"), b = node("b");
    add_users(b->port(), {"ann", "bob"});
    client ann(b->port());
    ASSERT_EQ(ann.exec("login ann pw"), "Ok.");
    auto bob = logged_in(a->port(), "bob");
    EXPECT_EQ(ann.exec("sendmessage bob kept"), "Ok.");
    ASSERT_EQ(a->stop(), 0);
    auto again = bounded_client(b->port());
    ASSERT_EQ(ask(*again, "login bob pw"), "Ok.") << "the stop released bob";
    EXPECT_EQ(texts_of(ask(*again, "getmessage")), std::vector<std::string>{"kept"});
}

TEST_F(ClusterRoutingTest, NodesOnTwoNatsServersJoinedByARouteAreOneCluster)
{
    nats_server second(nats_server::joined_to{nats});
    auto a = node("a"), b = node("b", 30, &second);
    add_users(a->port(), {"ann", "bob"});
    client ann(a->port());
    ASSERT_EQ(ann.exec("login ann pw"), "Ok.");
    auto bob = logged_in(b->port(), "bob");
    bob->send(encode_frame(2, "select MSG"));
    ASSERT_EQ(ask(*bob, "ver"), "0.1");
    EXPECT_EQ(ann.exec("sendmessage bob routed"), "Ok.");
    EXPECT_EQ(texts_of(bob->next().text.substr(12)), std::vector<std::string>{"routed"});
}

} // namespace
} // namespace qs::test

// Acknowledged messages survive a crash, a locked database and a stop.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <future>
#include <mutex>
#include <set>
#include <sys/socket.h>
#include <sys/time.h>
#include <thread>

#include "logic_fixture.h"
#include "qs/store/odbc/statement.h"
#include "qs/store/recordset.h"
#include "server_process.h"

namespace qs::test {
namespace {

using DurabilityTest = StoreTest;

// Every message text the user can fetch, oldest first, until "No messages.".
std::vector<std::string> fetch_all(client& c)
{
    std::vector<std::string> out;
    for (int round = 0; round < 10000; ++round) {
        const std::string reply = c.exec("getmessage");
        if (reply == "No messages.")
            return out;
        for (auto& t : texts_of(reply))
            out.push_back(t);
    }
    ADD_FAILURE() << "getmessage never ran dry";
    return out;
}

void add_users(int port, std::initializer_list<const char*> names)
{
    client admin(port);
    for (const char* n : names)
        ASSERT_EQ(admin.exec(std::string("newuser ") + n + " pw"), "Ok.");
}

// A SQLite write lock held by this process, as another program would hold it.
class write_lock {
public:
    write_lock() : conn_(recordset::data_source()), stmt_(conn_) { stmt_.execute("BEGIN EXCLUSIVE"); }
    ~write_lock() { release(); }
    void release()
    {
        if (held_)
            stmt_.execute("COMMIT");
        held_ = false;
    }

private:
    odbc::connection conn_;
    odbc::statement stmt_;
    bool held_ = true;
};

TEST_F(DurabilityTest, AKilledServerLosesNoAcknowledgedMessageAndDuplicatesNone)
{
    server_process server({"max_field_len=1000000"});
    server.start();
    add_users(server.port(), {"s0", "s1", "s2", "s3", "bob"});
    std::mutex lock;
    std::set<std::string> acknowledged; // guarded by lock
    std::promise<void> enough;          // also when a sender ends early
    std::atomic<bool> told{false};
    auto sender = [&](int id) {
        client ann(server.port());
        try {
            ASSERT_EQ(ann.exec("login s" + std::to_string(id) + " pw"), "Ok.");
            for (int i = 0; i < 100000; ++i) {
                const std::string text = "s" + std::to_string(id) + "n" + std::to_string(i);
                if (ann.exec("sendmessage bob " + text) != "Ok.")
                    continue;
                std::lock_guard guard(lock);
                acknowledged.insert(text);
                if (acknowledged.size() == 200 && !told.exchange(true))
                    enough.set_value();
            }
        } catch (const exception&) { // the server is gone
        }
        if (!told.exchange(true))
            enough.set_value();
    };
    std::vector<std::thread> senders;
    for (int id = 0; id < 4; ++id)
        senders.emplace_back(sender, id);
    enough.get_future().wait();
    server.kill_hard();
    for (auto& t : senders)
        t.join();
    ASSERT_GE(acknowledged.size(), 200u);

    server.start();
    client bob(server.port());
    ASSERT_EQ(bob.exec("login bob pw"), "Ok.");
    const auto fetched = fetch_all(bob);
    const std::set<std::string> distinct(fetched.begin(), fetched.end());
    EXPECT_EQ(distinct.size(), fetched.size()) << "duplicated messages";
    for (const auto& text : acknowledged)
        EXPECT_EQ(distinct.count(text), 1u) << text << " was acknowledged but lost";
}

TEST_F(DurabilityTest, MessagesStayStoredUntilFetchedThroughACrashAfterLogin)
{
    server_process server;
    server.start();
    add_users(server.port(), {"ann", "bob"});
    {
        client ann(server.port());
        ann.exec("login ann pw");
        for (int i = 0; i < 40; ++i)
            ASSERT_EQ(ann.exec("sendmessage bob m" + std::to_string(i)), "Ok.");
    }
    client bob(server.port());
    ASSERT_EQ(bob.exec("login bob pw"), "Ok.");
    const auto first = texts_of(bob.exec("getmessage"));
    ASSERT_FALSE(first.empty());
    server.kill_hard();
    bob.close();

    server.start();
    client again(server.port());
    ASSERT_EQ(again.exec("login bob pw"), "Ok.");
    auto all = first;
    for (auto& t : fetch_all(again))
        all.push_back(t);
    ASSERT_EQ(all.size(), 40u);
    for (int i = 0; i < 40; ++i)
        EXPECT_EQ(all[static_cast<std::size_t>(i)], "m" + std::to_string(i));
}

TEST_F(DurabilityTest, ALockedDatabaseGivesAClearRefusalWhileOnlineMessagingGoesOn)
{
    server_process server;
    server.start();
    add_users(server.port(), {"ann", "bob", "cy"});
    client ann(server.port());
    ann.exec("login ann pw");
    auto cy = bounded_client(server.port());
    ASSERT_EQ(ask(*cy, "login cy pw"), "Ok.");
    cy->send(encode_frame(2, "select MSG"));
    ASSERT_EQ(ask(*cy, "ver"), "0.1"); // the select waits
    write_lock held;
    EXPECT_EQ(ann.exec("sendmessage bob offline"), "The database is not available.");
    EXPECT_EQ(ann.exec("getinfo bob"), "The database is not available.");
    EXPECT_EQ(ann.exec("ver"), "0.1");
    EXPECT_EQ(ann.exec("sendmessage cy online"), "Ok.") << "handed to the waiting select: nothing to store";
    EXPECT_EQ(texts_of(cy->next().text.substr(12)), std::vector<std::string>{"online"});
    EXPECT_NE(server.log().find("database is locked"), std::string::npos) << server.log();
    held.release();
    ASSERT_TRUE(server.wait_for_log("The database is available again."));
    EXPECT_EQ(ann.exec("sendmessage bob offline"), "Ok.");
    const std::string log = server.log();
    EXPECT_EQ(log.find("The database is not available"), log.rfind("The database is not available"))
        << "said once, not once per request:\n"
        << log;
}

TEST_F(DurabilityTest, StopWithTheDatabaseLockedKeepsEveryMessageForTheNextStart)
{
    server_process server({"store_retry=1", "spill_delay_ms=60000"}); // the messages stay in memory only
    server.start();
    add_users(server.port(), {"ann", "bob", "cy", "dan"});
    client ann(server.port());
    ann.exec("login ann pw");
    auto bob = std::make_unique<client>(server.port());
    ASSERT_EQ(bob->exec("login bob pw"), "Ok.");
    ASSERT_EQ(ann.exec("sendmessage bob first"), "Ok.");
    ASSERT_EQ(texts_of(bob->exec("select MSG").substr(12)), std::vector<std::string>{"first"})
        << "bob selects: what comes next waits for his next select, in memory";
    auto dan = bounded_client(server.port());
    ASSERT_EQ(ask(*dan, "login dan pw"), "Ok.");
    dan->send(encode_frame(2, "select MSG"));
    ASSERT_EQ(ask(*dan, "ver"), "0.1");
    auto sender = bounded_client(server.port());
    ASSERT_EQ(ask(*sender, "login cy pw"), "Ok.");
    for (int i = 0; i < 5; ++i) // not acknowledged while they are in memory only
        sender->send(encode_frame(10 + i, "sendmessage bob m" + std::to_string(i)));
    sender->send(encode_frame(20, "sendmessage dan probe"));
    ASSERT_EQ(texts_of(dan->next().text.substr(12)), std::vector<std::string>{"probe"}) << "the sends before it ran";
    write_lock held;
    bob.reset(); // the connection ends while the database is locked
    ASSERT_TRUE(server.wait_for_log("Could not store the pending messages of bob"));
    EXPECT_EQ(ann.exec("sendmessage bob late"), "The database is not available.")
        << "never acknowledged into a session nobody reads";
    EXPECT_EQ(server.stop(), 0);
    ASSERT_EQ(read_file(server.dir() + "/qsserver.recovery").size() > 0, true) << server.log();
    held.release();

    server.start();
    ASSERT_TRUE(server.wait_for_log("Stored 5 pending messages kept by the last stop."));
    EXPECT_EQ(read_file(server.dir() + "/qsserver.recovery"), "");
    client again(server.port());
    ASSERT_EQ(again.exec("login bob pw"), "Ok.");
    EXPECT_EQ(fetch_all(again), (std::vector<std::string>{"m0", "m1", "m2", "m3", "m4"}));
}

TEST_F(DurabilityTest, MessagesAcknowledgedToAnOnlineUserSurviveAKill)
{
    server_process server;
    server.start();
    add_users(server.port(), {"ann", "bob"});
    client ann(server.port()), bob(server.port());
    ASSERT_EQ(ann.exec("login ann pw"), "Ok.");
    ASSERT_EQ(bob.exec("login bob pw"), "Ok.");
    std::vector<std::string> sent;
    for (int i = 0; i < 45; ++i) {
        sent.push_back("m" + std::to_string(i));
        ASSERT_EQ(ann.exec("sendmessage bob " + sent.back()), "Ok.");
    }
    server.kill_hard();
    ann.close();
    bob.close();

    server.start();
    client again(server.port());
    ASSERT_EQ(again.exec("login bob pw"), "Ok.");
    EXPECT_EQ(fetch_all(again), sent) << "every acknowledged message, once, in order";
}

// Pipelined sends to a user who is online but not reading: "Ok." waits until each is
// stored, and replies keep their order. Nothing comes twice, before a new login or after.
TEST_F(DurabilityTest, RepliesBehindAWaitingSendKeepTheirOrderAndNothingComesTwice)
{
    server_process server({"spill_delay_ms=50"});
    server.start();
    add_users(server.port(), {"ann", "bob"});
    auto ann = bounded_client(server.port());
    ASSERT_EQ(ask(*ann, "login ann pw"), "Ok.");
    auto bob = bounded_client(server.port());
    ASSERT_EQ(ask(*bob, "login bob pw"), "Ok.");
    std::string burst;
    for (int i = 0; i < 20; ++i)
        burst += encode_frame(10 + i, "sendmessage bob m" + std::to_string(i)) + encode_frame(100 + i, "ver");
    ann->send(burst);
    for (int i = 0; i < 20; ++i) {
        const frame ok = ann->next(), ver = ann->next();
        EXPECT_EQ(ok.cid, 10 + i);
        EXPECT_EQ(ok.text, "Ok.");
        EXPECT_EQ(ver.cid, 100 + i);
        EXPECT_EQ(ver.text, "0.1");
    }
    std::vector<std::string> got;
    for (std::string r = ask(*bob, "getmessage"); r != "No messages."; r = ask(*bob, "getmessage"))
        for (auto& t : texts_of(r))
            got.push_back(t);
    ASSERT_EQ(got.size(), 20u);
    for (int i = 0; i < 20; ++i)
        EXPECT_EQ(got[static_cast<std::size_t>(i)], "m" + std::to_string(i));
    ASSERT_EQ(ask(*bob, "logout"), "Ok.");
    ASSERT_EQ(ask(*bob, "login bob pw"), "Ok.");
    EXPECT_EQ(ask(*bob, "getmessage"), "No messages.");
}

TEST_F(DurabilityTest, ASendThatCannotBeStoredIsTakenBackAndSaysSo)
{
    server_process server({"spill_delay_ms=10"});
    server.start();
    add_users(server.port(), {"ann", "bob"});
    client ann(server.port()), bob(server.port());
    ASSERT_EQ(ann.exec("login ann pw"), "Ok.");
    ASSERT_EQ(bob.exec("login bob pw"), "Ok.");
    {
        write_lock held;
        EXPECT_EQ(ann.exec("sendmessage bob lost"), "The database is not available.");
    }
    ASSERT_TRUE(server.wait_for_log("The database is available again."));
    EXPECT_EQ(bob.exec("getmessage"), "No messages.") << "a send said to have failed never arrives";
    EXPECT_EQ(ann.exec("sendmessage bob kept"), "Ok.");
    EXPECT_EQ(texts_of(bob.exec("getmessage")), std::vector<std::string>{"kept"});
}

// Receivers keep a select waiting while senders pipeline; the server is killed midway.
// Every acknowledged message reaches its receiver: before the kill, or after the start.
TEST_F(DurabilityTest, AKillInTheMiddleOfABurstLosesNoAcknowledgedMessage)
{
    constexpr int pairs = 3, per_burst = 8;
    server_process server({"max_field_len=1000000"});
    server.start();
    for (int p = 0; p < pairs; ++p)
        add_users(server.port(), {("r" + std::to_string(p)).c_str(), ("s" + std::to_string(p)).c_str()});
    std::vector<std::vector<std::string>> acked(pairs), received(pairs);
    std::atomic<int> total_acked{0};
    std::promise<void> enough;
    std::atomic<bool> told{false};
    std::vector<std::thread> threads;
    for (int p = 0; p < pairs; ++p) {
        threads.emplace_back([&, p] { // receiver
            try {
                auto c = bounded_client(server.port());
                ask(*c, "login r" + std::to_string(p) + " pw");
                for (;;) {
                    const std::string r = ask(*c, "select MSG");
                    for (auto& t : texts_of(r.substr(std::string("getmessage: ").size())))
                        received[static_cast<std::size_t>(p)].push_back(t);
                }
            } catch (const exception&) { // the server is gone
            }
        });
        threads.emplace_back([&, p] { // sender
            try {
                auto c = bounded_client(server.port());
                ask(*c, "login s" + std::to_string(p) + " pw");
                for (int i = 0;; i += per_burst) {
                    std::string burst;
                    for (int j = i; j < i + per_burst; ++j)
                        burst += encode_frame(j, "sendmessage r" + std::to_string(p) + " m" + std::to_string(j));
                    c->send(burst);
                    for (int j = i; j < i + per_burst; ++j) {
                        const frame f = c->next();
                        if (f.text == "Ok.")
                            acked[static_cast<std::size_t>(p)].push_back("m" + std::to_string(f.cid));
                        if (++total_acked == 3000 && !told.exchange(true))
                            enough.set_value();
                    }
                }
            } catch (const exception&) {
            }
            if (!told.exchange(true))
                enough.set_value();
        });
    }
    enough.get_future().wait();
    server.kill_hard();
    for (auto& t : threads)
        t.join();

    server.start();
    for (int p = 0; p < pairs; ++p) {
        client again(server.port());
        ASSERT_EQ(again.exec("login r" + std::to_string(p) + " pw"), "Ok.");
        auto after = fetch_all(again);
        const std::set<std::string> distinct_after(after.begin(), after.end());
        EXPECT_EQ(distinct_after.size(), after.size()) << "stored twice";
        std::set<std::string> all(after.begin(), after.end());
        all.insert(received[static_cast<std::size_t>(p)].begin(), received[static_cast<std::size_t>(p)].end());
        for (const auto& text : acked[static_cast<std::size_t>(p)])
            ASSERT_EQ(all.count(text), 1u) << text << " was acknowledged but lost";
    }
}

} // namespace
} // namespace qs::test

// Acknowledged messages survive a crash, a locked database and a stop.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <future>
#include <mutex>
#include <set>
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
    std::set<std::string> acknowledged;  // guarded by lock
    std::promise<void> enough;           // also when a sender ends early
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
        } catch (const exception&) {  // the server is gone
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
    client ann(server.port()), cy(server.port());
    ann.exec("login ann pw");
    cy.exec("login cy pw");
    write_lock held;
    EXPECT_EQ(ann.exec("sendmessage bob offline"), "The database is not available.");
    EXPECT_EQ(ann.exec("ver"), "0.1");
    EXPECT_EQ(ann.exec("sendmessage cy online"), "Ok.");
    EXPECT_EQ(texts_of(cy.exec("select MSG").substr(12)), std::vector<std::string>{"online"});
    EXPECT_NE(server.log().find("database is locked"), std::string::npos) << server.log();
    held.release();
    EXPECT_EQ(ann.exec("sendmessage bob offline"), "Ok.");
}

TEST_F(DurabilityTest, StopWithTheDatabaseLockedKeepsEveryMessageForTheNextStart)
{
    server_process server({"store_retry=1"});
    server.start();
    add_users(server.port(), {"ann", "bob"});
    client ann(server.port());
    ann.exec("login ann pw");
    auto bob = std::make_unique<client>(server.port());
    ASSERT_EQ(bob->exec("login bob pw"), "Ok.");
    for (int i = 0; i < 5; ++i)
        ASSERT_EQ(ann.exec("sendmessage bob m" + std::to_string(i)), "Ok.");
    write_lock held;
    bob.reset();  // the connection ends while the database is locked
    ASSERT_TRUE(server.wait_for_log("Could not store the pending messages of bob"));
    EXPECT_EQ(ann.exec("sendmessage bob late"), "The database is not available.")
        << "never acknowledged into a session nobody reads";
    EXPECT_EQ(server.stop(), 0);
    EXPECT_EQ(read_file(server.dir() + "/qsserver.recovery").size() > 0, true);
    held.release();

    server.start();
    ASSERT_TRUE(server.wait_for_log("Stored 5 pending messages kept by the last stop."));
    EXPECT_EQ(read_file(server.dir() + "/qsserver.recovery"), "");
    client again(server.port());
    ASSERT_EQ(again.exec("login bob pw"), "Ok.");
    EXPECT_EQ(fetch_all(again), (std::vector<std::string>{"m0", "m1", "m2", "m3", "m4"}));
}

} // namespace
} // namespace qs::test

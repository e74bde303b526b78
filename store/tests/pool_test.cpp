#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <csignal>
#include <future>
#include <mutex>
#include <set>
#include <thread>

#include "qs/store/database.h"
#include "qs/store/list_encoding.h"
#include "qs/store/odbc/statement.h"
#include "qs/store/recordset.h"
#include "store_fixture.h"

namespace qs::test {
namespace {

using ConnectionPoolTest = StoreTest;

pool_options options_of(int size, unsigned timeout_seconds = 10)
{
    pool_options o;
    o.size = size;
    o.timeout_seconds = timeout_seconds;
    return o;
}

void add_pool_row(test_database& db, const std::string& name)
{
    db.exec("INSERT INTO userinfo (username, password) VALUES ('" + name + "', 'pw')");
    db.exec("INSERT INTO msgpool (username) VALUES ('" + name + "')");
}

TEST_F(ConnectionPoolTest, ManyThreadsShareFewConnectionsAndEveryStatementIsCounted)
{
    connection_pool pool(options_of(2));
    std::atomic<int> inside{0}, most{0};
    auto worker = [&] {
        for (int i = 0; i < 25; ++i) {
            pool.run([&](pooled_connection& c) {
                const int now = ++inside;
                int seen = most.load();
                while (now > seen && !most.compare_exchange_weak(seen, now)) {
                }
                auto& s = c.prepared("SELECT count(*) FROM userinfo");
                s.run({});
                EXPECT_TRUE(s.fetch());
                --inside;
            });
        }
    };
    std::vector<std::thread> threads;
    for (int t = 0; t < 6; ++t)
        threads.emplace_back(worker);
    for (auto& t : threads)
        t.join();
    EXPECT_LE(most.load(), 2) << "never more borrowers than connections";
    EXPECT_EQ(pool.statements(), 150u);
}

TEST_F(ConnectionPoolTest, BorrowingWaitsABoundedTimeThenFailsAsUnavailable)
{
    connection_pool pool(options_of(1, 1));
    auto held = pool.borrow();
    auto waiter = std::async(std::launch::async, [&] {
        try {
            pool.borrow();
        } catch (const db_error& e) {
            return e;
        }
        return db_error("", "borrowed");
    });
    const db_error e = waiter.get();
    EXPECT_EQ(e.sqlstate(), "HYT00") << e.what();
    EXPECT_TRUE(e.is_unavailable());
}

TEST_F(ConnectionPoolTest, AFailedConnectIsRetriedOnlyAfterItsBackOff)
{
    pool_options o = options_of(1);
    o.connect_string = "DSN=No Such Source;";
    o.first_backoff = std::chrono::hours(1);
    connection_pool pool(o);
    std::string first, second;
    try {
        pool.borrow();
    } catch (const db_error& e) {
        first = e.what();
    }
    try {
        pool.borrow();
    } catch (const db_error& e) {
        second = e.what();
    }
    EXPECT_NE(first.find("connecting"), std::string::npos) << first;
    EXPECT_EQ(second, first) << "refused at once with the last failure, no second connect";
}

TEST_F(ConnectionPoolTest, ABrokenConnectionIsReplacedByTheNextBorrow)
{
    if (!db.is_postgresql())
        GTEST_SKIP() << "only a server can end a connection from outside";
    connection_pool pool(options_of(1));
    const std::string pid = pool.run([](pooled_connection& c) {
        auto& s = c.prepared("SELECT pg_backend_pid()");
        s.run({});
        s.fetch();
        return s.text(1);
    });
    db.exec("SELECT pg_terminate_backend(" + pid + ")");
    db_error lost("", "");
    try {
        pool.run([](pooled_connection& c) { c.prepared("SELECT 1").run({}); });
    } catch (const db_error& e) {
        lost = e;
    }
    EXPECT_TRUE(lost.is_unavailable()) << lost.sqlstate() << " " << lost.what();
    ASSERT_TRUE(pool.wait_available(std::chrono::seconds(30))) << "a probe finds the server answering";
    const std::string again = pool.run([](pooled_connection& c) {
        auto& s = c.prepared("SELECT pg_backend_pid()");
        s.run({});
        s.fetch();
        return s.text(1);
    });
    EXPECT_NE(again, pid);
}

TEST_F(ConnectionPoolTest, ConcurrentAppendsKeepTheBoundAndLoseNothingAccepted)
{
    add_pool_row(db, "bob");
    database d(options_of(4));
    constexpr std::size_t limit = 400;
    std::mutex lock;
    std::vector<std::string> accepted; // guarded by lock
    std::atomic<int> full{0};
    auto sender = [&](int t) {
        for (int i = 0; i < 20; ++i) {
            const std::string entry = "e" + std::to_string(t) + "_" + std::to_string(i) + "\xe9|";
            const auto r = d.append(database::messages, "bob", entry.substr(0, entry.size() - 1), limit);
            if (r == database::append_result::appended) {
                std::lock_guard guard(lock);
                accepted.push_back(entry.substr(0, entry.size() - 1));
            } else {
                EXPECT_EQ(r, database::append_result::full);
                ++full;
            }
        }
    };
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t)
        threads.emplace_back(sender, t);
    for (auto& t : threads)
        t.join();
    const std::string stored = d.read_pool(database::messages, "bob");
    EXPECT_LE(stored.size(), limit);
    EXPECT_GT(full.load(), 0);
    auto pieces = split_list(stored);
    std::sort(pieces.begin(), pieces.end());
    std::sort(accepted.begin(), accepted.end());
    EXPECT_EQ(pieces, accepted);
    EXPECT_EQ(d.append(database::messages, "nobody", "x", limit), database::append_result::no_row);
}

// The pool's answer and a connection of one's own (qsadmin's) agree, row or no row.
TEST_F(ConnectionPoolTest, UserExistsAnswersAlikeOnThePoolAndOnAConnection)
{
    db.exec("INSERT INTO userinfo (username, password) VALUES ('ann', 'pw')");
    db.exec("INSERT INTO msgpool (username) VALUES ('bob')"); // a msgpool row alone is no user
    database d(options_of(1));
    odbc::connection own(recordset::data_source());
    for (const std::string name : {"ann", "bob", "Ann", "", "' OR ''='"}) {
        const bool expected = name == "ann";
        EXPECT_EQ(d.user_exists(name), expected) << name;
        EXPECT_EQ(database::user_exists(own, name), expected) << name;
    }
}

TEST_F(ConnectionPoolTest, HandOutReplacesOnlyWhatIsStillThereAndUnboundedAppendMakesTheRow)
{
    add_pool_row(db, "bob");
    database d(options_of(1));
    d.append_unbounded("bob", {"a|b", "", "c"});
    d.append_unbounded("bob", {"d", "g", ""});
    EXPECT_EQ(d.read_pool(database::messages, "bob"), "a|b|d");
    EXPECT_FALSE(d.replace_if(database::messages, "bob", "a|b", "b"));
    EXPECT_TRUE(d.replace_if(database::messages, "bob", "a|b|d", "b|d"));
    EXPECT_EQ(d.read_pool(database::messages, "bob"), "b|d");
    EXPECT_TRUE(d.replace_if(database::groupmessages, "bob", "g", ""));

    db.exec("INSERT INTO userinfo (username, password) VALUES ('cy', 'pw')");
    d.append_unbounded("cy", {"x", "", ""});
    EXPECT_EQ(d.read_pool(database::messages, "cy"), "x") << "a missing row is made";
    const auto login = d.read_login("cy");
    ASSERT_TRUE(login.has_value());
    EXPECT_EQ(login->password, "pw");
    EXPECT_EQ(login->stored[database::messages], "x");
    EXPECT_FALSE(d.read_login("nobody").has_value());
}

// What the breaker's listener heard, in order. Made before the pool it listens to, so
// that it outlives the pool's threads.
class heard_changes {
public:
    void listen_to(connection_pool& pool)
    {
        pool.on_availability([this](bool available, const db_error&) {
            std::lock_guard guard(lock_);
            changes_.push_back(available);
        });
    }
    std::vector<bool> changes()
    {
        std::lock_guard guard(lock_);
        return changes_;
    }

private:
    std::mutex lock_; // guards changes_
    std::vector<bool> changes_;
};

TEST_F(ConnectionPoolTest, ALockedDatabaseOpensTheBreakerUntilAProbeFindsTheLockGone)
{
    if (db.is_postgresql())
        GTEST_SKIP() << "SQLite's write lock";
    add_pool_row(db, "bob");
    heard_changes heard;
    database d(options_of(1));
    heard.listen_to(d.pool());
    odbc::connection holder(recordset::data_source());
    odbc::statement hold(holder);
    hold.execute("BEGIN EXCLUSIVE");
    db_error locked("", "");
    try {
        d.append(database::messages, "bob", "x", 100);
    } catch (const db_error& e) {
        locked = e;
    }
    EXPECT_TRUE(locked.is_unavailable()) << locked.sqlstate() << " " << locked.what();
    EXPECT_FALSE(d.pool().available());
    db_error refused("", "");
    try {
        d.read_login("bob"); // would read: the breaker refuses before any statement
    } catch (const db_error& e) {
        refused = e;
    }
    EXPECT_TRUE(refused.is_unavailable());
    EXPECT_EQ(std::string(refused.what()).rfind("the database is not available: ", 0), 0u) << refused.what();
    EXPECT_EQ(heard.changes(), std::vector<bool>{false}) << "one change however many refusals";

    hold.execute("COMMIT");
    ASSERT_TRUE(d.pool().wait_available(std::chrono::seconds(30)));
    EXPECT_EQ(heard.changes(), (std::vector<bool>{false, true}));
    EXPECT_EQ(d.append(database::messages, "bob", "x", 100), database::append_result::appended);
}

// The backend serving the pool's one connection, stopped: the server keeps the
// connection open and never answers, and no time-out of the driver's own ends the wait.
TEST_F(ConnectionPoolTest, AStatementOnAServerThatStoppedAnsweringIsCutAndTheConnectionReplaced)
{
    if (!db.is_postgresql())
        GTEST_SKIP() << "a server process to stop";
    heard_changes heard;
    connection_pool pool(options_of(1, 1));
    heard.listen_to(pool);
    const auto backend = [&] {
        return pool.run([](pooled_connection& c) {
            auto& s = c.prepared("SELECT pg_backend_pid()");
            s.run({});
            s.fetch();
            return s.text(1);
        });
    };
    const pid_t stopped = std::stoi(backend());
    ASSERT_EQ(::kill(stopped, SIGSTOP), 0);
    auto stuck = std::async(std::launch::async, [&] {
        try {
            pool.run([](pooled_connection& c) { c.prepared("SELECT 1").run({}); });
        } catch (const db_error& e) {
            return e;
        }
        return db_error("", "answered");
    });
    const bool returned = stuck.wait_for(std::chrono::seconds(60)) == std::future_status::ready;
    ::kill(stopped, SIGCONT);
    ASSERT_TRUE(returned) << "still waiting in the driver";
    const db_error cut = stuck.get();
    EXPECT_TRUE(cut.is_unavailable()) << cut.sqlstate() << " " << cut.what();
    ASSERT_TRUE(pool.wait_available(std::chrono::seconds(30)));
    EXPECT_EQ(heard.changes(), (std::vector<bool>{false, true}));
    EXPECT_NE(backend(), std::to_string(stopped)) << "the cut connection was discarded";
}

} // namespace
} // namespace qs::test

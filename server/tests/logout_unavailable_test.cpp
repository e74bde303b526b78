// Logout while the database is unavailable: the user logs out at once, and what the
// pools held only in memory is stored once the database is back.
#include <gtest/gtest.h>

#include <thread>

#include "logic_fixture.h"
#include "qs/store/odbc/statement.h"
#include "qs/store/recordset.h"

namespace qs::test {
namespace {

// A SQLite write lock held by another connection, as another program would hold it.
class write_lock {
public:
    write_lock() : conn_(recordset::data_source()), stmt_(conn_) { stmt_.execute("BEGIN EXCLUSIVE"); }
    ~write_lock() { stmt_.execute("COMMIT"); }

private:
    odbc::connection conn_;
    odbc::statement stmt_;
};

class LogoutWhileUnavailableTest : public LogicTest {
protected:
    void SetUp() override
    {
        LogicTest::SetUp();
        if (db.is_postgresql())
            GTEST_SKIP() << "SQLite's write lock";
        users({"ann", "hal"});
    }

    // Waits until the session is gone from the table, for at most half a minute.
    bool gone(const std::string& name)
    {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
        while (state.find_session(name)) {
            if (std::chrono::steady_clock::now() > deadline)
                return false;
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        return true;
    }
};

TEST_F(LogoutWhileUnavailableTest, ThePoolsWaitInTheSessionAndAreStoredOnceTheDatabaseIsBack)
{
    auto hal = login("hal");
    state.send_message("ann", "hal", "kept"); // nobody waits for it: it stays in memory
    {
        write_lock held;
        state.logout(hal);
        EXPECT_FALSE(state.database_available());
        EXPECT_EQ(state.find_session("hal"), hal) << "kept, with its pools, for the database";
        EXPECT_EQ(reply_of([&] { login("hal"); }), "The database is not available.");
    }
    ASSERT_TRUE(gone("hal")) << "stored in the background once a probe finds the lock gone";
    auto again = login("hal");
    std::string out;
    state.get_message(again, out);
    EXPECT_EQ(texts_of(out), std::vector<std::string>{"kept"});
}

} // namespace
} // namespace qs::test

// qsserver on PostgreSQL: a database that goes away and comes back, one that stops
// answering, and two servers appending to one user's stored messages.
#include <gtest/gtest.h>

#include <csignal>
#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>
#include <thread>

#include "database_stall.h"
#include "logic_fixture.h"
#include "server_process.h"

namespace qs::test {
namespace {

using PostgresServerTest = StoreTest;

// A PostgreSQL server of this test's own, which the test may stop and start again.
class own_cluster {
public:
    own_cluster()
    {
        run(script_ + " start " + state());
        std::ifstream in(state());
        in >> port_ >> data_;
        data_ += "/data";
        std::ofstream(ini()) << "[Quillspeak Database]\nDriver = PostgreSQL ANSI\nServername = 127.0.0.1\nPort = "
                             << port_ << "\nDatabase = qs_template\nUsername = postgres\n"
                             << "ConnSettings = SET client_encoding TO 'SQL_ASCII'\n";
    }
    ~own_cluster()
    {
        thaw();
        std::system((script_ + " stop " + state()).c_str());
    }
    void halt() { run(script_ + " halt " + state()); }
    void resume() { run(script_ + " resume " + state()); }
    // Stops every process of this server (SIGSTOP): connections stay open, and nothing
    // answers on them, nor on new ones.
    void freeze()
    {
        std::ifstream pid_file(data_ + "/postmaster.pid");
        pid_t postmaster = 0;
        pid_file >> postmaster;
        ASSERT_GT(postmaster, 0);
        ::kill(postmaster, SIGSTOP); // first: it starts no process meanwhile
        frozen_ = {postmaster};
        for (pid_t child : children_of(postmaster)) {
            ::kill(child, SIGSTOP);
            frozen_.push_back(child);
        }
    }
    void thaw()
    {
        for (pid_t p : frozen_)
            ::kill(p, SIGCONT);
        frozen_.clear();
    }
    std::string ini() const { return dir_.path() + "/odbc.ini"; }

private:
    std::string state() const { return dir_.path() + "/state"; }
    static std::vector<pid_t> children_of(pid_t parent)
    {
        std::vector<pid_t> out;
        for (const auto& entry : std::filesystem::directory_iterator("/proc")) {
            std::ifstream stat(entry.path() / "stat");
            std::string line;
            if (!std::getline(stat, line) || line.rfind(')') == std::string::npos)
                continue;
            std::istringstream rest(line.substr(line.rfind(')') + 2)); // state, then the parent
            char state;
            pid_t ppid = 0;
            if (rest >> state >> ppid && ppid == parent)
                out.push_back(static_cast<pid_t>(std::stoi(entry.path().filename().string())));
        }
        return out;
    }

    temp_dir dir_;
    const std::string script_ = QS_SOURCE_DIR "/store/tests/pg-server";
    int port_ = 0;
    std::string data_;
    std::vector<pid_t> frozen_;
};

// Sends until the reply is "Ok." again, for as long as the pool's back-off may take.
bool works_again(client& c, const std::string& command)
{
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (std::chrono::steady_clock::now() < deadline) {
        if (c.exec(command) == "Ok.")
            return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    return false;
}

TEST_F(PostgresServerTest, ADatabaseThatStopsIsUnavailableAndIsUsedAgainWhenItComesBack)
{
    own_cluster cluster;
    server_process server({"db_timeout=3"});
    server.start({"--console"}, {"ODBCINI=" + cluster.ini()});
    client ann(server.port());
    ASSERT_EQ(ann.exec("newuser ann pw"), "Ok.");
    ASSERT_EQ(ann.exec("newuser bob pw"), "Ok.");
    ASSERT_EQ(ann.exec("newuser cy pw"), "Ok.");
    ASSERT_EQ(ann.exec("login ann pw"), "Ok.");
    raw_client cy(server.port());
    cy.send(encode_frame(1, "login cy pw") + encode_frame(2, "select MSG") + encode_frame(3, "ver"));
    ASSERT_EQ(cy.next().text, "Ok.");
    ASSERT_EQ(cy.next().text, "0.1"); // the select waits

    cluster.halt();
    EXPECT_EQ(ann.exec("sendmessage bob while-down"), "The database is not available.");
    EXPECT_EQ(ann.exec("getinfo bob"), "The database is not available.");
    EXPECT_EQ(ann.exec("sendmessage cy online"), "Ok.") << "handed to the waiting select: no database needed";
    EXPECT_EQ(texts_of(cy.next().text.substr(12)), std::vector<std::string>{"online"});
    EXPECT_EQ(ann.exec("ver"), "0.1");
    EXPECT_NE(server.log().find("The database is not available (SQLSTATE 08"), std::string::npos) << server.log();

    cluster.resume();
    EXPECT_TRUE(works_again(ann, "sendmessage bob after"));
    client bob(server.port());
    ASSERT_EQ(bob.exec("login bob pw"), "Ok.");
    EXPECT_EQ(texts_of(bob.exec("getmessage")), std::vector<std::string>{"after"});
}

TEST_F(PostgresServerTest, AFrozenServerLeavesNoRequestUnansweredAndIsUsedAgainWhenItResumes)
{
    own_cluster cluster;
    server_process server({"db_timeout=2"});
    server.start({"--console"}, {"ODBCINI=" + cluster.ini()});
    const auto bound = std::chrono::seconds(2 + 2);
    stall_cast cast(server.port(), {"ann", "hal", "bob", "eve"});
    cast.log_in({"ann", "hal"});
    ASSERT_EQ(cast.as("ann").exec("sendmessage hal one"), "Ok."); // in memory only

    cluster.freeze();
    const auto answers = cast.at_once({{"", "getinfo bob"},
                                       {"ann", "sendmessage bob two"},
                                       {"", "login eve pw"},
                                       {"", "newuser dan pw"},
                                       {"hal", "logout"}});
    for (const auto& a : answers) {
        EXPECT_LT(a.took, bound) << a.command;
        EXPECT_EQ(a.reply, a.command == "logout" ? "Ok." : "The database is not available.") << a.command;
    }
    for (const auto& a : cast.at_once({{"", "getinfo bob"}})) {
        EXPECT_LT(a.took, std::chrono::seconds(2)) << "waited on the database";
        EXPECT_EQ(a.reply, "The database is not available.");
    }

    cluster.thaw();
    ASSERT_TRUE(server.wait_for_log("The database is available again."));
    EXPECT_NE(cast.fresh().exec("getinfo bob").find("nickname="), std::string::npos);
    const auto hal = eventually_ok(server.port(), "login hal pw");
    ASSERT_TRUE(hal);
    EXPECT_EQ(texts_of(hal->exec("getmessage")), std::vector<std::string>{"one"});
    EXPECT_TRUE(eventually_ok(server.port(), "login eve pw")) << "the login given up on stays undone";
    EXPECT_EQ(count_of(server.log(), "The database is not available"), 1u) << server.log();
}

TEST_F(PostgresServerTest, TwoServersAppendingToOneUserLoseNothing)
{
    server_process first({"max_field_len=1000000"}), second({"max_field_len=1000000"});
    first.start();
    second.start();
    {
        client admin(first.port());
        for (const char* name : {"ann", "cy", "bob"})
            ASSERT_EQ(admin.exec(std::string("newuser ") + name + " pw"), "Ok.");
    }
    auto sender = [](int port, std::string name) {
        client c(port);
        ASSERT_EQ(c.exec("login " + name + " pw"), "Ok.");
        for (int i = 0; i < 100; ++i)
            ASSERT_EQ(c.exec("sendmessage bob " + name + std::to_string(i)), "Ok.");
    };
    std::thread a(sender, first.port(), "ann"), c(sender, second.port(), "cy");
    a.join();
    c.join();

    client bob(second.port());
    ASSERT_EQ(bob.exec("login bob pw"), "Ok.");
    std::vector<std::string> got;
    for (std::string reply; (reply = bob.exec("getmessage")) != "No messages.";)
        for (auto& t : texts_of(reply))
            got.push_back(t);
    EXPECT_EQ(got.size(), 200u);
    EXPECT_EQ(std::set<std::string>(got.begin(), got.end()).size(), 200u);
}

} // namespace
} // namespace qs::test

// The log an operator reads: each line stamped with the time and a level, the level
// setting, a reopen on SIGHUP, and standard error for journald.
#include <gtest/gtest.h>

#include <csignal>
#include <cstdio>
#include <fstream>
#include <regex>

#include "database_stall.h"
#include "server_process.h"
#include "store_fixture.h"

namespace qs::test {
namespace {

using LogTest = StoreTest;

const std::regex stamped(R"(\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d\.\d{3}[+-]\d\d:\d\d (error|warning|info|debug) \S.*)");

// Every line, one failed login and one ordinary close in it.
void expect_every_line_stamped(const std::string& log)
{
    std::size_t lines = 0;
    for (std::size_t at = 0, end; (end = log.find('\n', at)) != std::string::npos; at = end + 1, ++lines)
        EXPECT_TRUE(std::regex_match(log.substr(at, end - at), stamped)) << log.substr(at, end - at);
    EXPECT_GT(lines, 3u) << log;
}

void fail_a_login(int port, const std::string& name)
{
    client c(port);
    EXPECT_EQ(c.exec("newuser " + name + " pw"), "Ok.");
    EXPECT_NE(c.exec("login " + name + " wrong"), "Ok.");
}

void connect_and_close(int port)
{
    client c(port);
    c.close();
}

TEST_F(LogTest, EveryLineStartsWithTheTimeAndItsLevelAndTheLevelSettingLeavesOutLess)
{
    {
        server_process server;
        server.start();
        fail_a_login(server.port(), "ann");
        ASSERT_TRUE(server.wait_for_log("info Closed a connection from 127.0.0.1."));
        EXPECT_NE(server.log().find(" warning Failed login for ann from 127.0.0.1."), std::string::npos)
            << server.log();
        EXPECT_EQ(server.stop(), 0);
        expect_every_line_stamped(server.log());
    }
    server_process quiet({"log_level=warning"});
    quiet.start(); // waits for "Listening...", which an info line would say: started by its console
    fail_a_login(quiet.port(), "bob");
    ASSERT_TRUE(quiet.wait_for_log(" warning Failed login for bob"));
    EXPECT_EQ(quiet.stop(), 0);
    EXPECT_EQ(quiet.log().find(" info "), std::string::npos) << quiet.log();
}

TEST_F(LogTest, SighupReopensTheLogSoThatARotatedFileIsLeftBehind)
{
    server_process server;
    server.start();
    const std::string log = server.dir() + "/qsserver.log";
    ASSERT_EQ(std::rename(log.c_str(), (log + ".1").c_str()), 0);
    ::kill(server.pid(), SIGHUP);
    // Each connection's close is a line; once one reaches the new file, the reopen happened.
    for (int i = 0; i < 3000 && server.log().find("Closed a connection") == std::string::npos; ++i)
        connect_and_close(server.port());
    EXPECT_NE(server.log().find("Closed a connection"), std::string::npos);
    EXPECT_NE(read_file(log + ".1").find("Listening..."), std::string::npos);
    EXPECT_TRUE(server.running());
}

TEST_F(LogTest, ADashSendsTheLogToStandardErrorOneLinePerEvent)
{
    server_process server({"log_path=-"});
    server.start();
    client c(server.port());
    ASSERT_EQ(c.exec("newuser ann pw"), "Ok.");
    ASSERT_EQ(c.exec("login ann pw"), "Ok.");
    c.close();
    ASSERT_TRUE(server.wait_for_log("Closed a connection from 127.0.0.1 (ann)."));
    EXPECT_EQ(server.stop(), 0);
    expect_every_line_stamped(server.log());
    EXPECT_FALSE(std::ifstream(server.dir() + "/qsserver.log").good());
}

} // namespace
} // namespace qs::test

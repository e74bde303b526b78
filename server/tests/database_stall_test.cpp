// qsserver while its SQLite database is locked by another process: every request is
// answered within db_timeout and a margin however many wait, the ones after the first
// failure at once, and the server serves again by itself once the lock is gone.
#include <gtest/gtest.h>

#include <cstdio>
#include <future>
#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include "database_stall.h"
#include "logic_fixture.h"
#include "server_process.h"

namespace qs::test {
namespace {

using DatabaseStallTest = StoreTest;

// A SQLite database of the test's own in DELETE journal mode, where a writer's lock
// keeps readers out too, and whose busy wait (a minute) far outlasts db_timeout: the
// server must not wait it out.
class stalling_sqlite {
public:
    stalling_sqlite()
    {
        run("QS_SQLITE_BUSY_MS=60000 bash " QS_SOURCE_DIR "/scripts/init-db " + dir_.path() + " >/dev/null");
        run("sqlite3 " + file() + " 'PRAGMA journal_mode=DELETE' >/dev/null");
        run("sed -i '/^JournalMode/d' " + ini());
    }
    std::string ini() const { return dir_.path() + "/odbc.ini"; }
    std::string file() const { return dir_.path() + "/quillspeak.db"; }

private:
    temp_dir dir_;
};

// Another process, sqlite3, holding BEGIN EXCLUSIVE on a database file until release().
class exclusive_lock {
public:
    explicit exclusive_lock(const std::string& file)
    {
        int to_child[2], from_child[2];
        if (::pipe2(to_child, O_CLOEXEC) != 0 || ::pipe2(from_child, O_CLOEXEC) != 0) // the copies go at exec
            throw std::runtime_error("pipe");
        pid_ = ::fork();
        if (pid_ == 0) {
            ::dup2(to_child[0], 0);
            ::dup2(from_child[1], 1);
            ::execlp("stdbuf", "stdbuf", "-oL", "sqlite3", file.c_str(), static_cast<char*>(nullptr)); // line by line
            ::_exit(127);
        }
        ::close(to_child[0]);
        ::close(from_child[1]);
        input_ = ::fdopen(to_child[1], "w");
        output_ = ::fdopen(from_child[0], "r");
        std::fputs("BEGIN EXCLUSIVE;\nSELECT 'held';\n", input_);
        std::fflush(input_);
        char line[64] = {};
        if (std::fgets(line, sizeof line, output_) == nullptr || std::string(line) != "held\n")
            throw std::runtime_error("sqlite3 did not take the lock");
    }
    ~exclusive_lock() { release(); }
    void release()
    {
        if (pid_ <= 0)
            return;
        std::fclose(input_); // sqlite3 ends; the lock goes with it
        int status = 0;
        ::waitpid(pid_, &status, 0);
        std::fclose(output_);
        pid_ = -1;
    }

private:
    pid_t pid_ = -1;
    FILE* input_ = nullptr;
    FILE* output_ = nullptr;
};

TEST_F(DatabaseStallTest, ALockedDatabaseAnswersEveryRequestInTimeThenAtOnceAndRecoversByItself)
{
    stalling_sqlite stalled;
    server_process server({"db_timeout=2", "db_connections=4", "spill_delay_ms=60000"});
    server.start({"--console"}, {"ODBCINI=" + stalled.ini()});
    const auto bound = std::chrono::seconds(2 + 2);
    stall_cast cast(server.port(), {"ann", "cy", "fay", "hal", "ivy", "bob", "eve", "gus"});
    cast.log_in({"ann", "cy", "fay", "hal", "ivy"});
    // hal and ivy each hold a message only in memory, its sender waiting: a select of
    // theirs was just answered, so another is expected within spill_delay_ms.
    auto gus = bounded_client(server.port(), 60);
    ASSERT_EQ(ask(*gus, "login gus pw"), "Ok.");
    for (const char* user : {"hal", "ivy"}) {
        auto selected = std::async(std::launch::async, [&] { return cast.as(user).exec("select MSG"); });
        ASSERT_EQ(ask(*gus, std::string("sendmessage ") + user + " one"), "Ok.");
        ASSERT_NE(selected.get().find("one"), std::string::npos);
    }
    gus->send(encode_frame(3, "sendmessage hal two") + encode_frame(4, "sendmessage ivy two"));

    exclusive_lock held(stalled.file());
    const auto answers = cast.at_once({{"", "getinfo bob"},
                                       {"ann", "sendmessage bob three"},
                                       {"cy", "sendcustommessage bob four"},
                                       {"", "newuser dan pw"},
                                       {"", "login eve pw"},
                                       {"fay", "setinfo nickname=F"},
                                       {"hal", "logout"}});
    for (const auto& a : answers) {
        EXPECT_LT(a.took, bound) << a.command;
        EXPECT_EQ(a.reply, a.command == "logout" ? "Ok." : "The database is not available.") << a.command;
    }

    // The first failure is known: the next requests do not wait on the database.
    for (const auto& a : cast.at_once({{"", "getinfo bob"}, {"ivy", "logout"}})) {
        EXPECT_LT(a.took, std::chrono::seconds(2)) << a.command << " waited on the database";
        EXPECT_EQ(a.reply, a.command == "logout" ? "Ok." : "The database is not available.") << a.command;
    }

    held.release();
    ASSERT_TRUE(server.wait_for_log("The database is available again."));
    EXPECT_NE(cast.fresh().exec("getinfo bob").find("nickname="), std::string::npos);
    ASSERT_TRUE(server.wait_for_log("Stored the pending messages of ivy.")) << "in the background";
    EXPECT_EQ(gus->next().text, "Ok.") << "safe once stored"; // hal's, by his logout or in the background
    EXPECT_EQ(gus->next().text, "Ok.");
    for (const char* user : {"hal", "ivy"}) {
        const auto again = eventually_ok(server.port(), std::string("login ") + user + " pw");
        ASSERT_TRUE(again) << user;
        EXPECT_EQ(texts_of(again->exec("getmessage")), std::vector<std::string>{"two"}) << user;
    }
    EXPECT_TRUE(eventually_ok(server.port(), "login eve pw")) << "a login given up on stays undone";
    const std::string log = server.log();
    EXPECT_EQ(count_of(log, "The database is not available"), 1u) << log;
    EXPECT_EQ(count_of(log, "The database is available again."), 1u) << log;
}

// The status line's code of GET /healthz on the web port, over HTTP/1.0: the server
// closes once it has answered.
std::string health(int web_port)
{
    socket s;
    s.create(0);
    s.connect("127.0.0.1", web_port);
    const std::string request = "GET /healthz HTTP/1.0\r\n\r\n";
    s.send(request.data(), static_cast<int>(request.size()));
    std::string response;
    char chunk[512];
    try {
        for (;;)
            response.append(chunk, static_cast<std::size_t>(s.recv(chunk, sizeof chunk)));
    } catch (const exception&) { // the end of the response
    }
    s.close();
    return response.substr(0, 12);
}

TEST_F(DatabaseStallTest, HealthzSaysWhetherTheDatabaseIsAvailable)
{
    stalling_sqlite stalled;
    server_process server({"db_timeout=1", "http_port=auto"});
    server.start({"--console"}, {"ODBCINI=" + stalled.ini()});
    const int port = server.port(), web_port = server.port_of("HTTP");
    EXPECT_EQ(health(web_port), "HTTP/1.0 200");
    {
        exclusive_lock held(stalled.file());
        client c(port);
        EXPECT_EQ(c.exec("newuser dan pw"), "The database is not available.");
        EXPECT_EQ(health(web_port), "HTTP/1.0 503");
    }
    ASSERT_TRUE(server.wait_for_log("The database is available again."));
    EXPECT_EQ(health(web_port), "HTTP/1.0 200");
}

} // namespace
} // namespace qs::test

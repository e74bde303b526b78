// The event-driven network side: limits on what a connection may hold, and stop.
#include <gtest/gtest.h>

#include <sys/socket.h>
#include <thread>

#include "logic_fixture.h"
#include "server_process.h"

namespace qs::test {
namespace {

using NetworkCoreTest = StoreTest;

// True when the server closes the connection (a receive sees the end).
bool closed_by_server(raw_client& c)
{
    try {
        c.next();
    } catch (const exception&) {
        return true;
    }
    return false;
}

TEST_F(NetworkCoreTest, AnUnfinishedFrameClosesItsConnectionAndOthersGoOn)
{
    server_process server({"frame_timeout=1"});
    server.start();
    raw_client slow(server.port()), fine(server.port());
    slow.send(encode_frame(1, "ver").substr(0, 5));  // never finished
    EXPECT_TRUE(closed_by_server(slow));
    fine.send(encode_frame(2, "ver"));
    EXPECT_EQ(fine.next().text, "0.1");
    EXPECT_NE(server.log().find("left a frame unfinished"), std::string::npos);
}

TEST_F(NetworkCoreTest, ConnectionsPastTheLimitAreClosedAtOnce)
{
    server_process server({"max_connections=2"});
    server.start();
    ASSERT_TRUE(server.wait_for_log("Closed a connection.")) << "start's probe is gone";
    raw_client a(server.port()), b(server.port());
    a.send(encode_frame(1, "ver"));
    EXPECT_EQ(a.next().text, "0.1");
    b.send(encode_frame(1, "ver"));
    EXPECT_EQ(b.next().text, "0.1");
    raw_client c(server.port());
    EXPECT_TRUE(closed_by_server(c));
    EXPECT_NE(server.log().find("Too many connections"), std::string::npos);
    a.send(encode_frame(2, "ver"));
    EXPECT_EQ(a.next().text, "0.1") << "those already in are still served";
}

TEST_F(NetworkCoreTest, AFetchFollowedByAHalfCloseIsStillAnswered)
{
    server_process server;
    server.start();
    client ann(server.port());
    ann.exec("newuser ann pw");
    ann.exec("newuser bob pw");
    ann.exec("login ann pw");
    for (int round = 0; round < 20; ++round) {
        raw_client bob(server.port());
        bob.send(encode_frame(1, "login bob pw"));
        ASSERT_EQ(bob.next().text, "Ok.");
        ASSERT_EQ(ann.exec("sendmessage bob r" + std::to_string(round)), "Ok.");
        bob.send(encode_frame(2, "getmessage"));
        ::shutdown(bob.sock.handle(), SHUT_WR);
        EXPECT_EQ(texts_of(bob.next().text), std::vector<std::string>{"r" + std::to_string(round)}) << round;
        EXPECT_TRUE(closed_by_server(bob));
        for (int i = 0; i < 2000 && ann.exec("getstatus bob") == "online"; ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));  // the closed connection's logout
    }
}

TEST_F(NetworkCoreTest, StopWithManyWaitingSelectsStoresEverythingAndExitsCleanly)
{
    constexpr int users = 200;
    server_process server({"max_field_len=100000"});
    server.start();
    std::vector<std::unique_ptr<raw_client>> waiting;
    for (int i = 0; i < users; ++i) {
        auto c = std::make_unique<raw_client>(server.port());
        const std::string name = "u" + std::to_string(i);
        c->send(encode_frame(1, "newuser " + name + " pw") + encode_frame(2, "login " + name + " pw") +
                encode_frame(3, "select GRPMSG"));
        ASSERT_EQ(c->next().text, "Ok.");
        ASSERT_EQ(c->next().text, "Ok.");
        waiting.push_back(std::move(c));
    }
    client sender(server.port());
    sender.exec("newuser s pw");
    sender.exec("login s pw");
    for (int i = 0; i < users; ++i)
        ASSERT_EQ(sender.exec("sendmessage u" + std::to_string(i) + " kept"), "Ok.");
    EXPECT_EQ(server.stop(), 0);

    server.start();
    for (int i : {0, users / 2, users - 1}) {
        client back(server.port());
        ASSERT_EQ(back.exec("login u" + std::to_string(i) + " pw"), "Ok.");
        EXPECT_EQ(texts_of(back.exec("getmessage")), std::vector<std::string>{"kept"}) << i;
    }
}

} // namespace
} // namespace qs::test

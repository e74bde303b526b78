// What an attacker could try from outside: secrets in the log, password guessing.
#include <gtest/gtest.h>

#include <poll.h>

#include "qs/server/login_throttle.h"

#include "logic_fixture.h"
#include "server_process.h"

namespace qs::test {
namespace {

using SecurityTest = StoreTest;

TEST_F(SecurityTest, NoSecretReachesTheLogOnAnyErrorPath)
{
    server_process server;
    server.start();
    client ann(server.port()), other(server.port());
    ASSERT_EQ(ann.exec("newuser ann pw"), "Ok.");
    ASSERT_EQ(ann.exec("login ann pw"), "Ok.");
    db.exec("ALTER TABLE userinfo RENAME TO gone");  // every account command now fails inside
    const std::string failed = "The command failed inside the server.";
    EXPECT_EQ(other.exec("login ann Secret1"), failed);
    EXPECT_EQ(other.exec("newuser bob Secret2"), failed);
    EXPECT_EQ(other.exec("getpassword ann Secret3"), failed);
    EXPECT_EQ(ann.exec("setinfo nickname=A|password=Secret4|answer=Secret5"), failed);
    db.exec("ALTER TABLE gone RENAME TO userinfo");
    const std::string log = server.log();
    EXPECT_EQ(log.find("Secret"), std::string::npos) << log;
    for (const char* shown : {"cmd:\tlogin ann ***", "cmd:\tnewuser bob ***", "cmd:\tgetpassword ann ***",
                              "cmd:\tsetinfo nickname=A|password=***|answer=***"})
        EXPECT_NE(log.find(shown), std::string::npos) << shown;
}

// True when a frame is waiting on the connection.
bool has_reply(raw_client& c)
{
    pollfd readable{c.sock.handle(), POLLIN, 0};
    return ::poll(&readable, 1, 0) == 1;
}

TEST_F(SecurityTest, GuessingPasswordsIsSlowedForThatAccountAndAddressOnly)
{
    server_process server;
    server.start();
    client setup(server.port());
    ASSERT_EQ(setup.exec("newuser ann pw"), "Ok.");
    raw_client guesser(server.port()), bystander(server.port());
    for (int i = 1; i <= login_throttle::free_failures; ++i) {
        guesser.send(encode_frame(i, "login ann guess" + std::to_string(i)));
        ASSERT_EQ(guesser.next().text, "Invalid password.");
    }
    const auto before = std::chrono::steady_clock::now();
    guesser.send(encode_frame(10, "login ann guess6") + encode_frame(11, "ver"));
    bystander.send(encode_frame(1, "ver"));
    EXPECT_EQ(bystander.next().text, "0.1");
    EXPECT_FALSE(has_reply(guesser)) << "the guess and what follows it wait; others do not";
    const frame held = guesser.next();
    EXPECT_EQ(held.cid, 10);
    EXPECT_EQ(held.text, "Invalid password.");
    EXPECT_GE(std::chrono::steady_clock::now() - before, std::chrono::milliseconds(1000));
    EXPECT_EQ(guesser.next().cid, 11) << "in order";
    const std::string log = server.log();
    EXPECT_NE(log.find("Failed login for ann from 127.0.0.1."), std::string::npos) << log;
    EXPECT_EQ(log.find("guess"), std::string::npos);
}

} // namespace
} // namespace qs::test

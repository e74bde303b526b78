// What an attacker could try from outside: secrets in the log, password guessing.
#include <gtest/gtest.h>

#include <memory>
#include <poll.h>
#include <vector>

#include "qs/server/logic/login_throttle.h"

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
    db.exec("ALTER TABLE userinfo RENAME TO gone"); // every account command now fails inside
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

using connections = std::vector<std::unique_ptr<raw_client>>;

// Connections from addresses of their own: 127.0.0.first and on.
connections from_addresses(int port, int count, int first)
{
    connections out;
    for (int i = 0; i < count; ++i)
        out.push_back(std::make_unique<raw_client>(port, "127.0.0." + std::to_string(first + i)));
    return out;
}

struct arrival {
    std::string text;
    std::chrono::steady_clock::time_point at;
};

// The next count replies on any of the connections, in the order they arrived; fewer
// when a minute passes without one.
std::vector<arrival> next_replies(connections& cs, std::size_t count)
{
    constexpr int minute_ms = 60'000;
    std::vector<arrival> got;
    std::vector<pollfd> fds;
    for (auto& c : cs)
        fds.push_back(pollfd{c->sock.handle(), POLLIN, 0});
    while (got.size() < count) {
        if (::poll(fds.data(), fds.size(), minute_ms) <= 0)
            break;
        for (std::size_t i = 0; i < fds.size(); ++i)
            if (fds[i].revents != 0)
                got.push_back({cs[i]->next().text, std::chrono::steady_clock::now()});
    }
    return got;
}

TEST_F(SecurityTest, GuessingPasswordsIsSlowedForThatAccountAndAddressOnly)
{
    server_process server;
    server.start();
    client setup(server.port());
    ASSERT_EQ(setup.exec("newuser ann pw"), "Ok.");
    raw_client guesser(server.port()), bystander(server.port());
    for (int i = 1; i < login_throttle::free_attempts; ++i) {
        guesser.send(encode_frame(i, "login ann guess" + std::to_string(i)));
        ASSERT_EQ(guesser.next().text, "Invalid password.");
    }
    const auto before = std::chrono::steady_clock::now(); // the last free guess takes its turn after this
    guesser.send(encode_frame(5, "login ann guess5"));
    ASSERT_EQ(guesser.next().text, "Invalid password.");
    guesser.send(encode_frame(10, "login ann guess6") + encode_frame(11, "ver"));
    bystander.send(encode_frame(1, "ver"));
    EXPECT_EQ(bystander.next().text, "0.1");
    EXPECT_FALSE(has_reply(guesser)) << "the guess and what follows it wait; others do not";
    const frame held = guesser.next();
    EXPECT_EQ(held.cid, 10);
    EXPECT_EQ(held.text, "Invalid password.");
    EXPECT_GE(std::chrono::steady_clock::now() - before, std::chrono::seconds(1));
    EXPECT_EQ(guesser.next().cid, 11) << "in order";
    raw_client elsewhere(server.port(), "127.0.0.2");
    elsewhere.send(encode_frame(1, "login bob guess"));
    EXPECT_EQ(elsewhere.next().text, "Invalid username.") << "another account from another address";
    const std::string log = server.log();
    EXPECT_NE(log.find("Failed login for ann from 127.0.0.1."), std::string::npos) << log;
    EXPECT_NE(log.find("Failed login for bob from 127.0.0.2."), std::string::npos) << log;
    EXPECT_EQ(log.find("guess"), std::string::npos);
}

// Each guess counts before it is checked, for the account in the whole server: five of
// many simultaneous first guesses run at once, the others one a second, whatever the
// connections and addresses they come from.
TEST_F(SecurityTest, SimultaneousGuessesFromManyAddressesRunFiveAtOnceThenOneASecond)
{
    constexpr std::size_t guesses = 8;
    server_process server;
    server.start();
    client setup(server.port());
    ASSERT_EQ(setup.exec("newuser ann pw"), "Ok.");
    connections guessers = from_addresses(server.port(), guesses, 10);
    const auto before = std::chrono::steady_clock::now();
    for (auto& g : guessers)
        g->send(encode_frame(1, "login ann guess"));
    const auto got = next_replies(guessers, guesses);
    ASSERT_EQ(got.size(), guesses);
    for (std::size_t k = 0; k < guesses; ++k) {
        EXPECT_EQ(got[k].text, "Invalid password.");
        if (k >= login_throttle::free_attempts) {
            EXPECT_GE(got[k].at - before, (k - login_throttle::free_attempts + 1) * login_throttle::spacing) << k;
        }
    }
}

// Turns are given at most a minute ahead: past that a guess is refused at once and runs
// no check; a stopping server does not wait for the turns it gave.
TEST_F(SecurityTest, AGuessWhoseTurnIsOverAMinuteAheadIsRefusedAtOnce)
{
    const std::size_t guesses = login_throttle::free_attempts + 60 + 5;
    server_process server;
    server.start();
    client setup(server.port());
    ASSERT_EQ(setup.exec("newuser ann pw"), "Ok.");
    connections guessers;
    for (std::size_t i = 0; i < guesses; ++i)
        guessers.push_back(std::make_unique<raw_client>(server.port()));
    for (auto& g : guessers)
        g->send(encode_frame(1, "login ann guess"));
    const std::string refusal = "Too many failed logins: try again later.";
    for (bool refused = false; !refused;)
        for (const auto& reply : next_replies(guessers, 1))
            refused = reply.text == refusal;
    EXPECT_TRUE(server.wait_for_log("Refused a login for ann from 127.0.0.1: too many failed logins."));
    EXPECT_EQ(server.stop(), 0);
}

// Drains the replies that have arrived; how many there were.
std::size_t drain(connections& cs)
{
    std::size_t n = 0;
    for (auto& c : cs)
        for (; has_reply(*c); ++n)
            c->next();
    return n;
}

// Argon2 runs on a pool of its own: while many wrong passwords wait to be checked, a
// request for the database is answered before most checks queued ahead of it are done
// (on the database workers it waited for them all), and another user's login waits only
// for its turn in the pool, well before the flood has been checked.
TEST_F(SecurityTest, AFloodOfWrongHashedPasswordsHoldsUpNeitherTheDatabaseNorOtherLogins)
{
    constexpr std::size_t flooders = 24, guesses_each = 3;
    server_process server({"password_storage=hashed"});
    server.start();
    client setup(server.port());
    ASSERT_EQ(setup.exec("newuser ann pw"), "Ok.");
    connections flood = from_addresses(server.port(), flooders, 20);
    for (std::size_t i = 0; i < flooders; ++i) {
        const std::string name = "f" + std::to_string(i);
        std::string burst = encode_frame(0, "newuser " + name + " pw");
        for (std::size_t g = 1; g <= guesses_each; ++g)
            burst += encode_frame(static_cast<std::int32_t>(g), "login " + name + " wrong");
        flood[i]->send(burst);
    }
    for (auto& f : flood)
        ASSERT_EQ(f->next().text, "Ok."); // each has a guess waiting to be checked now

    raw_client reader(server.port(), "127.0.0.2");
    reader.send(encode_frame(1, "getinfo ann"));
    EXPECT_EQ(reader.next().text.rfind("nickname=", 0), 0u);
    std::size_t checked = drain(flood);
    EXPECT_LT(checked, flooders / 2) << "the getinfo waited for the checks queued before it";

    raw_client ann(server.port(), "127.0.0.3");
    ann.send(encode_frame(1, "login ann pw"));
    EXPECT_EQ(ann.next().text, "Ok.");
    checked += drain(flood);
    EXPECT_LT(checked, flooders * guesses_each) << "ann's login waited for the whole flood";
}

// A command's deadline counts its database steps, not its turn for Argon2: with the
// hashing pool busy past db_timeout + 1 s, every new user is answered as itself, not
// as a stalled database.
TEST_F(SecurityTest, HashingQueuedPastTheDeadlineIsNotTakenForAStalledDatabase)
{
    constexpr int users = 32; // at about 0.1 s of Argon2 each on 2 threads
    server_process server({"password_storage=hashed", "db_timeout=1"});
    server.start();
    connections each = from_addresses(server.port(), users, 20);
    for (std::size_t i = 0; i < each.size(); ++i)
        each[i]->send(encode_frame(1, "newuser u" + std::to_string(i) + " pw"));
    for (auto& c : each)
        EXPECT_EQ(c->next().text, "Ok.");
}

} // namespace
} // namespace qs::test

// The event-driven network side: limits on what a connection may hold, and stop.
#include <gtest/gtest.h>

#include <dirent.h>
#include <poll.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/time.h>
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
    slow.send(encode_frame(1, "ver").substr(0, 5)); // never finished
    EXPECT_TRUE(closed_by_server(slow));
    fine.send(encode_frame(2, "ver"));
    EXPECT_EQ(fine.next().text, "0.1");
    EXPECT_NE(server.log().find("left a frame unfinished"), std::string::npos);
}

TEST_F(NetworkCoreTest, BindAddressKeepsTheServerToOneInterface)
{
    server_process server({"bind_address=127.0.0.1"});
    server.start();
    raw_client local(server.port());
    local.send(encode_frame(1, "ver"));
    EXPECT_EQ(local.next().text, "0.1");
    socket other;
    other.create(0);
    EXPECT_THROW(other.connect("127.0.0.2", server.port()), exception) << "another loopback address is not served";
    other.close();
    EXPECT_EQ(server.stop(), 0); // the console is complete then
    EXPECT_NE(server.console().find("Listening on 127.0.0.1:" + std::to_string(server.port()) + ";"), std::string::npos)
        << server.console();
}

TEST_F(NetworkCoreTest, ConnectionsPastTheLimitAreClosedAtOnce)
{
    server_process server({"max_connections=2"});
    server.start();
    ASSERT_TRUE(server.wait_for_log("info Closed a connection from")) << "start's probe is gone";
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

// Pipelines requests without ever reading a reply until the server stops taking them
// (no progress for two seconds) or the cap is sent; the bytes the server took.
std::size_t flood_without_reading(raw_client& c, std::size_t cap)
{
    std::string batch;
    for (int i = 0; i < 4096; ++i)
        batch += encode_frame(i, "ver");
    std::size_t sent = 0;
    while (sent < cap) {
        const ssize_t n = ::send(c.sock.handle(), batch.data(), batch.size(), MSG_DONTWAIT | MSG_NOSIGNAL);
        if (n > 0) {
            sent += static_cast<std::size_t>(n);
            batch = batch.substr(static_cast<std::size_t>(n)) + batch.substr(0, static_cast<std::size_t>(n));
            continue;
        }
        pollfd writable{c.sock.handle(), POLLOUT, 0};
        if (::poll(&writable, 1, 2000) == 0)
            break;
    }
    return sent;
}

TEST_F(NetworkCoreTest, AClientThatNeverReadsIsHeldBackAndOthersGoOn)
{
    server_process server;
    server.start();
    raw_client greedy(server.port()), fine(server.port());
    constexpr std::size_t cap = 256u << 20;
    const std::size_t taken = flood_without_reading(greedy, cap);
    EXPECT_LT(taken, 64u << 20) << "the server kept reading a connection whose replies pile up";
    fine.send(encode_frame(7, "ver"));
    EXPECT_EQ(fine.next().text, "0.1");
    EXPECT_EQ(greedy.next().text, "0.1") << "the held-back connection is still served once it reads";
}

int open_descriptors(pid_t pid)
{
    int n = 0;
    DIR* dir = ::opendir(("/proc/" + std::to_string(pid) + "/fd").c_str());
    while (dir && ::readdir(dir))
        ++n;
    if (dir)
        ::closedir(dir);
    return n - 2;
}

TEST_F(NetworkCoreTest, RunningOutOfDescriptorsPausesAcceptingUntilSomeAreFree)
{
    server_process server;
    server.start();
    ASSERT_TRUE(server.wait_for_log("info Closed a connection from")) << "start's probe is gone";
    const rlimit tight{static_cast<rlim_t>(open_descriptors(server.pid()) + 2),
                       static_cast<rlim_t>(open_descriptors(server.pid()) + 2)};
    ASSERT_EQ(::prlimit(server.pid(), RLIMIT_NOFILE, &tight, nullptr), 0);
    std::vector<std::unique_ptr<raw_client>> in, queued;
    for (int i = 0; i < 2; ++i) {
        in.push_back(std::make_unique<raw_client>(server.port()));
        in.back()->send(encode_frame(1, "ver"));
        ASSERT_EQ(in.back()->next().text, "0.1");
    }
    for (int i = 0; i < 3; ++i)
        queued.push_back(std::make_unique<raw_client>(server.port())); // wait in the backlog
    ASSERT_TRUE(server.wait_for_log("Out of file descriptors: accepting pauses."));
    in[0]->send(encode_frame(2, "ver"));
    EXPECT_EQ(in[0]->next().text, "0.1") << "those already in are still served";
    in.clear();
    queued[0]->send(encode_frame(3, "ver"));
    EXPECT_EQ(queued[0]->next().text, "0.1") << "accepting resumed";
    EXPECT_TRUE(server.running());
}

// Stop closes the listening socket and ends every connection before the loop threads end,
// so they end with descriptors to spare (UndefinedBehaviorSanitizer needs two for its
// first look at a thread's state) and the log says the listener stopped.
TEST_F(NetworkCoreTest, AServerOutOfDescriptorsStopsCleanly)
{
    server_process server;
    server.start();
    ASSERT_TRUE(server.wait_for_log("info Closed a connection from")) << "start's probe is gone";
    const auto spare_one = static_cast<rlim_t>(open_descriptors(server.pid()) + 1);
    rlimit was{};
    ASSERT_EQ(::prlimit(server.pid(), RLIMIT_NOFILE, nullptr, &was), 0);
    const rlimit tight{spare_one, was.rlim_max};
    ASSERT_EQ(::prlimit(server.pid(), RLIMIT_NOFILE, &tight, nullptr), 0);
    raw_client in(server.port());
    in.send(encode_frame(1, "ver"));
    ASSERT_EQ(in.next().text, "0.1");
    raw_client waiting(server.port()); // in the backlog
    ASSERT_TRUE(server.wait_for_log("Out of file descriptors: accepting pauses."));
#if defined(__SANITIZE_ADDRESS__)
    // The sanitizers' runtime opens a pipe to check each ending thread; it reports a
    // false fault when none is left.
    const rlimit roomy{spare_one + 8, was.rlim_max};
    ASSERT_EQ(::prlimit(server.pid(), RLIMIT_NOFILE, &roomy, nullptr), 0);
#endif
    EXPECT_EQ(server.stop(), 0) << read_file(server.dir() + "/console.err");
    EXPECT_NE(server.log().find("Listen-proc stopped."), std::string::npos);
    EXPECT_TRUE(closed_by_server(waiting));
}

// A connection that ends does not wait out the deadline of a command answered long
// before: stop returns though db_timeout puts that deadline an hour ahead.
TEST_F(NetworkCoreTest, StopDoesNotWaitForTheDeadlinesOfAnsweredCommands)
{
    server_process server({"db_timeout=3600"});
    server.start();
    {
        auto gone = bounded_client(server.port());
        EXPECT_EQ(ask(*gone, "newuser ann pw"), "Ok.");
    }
    auto staying = bounded_client(server.port());
    EXPECT_EQ(ask(*staying, "getinfo ann").rfind("nickname=", 0), 0u);
    EXPECT_EQ(server.stop(), 0);
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
            std::this_thread::sleep_for(std::chrono::milliseconds(1)); // the closed connection's logout
    }
}

// Receivers wait in select on one event loop while their senders pipeline on another,
// so replies leave from the sender's thread straight onto the receiver's socket.
TEST_F(NetworkCoreTest, DeliveriesAcrossEventLoopsArriveOnceAndInOrder)
{
    constexpr std::size_t pairs = 5, messages = 300, per_write = 10;
    server_process server({"io_threads=4", "max_field_len=1000000"});
    server.start();
    std::vector<std::unique_ptr<raw_client>> receivers, senders;
    for (std::size_t i = 0; i < 2 * pairs; ++i) { // round the four loops: a pair never shares one
        auto c = std::make_unique<raw_client>(server.port());
        const timeval limit{60, 0}; // a lost reply fails the test instead of hanging it
        ::setsockopt(c->sock.handle(), SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
        const std::string name = (i < pairs ? "r" : "s") + std::to_string(i % pairs);
        ASSERT_EQ(ask(*c, "newuser " + name + " pw"), "Ok.");
        ASSERT_EQ(ask(*c, "login " + name + " pw"), "Ok.");
        (i < pairs ? receivers : senders).push_back(std::move(c));
    }
    std::vector<std::vector<std::string>> got(pairs);
    std::vector<std::thread> threads;
    for (std::size_t p = 0; p < pairs; ++p) {
        threads.emplace_back([&, p] {
            while (got[p].size() < messages) { // the loop's own replies leave beside the select's
                receivers[p]->send(encode_frame(1, "select MSG") + encode_frame(2, "ver") + encode_frame(3, "ver"));
                for (int replies = 0; replies < 3; ++replies) {
                    const frame f = receivers[p]->next();
                    if (f.cid != 1)
                        continue;
                    for (auto& text : texts_of(f.text.substr(std::string("getmessage: ").size())))
                        got[p].push_back(text);
                }
            }
        });
        threads.emplace_back([&, p] {
            for (std::size_t i = 0; i < messages; i += per_write) {
                std::string burst;
                for (std::size_t j = i; j < i + per_write; ++j)
                    burst += encode_frame(static_cast<std::int32_t>(j),
                                          "sendmessage r" + std::to_string(p) + " m" + std::to_string(j));
                senders[p]->send(burst);
            }
            for (std::size_t i = 0; i < messages; ++i)
                EXPECT_EQ(senders[p]->next().text, "Ok.");
        });
    }
    for (auto& t : threads)
        t.join();
    for (std::size_t p = 0; p < pairs; ++p) {
        ASSERT_EQ(got[p].size(), messages) << p;
        for (std::size_t i = 0; i < messages; ++i)
            ASSERT_EQ(got[p][i], "m" + std::to_string(i)) << "pair " << p;
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

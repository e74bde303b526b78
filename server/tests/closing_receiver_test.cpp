// A receiver that closes its connection while a message reaches its waiting select.
#include <gtest/gtest.h>

#include <atomic>
#include <sys/socket.h>
#include <sys/time.h>
#include <thread>

#include "logic_fixture.h"
#include "server_process.h"

namespace qs::test {
namespace {

using ClosingReceiverTest = StoreTest;

// Keeps the database workers busy until stopped.
struct busy_workers {
    explicit busy_workers(int port, int clients)
    {
        for (int i = 0; i < clients; ++i)
            threads.emplace_back([this, port] {
                try {
                    auto c = bounded_client(port, 20);
                    while (!stop)
                        ask(*c, "getinfo s");
                } catch (const exception&) { // the server stopped answering: the rounds fail
                }
            });
    }
    ~busy_workers()
    {
        stop = true;
        for (auto& t : threads)
            t.join();
    }
    std::atomic<bool> stop = false;
    std::vector<std::thread> threads;
};

void wait_offline(raw_client& watcher, const std::string& name)
{
    for (int i = 0; i < 20000 && ask(watcher, "getstatus " + name) == "online"; ++i)
        std::this_thread::yield();
}

// What a half-closed receiver still reads until the server closes: the texts its
// waiting select handed out, if any.
std::vector<std::string> read_to_end(raw_client& c)
{
    std::vector<std::string> got;
    try {
        for (;;) {
            const frame f = c.next();
            const std::string label = "getmessage: ";
            if (f.text.rfind(label, 0) == 0)
                for (auto& t : texts_of(f.text.substr(label.size())))
                    got.push_back(t);
        }
    } catch (const exception&) {
    }
    return got;
}

// Each round a receiver parks a select, then closes (even rounds) or half-closes (odd
// rounds) its connection while a message for it is sent. Every message is answered, and
// afterwards the server serves everyone: every event loop answers and every user logs
// in. A half-closed receiver gets its message exactly once: in the select's reply, or at
// its next login; a closed one at most once.
void close_while_delivering(int port, int rounds)
{
    auto sender = bounded_client(port, 20);
    ASSERT_EQ(ask(*sender, "newuser s pw"), "Ok.");
    for (int i = 0; i < rounds; ++i)
        ASSERT_EQ(ask(*sender, "newuser r" + std::to_string(i) + " pw"), "Ok.");
    ASSERT_EQ(ask(*sender, "login s pw"), "Ok.");
    std::vector<std::vector<std::string>> got(static_cast<std::size_t>(rounds));
    {
        busy_workers busy(port, 3);
        for (int i = 0; i < rounds; ++i) {
            const std::string name = "r" + std::to_string(i);
            auto receiver = bounded_client(port, 20);
            ASSERT_EQ(ask(*receiver, "login " + name + " pw"), "Ok.");
            receiver->send(encode_frame(2, "select MSG"));
            ASSERT_EQ(ask(*receiver, "ver"), "0.1") << "the select is parked before the ver is answered";
            if (i % 2 == 0)
                receiver->sock.close();
            else
                ::shutdown(receiver->sock.handle(), SHUT_WR);
            ASSERT_EQ(ask(*sender, "sendmessage " + name + " m" + std::to_string(i)), "Ok.") << "round " << i;
            if (i % 2 == 1)
                got[static_cast<std::size_t>(i)] = read_to_end(*receiver);
        }
    }
    for (int i = 0; i < 6; ++i) // fresh connections go round every event loop
        EXPECT_EQ(ask(*bounded_client(port, 20), "ver"), "0.1");
    for (int i = 0; i < rounds; ++i) {
        const std::string name = "r" + std::to_string(i);
        wait_offline(*sender, name);
        auto back = bounded_client(port, 20);
        ASSERT_EQ(ask(*back, "login " + name + " pw"), "Ok.") << name;
        auto& all = got[static_cast<std::size_t>(i)];
        const std::string pool = ask(*back, "getmessage");
        if (pool != "No messages.") {
            for (auto& t : texts_of(pool))
                all.push_back(t);
        }
        const std::vector<std::string> once{"m" + std::to_string(i)};
        if (i % 2 == 1 || !all.empty()) {
            EXPECT_EQ(all, once) << name;
        }
    }
}

TEST_F(ClosingReceiverTest, AReceiverClosingWhileAMessageArrivesFreezesNothing)
{
    server_process server;
    server.start();
    close_while_delivering(server.port(), 100);
}

TEST_F(ClosingReceiverTest, OnOneEventLoopTooNothingFreezes)
{
    server_process server({"io_threads=1", "db_connections=1"});
    server.start();
    close_while_delivering(server.port(), 60);
}

} // namespace
} // namespace qs::test

#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <functional>
#include <thread>
#include <vector>

#include "loopback.h"
#include "qs/net/frame.h"
#include "qs/net/kel.h"
#include "qs/net/kelclient.h"

namespace {

using qs::test::code_of;

using qs::test::listener;

// Accepts one connection and hands every received request to a handler,
// which answers through reply(). Received frames are kept for inspection.
class fake_server {
public:
    using handler = std::function<void(fake_server&, const qs::frame&)>;

    explicit fake_server(handler h) : handle_(std::move(h))
    {
        thread_ = std::thread([this] { serve(); });
    }
    ~fake_server()
    {
        hang_up();
        thread_.join();
        server_.sock.shutdown();
    }

    int port() const { return server_.port; }

    void reply(std::int32_t cid, const std::string& text)
    {
        const std::string bytes = qs::encode_frame(cid, text);
        peer_.send(bytes.data(), static_cast<int>(bytes.size()));
    }
    // Ends the connection from the server's side.
    void hang_up()
    {
        std::lock_guard guard(lock_);
        if (accepted_)
            peer_.shutdown();
        hung_up_ = true;
    }

    // The requests received so far.
    std::vector<qs::frame> frames()
    {
        std::lock_guard guard(lock_);
        return received_;
    }
    std::size_t count()
    {
        std::lock_guard guard(lock_);
        return received_.size();
    }

private:
    void serve()
    {
        try {
            server_.sock.accept(peer_);
            {
                std::lock_guard guard(lock_);
                accepted_ = true;
                if (hung_up_)
                    peer_.shutdown();
            }
            qs::frame_reader reader(peer_);
            for (;;) {
                qs::frame f = reader.next();
                {
                    std::lock_guard guard(lock_);
                    received_.push_back(f);
                }
                handle_(*this, f);
            }
        } catch (const qs::exception&) {
        }
        std::lock_guard guard(lock_);
        peer_.close();
        accepted_ = false;
    }

    listener server_;
    handler handle_;
    qs::socket peer_;
    std::mutex lock_; // guards accepted_, hung_up_ and received_
    std::vector<qs::frame> received_;
    bool accepted_ = false;
    bool hung_up_ = false;
    std::thread thread_;
};

void echo(fake_server& s, const qs::frame& f)
{
    s.reply(f.cid, "echo " + f.text);
}

std::string exec(qs::kelclient& c, const char* cmd)
{
    char result[128];
    c.exec(cmd, result, sizeof result);
    return std::string(result, strnlen(result, sizeof result));
}

TEST(Kelclient, IdsCountUpAcrossClientsAndRepliesCarryThem)
{
    fake_server server_a(echo), server_b(echo);
    qs::kelclient first, second;
    first.create(0);
    first.connect("localhost", server_a.port());
    second.create(0);
    second.connect("127.0.0.1", server_b.port());
    EXPECT_EQ(exec(first, "ver"), "echo ver");
    EXPECT_EQ(exec(second, ""), "echo ");
    EXPECT_EQ(exec(first, "x"), "echo x");
    first.close();
    second.close();
    const auto a = server_a.frames(), b = server_b.frames();
    ASSERT_EQ(a.size(), 2u);
    ASSERT_EQ(b.size(), 1u);
    // One process-wide counter: the ids follow each other whichever client sends.
    EXPECT_GE(a[0].cid, 1);
    EXPECT_EQ(b[0].cid, a[0].cid + 1);
    EXPECT_EQ(b[0].text, "");
    EXPECT_EQ(a[1].cid, a[0].cid + 2);
}

TEST(Kelclient, ConcurrentCallersEachGetTheirOwnReplyInWhateverOrderItComes)
{
    // Holds the first request until the second arrives, then answers them in reverse.
    fake_server server([](fake_server& s, const qs::frame&) {
        const auto got = s.frames();
        if (got.size() % 2 == 0) {
            const qs::frame& a = got[got.size() - 2];
            const qs::frame& b = got.back();
            s.reply(b.cid, "reply to " + b.text);
            s.reply(a.cid, "reply to " + a.text);
        }
    });
    qs::kelclient client;
    client.create(0);
    client.connect("127.0.0.1", server.port());
    constexpr int rounds = 50;
    std::atomic<int> mismatches{0};
    auto caller = [&](const char* name) {
        for (int i = 0; i < rounds; ++i) {
            const std::string cmd = std::string(name) + std::to_string(i);
            if (exec(client, cmd.c_str()) != "reply to " + cmd)
                ++mismatches;
        }
    };
    std::thread a(caller, "a"), b(caller, "b");
    a.join();
    b.join();
    client.close();
    EXPECT_EQ(mismatches.load(), 0);
}

TEST(Kelclient, ResultIsCopiedTheWayStrncpyDoes)
{
    fake_server server([](fake_server& s, const qs::frame& f) { s.reply(f.cid, f.text); });
    qs::kelclient client;
    client.create(0);
    client.connect("127.0.0.1", server.port());
    char buf[6];
    std::memset(buf, '#', sizeof buf);
    client.exec("Ok.", buf, 4);
    EXPECT_EQ(std::string(buf, 6), std::string("Ok.\0##", 6));
    std::memset(buf, '#', sizeof buf);
    client.exec("Unknown command.", buf, 4);
    EXPECT_EQ(std::string(buf, 6), "Unkn##") << "cut to size, not terminated";
    std::memset(buf, '#', sizeof buf);
    client.exec("a", buf, 6);
    EXPECT_EQ(std::string(buf, 6), std::string("a\0\0\0\0\0", 6)) << "padded with NULs";

    const std::string long_text(qs::max_frame_size - qs::frame_overhead, 'z');
    std::string big(long_text.size() + 1, '\0');
    client.exec(long_text.c_str(), big.data(), static_cast<int>(big.size()));
    EXPECT_EQ(big.c_str(), long_text);
    EXPECT_EQ(code_of([&] { client.exec((long_text + "!").c_str(), buf, 4); }), 4)
        << "a request beyond the frame cap is refused before it is sent";
    client.close();
}

TEST(Kelclient, FlatInterfaceReportsFailuresAsFalse)
{
    EXPECT_EQ(startup(), 0);
    char buf[32];
    void* never_connected = kel_create(0);
    EXPECT_FALSE(kel_exec(never_connected, "ver", buf, sizeof buf));
    EXPECT_FALSE(kel_exec(nullptr, "ver", buf, sizeof buf));
    kel_close(never_connected);

    qs::socket bound_only; // bound, never listening: a connect to it is refused
    bound_only.create(0);
    void* refused = kel_create(0);
    EXPECT_FALSE(kel_connect(refused, "127.0.0.1", qs::test::local_port(bound_only)));
    kel_close(refused);
    bound_only.close();

    fake_server server(echo);
    void* h = kel_create(0);
    ASSERT_TRUE(kel_connect(h, "localhost", server.port()));
    ASSERT_TRUE(kel_exec(h, "ping", buf, sizeof buf));
    EXPECT_STREQ(buf, "echo ping");
    kel_close(h);
    EXPECT_EQ(cleanup(), 0);
}

TEST(Kelclient, CloseEndsTheDaemonAndFailsEveryWaitingExec)
{
    fake_server server([](fake_server&, const qs::frame&) {}); // never answers
    qs::kelclient client;
    client.create(0);
    client.connect("127.0.0.1", server.port());
    std::vector<int> codes(3, -100);
    std::vector<std::thread> waiters;
    for (std::size_t i = 0; i < 3; ++i)
        waiters.emplace_back([&, i] { codes[i] = code_of([&] { exec(client, "select MSG"); }); });
    while (server.count() < 3)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    client.close();
    for (auto& t : waiters)
        t.join();
    EXPECT_EQ(codes, std::vector<int>(3, 3));
    EXPECT_EQ(client.handle(), -1);
    EXPECT_EQ(code_of([&] { exec(client, "ver"); }), 4);
}

TEST(Kelclient, ExecAfterTheServerWentAwayFailsInsteadOfHanging)
{
    fake_server server(echo);
    qs::kelclient client;
    client.create(0);
    client.connect("127.0.0.1", server.port());
    EXPECT_EQ(exec(client, "one"), "echo one");
    server.hang_up();
    for (int i = 0; i < 3; ++i) {
        int code = code_of([&] { exec(client, "two"); });
        EXPECT_TRUE(code == 3 || code == 4) << code;
    }
    client.close();
}

TEST(Kelclient, CopiesShareTheConnectionAndTheReplyList)
{
    fake_server server(echo);
    auto* original = new qs::kelclient;
    original->create(0);
    original->connect("127.0.0.1", server.port());
    qs::kelclient copy(*original);
    EXPECT_EQ(exec(*original, "a"), "echo a");
    delete original;
    EXPECT_EQ(exec(copy, "b"), "echo b");
    copy.close();
    qs::kelclient late_copy(copy);
    late_copy.close(); // already released: nothing to do
    EXPECT_EQ(code_of([&] { exec(late_copy, "c"); }), 4);
}

} // namespace

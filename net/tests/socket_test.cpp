#include <gtest/gtest.h>

#include <cstring>
#include <thread>

#include "loopback.h"
#include "qs/net/socket.h"

namespace {

using qs::test::code_of;

using qs::test::connected_pair;
using qs::test::listener;

TEST(Socket, FailuresCarryTheOperationCode)
{
    connected_pair pair;
    char buf[8];
    EXPECT_EQ(code_of([&] { pair.near.send("x", 0); }), 4) << "send of zero bytes";
    pair.far.close();
    EXPECT_EQ(code_of([&] { pair.near.recv(buf, sizeof buf); }), 3) << "recv on a closed peer";
    // A vanished peer makes a later send fail with code 4 instead of raising SIGPIPE.
    int code = -100;
    for (int i = 0; i < 1000 && code == -100; ++i)
        code = code_of([&] { pair.near.send("data", 4); });
    EXPECT_EQ(code, 4);

    qs::socket unused;
    EXPECT_EQ(code_of([&] { unused.listen(1); }), 5);
    EXPECT_EQ(code_of([&] { unused.accept(pair.near); }), 2);
    EXPECT_EQ(pair.near.handle(), -1) << "a failed accept leaves -1 in the peer";
}

TEST(Socket, CreateOnAPortInUseThrows0)
{
    listener taken;
    qs::socket s;
    EXPECT_EQ(code_of([&] { s.create(taken.port); }), 0);
    s.close();
}

struct connect_case {
    const char* name;
    const char* host;
    bool listening;
    int expected_code; // -100: no failure
};

class SocketConnect : public testing::TestWithParam<connect_case> {};

TEST_P(SocketConnect, ByHostText)
{
    const connect_case& c = GetParam();
    int port;
    {
        listener probe; // find a free port, then free it again when nobody should listen
        port = probe.port;
    }
    listener* server = c.listening ? new listener : nullptr;
    if (server)
        port = server->port;
    qs::socket s;
    s.create(0);
    EXPECT_EQ(code_of([&] { s.connect(c.host, port); }), c.expected_code);
    s.close();
    delete server;
}

INSTANTIATE_TEST_SUITE_P(Hosts, SocketConnect,
                         testing::Values(connect_case{"Dotted", "127.0.0.1", true, -100},
                                         connect_case{"LocalhostByName", "localhost", true, -100},
                                         connect_case{"DottedNobodyListening", "127.0.0.1", false, 1},
                                         connect_case{"NameNobodyListening", "localhost", false, 1},
                                         connect_case{"UnknownHost", "no-such-host.invalid", true, 1}),
                         [](const testing::TestParamInfo<connect_case>& tested) {
                             return std::string(tested.param.name);
                         });

TEST(Socket, AcceptGivesDottedAddressAndPort)
{
    listener server;
    qs::socket client;
    client.create(0);
    client.connect("127.0.0.1", server.port);
    qs::socket peer;
    char ip[16];
    int port = -1;
    server.sock.accept(peer, ip, port);
    EXPECT_STREQ(ip, "127.0.0.1");
    EXPECT_EQ(port, qs::test::local_port(client));
    peer.close();
    client.close();
}

TEST(Socket, CopiesShareTheHandleAndCloseResetsOnlyItsObject)
{
    connected_pair pair;
    qs::socket copy(pair.near);
    qs::kelserver assigned;
    assigned = qs::kelserver();
    EXPECT_EQ(assigned.handle(), -1);
    copy.send("hi", 3);
    char buf[3];
    EXPECT_EQ(pair.far.recv(buf, 3), 3);
    EXPECT_STREQ(buf, "hi");
    const int old = pair.near.handle();
    pair.near.close();
    EXPECT_EQ(pair.near.handle(), -1);
    EXPECT_EQ(copy.handle(), old);
    pair.near.close(); // closing twice is harmless
    EXPECT_FALSE(pair.near.is_open());
}

TEST(Socket, DestroyingTheObjectLeavesTheConnectionOpen)
{
    connected_pair pair;
    {
        qs::socket temporary(pair.near);
    }
    pair.near.send("x", 2);
    char buf[2];
    EXPECT_EQ(pair.far.recv(buf, 2), 2);
}

TEST(Socket, ShutdownWakesBlockedReceiveAndAccept)
{
    connected_pair pair;
    int recv_code = -100;
    std::thread receiver([&] {
        char buf[4];
        recv_code = code_of([&] { pair.near.recv(buf, sizeof buf); });
    });
    listener server;
    int accept_code = -100;
    std::thread acceptor([&] {
        qs::socket peer;
        accept_code = code_of([&] { server.sock.accept(peer); });
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    pair.near.shutdown();
    server.sock.shutdown();
    receiver.join();
    acceptor.join();
    EXPECT_EQ(recv_code, 3);
    EXPECT_EQ(accept_code, 2);
}

} // namespace

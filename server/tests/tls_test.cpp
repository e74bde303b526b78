// The TLS port: the same frames and commands inside TLS, the checks a verifying client
// makes, and what the server does with clients that do not speak TLS.
#include <gtest/gtest.h>

#include <atomic>
#include <fstream>
#include <future>
#include <map>
#include <thread>

#include "logic_fixture.h"
#include "qs/net/kel.h"
#include "qs/net/kelclient.h"
#include "pipelined_burst.h"
#include "server_process.h"
#include "store_fixture.h"
#include "test_certificates.h"
#include "tls_raw_client.h"

namespace qs::test {
namespace {

const test_certificates& certificates()
{
    static const test_certificates made;
    return made;
}

std::string exec(kelclient& kel, const std::string& command)
{
    char reply[1025] = {};
    kel.exec(command.c_str(), reply, 1024);
    return reply;
}

// A server listening for TLS on a port of its own beside the plain one.
class TlsTest : public StoreTest {
protected:
    std::vector<std::string> conf(std::vector<std::string> more = {}) const
    {
        more.insert(more.end(), {"tls_port=auto", certificates().conf_certificate(), certificates().conf_key()});
        return more;
    }

    // ann over TLS, checked against the test CA, and bob over plain TCP: both made and
    // logged in.
    void ann_over_tls_and_bob(kelclient& ann, client& bob) const
    {
        ann.create(0);
        ann.connect_tls("127.0.0.1", tls_port, certificates().ca().c_str());
        EXPECT_EQ(exec(ann, "newuser ann pw"), "Ok.");
        EXPECT_EQ(bob.exec("newuser bob pw"), "Ok.");
        EXPECT_EQ(exec(ann, "login ann pw"), "Ok.");
        EXPECT_EQ(bob.exec("login bob pw"), "Ok.");
    }

    // Starts the server and learns the two ports it got.
    void start(server_process& server)
    {
        tls_port = server.start_for("TLS");
        plain_port = server.port();
    }

    int plain_port = 0;
    int tls_port = 0;
};

// True when the server ends the connection (a receive sees the end).
template <class Client>
bool closed_by_server(Client& c)
{
    try {
        c.next();
    } catch (const exception&) {
        return true;
    }
    return false;
}

TEST_F(TlsTest, CommandsRunOverTlsBesidePlainTcp)
{
    server_process server(conf());
    start(server);
    kelclient ann;
    client bob(server.port());
    ann_over_tls_and_bob(ann, bob);
    EXPECT_EQ(exec(ann, "ver"), "0.1");
    auto waiting = std::async(std::launch::async, [&] { return exec(ann, "select MSG"); });
    EXPECT_EQ(bob.exec("sendmessage ann \"over plain TCP\""), "Ok.");
    EXPECT_EQ(waiting.get().rfind("getmessage: bob says: \"over plain TCP\" on ", 0), 0u);
    EXPECT_EQ(exec(ann, "sendmessage bob \"over TLS\""), "Ok.");
    EXPECT_EQ(texts_of(bob.exec("getmessage")), std::vector<std::string>{"over TLS"});
    ann.close();

    void* by_name = kel_create(0);
    ASSERT_TRUE(kel_connect_tls(by_name, "localhost", tls_port, certificates().ca().c_str()));
    char reply[16] = {};
    EXPECT_TRUE(kel_exec(by_name, "ver", reply, sizeof reply));
    EXPECT_STREQ(reply, "0.1");
    kel_close(by_name);
}

TEST_F(TlsTest, ExecFromSeveralThreadsWhileASelectWaits)
{
    server_process server(conf());
    start(server);
    kelclient ann;
    client bob(server.port());
    ann_over_tls_and_bob(ann, bob);
    constexpr int messages = 20;
    auto received = std::async(std::launch::async, [&] {
        std::vector<std::string> got;
        while (got.size() < messages)
            for (auto& t : texts_of(exec(ann, "select MSG").substr(12)))
                got.push_back(t);
        return got;
    });
    std::vector<std::thread> askers;
    std::atomic<int> wrong{0};
    for (int t = 0; t < 4; ++t)
        askers.emplace_back([&] {
            for (int i = 0; i < 50; ++i)
                wrong += exec(ann, "getstatus bob") != "online";
        });
    for (int i = 0; i < messages; ++i)
        EXPECT_EQ(bob.exec("sendmessage ann m" + std::to_string(i)), "Ok.");
    for (auto& a : askers)
        a.join();
    EXPECT_EQ(wrong, 0);
    const auto got = received.get();
    ASSERT_EQ(got.size(), static_cast<std::size_t>(messages));
    for (int i = 0; i < messages; ++i)
        EXPECT_EQ(got[static_cast<std::size_t>(i)], "m" + std::to_string(i));
    ann.close();
}

TEST_F(TlsTest, TheVerifyingClientRefusesAnotherNameOrAnUnknownCa)
{
    server_process server(conf());
    start(server);
    const std::string ca_file = certificates().ca();
    const char* ca = ca_file.c_str();
    auto refused = [&](auto connect) {
        kelclient kel;
        kel.create(0);
        const int code = code_of([&] { connect(kel); });
        kel.close();
        return code;
    };
    EXPECT_EQ(refused([&](kelclient& k) { k.connect_tls("127.0.0.2", tls_port, ca); }), 1)
        << "the certificate names 127.0.0.1 and localhost only";
    EXPECT_EQ(refused([&](kelclient& k) { k.connect_tls("127.0.0.1", tls_port, nullptr); }), 1)
        << "the system's store does not know the throw-away CA";
    const std::string not_a_ca = certificates().certificate();
    EXPECT_EQ(refused([&](kelclient& k) { k.connect_tls("127.0.0.1", tls_port, not_a_ca.c_str()); }), 1)
        << "a file without the CA";
    EXPECT_EQ(refused([&](kelclient& k) { k.connect_tls("127.0.0.1", plain_port, ca); }), 1) << "no TLS there";

    void* unchecked = kel_create(0);
    ASSERT_TRUE(kel_connect_tls_insecure(unchecked, "127.0.0.2", tls_port)) << "no check asked for";
    char reply[16] = {};
    EXPECT_TRUE(kel_exec(unchecked, "ver", reply, sizeof reply));
    EXPECT_STREQ(reply, "0.1");
    kel_close(unchecked);
}

TEST_F(TlsTest, PlainOrStalledClientsOnTheTlsPortAreClosedAndTheServerGoesOn)
{
    server_process server(conf({"frame_timeout=1"}));
    start(server);
    raw_client speaks_frames(tls_port);
    speaks_frames.send(encode_frame(1, "ver"));
    EXPECT_TRUE(closed_by_server(speaks_frames));
    raw_client says_nothing(tls_port);
    EXPECT_TRUE(closed_by_server(says_nothing)) << "the handshake's time is bounded";
    tls_raw_client slow(tls_port, certificates().ca());
    slow.send(encode_frame(1, "ver").substr(0, 5));
    EXPECT_TRUE(closed_by_server(slow)) << "an unfinished frame inside TLS";
    EXPECT_TRUE(server.wait_for_log("whose TLS handshake failed"));
    EXPECT_TRUE(server.wait_for_log("that did not finish its TLS handshake."));
    EXPECT_TRUE(server.wait_for_log("left a frame unfinished"));

    raw_client plain(server.port());
    plain.send(encode_frame(2, "ver"));
    EXPECT_EQ(plain.next().text, "0.1");
    tls_raw_client tls(tls_port, certificates().ca());
    tls.send(encode_frame(3, "ver"));
    EXPECT_EQ(tls.next().text, "0.1");
}

TEST_F(TlsTest, PipelinedFramesInsideTlsTakeEffectInOrder)
{
    server_process server(conf());
    start(server);
    tls_raw_client raw(tls_port, certificates().ca());
    raw.send(pipelined_burst()); // one record, before any reply
    expect_burst_in_order(raw);
}

// The requests arrive in the same receive as the handshake's end: the server reads them
// out of what OpenSSL took ahead, without waiting for the socket to have more.
TEST_F(TlsTest, RequestsThatCameWithTheHandshakesEndAreAnswered)
{
    server_process server(conf());
    start(server);
    tls_raw_client raw(tls_port, certificates().ca(), true);
    raw.send(pipelined_burst());
    expect_burst_in_order(raw);
}

TEST_F(TlsTest, AGoodbyeIsAnsweredAfterTheRepliesDue)
{
    server_process server(conf());
    start(server);
    tls_raw_client raw(tls_port, certificates().ca());
    raw.send(encode_frame(1, "newuser y pw") + encode_frame(2, "login y pw"));
    raw.say_goodbye();
    EXPECT_EQ(raw.next().text, "Ok.");
    EXPECT_EQ(raw.next().text, "Ok.") << "answered though no more requests may come";
    EXPECT_TRUE(closed_by_server(raw));
    EXPECT_TRUE(raw.server_said_goodbye());
}

TEST_F(TlsTest, ConnectionsOnBothPortsCountTogether)
{
    server_process server(conf({"max_connections=2"}));
    start(server);
    ASSERT_TRUE(server.wait_for_log("info Closed a connection from")) << "start's probe is gone";
    raw_client plain(server.port());
    plain.send(encode_frame(1, "ver"));
    ASSERT_EQ(plain.next().text, "0.1");
    tls_raw_client tls(tls_port, certificates().ca());
    tls.send(encode_frame(1, "ver"));
    ASSERT_EQ(tls.next().text, "0.1");
    raw_client third(server.port());
    EXPECT_TRUE(closed_by_server(third));
    EXPECT_THROW(tls_raw_client(tls_port, certificates().ca()), std::runtime_error);
}

TEST_F(TlsTest, ACertificateThatCannotBeLoadedStopsTheStart)
{
    const std::map<std::string, std::vector<std::string>> cases = {
        {"cannot load the TLS certificate /nowhere/server.pem: No such file or directory",
         {"tls_certificate=/nowhere/server.pem"}},
        {"cannot load the TLS private key " + certificates().ca_key(),
         {certificates().conf_certificate(), "tls_private_key=" + certificates().ca_key()}},
        {"tls_port needs tls_certificate", {}},
    };
    for (const auto& [reason, lines] : cases) {
        server_process server(lines);
        std::ofstream(server.dir() + "/qsserver.conf", std::ios::app) << "tls_port=auto\n";
        const auto [out, status] = run_qsserver(server.dir(), {"--console"});
        EXPECT_EQ(status, 1) << reason;
        EXPECT_NE(read_file(server.dir() + "/run.err").find("qsserver: " + reason), std::string::npos) << reason;
        EXPECT_NE(server.log().find("Loading the TLS certificate...Failed: " + reason), std::string::npos)
            << server.log();
        EXPECT_EQ(server.log().find("initializing socket"), std::string::npos) << "nothing listened";
    }
}

} // namespace
} // namespace qs::test

// qsclient --tls: the same start-up over TLS, checked against a CA file.
#include <gtest/gtest.h>

#include "pty_session.h"
#include "server_process.h"
#include "store_fixture.h"
#include "test_certificates.h"

namespace qs::test {
namespace {

class TlsClientTest : public StoreTest {
protected:
    // Types the server's address and the TLS port at the two prompts.
    void answer_prompts(pty_session& term)
    {
        ASSERT_TRUE(term.expect("Enber Server's IP Address: (default localhost) "));
        term.type("127.0.0.1\n" + std::to_string(tls_port) + "\n");
    }

    test_certificates certificates;
    // Starts the server and learns the two ports it got.
    void start()
    {
        server.start();
        plain_port = server.port();
        tls_port = server.port_of("TLS");
    }

    server_process server{{"tls_port=auto", certificates.conf_certificate(), certificates.conf_key()}};
    int plain_port = 0;
    int tls_port = 0;
};

TEST_F(TlsClientTest, ConnectsWithTheCaFileAndRunsCommands)
{
    start();
    pty_session term(QS_CLIENT_PATH, {"--tls", "--ca", certificates.ca()});
    answer_prompts(term);
    ASSERT_TRUE(term.expect("Connecting to 127.0.0.1:" + std::to_string(tls_port) + "...Ok.\n"));
    ASSERT_TRUE(term.expect("| q    --quit.                          |\n"));
    term.type("c");
    ASSERT_TRUE(term.expect("command: "));
    term.type("ver\n");
    ASSERT_TRUE(term.expect("ver\n0.1\ncommand: "));
    term.type("/quit\nq");
    EXPECT_EQ(term.wait_exit(), 0);
}

TEST_F(TlsClientTest, ACertificateTheSystemDoesNotTrustFailsTheConnect)
{
    start();
    pty_session term(QS_CLIENT_PATH, {"--tls"});
    answer_prompts(term);
    ASSERT_TRUE(term.expect("Connecting to 127.0.0.1:" + std::to_string(tls_port) +
                            "...Failed.\n"
                            "The server's certificate is not trusted (use --ca FILE for a private "
                            "certificate authority).\n"));
    term.type("k");
    EXPECT_EQ(term.wait_exit(), 1);
}

// Each way a TLS connect fails says what to do about it.
TEST_F(TlsClientTest, TlsFailuresSayWhich)
{
    start();
    const std::string tls = std::to_string(tls_port), plain = std::to_string(plain_port);
    const std::string missing = certificates.ca() + ".missing";
    struct failing {
        std::vector<std::string> args;
        std::string says;
    };
    const std::vector<failing> cases = {
        {{"--tls", "127.0.0.1", plain}, "The server did not answer in TLS (is that the plain port?)\n"},
        {{"--tls", "--ca", missing, "127.0.0.1", tls},
         "The CA file cannot be read: " + missing + " (No such file or directory).\n"},
        {{"--tls", "--ca", certificates.key(), "127.0.0.1", tls},
         "The CA file cannot be read: " + certificates.key() + " (no PEM certificate in it).\n"},
        {{"--tls", "--ca", certificates.ca(), "127.0.0.2", tls}, "The certificate is not valid for 127.0.0.2.\n"},
    };
    for (const auto& c : cases) {
        pty_session term(QS_CLIENT_PATH, c.args);
        ASSERT_TRUE(term.expect("...Failed.\n" + c.says)) << c.says;
        term.type("k");
        EXPECT_EQ(term.wait_exit(), 1);
    }
}

TEST_F(TlsClientTest, HostAndPortMixWithTheTlsOptions)
{
    start();
    const std::string port = std::to_string(tls_port);
    pty_session term(QS_CLIENT_PATH, {"127.0.0.1", "--tls", port, "--ca", certificates.ca()});
    ASSERT_TRUE(term.expect("Connecting to 127.0.0.1:" + port + "...Ok.\n"));
    term.type("q");
    EXPECT_EQ(term.wait_exit(), 0);
}

TEST_F(TlsClientTest, ARefusedTlsPortSaysSo)
{
    const refusing_port refusing;
    const std::string port = std::to_string(refusing.port());
    pty_session term(QS_CLIENT_PATH, {"--tls", "localhost", port});
    ASSERT_TRUE(term.expect("Connecting to localhost:" + port +
                            "...Failed.\n"
                            "The connection was refused: no server listens on that port.\n"));
    term.type("k");
    EXPECT_EQ(term.wait_exit(), 1);
}

TEST_F(TlsClientTest, UnknownArgumentsShowTheUsage)
{
    for (const auto& args : {std::vector<std::string>{"--ca", "x.pem"}, {"--tls", "--ca"}, {"-x"}}) {
        pty_session term(QS_CLIENT_PATH, args);
        EXPECT_EQ(term.wait_exit(), 2);
        EXPECT_NE(term.errors().find("Usage: qsclient [--tls [--ca FILE]]"), std::string::npos);
    }
}

} // namespace
} // namespace qs::test

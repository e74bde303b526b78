// qsclient's command line: help, version, HOST [PORT], and what it does not understand.
#include "client_fixture.h"

namespace qs::test {
namespace {

const std::string usage = "Usage: qsclient [--tls [--ca FILE]] [HOST [PORT]]\n       qsclient --help | --version\n";

TEST(ClientArguments, HelpAndVersionPrintAndExitWith0)
{
    pty_session help(QS_CLIENT_PATH, {"--help"});
    EXPECT_EQ(help.wait_exit(), 0);
    EXPECT_EQ(help.output().rfind(usage, 0), 0u) << help.output();
    EXPECT_NE(help.output().find("QSCLIENT_DEFAULT_PORT"), std::string::npos);
    EXPECT_EQ(help.errors(), "");

    pty_session version(QS_CLIENT_PATH, {"127.0.0.1", "--version"});
    EXPECT_EQ(version.wait_exit(), 0);
    EXPECT_EQ(version.output(), "qsclient (Quillspeak) 0.1\n");
}

TEST(ClientArguments, WhatIsNotUnderstoodGetsTheUsageOnStandardErrorAndExit2)
{
    const std::vector<std::pair<std::vector<std::string>, std::string>> cases = {
        {{"-x"}, "unknown option: -x"},
        {{"host", "--verbose"}, "unknown option: --verbose"},
        {{"--ca", "x.pem"}, "--ca needs --tls"},
        {{"--tls", "--ca"}, "--ca needs a FILE"},
        {{"host", "7000", "extra"}, "too many arguments: extra"},
        {{"host", "0"}, "not a port number (1-65535): 0"},
        {{"host", "70000"}, "not a port number (1-65535): 70000"},
        {{"host", "http"}, "not a port number (1-65535): http"},
    };
    for (const auto& [args, why] : cases) {
        pty_session term(QS_CLIENT_PATH, args);
        EXPECT_EQ(term.wait_exit(), 2) << why;
        EXPECT_EQ(term.errors(), "qsclient: " + why + "\n" + usage);
        EXPECT_EQ(term.output(), "") << why;
    }
}

TEST_F(ClientTest, HostAndPortArgumentsSkipThePrompts)
{
    const std::string port = std::to_string(server.port());
    pty_session both(QS_CLIENT_PATH, {"127.0.0.1", port});
    ASSERT_TRUE(both.expect("Creating socket...Ok.\nConnecting to 127.0.0.1:" + port + "...Ok.\n"));
    ASSERT_TRUE(both.expect(menu));
    both.type("q");
    EXPECT_EQ(both.wait_exit(), 0);
    EXPECT_EQ(both.output().find("Enber"), std::string::npos);

    pty_session host_only(QS_CLIENT_PATH, {"localhost"}, {"QSCLIENT_DEFAULT_PORT=" + port});
    ASSERT_TRUE(host_only.expect("Creating socket...Ok.\nConnecting to localhost:" + port + "...Ok.\n"));
    host_only.type("q");
    EXPECT_EQ(host_only.wait_exit(), 0);
}

} // namespace
} // namespace qs::test

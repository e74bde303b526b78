#include <gtest/gtest.h>

#include <cstdlib>

#include "client_options.h"

namespace qs::test {
namespace {

client_options parse(std::vector<const char*> args)
{
    args.insert(args.begin(), "qsclient");
    return parse_client_options(static_cast<int>(args.size()), args.data());
}

TEST(ClientOptions, HostPortAndTlsInAnyOrder)
{
    const auto none = parse({});
    EXPECT_FALSE(none.host || none.port || none.tls || none.help || none.version);

    const auto host = parse({"example.org"});
    EXPECT_EQ(host.host, "example.org");
    EXPECT_FALSE(host.port);

    const auto all = parse({"--ca", "ca.pem", "example.org", "--tls", "7443"});
    EXPECT_EQ(all.host, "example.org");
    EXPECT_EQ(all.port, 7443);
    EXPECT_TRUE(all.tls);
    EXPECT_EQ(all.ca_file, "ca.pem");

    EXPECT_TRUE(parse({"--help", "-x"}).help);
    EXPECT_TRUE(parse({"h", "--version"}).version);
}

TEST(ClientOptions, PortNumbers)
{
    EXPECT_EQ(parse_port("1"), 1);
    EXPECT_EQ(parse_port("65535"), 65535);
    EXPECT_EQ(parse_port(" 7000 "), 7000);
    for (const char* bad : {"", " ", "0", "65536", "-1", "+1", "7 0", "0x10", "99999999999999999999"})
        EXPECT_FALSE(parse_port(bad)) << bad;
}

TEST(ClientOptions, TheEnvironmentSetsTheDefaultPortAndTheTimeout)
{
    ::setenv("QSCLIENT_DEFAULT_PORT", "7100", 1);
    ::setenv("QSCLIENT_CONNECT_TIMEOUT", "3", 1);
    client_options options;
    read_environment(options);
    EXPECT_EQ(options.default_port, 7100);
    EXPECT_EQ(options.connect_timeout, std::chrono::seconds(3));

    ::setenv("QSCLIENT_DEFAULT_PORT", "none", 1);
    ::setenv("QSCLIENT_CONNECT_TIMEOUT", "0", 1);
    client_options unchanged;
    read_environment(unchanged);
    EXPECT_EQ(unchanged.default_port, 7000);
    EXPECT_EQ(unchanged.connect_timeout, std::chrono::seconds(10));
    ::unsetenv("QSCLIENT_DEFAULT_PORT");
    ::unsetenv("QSCLIENT_CONNECT_TIMEOUT");
}

} // namespace
} // namespace qs::test

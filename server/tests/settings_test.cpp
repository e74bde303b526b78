#include <gtest/gtest.h>

#include <fstream>

#include "qs/server/logic/settings.h"
#include "qs/server/logic/settings_file.h"
#include "test_database.h"

namespace qs::test {
namespace {

struct settings_case {
    const char* name;
    std::string file; // "-" for no file
    settings expected;
    std::size_t complaints;
};

settings with(auto change)
{
    settings s;
    change(s);
    return s;
}

class SettingsFile : public testing::TestWithParam<settings_case> {};

TEST_P(SettingsFile, FollowsTheFileRules)
{
    const settings_case& c = GetParam();
    temp_dir dir;
    const std::string path = dir.path() + "/qsserver.conf";
    if (c.file != "-")
        std::ofstream(path) << c.file;
    settings config;
    testing::internal::CaptureStdout();
    const auto complaints = read_settings(path, config);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "Initializing settings...Ok.\n");
    EXPECT_EQ(config.port, c.expected.port);
    EXPECT_EQ(config.backlog, c.expected.backlog);
    EXPECT_EQ(config.buff_size, c.expected.buff_size);
    EXPECT_EQ(config.sleep_ticks, c.expected.sleep_ticks);
    EXPECT_EQ(config.max_field_len, c.expected.max_field_len);
    EXPECT_EQ(config.log_path, c.expected.log_path);
    EXPECT_EQ(config.least_log_level, c.expected.least_log_level);
    EXPECT_EQ(config.db_connections, c.expected.db_connections);
    EXPECT_EQ(config.db_timeout, c.expected.db_timeout);
    EXPECT_EQ(config.store_retry, c.expected.store_retry);
    EXPECT_EQ(config.tls_port, c.expected.tls_port);
    EXPECT_EQ(config.bind_address, c.expected.bind_address);
    EXPECT_EQ(config.tls_certificate, c.expected.tls_certificate);
    EXPECT_EQ(config.tls_private_key, c.expected.tls_private_key);
    EXPECT_EQ(config.hashed_passwords, c.expected.hashed_passwords);
    EXPECT_EQ(config.http_port, c.expected.http_port);
    EXPECT_EQ(config.https_port, c.expected.https_port);
    EXPECT_EQ(config.web_root, c.expected.web_root);
    EXPECT_EQ(config.web_origins, c.expected.web_origins);
    EXPECT_EQ(config.ws_ping, c.expected.ws_ping);
    EXPECT_EQ(config.cluster_urls, c.expected.cluster_urls);
    EXPECT_EQ(config.node_name, c.expected.node_name);
    EXPECT_EQ(config.node_lease, c.expected.node_lease);
    EXPECT_EQ(config.metrics_port, c.expected.metrics_port);
    EXPECT_EQ(config.metrics_address, c.expected.metrics_address);
    EXPECT_EQ(complaints.size(), c.complaints);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, SettingsFile,
    testing::Values(
        settings_case{"NoFile", "-", settings{}, 0},
        settings_case{"OnlyPort", "port=7100\n", with([](settings& s) { s.port = 7100; }), 0},
        settings_case{"LastKeyWins", "port=7100\nport=7200\n", with([](settings& s) { s.port = 7200; }), 0},
        settings_case{"SpacesAreKept", "port = 8000\nbuff_size = 2048\nlog_path= x.log\n",
                      with([](settings& s) { s.log_path = " x.log"; }), 0},
        settings_case{"AtoiReading", "backlog= 12abc\nsleep_ticks=+5\nmax_field_len=300\n", with([](settings& s) {
                          s.backlog = 12;
                          s.sleep_ticks = 5;
                          s.max_field_len = 300;
                      }),
                      0},
        settings_case{"WindowsLineEnds", "port=7300\r\nlog_path=a.log\r\n", with([](settings& s) {
                          s.port = 7300;
                          s.log_path = "a.log";
                      }),
                      0},
        settings_case{"EmptyLogPath", "log_path=\n", with([](settings& s) { s.log_path = ""; }), 0},
        settings_case{"LogLevel", "log_path=-\nlog_level=warning\n", with([](settings& s) {
                          s.log_path = "-";
                          s.least_log_level = log_level::warning;
                      }),
                      0},
        settings_case{"LogLevelRefused", "log_level=verbose\n", settings{}, 1},
        settings_case{"CaseAndUnknownKeys", "Port=1\nfoo=bar\nnoequals\n", settings{}, 0},
        settings_case{"OutOfRangeKeepsDefaults", "port=abc\nbuff_size=10\nsleep_ticks=-1\nmax_field_len=abc\nport2=1\n",
                      settings{}, 4},
        settings_case{
            "PortsTheKernelPicks", "port=0\ntls_port=auto\nhttp_port=0\nhttps_port=auto\nmetrics_port=auto\n",
            with([](settings& s) { s.port = s.tls_port = s.https_port = s.metrics_port = settings::any_port; }), 0},
        settings_case{"AutoIsNoNumberElsewhere", "port=00\nws_ping=auto\n", settings{}, 2},
        settings_case{"BufferAboveTheFrameCap", "buff_size=70000\n", settings{}, 1},
        settings_case{"DatabaseSettings", "db_connections=16\ndb_timeout=3\nstore_retry=0\n", with([](settings& s) {
                          s.db_connections = 16;
                          s.db_timeout = 3;
                          s.store_retry = 0;
                      }),
                      0},
        settings_case{"TlsSettings", "tls_port=7443\ntls_certificate=/etc/qs/cert.pem\ntls_private_key=key.pem\n",
                      with([](settings& s) {
                          s.tls_port = 7443;
                          s.tls_certificate = "/etc/qs/cert.pem";
                          s.tls_private_key = "key.pem";
                      }),
                      0},
        settings_case{"TlsPortOutOfRange", "tls_port=65536\n", settings{}, 1},
        settings_case{"WebSettings",
                      "http_port=7080\nhttps_port=7444\nweb_root=/srv/page\nws_ping=3600\n"
                      "web_origins=HTTPS://Chat.Example.org:443/, http://localhost:8080\n",
                      with([](settings& s) {
                          s.http_port = 7080;
                          s.https_port = 7444;
                          s.web_root = "/srv/page";
                          s.ws_ping = 3600;
                          s.web_origins = {"https://chat.example.org", "http://localhost:8080"};
                      }),
                      0},
        settings_case{"WebSettingsRefused",
                      "http_port=65536\nhttps_port=-1\nws_ping=0\nweb_origins=https://a.example/page\n", settings{}, 4},
        settings_case{"ClusterSettings",
                      "cluster_url=nats://10.0.0.5:4222, tls://nats.example.org:4443,nats://[::1]:4222\n"
                      "node_name=web-1.example:7000\nnode_lease=3\n",
                      with([](settings& s) {
                          s.cluster_urls = {"nats://10.0.0.5:4222", "tls://nats.example.org:4443", "nats://[::1]:4222"};
                          s.node_name = "web-1.example:7000";
                          s.node_lease = 3;
                      }),
                      0},
        settings_case{"ClusterUrlEmptyIsOneNode", "cluster_url=\n", settings{}, 0},
        settings_case{"ClusterSettingsRefused", "cluster_url=nats://a:4222,http://b:80\nnode_name=a b\nnode_lease=2\n",
                      settings{}, 3},
        settings_case{"ClusterUrlsNeedAPort", "cluster_url=nats://a\n", settings{}, 1},
        settings_case{"NodeNameTooLong", "node_name=" + std::string(65, 'n') + "\nnode_lease=3601\n", settings{}, 2},
        settings_case{"BindAddresses", "bind_address=::1\n", with([](settings& s) { s.bind_address = "::1"; }), 0},
        settings_case{"BindAddressNoAddress", "bind_address=localhost\n", settings{}, 1},
        settings_case{"MetricsPortAndAddress", "metrics_port=9464\nmetrics_address=::1\n", with([](settings& s) {
                          s.metrics_port = 9464;
                          s.metrics_address = "::1";
                      }),
                      0},
        settings_case{"MetricsSettingsRefused", "metrics_port=65536\nmetrics_address=localhost\n", settings{}, 2},
        settings_case{"HashedPasswords", "password_storage=hashed\n",
                      with([](settings& s) { s.hashed_passwords = true; }), 0},
        settings_case{"UnknownPasswordStorage", "password_storage=hashed\npassword_storage=Hashed\n", settings{}, 1},
        settings_case{"DatabaseSettingsOutOfRange", "db_connections=65\ndb_timeout=0\nstore_retry=-1\n", settings{}, 3},
        settings_case{"LongLineEndsReading", "port=7400\n" + std::string(1024, 'x') + "\nbacklog=5\n",
                      with([](settings& s) { s.port = 7400; }), 0},
        settings_case{"LineOfExactly1023", "port=7500\nlog_path=" + std::string(1014, 'l') + "\nbacklog=5\n",
                      with([](settings& s) {
                          s.port = 7500;
                          s.log_path = std::string(1014, 'l');
                          s.backlog = 5;
                      }),
                      0}),
    [](const testing::TestParamInfo<settings_case>& tested) { return std::string(tested.param.name); });

// Comment lines, settings left out as in the shipped qsserver.conf included, say nothing.
TEST(SettingsNotices, UnknownKeysAndSpacesAroundTheSignAreSaid)
{
    temp_dir dir;
    const std::string path = dir.path() + "/qsserver.conf";
    std::ofstream(path) << "port = 7313\nfoo=bar\nmax_field_len=4096\nPort=1\n#port=7000\n# a=b\n";
    settings config;
    std::vector<std::string> notices;
    testing::internal::CaptureStdout();
    const auto complaints = read_settings(path, config, &notices);
    testing::internal::GetCapturedStdout();
    EXPECT_TRUE(complaints.empty());
    EXPECT_EQ(config.port, 7000);
    EXPECT_EQ(config.max_field_len, 4096);
    EXPECT_EQ(notices, (std::vector<std::string>{
                           "Setting 'Port' is not known and is ignored.",
                           "Setting 'foo' is not known and is ignored.",
                           "Setting 'port = 7313' is ignored: no spaces around '=' (port=7313).",
                       }));
}

} // namespace
} // namespace qs::test

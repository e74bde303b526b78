#include "qs/server/logic/settings_file.h"

#include <algorithm>
#include <arpa/inet.h>
#include <cstdlib>
#include <fstream>
#include <map>

#include "qs/net/frame.h"
#include "qs/server/logic/cluster_address.h"
#include "qs/server/logic/log.h"
#include "qs/server/logic/settings.h"
#include "qs/server/logic/web_origin.h"

namespace qs {

namespace {

constexpr std::size_t longest_line = 1023;
constexpr int smallest_buffer = 64;

// key=value pairs; nothing trimmed but one trailing CR; the last key wins; reading
// stops at the first line longer than longest_line.
std::map<std::string, std::string> read_pairs(const std::string& file_name)
{
    std::map<std::string, std::string> pairs;
    std::ifstream in(file_name);
    std::string line;
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        if (line.size() > longest_line)
            break;
        auto eq = line.find('=');
        if (eq != std::string::npos)
            pairs[line.substr(0, eq)] = line.substr(eq + 1);
    }
    return pairs;
}

const char* const text_keys[] = {"bind_address",     "log_path",  "tls_certificate", "tls_private_key",
                                 "password_storage", "web_root",  "web_origins",     "cluster_url",
                                 "node_name",        "log_level", "metrics_address"};

// The whole value: a NUL may not end an address early.
bool is_ip_address(const std::string& text)
{
    unsigned char bytes[sizeof(in6_addr)];
    return text.find('\0') == std::string::npos &&
           (::inet_pton(AF_INET, text.c_str(), bytes) == 1 || ::inet_pton(AF_INET6, text.c_str(), bytes) == 1);
}

std::string trimmed(const std::string& s)
{
    const auto first = s.find_first_not_of(" \t");
    return first == std::string::npos ? "" : s.substr(first, s.find_last_not_of(" \t") - first + 1);
}

// An address setting: kept when it is an IP address, else its default stays, with a complaint.
void read_address(const std::map<std::string, std::string>& pairs, const char* key, std::string& field,
                  std::vector<std::string>& complaints)
{
    const auto it = pairs.find(key);
    if (it == pairs.end())
        return;
    if (is_ip_address(it->second))
        field = it->second;
    else
        complaints.push_back(std::string("Setting ") + key + "=" + it->second + " is no IP address; using " + field +
                             ".");
}

struct number_setting {
    const char* key;
    int settings::*field;
    long low, high;
};

// The ports take "auto" for a port the kernel picks; port takes 0 for it too.
bool is_port_key(const std::string& key)
{
    return key == "port" || key.ends_with("_port");
}

// cluster_url and node_name; node_lease is a number like the others.
void read_cluster_settings(const std::map<std::string, std::string>& pairs, settings& out,
                           std::vector<std::string>& complaints)
{
    if (auto it = pairs.find("cluster_url"); it != pairs.end()) {
        if (auto urls = parse_cluster_urls(it->second))
            out.cluster_urls = std::move(*urls);
        else
            complaints.push_back("Setting cluster_url=" + it->second +
                                 " is no comma-separated list of NATS addresses such as nats://10.0.0.5:4222; "
                                 "using none (a single node).");
    }
    if (auto it = pairs.find("node_name"); it != pairs.end()) {
        if (is_node_name(it->second))
            out.node_name = it->second;
        else
            complaints.push_back("Setting node_name=" + it->second +
                                 " is no name of 1 to 64 letters, digits and . _ : -; using the host name and port.");
    }
}

} // namespace

// A key the server does not know is ignored: said, with a hint when only spaces differ.
void notice_unknown_keys(const std::map<std::string, std::string>& pairs, const std::vector<std::string>& known,
                         std::vector<std::string>& notices)
{
    const auto is_known = [&](const std::string& key) {
        return std::find(known.begin(), known.end(), key) != known.end();
    };
    for (const auto& [key, value] : pairs) {
        if (is_known(key) || key.starts_with('#')) // a comment, such as a setting left out
            continue;
        if (is_known(trimmed(key)))
            notices.push_back("Setting '" + key + "=" + value + "' is ignored: no spaces around '=' (" + trimmed(key) +
                              "=" + trimmed(value) + ").");
        else
            notices.push_back("Setting '" + key + "' is not known and is ignored.");
    }
}

std::vector<std::string> read_settings(const std::string& file_name, settings& out, std::vector<std::string>* notices)
{
    console_text("Initializing settings...");
    const auto pairs = read_pairs(file_name);
    std::vector<std::string> complaints;
    const number_setting numbers[] = {
        {"backlog", &settings::backlog, -2147483648L, 2147483647L},
        {"buff_size", &settings::buff_size, smallest_buffer, static_cast<long>(max_frame_size)},
        {"port", &settings::port, 1, 65535},
        {"sleep_ticks", &settings::sleep_ticks, 1, 1L << 30},
        {"max_field_len", &settings::max_field_len, 1, 1L << 30},
        {"db_connections", &settings::db_connections, 1, 64},
        {"db_timeout", &settings::db_timeout, 1, 3600},
        {"store_retry", &settings::store_retry, 0, 3600},
        {"spill_delay_ms", &settings::spill_delay_ms, 0, 60000},
        {"io_threads", &settings::io_threads, 1, 64},
        {"max_connections", &settings::max_connections, 1, 1000000},
        {"frame_timeout", &settings::frame_timeout, 1, 3600},
        {"tls_port", &settings::tls_port, 0, 65535},
        {"http_port", &settings::http_port, 0, 65535},
        {"https_port", &settings::https_port, 0, 65535},
        {"ws_ping", &settings::ws_ping, 1, 3600},
        {"node_lease", &settings::node_lease, 3, 3600},
        {"metrics_port", &settings::metrics_port, 0, 65535},
    };
    for (const auto& n : numbers) {
        auto it = pairs.find(n.key);
        if (it == pairs.end())
            continue;
        if (is_port_key(n.key) && (it->second == "auto" || (n.field == &settings::port && it->second == "0"))) {
            out.*(n.field) = settings::any_port;
            continue;
        }
        const long value = std::strtol(it->second.c_str(), nullptr, 10); // atoi's reading, clamped
        if (value < n.low || value > n.high) {
            complaints.push_back(std::string("Setting ") + n.key + "=" + it->second + " is out of range (" +
                                 std::to_string(n.low) + " to " + std::to_string(n.high) + "); using " +
                                 std::to_string(out.*(n.field)) + ".");
            continue;
        }
        out.*(n.field) = static_cast<int>(value);
    }
    if (auto it = pairs.find("log_path"); it != pairs.end())
        out.log_path = it->second;
    read_address(pairs, "bind_address", out.bind_address, complaints);
    read_address(pairs, "metrics_address", out.metrics_address, complaints);
    if (auto it = pairs.find("log_level"); it != pairs.end() && !parse_log_level(it->second, out.least_log_level))
        complaints.push_back("Setting log_level=" + it->second +
                             " is none of error, warning, info, debug; using info.");
    if (auto it = pairs.find("password_storage"); it != pairs.end()) {
        if (it->second == "plain" || it->second == "hashed")
            out.hashed_passwords = it->second == "hashed";
        else
            complaints.push_back("Setting password_storage=" + it->second +
                                 " is neither plain nor hashed; using plain.");
    }
    if (auto it = pairs.find("tls_certificate"); it != pairs.end())
        out.tls_certificate = it->second;
    if (auto it = pairs.find("tls_private_key"); it != pairs.end())
        out.tls_private_key = it->second;
    if (auto it = pairs.find("web_root"); it != pairs.end())
        out.web_root = it->second;
    if (auto it = pairs.find("web_origins"); it != pairs.end()) {
        if (auto origins = parse_origin_list(it->second))
            out.web_origins = std::move(*origins);
        else
            complaints.push_back(
                "Setting web_origins=" + it->second +
                " is no comma-separated list of origins such as https://example.org:8443; using none.");
    }
    read_cluster_settings(pairs, out, complaints);
    if (notices != nullptr) {
        std::vector<std::string> known(std::begin(text_keys), std::end(text_keys));
        for (const auto& n : numbers)
            known.push_back(n.key);
        notice_unknown_keys(pairs, known, *notices);
    }
    console_line("Ok.");
    return complaints;
}

} // namespace qs

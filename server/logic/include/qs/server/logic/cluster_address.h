#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace qs {

// The settings of the cluster mode: the NATS servers' addresses and the node's name.

// A comma-separated list of nats://host:port or tls://host:port (host a name, an IPv4
// address or a bracketed IPv6 one), spaces around each allowed; nullopt when an entry
// is none of these. "" is the empty list: a single node.
std::optional<std::vector<std::string>> parse_cluster_urls(std::string_view text);

// 1 to 64 letters, digits and . _ : - (so "host:port" is one).
bool is_node_name(std::string_view text);

} // namespace qs

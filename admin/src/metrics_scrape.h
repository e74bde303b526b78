#pragma once

#include <map>
#include <string>

namespace qs::admin {

// Where a server's metrics port listens.
struct metrics_endpoint {
    std::string host;
    static constexpr int picked = -1; // metrics_port=auto: the kernel picked one at the start

    int port = 0; // 0: none set
};

// "HOST:PORT" or "[V6]:PORT"; throws usage_error when it is neither.
metrics_endpoint parse_endpoint(const std::string& text);

// metrics_address and metrics_port of the qsserver.conf at path, as the server reads
// them; a wildcard address becomes the loopback one. Port 0 when unset or unreadable.
metrics_endpoint endpoint_from_conf(const std::string& path);

// GET /metrics within a few seconds; throws failure with the reason when it fails.
std::string fetch_metrics(const metrics_endpoint& at);

// The samples of a Prometheus text page, by series: "name" or "name{labels}".
std::map<std::string, double> parse_samples(const std::string& text);

} // namespace qs::admin

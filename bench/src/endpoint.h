#pragma once

#include <netinet/in.h>
#include <string>
#include <string_view>

namespace qsb {

// A TCP address on the loopback network; nothing else is ever a target.
struct endpoint {
    sockaddr_in addr{};
    bool tls = false; // the port speaks TLS
    bool ws = false;  // the port serves HTTP; the client upgrades to the WebSocket at /ws
};

// Throws bench_error for a host outside 127.0.0.0/8 or a port outside 1..65535, naming
// the option the host came from.
endpoint loopback_endpoint(const std::string& host, int port, std::string_view host_option = "--host");

// "127.0.0.1:7000"
std::string describe(const endpoint& ep);

// A non-blocking TCP socket whose connection to ep has started (or completed).
// Throws bench_error when the connect fails at once.
int start_connect(const endpoint& ep);

// A TCP socket bound to a free port on 127.0.0.1, and that port. Throws bench_error.
int bind_free_loopback(int& port);

// A port on 127.0.0.1 free at the time of the call.
int free_loopback_port();

} // namespace qsb

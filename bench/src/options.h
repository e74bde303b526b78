#pragma once

#include <string>

namespace qsb {

struct options {
    std::string workload;
    std::string host = "127.0.0.1";
    int port = 0;
    // Where the receivers of dm and latency log in and select, when not on host:port
    // (another node of a cluster). Empty and 0: the same as host and port.
    std::string receiver_host;
    int receiver_port = 0;
    int server_pid = 0;
    double duration = 10; // cap on the measured phase, seconds
    double drain = 30;    // cap on setting up, and on collecting messages after sending
    long count = 0;       // 0: the workload's own default
    int window = 0;       // 0: the workload's own default
    int loops = 4;
    int senders = 4;
    int receivers = 100;
    int pairs = 16;
    int batch = 1;
    int clients = 1000;
    std::string prefix = "qsb";
    std::string password = "pw";
    bool tls = false;      // TLS to the port, taking any certificate
    bool ws = false;       // the WebSocket at /ws of the port (the server's http_port or https_port)
    bool with_ver = false; // login: also loops of connect, ver, close, for the ratio of the two
    bool help = false;
};

// Throws bench_error for an unknown option, a value out of range or an option the
// workload does not take.
options parse_options(int argc, char** argv);

// True when the receivers log in somewhere else than the senders.
bool receivers_apart(const options& o);
std::string usage();

} // namespace qsb

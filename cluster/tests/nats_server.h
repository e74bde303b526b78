#pragma once

#include <string>
#include <sys/types.h>

namespace qs::test {

// A nats-server child process on 127.0.0.1, on ports the kernel chose (-1; the ports
// file it writes once listening tells which), in a folder of its own with its log.
// Killed on destruction.
class nats_server {
public:
    // A server of its own.
    nats_server();
    // A server joined to seed through a route: together they are one cluster.
    struct joined_to {
        const nats_server& seed;
    };
    explicit nats_server(joined_to route);
    ~nats_server();
    nats_server(const nats_server&) = delete;
    nats_server& operator=(const nats_server&) = delete;

    // SIGKILL: connections drop at once, as in a crash.
    void kill();
    // Starts again on the same ports (and the same route) and waits until it listens.
    void restart();
    bool running() const { return pid_ > 0; }

    std::string url() const { return "nats://127.0.0.1:" + std::to_string(port_); }
    int port() const { return port_; }
    int cluster_port() const { return cluster_port_; }

private:
    void start(int port, int cluster_port);

    std::string dir_;
    std::string route_; // the seed's cluster URL; empty for a lone server
    pid_t pid_ = -1;
    int port_ = 0;
    int cluster_port_ = 0; // where it listens for routes
};

} // namespace qs::test

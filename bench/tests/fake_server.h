#pragma once

#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "endpoint.h"

namespace qsb::test {

// A listening socket on a free loopback port; accept() and receives on what it
// accepts time out after 10 s.
class listener {
public:
    listener();
    ~listener();
    listener(const listener&) = delete;
    listener& operator=(const listener&) = delete;

    endpoint where() const { return loopback_endpoint("127.0.0.1", port_); }
    int port() const { return port_; }
    // The accepted socket, or -1 when the wait timed out.
    int accept_one() const;

private:
    int port_ = 0;
    int fd_;
};

// Accepts `connections` connections, a thread each, and answers every request frame
// with answer(connection index, text) unless that gives nothing. A connection's thread
// ends when the peer closes it.
class fake_server {
public:
    using answer_fn = std::function<std::optional<std::string>(int connection, const std::string& request)>;

    fake_server(int connections, answer_fn answer);
    ~fake_server();

    endpoint where() const { return listener_.where(); }
    int port() const { return listener_.port(); }

private:
    void serve(int fd, int index);

    listener listener_;
    answer_fn answer_;
    std::mutex lock_; // answer_ runs under it
    std::thread acceptor_;
    std::vector<std::thread> connections_;
};

} // namespace qsb::test

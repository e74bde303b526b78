#pragma once

#include <chrono>
#include <map>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "server_process.h"

namespace qs::test {

// Users of a test server with password "pw", each logged in on a connection of its own,
// and requests sent at once, each from its own connection and timed from its send to
// its reply, for the tests of a stalled database.
class stall_cast {
public:
    // Creates the users.
    stall_cast(int port, const std::vector<std::string>& users);
    void log_in(const std::vector<std::string>& users);
    // The connection the user is logged in on.
    client& as(const std::string& user);
    // A new connection, nobody logged in.
    client& fresh();

    struct answer {
        std::string command;
        std::string reply;
        std::chrono::steady_clock::duration took;
    };
    // Each command (user, command line) is sent at once with the others, on the user's
    // connection, or on a fresh one when the user is "". A reply that has not come within
    // a minute fails the test.
    std::vector<answer> at_once(const std::vector<std::pair<std::string, std::string>>& requests);

private:
    int port_;
    std::map<std::string, std::unique_ptr<client>> logged_in_;
    std::vector<std::unique_ptr<client>> others_;
};

// Sends command on a new connection each time until the reply is "Ok.", for at most half
// a minute; the connection that got it, or null.
std::unique_ptr<client> eventually_ok(int port, const std::string& command);
// How often what occurs in text.
std::size_t count_of(const std::string& text, const std::string& what);

} // namespace qs::test

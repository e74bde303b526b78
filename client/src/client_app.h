#pragma once

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "client_options.h"
#include "console.h"
#include "qs/net/kelclient.h"

namespace qs {

// The console client: start-up, the key-driven main menu, its six actions and the
// message receiver. The main thread runs everything but the receiver; the receiver
// thread (started by the first log-in, owned and joined by the main thread) only sends
// "select MSG" on the shared kelclient and shows what arrives, one run per log-in, and
// reports a lost connection to the console, whose waiting reader then leaves.
class client_app {
public:
    explicit client_app(client_options options = {}) : options_(std::move(options)) {}
    ~client_app() { shut_down(); }
    // The exit status: 0 after quitting, 1 when the connection failed or was lost.
    int run();

private:
    struct server_address {
        std::string host;
        int port = 0;      // as shown in "Connecting to"
        bool valid = true; // port is a port number
    };

    void banner();
    void pause();
    void pause_before_leaving(); // a pause that cannot fail
    int start_up();
    server_address choose_server();
    void main_menu();

    void log_in();
    void log_out();
    void new_account();
    void talk();
    void send_one();
    void send_message(const std::string& user, const std::string& text);
    void command_mode();

    // Sends a command; the result is cut to size - 1 characters. Throws connection_lost.
    std::string exec(const std::string& command, std::size_t size = 256);
    std::string exec_quoted(const std::vector<std::string>& args);
    void start_receiver();
    void receive();
    void receive_run();
    bool quitting();
    void shut_down();

    const client_options options_;
    console con_;
    kelclient kel_;
    std::atomic<bool> talk_mode_{false}; // read by the receiver
    std::string partner_;
    std::thread receiver_;
    std::mutex receiver_lock_;                // guards runs_wanted_ and quitting_
    std::condition_variable receiver_wanted_; // a log-in or the end
    unsigned runs_wanted_ = 0;                // one more per log-in
    bool quitting_ = false;
};

} // namespace qs

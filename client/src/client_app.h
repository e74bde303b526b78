#pragma once

#include <atomic>
#include <string>
#include <thread>

#include "console.h"
#include "qs/net/kelclient.h"

namespace qs {

// The console client: start-up, the key-driven main menu, its six actions and the
// message receiver. The main thread runs everything but the receiver; the receiver
// thread (started by a log-in, owned and joined by the main thread) only sends
// "select MSG" on the shared kelclient and shows what arrives.
class client_app {
public:
    ~client_app() { shut_down(); }
    int run();

private:
    void banner();
    void pause();
    void start_up();
    void main_menu();

    void log_in();
    void log_out();
    void new_account();
    void talk();
    void send_one();
    void command_mode();

    // Sends a command; the result is cut to size - 1 characters.
    std::string exec(const std::string& command, std::size_t size = 256);
    void start_receiver();
    void receive();
    void shut_down();

    console con_;
    kelclient kel_;
    std::atomic<bool> talk_mode_{false};  // read by the receiver
    std::string partner_;
    std::thread receiver_;
};

} // namespace qs

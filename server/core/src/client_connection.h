#pragma once

#include <asio.hpp>
#include <chrono>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "qs/server/command_interpreter.h"
#include "qs/net/frame.h"
#include "connection_stream.h"

namespace qs {

// One client connection of the event loop. Every member below is used on the
// connection's strand only; worker threads hand results back through it. Shared by its
// read loop and its pending operations: it lives exactly as long as they do.
class client_connection : public std::enable_shared_from_this<client_connection> {
public:
    struct limits {
        std::size_t longest_request;      // buff_size - 5
        std::size_t queued_commands = 64;  // past this the connection is not read
        std::size_t unsent_bytes = 1 << 20;         // past this the connection is not read
        std::size_t most_unsent_bytes = 16 << 20;   // past this the connection is closed
        std::chrono::seconds unfinished_frame{30};  // a frame left incomplete longer closes it
        int waiting_selects = 32;
    };

    client_connection(connection_stream stream, server_state& state, asio::thread_pool& workers,
                      const limits& limits, std::function<void(client_connection*)> closed);

    void start();
    // From any thread: stop reading; the connection ends once its commands are done.
    void shutdown();

private:
    struct request {
        frame raw;
        std::vector<std::string> args;
        bool too_long = false;
        bool waited = false;  // its wait before running is over (or there was none)
    };

    asio::awaitable<void> read_loop();
    bool read_paused() const;
    void accept_bytes();
    void watch_unfinished_frame();
    void pump();
    bool hold_front();
    void run_on_worker(request r);
    void park(const request& r);
    void answer(const request& r);
    void reply(std::int32_t cid, const std::string& text, const std::string& command, hand_out given = {});
    void give_back(std::vector<hand_out>& given);
    void write_more();
    void finish_if_done();
    void end_then_close();
    void close_socket();

    connection_stream stream_;
    asio::strand<asio::any_io_executor> strand_;
    asio::thread_pool& workers_;
    const limits limits_;
    std::function<void(client_connection*)> closed_callback_;
    command_interpreter interpreter_;
    frame_splitter frames_;
    asio::steady_timer resume_reading_;   // cancelled when a paused read may go on
    asio::steady_timer unfinished_frame_;  // runs while a frame is incomplete
    asio::steady_timer held_login_;        // runs while a login waits its turn
    bool watching_frame_ = false;
    std::deque<request> queue_;           // commands not started yet, in arrival order
    bool busy_ = false;                   // a command runs on a worker, or a login waits
    int parked_ = 0;                      // selects waiting in the session
    std::string unsent_;                  // replies not yet handed to a write
    std::string writing_;                 // the write in flight
    std::vector<hand_out> unsent_given_;  // what the unsent replies hand out
    std::vector<hand_out> writing_given_; // what the write in flight hands out
    bool write_in_flight_ = false;
    bool flush_scheduled_ = false;        // a write_more() is posted
    bool read_done_ = false;              // end of file, an error, or shutdown
    bool ending_ = false;                 // the user is being logged out
    bool closed_ = false;                 // the socket is closed: replies go to the log
};

} // namespace qs

#pragma once

#include <atomic>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <stdexcept>
#include <string>
#include <termios.h>

#include "utf8_line.h"

namespace qs {

// Standard input ended: the client leaves.
struct input_ended : std::runtime_error {
    input_ended() : std::runtime_error("standard input ended") {}
};

// The connection to the server ended: the client leaves.
struct connection_lost : std::runtime_error {
    connection_lost() : std::runtime_error("connection to the server lost") {}
};

// The client's console. One reader (the main thread) takes every key; on a terminal,
// keys are read unechoed one at a time and lines are echoed and edited here, by UTF-8
// character. Messages from the receiver thread that need an acknowledgement are shown
// by the reader between two keys: the next key acknowledges the message and is not
// taken by the menu, and a half-typed line is drawn again. Output is written whole
// under one lock. A wait for a key ends with connection_lost once the connection is
// reported lost or the watched descriptor hangs up.
class console {
public:
    console();
    ~console(); // restores the terminal
    console(const console&) = delete;
    console& operator=(const console&) = delete;

    void print(const std::string& text); // flushed at once
    // text on a line of its own, after whatever the current line holds.
    void print_apart(const std::string& text);
    void clear_screen();

    // One key press, without echo and without Enter.
    char read_key();
    // A line of at most max bytes; a character past it, and the rest of a longer
    // line, is dropped. Backspace takes back a whole character.
    std::string read_line(std::size_t max);
    // The same with a '*' shown for each character.
    std::string read_secret(std::size_t max);

    // From the receiver: shows text on its own line and returns at once.
    void show_now(const std::string& text);
    // From the receiver: shows text framed under "Received Message(s)" and waits until
    // the user has acknowledged it with a key, or until release() is called.
    void show_and_wait(const std::string& text);
    // Ends every wait of show_and_wait (the client is leaving).
    void release();

    // From the reader: a hang-up on fd (a connected socket; -1: none) ends the waits.
    void watch_hangup(int fd) { hangup_fd_ = fd; }
    // From any thread: the reader's current or next wait throws connection_lost.
    void report_lost();

    // Restores the terminal, from anywhere including a signal handler.
    static void restore_terminal();

private:
    std::string read_text(std::size_t max, bool hidden);
    bool edit(int byte); // one byte into line_; true at the line's end
    int next_byte();     // the next input byte, showing waiting messages first
    bool wait_for_key(); // true: a key is ready; false: woken. Throws connection_lost
    void show_waiting(std::unique_lock<std::mutex>& guard);
    void redraw_line();                 // prompt and half-typed text, after a message
    void emit(const std::string& text); // to the terminal, lock_ held

    const bool terminal_;
    int wake_[2] = {-1, -1}; // the receiver wakes the reader through this pipe
    int hangup_fd_ = -1;     // the reader's only
    std::atomic<bool> lost_{false};

    std::mutex lock_; // guards output and everything below
    std::condition_variable acknowledged_;
    std::deque<std::string> waiting_; // messages to show, oldest first
    unsigned long shown_ = 0;         // messages shown and acknowledged so far
    unsigned long posted_ = 0;        // messages ever posted
    bool released_ = false;
    utf8_line line_;        // the line being typed
    bool typing_ = false;   // a read_line is in progress
    bool hidden_ = false;   // ... showing '*' for each character
    std::string prompt_;    // what was printed since the last line end
    bool mid_line_ = false; // the last text written did not end a line
};

} // namespace qs

#pragma once

#include <condition_variable>
#include <deque>
#include <mutex>
#include <stdexcept>
#include <string>
#include <termios.h>

namespace qs {

// Standard input ended: the client leaves.
struct input_ended : std::runtime_error {
    input_ended() : std::runtime_error("standard input ended") {}
};

// The client's console. One reader (the main thread) takes every key; on a terminal,
// keys are read unechoed one at a time and lines are echoed and edited here. Messages
// from the receiver thread that need an acknowledgement are shown by the reader
// between two keys: the next key acknowledges the message and is not taken by the
// menu, and a half-typed line is drawn again. Output is written whole under one lock.
class console {
public:
    console();
    ~console();  // restores the terminal
    console(const console&) = delete;
    console& operator=(const console&) = delete;

    void print(const std::string& text);  // flushed at once
    void clear_screen();

    // One key press, without echo and without Enter.
    char read_key();
    // A line of at most max characters; the rest of a longer line is discarded.
    std::string read_line(std::size_t max);

    // From the receiver: shows text on its own line and returns at once.
    void show_now(const std::string& text);
    // From the receiver: shows text framed under "Received Message(s)" and waits until
    // the user has acknowledged it with a key, or until release() is called.
    void show_and_wait(const std::string& text);
    // Ends every wait of show_and_wait (the client is leaving).
    void release();

    // Restores the terminal, from anywhere including a signal handler.
    static void restore_terminal();

private:
    int next_byte();              // the next input byte, showing waiting messages first
    void show_waiting(std::unique_lock<std::mutex>& guard);
    void redraw_line();           // prompt and half-typed text, after a message

    const bool terminal_;
    int wake_[2] = {-1, -1};      // the receiver wakes the reader through this pipe

    std::mutex lock_;             // guards output and everything below
    std::condition_variable acknowledged_;
    std::deque<std::string> waiting_;  // messages to show, oldest first
    unsigned long shown_ = 0;          // messages shown and acknowledged so far
    unsigned long posted_ = 0;         // messages ever posted
    bool released_ = false;
    std::string line_;            // the line being typed, empty when none
    bool typing_ = false;         // a read_line is in progress
    std::string prompt_;          // what was printed since the last line end
};

} // namespace qs

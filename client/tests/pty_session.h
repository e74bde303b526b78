#pragma once

#include <chrono>
#include <string>
#include <sys/types.h>
#include <termios.h>
#include <vector>

namespace qs::test {

// A program run on a pseudo-terminal: what it prints is collected, keys are typed.
// Standard error goes to a pipe of its own. The environment is the test's, without
// any QSCLIENT_ variable, plus env ("NAME=value" each).
class pty_session {
public:
    explicit pty_session(const std::string& program, const std::vector<std::string>& args = {},
                         const std::vector<std::string>& env = {});
    ~pty_session();

    void type(const std::string& keys);
    // Waits until text has been printed after the last match (5 s at most); what
    // was printed up to and including it is then behind us.
    bool expect(const std::string& text, std::chrono::seconds within = std::chrono::seconds(5));
    // Everything printed so far on the terminal.
    const std::string& output() const { return out_; }
    // Everything written to standard error so far.
    const std::string& errors() const { return err_; }
    // Waits for the program to end (5 s at most); its exit status, 1000 + the signal
    // that ended it, or -1.
    int wait_exit();
    void send_signal(int signal);
    // The terminal's current settings.
    termios settings() const;

private:
    bool read_some(int timeout_ms);

    int master_ = -1;
    int err_pipe_ = -1;
    bool err_open_ = true; // err_pipe_ has not reached its end
    pid_t pid_ = -1;
    std::string out_;
    std::string err_;
    std::size_t seen_ = 0; // output before this was matched already
};

} // namespace qs::test

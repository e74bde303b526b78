#pragma once

#include <string>
#include <sys/types.h>
#include <termios.h>
#include <vector>

namespace qs::test {

// A program run on a pseudo-terminal: what it prints is collected, keys are typed.
class pty_session {
public:
    explicit pty_session(const std::string& program, const std::vector<std::string>& args = {});
    ~pty_session();

    void type(const std::string& keys);
    // Waits until text has been printed after the last match (5 s at most); what
    // was printed up to and including it is then behind us.
    bool expect(const std::string& text);
    // Everything printed so far.
    const std::string& output() const { return out_; }
    // Waits for the program to end (5 s at most); its exit status, or -1.
    int wait_exit();
    // The terminal's current settings.
    termios settings() const;

private:
    bool read_some(int timeout_ms);

    int master_ = -1;
    pid_t pid_ = -1;
    std::string out_;
    std::size_t seen_ = 0;  // output before this was matched already
};

} // namespace qs::test

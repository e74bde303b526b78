#include "password_input.h"

#include <csignal>
#include <iostream>
#include <termios.h>
#include <unistd.h>

#include "admin_error.h"

namespace qs::admin {

namespace {

termios saved_terminal{};
constexpr int ending_signals[] = {SIGINT, SIGTERM, SIGHUP, SIGQUIT};

void restore_terminal_and_end(int signal)
{
    ::tcsetattr(STDIN_FILENO, TCSANOW, &saved_terminal);
    std::signal(signal, SIG_DFL);
    std::raise(signal);
}

// Turns the terminal's echo off for its lifetime; a signal that ends the program turns it
// back on first.
class hidden_typing {
public:
    hidden_typing()
    {
        if (::tcgetattr(STDIN_FILENO, &saved_terminal) != 0)
            throw failure("cannot read the terminal's settings");
        for (int s : ending_signals)
            std::signal(s, restore_terminal_and_end);
        termios quiet = saved_terminal;
        quiet.c_lflag &= static_cast<tcflag_t>(~ECHO);
        ::tcsetattr(STDIN_FILENO, TCSAFLUSH, &quiet);
    }
    ~hidden_typing()
    {
        ::tcsetattr(STDIN_FILENO, TCSANOW, &saved_terminal);
        for (int s : ending_signals)
            std::signal(s, SIG_DFL);
    }
    hidden_typing(const hidden_typing&) = delete;
    hidden_typing& operator=(const hidden_typing&) = delete;
};

// Echo goes off before the prompt shows, so nothing typed after it is echoed.
std::string typed_unseen(const char* prompt)
{
    hidden_typing hidden;
    std::cerr << prompt << std::flush;
    std::string line;
    const bool typed = static_cast<bool>(std::getline(std::cin, line));
    std::cerr << std::endl; // the Enter was not echoed
    if (!typed)
        throw failure("no password given");
    return line;
}

std::string typed_twice()
{
    std::string first = typed_unseen("Password: ");
    if (first.empty())
        throw failure("the password is empty");
    if (typed_unseen("Retype password: ") != first)
        throw failure("the passwords do not match");
    return first;
}

} // namespace

std::string read_new_password()
{
    if (::isatty(STDIN_FILENO) != 0)
        return typed_twice();
    std::string line;
    if (!std::getline(std::cin, line))
        throw failure("no password given");
    if (line.empty())
        throw failure("the password is empty");
    return line;
}

} // namespace qs::admin

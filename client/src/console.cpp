#include "console.h"

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

namespace qs {

namespace {

termios saved_termios;           // the terminal as it was at start
volatile sig_atomic_t saved = 0; // saved_termios holds something to restore

void restore_and_die(int signal)
{
    console::restore_terminal();
    std::signal(signal, SIG_DFL);
    std::raise(signal);
    ::_exit(128 + signal); // the signal was held back (a sanitizer's runtime does): end as a shell would report it
}

void write_all(const std::string& text)
{
    std::size_t done = 0;
    while (done < text.size()) {
        const ssize_t n = ::write(STDOUT_FILENO, text.data() + done, text.size() - done);
        if (n <= 0)
            return;
        done += static_cast<std::size_t>(n);
    }
}

int read_one_byte()
{
    unsigned char b;
    ssize_t n;
    do {
        n = ::read(STDIN_FILENO, &b, 1);
    } while (n < 0 && errno == EINTR);
    if (n <= 0)
        throw input_ended();
    return b;
}

const std::string frame_line = "+--------------------------------------+";

} // namespace

console::console() : terminal_(::isatty(STDIN_FILENO) == 1)
{
    if (::pipe2(wake_, O_CLOEXEC | O_NONBLOCK) != 0)
        wake_[0] = wake_[1] = -1;
    if (!terminal_ || ::tcgetattr(STDIN_FILENO, &saved_termios) != 0)
        return;
    saved = 1;
    std::signal(SIGINT, restore_and_die);
    std::signal(SIGTERM, restore_and_die);
    termios raw = saved_termios;
    raw.c_lflag &= static_cast<tcflag_t>(~(ICANON | ECHO));
    raw.c_iflag |= ICRNL;
    raw.c_cc[VMIN] = 1;
    raw.c_cc[VTIME] = 0;
    ::tcsetattr(STDIN_FILENO, TCSANOW, &raw);
}

console::~console()
{
    restore_terminal();
    ::close(wake_[0]);
    ::close(wake_[1]);
}

void console::restore_terminal()
{
    if (saved)
        ::tcsetattr(STDIN_FILENO, TCSANOW, &saved_termios);
}

void console::emit(const std::string& text)
{
    write_all(text);
    if (!text.empty())
        mid_line_ = text.back() != '\n';
}

void console::print(const std::string& text)
{
    std::lock_guard guard(lock_);
    emit(text);
    const auto last = text.rfind('\n');
    prompt_ = last == std::string::npos ? prompt_ + text : text.substr(last + 1);
}

void console::print_apart(const std::string& text)
{
    std::lock_guard guard(lock_);
    emit((mid_line_ ? "\n" : "") + text + "\n");
    prompt_.clear();
    typing_ = false;
}

void console::clear_screen()
{
    print("\x1b[2J\x1b[H");
}

char console::read_key()
{
    return static_cast<char>(next_byte());
}

std::string console::read_line(std::size_t max)
{
    return read_text(max, false);
}

std::string console::read_secret(std::size_t max)
{
    return read_text(max, true);
}

std::string console::read_text(std::size_t max, bool hidden)
{
    {
        std::lock_guard guard(lock_);
        typing_ = true;
        hidden_ = hidden;
        line_.reset(max);
    }
    for (;;) {
        const int b = next_byte();
        std::lock_guard guard(lock_);
        if (edit(b)) {
            typing_ = false;
            prompt_.clear();
            return line_.text();
        }
    }
}

// Echoes on a terminal: each character (or a '*'), one "\b \b" per character taken back.
bool console::edit(int b)
{
    if (b == '\n') {
        if (terminal_)
            emit("\n");
        return true;
    }
    if (terminal_ && (b == 127 || b == '\b')) {
        if (line_.erase_last())
            emit("\b \b");
    } else if (b >= 0x20 || b == '\t') {
        const std::string added = line_.add(static_cast<unsigned char>(b));
        if (terminal_ && !added.empty())
            emit(hidden_ ? "*" : added);
    }
    return false;
}

int console::next_byte()
{
    for (;;) {
        {
            std::unique_lock guard(lock_);
            if (!waiting_.empty())
                show_waiting(guard);
        }
        if (wait_for_key())
            return read_one_byte();
    }
}

bool console::wait_for_key()
{
    if (lost_)
        throw connection_lost();
    pollfd fds[3] = {{STDIN_FILENO, POLLIN, 0}, {wake_[0], POLLIN, 0}, {hangup_fd_, POLLRDHUP, 0}};
    if (::poll(fds, 3, -1) < 0)
        return false;
    if (fds[2].revents != 0) {
        lost_ = true;
        throw connection_lost();
    }
    if (fds[1].revents & POLLIN) {
        char drain[64];
        while (::read(wake_[0], drain, sizeof drain) > 0) {
        }
        return false;
    }
    return fds[0].revents != 0;
}

// Shows every waiting message and takes one key for each. Entered and left locked.
void console::show_waiting(std::unique_lock<std::mutex>& guard)
{
    while (!waiting_.empty()) {
        emit((typing_ || !prompt_.empty() ? "\n" : "") + std::string("\n") + frame_line + "\n| Received Message(s)\n" +
             frame_line + "\n" + waiting_.front() + "\n" + frame_line + "\nPress any key to continue...");
        guard.unlock();
        try {
            while (!wait_for_key()) {
            }
            read_one_byte();
        } catch (...) {
            guard.lock();
            throw;
        }
        guard.lock();
        emit("\n");
        waiting_.pop_front();
        ++shown_;
        acknowledged_.notify_all();
    }
    redraw_line();
}

void console::redraw_line()
{
    if (!typing_)
        emit(prompt_);
    else
        emit(prompt_ + (hidden_ ? std::string(line_.characters(), '*') : line_.text()));
}

void console::show_now(const std::string& text)
{
    std::lock_guard guard(lock_);
    emit((typing_ || !prompt_.empty() ? "\n" : "") + text + "\n");
    redraw_line();
}

void console::show_and_wait(const std::string& text)
{
    std::unique_lock guard(lock_);
    if (released_)
        return;
    waiting_.push_back(text);
    const unsigned long mine = ++posted_;
    [[maybe_unused]] ssize_t n = ::write(wake_[1], "m", 1);
    acknowledged_.wait(guard, [&] { return shown_ >= mine || released_; });
}

void console::release()
{
    std::lock_guard guard(lock_);
    released_ = true;
    acknowledged_.notify_all();
}

void console::report_lost()
{
    lost_ = true;
    [[maybe_unused]] ssize_t n = ::write(wake_[1], "l", 1);
}

} // namespace qs

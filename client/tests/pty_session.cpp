#include "pty_session.h"

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <poll.h>
#include <pty.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace qs::test {

pty_session::pty_session(const std::string& program, const std::vector<std::string>& args)
{
    std::vector<char*> argv{const_cast<char*>(program.c_str())};
    for (const auto& a : args)
        argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    termios tio{};
    cfmakeraw(&tio);
    tio.c_iflag |= ICRNL;
    tio.c_lflag |= ICANON | ECHO | ISIG;
    tio.c_oflag |= OPOST;  // without ONLCR: a line end stays one "\n"
    tio.c_cc[VMIN] = 1;
    tio.c_cc[VINTR] = 3;
    winsize size{40, 120, 0, 0};
    pid_ = ::forkpty(&master_, nullptr, &tio, &size);
    if (pid_ == 0) {
        ::execv(program.c_str(), argv.data());
        ::_exit(127);
    }
}

pty_session::~pty_session()
{
    while (read_some(0)) {
    }
    EXPECT_EQ(out_.find("Sanitizer"), std::string::npos) << out_;  // a sanitizer build's report
    if (pid_ > 0) {
        ::kill(pid_, SIGKILL);
        ::waitpid(pid_, nullptr, 0);
    }
    ::close(master_);
}

void pty_session::type(const std::string& keys)
{
    [[maybe_unused]] ssize_t n = ::write(master_, keys.data(), keys.size());
}

bool pty_session::read_some(int timeout_ms)
{
    pollfd p{master_, POLLIN, 0};
    if (::poll(&p, 1, timeout_ms) != 1)
        return false;
    char buf[4096];
    const ssize_t n = ::read(master_, buf, sizeof buf);
    if (n <= 0)
        return false;
    out_.append(buf, static_cast<std::size_t>(n));
    return true;
}

bool pty_session::expect(const std::string& text)
{
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    for (;;) {
        const auto at = out_.find(text, seen_);
        if (at != std::string::npos) {
            seen_ = at + text.size();
            return true;
        }
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0 || !read_some(static_cast<int>(left.count())))
            return false;
    }
}

int pty_session::wait_exit()
{
    for (int i = 0; i < 500; ++i) {
        int status = 0;
        if (::waitpid(pid_, &status, WNOHANG) == pid_) {
            pid_ = -1;
            while (read_some(0)) {
            }
            return WIFEXITED(status) ? WEXITSTATUS(status) : 1000 + WTERMSIG(status);
        }
        if (!read_some(10))
            std::this_thread::sleep_for(std::chrono::milliseconds(10));  // the terminal may be closed already
    }
    return -1;
}

termios pty_session::settings() const
{
    termios tio{};
    ::tcgetattr(master_, &tio);
    return tio;
}

} // namespace qs::test

#include "pty_session.h"

#include <gtest/gtest.h>

#include <csignal>
#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace qs::test {

namespace {

// The test's environment without QSCLIENT_ variables, after the additions.
std::vector<char*> environment(const std::vector<std::string>& additions)
{
    std::vector<char*> envp;
    for (const auto& e : additions)
        envp.push_back(const_cast<char*>(e.c_str()));
    for (char** e = environ; *e != nullptr; ++e)
        if (std::string_view(*e).rfind("QSCLIENT_", 0) != 0)
            envp.push_back(*e);
    envp.push_back(nullptr);
    return envp;
}

// Appends what fd has; false when it has nothing more now.
bool drain_into(int fd, std::string& into)
{
    char buf[4096];
    const ssize_t n = ::read(fd, buf, sizeof buf);
    if (n <= 0)
        return false;
    into.append(buf, static_cast<std::size_t>(n));
    return true;
}

} // namespace

// Only system calls run between fork and exec.
pty_session::pty_session(const std::string& program, const std::vector<std::string>& args,
                         const std::vector<std::string>& env)
{
    std::vector<char*> argv{const_cast<char*>(program.c_str())};
    for (const auto& a : args)
        argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    std::vector<char*> envp = environment(env);
    termios tio{};
    cfmakeraw(&tio);
    tio.c_iflag |= ICRNL;
    tio.c_lflag |= ICANON | ECHO | ISIG;
    tio.c_oflag |= OPOST; // without ONLCR: a line end stays one "\n"
    tio.c_cc[VMIN] = 1;
    tio.c_cc[VINTR] = 3;
    winsize size{40, 120, 0, 0};
    int err[2];
    if (::pipe2(err, O_CLOEXEC) != 0)
        err[0] = err[1] = -1;
    pid_ = ::forkpty(&master_, nullptr, &tio, &size);
    if (pid_ == 0) {
        ::dup2(err[1], STDERR_FILENO);
        ::execve(program.c_str(), argv.data(), envp.data());
        ::_exit(127);
    }
    ::close(err[1]);
    err_pipe_ = err[0];
    ::fcntl(err_pipe_, F_SETFL, O_NONBLOCK);
}

pty_session::~pty_session()
{
    while (read_some(0)) {
    }
    EXPECT_EQ(out_.find("Sanitizer"), std::string::npos) << out_; // a sanitizer build's report
    if (pid_ > 0) {
        ::kill(pid_, SIGKILL);
        ::waitpid(pid_, nullptr, 0);
    }
    while (drain_into(err_pipe_, err_)) {
    }
    EXPECT_EQ(err_.find("Sanitizer"), std::string::npos) << err_;
    ::close(master_);
    ::close(err_pipe_);
}

void pty_session::type(const std::string& keys)
{
    [[maybe_unused]] ssize_t n = ::write(master_, keys.data(), keys.size());
}

void pty_session::send_signal(int signal)
{
    ::kill(pid_, signal);
}

// Reads the terminal, and standard error on the way; false when the terminal gave
// nothing within timeout_ms.
bool pty_session::read_some(int timeout_ms)
{
    pollfd p[2] = {{master_, POLLIN, 0}, {err_open_ ? err_pipe_ : -1, POLLIN, 0}};
    if (::poll(p, 2, timeout_ms) < 1)
        return false;
    if (p[1].revents != 0 && !drain_into(err_pipe_, err_))
        err_open_ = false;
    if (p[0].revents != 0)
        return drain_into(master_, out_);
    return true;
}

bool pty_session::expect(const std::string& text, std::chrono::seconds within)
{
    const auto deadline = std::chrono::steady_clock::now() + within;
    for (;;) {
        const auto at = out_.find(text, seen_);
        if (at != std::string::npos) {
            seen_ = at + text.size();
            return true;
        }
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
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
            while (drain_into(err_pipe_, err_)) {
            }
            return WIFEXITED(status) ? WEXITSTATUS(status) : 1000 + WTERMSIG(status);
        }
        if (!read_some(10))
            std::this_thread::sleep_for(std::chrono::milliseconds(10)); // the terminal may be closed already
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

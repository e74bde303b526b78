#include "program_run.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <iterator>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <spawn.h>
#include <stdexcept>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include "test_database.h"

extern char** environ;

namespace qs::test {

namespace {

constexpr int minute_ms = 60'000; // bounds only a hang: every wait is for an event

std::vector<std::string> environment_with(const std::vector<std::string>& extra)
{
    std::vector<std::string> out(extra);
    for (char** e = environ; *e != nullptr; ++e) {
        const std::string entry = *e;
        const std::string name = entry.substr(0, entry.find('=') + 1);
        bool replaced = false;
        for (const auto& x : extra)
            replaced = replaced || x.rfind(name, 0) == 0;
        if (!replaced)
            out.push_back(entry);
    }
    return out;
}

std::vector<char*> pointers(std::vector<std::string>& texts)
{
    std::vector<char*> out;
    for (auto& t : texts)
        out.push_back(t.data());
    out.push_back(nullptr);
    return out;
}

std::vector<std::string> command(const std::string& program, const std::vector<std::string>& args)
{
    std::vector<std::string> argv{program};
    argv.insert(argv.end(), args.begin(), args.end());
    return argv;
}

std::string contents(const std::string& file)
{
    std::ifstream in(file, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// True when fd became readable within a minute.
bool readable(int fd)
{
    pollfd p{fd, POLLIN, 0};
    return ::poll(&p, 1, minute_ms) == 1;
}

// The exit status, or -1 (after killing it) when the child still runs after a minute.
int wait_for_end(pid_t pid)
{
    const int fd =
        static_cast<int>(::syscall(SYS_pidfd_open, pid, 0)); // glibc 2.36 declares pidfd_open without C linkage
    const bool in_time = fd >= 0 && readable(fd);
    if (fd >= 0)
        ::close(fd);
    if (!in_time)
        ::kill(pid, SIGKILL);
    int status = 0;
    ::waitpid(pid, &status, 0);
    return in_time && WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// Reads the terminal until its other side is closed (EIO) or nothing comes for a minute,
// typing each reply once its prompt shows.
std::string converse(int terminal, const std::vector<std::pair<std::string, std::string>>& replies)
{
    std::string shown;
    std::size_t next = 0, searched_from = 0;
    char buf[512];
    while (readable(terminal)) {
        const ssize_t n = ::read(terminal, buf, sizeof buf);
        if (n <= 0)
            break;
        shown.append(buf, static_cast<std::size_t>(n));
        const auto at = next < replies.size() ? shown.find(replies[next].first, searched_from) : std::string::npos;
        if (at != std::string::npos) {
            const std::string& typed = replies[next++].second;
            if (::write(terminal, typed.data(), typed.size()) != static_cast<ssize_t>(typed.size()))
                throw std::runtime_error("cannot type on the terminal");
            searched_from = at + 1;
        }
    }
    std::erase(shown, '\r');
    return shown;
}

// Closes the descriptor on destruction.
class descriptor {
public:
    explicit descriptor(int fd) : fd_(fd) {}
    ~descriptor()
    {
        if (fd_ >= 0)
            ::close(fd_);
    }
    descriptor(const descriptor&) = delete;
    descriptor& operator=(const descriptor&) = delete;
    int get() const noexcept { return fd_; }

private:
    int fd_;
};

} // namespace

program_result run_program(const std::string& program, const std::vector<std::string>& args,
                           const std::vector<std::string>& env, int stdin_fd)
{
    temp_dir dir;
    const std::string out = dir.path() + "/out", err = dir.path() + "/err";
    posix_spawn_file_actions_t actions;
    ::posix_spawn_file_actions_init(&actions);
    if (stdin_fd >= 0)
        ::posix_spawn_file_actions_adddup2(&actions, stdin_fd, STDIN_FILENO);
    else
        ::posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    ::posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    ::posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    std::vector<std::string> argv = command(program, args), envp = environment_with(env);
    pid_t pid = 0;
    const int rc =
        ::posix_spawn(&pid, program.c_str(), &actions, nullptr, pointers(argv).data(), pointers(envp).data());
    ::posix_spawn_file_actions_destroy(&actions);
    if (rc != 0)
        throw std::runtime_error("cannot start " + program + ": " + std::strerror(rc));
    program_result result;
    result.status = wait_for_end(pid);
    result.out = contents(out);
    result.err = contents(err);
    return result;
}

program_result run_program_with_input(const std::string& program, const std::vector<std::string>& args,
                                      const std::string& input, const std::vector<std::string>& env)
{
    temp_dir dir;
    const std::string file = dir.path() + "/in";
    std::ofstream(file, std::ios::binary) << input;
    const descriptor in(::open(file.c_str(), O_RDONLY | O_CLOEXEC));
    if (in.get() < 0)
        throw std::runtime_error("cannot open " + file + ": " + std::strerror(errno));
    return run_program(program, args, env, in.get());
}

program_result run_on_terminal(const std::string& program, const std::vector<std::string>& args,
                               const std::vector<std::pair<std::string, std::string>>& replies)
{
    std::vector<std::string> argv = command(program, args);
    std::vector<char*> argp = pointers(argv);
    int terminal = -1;
    const pid_t pid = ::forkpty(&terminal, nullptr, nullptr, nullptr);
    if (pid < 0)
        throw std::runtime_error("cannot make a pseudo-terminal");
    if (pid == 0) {
        ::execv(program.c_str(), argp.data());
        ::_exit(127);
    }
    program_result result;
    result.out = converse(terminal, replies);
    ::close(terminal);
    result.status = wait_for_end(pid);
    return result;
}

} // namespace qs::test

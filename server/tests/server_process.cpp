#include "server_process.h"

#include <sys/socket.h>
#include <sys/time.h>

#include <arpa/inet.h>
#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <fstream>
#include <regex>
#include <gtest/gtest.h>
#include <sstream>
#include <stdexcept>
#include <sys/socket.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace qs::test {

std::unique_ptr<raw_client> bounded_client(int port, int seconds)
{
    auto c = std::make_unique<raw_client>(port);
    const timeval limit{seconds, 0};
    ::setsockopt(c->sock.handle(), SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
    return c;
}

std::string ask(raw_client& c, const std::string& command)
{
    c.send(encode_frame(1, command));
    return c.next().text;
}

int free_port()
{
    socket s;
    s.create(0);
    sockaddr_in addr{};
    socklen_t len = sizeof addr;
    ::getsockname(s.handle(), reinterpret_cast<sockaddr*>(&addr), &len);
    s.close();
    return ntohs(addr.sin_port);
}

int free_port_other_than(int taken)
{
    int port = free_port();
    while (port == taken)
        port = free_port();
    return port;
}

void create_from(socket& s, const std::string& from)
{
    if (from.empty()) {
        s.create(0);
        return;
    }
    sockaddr_in at{};
    at.sin_family = AF_INET;
    ::inet_pton(AF_INET, from.c_str(), &at.sin_addr);
    s.create(at);
}

std::string read_file(const std::string& path)
{
    std::ifstream in(path);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

namespace {

// fork and exec qsserver in dir, standard output and error into name.out and name.err there. Only
// system calls run between fork and exec.
pid_t spawn(const std::string& dir, const std::string& name, const std::vector<std::string>& args,
            const std::vector<std::string>& env)
{
    test_database::get(); // ODBCINI and the database exist before the child starts
    std::vector<char*> argv{const_cast<char*>(QS_SERVER_PATH)};
    for (const auto& a : args)
        argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    std::vector<char*> envp; // the additions first: they win over inherited values
    for (const auto& e : env)
        envp.push_back(const_cast<char*>(e.c_str()));
    for (char** e = environ; *e != nullptr; ++e)
        envp.push_back(*e);
    envp.push_back(nullptr);
    const std::string out = dir + "/" + name + ".out", err = dir + "/" + name + ".err";
    sigset_t none;
    sigemptyset(&none);

    pid_t pid = ::fork();
    if (pid != 0)
        return pid;
    ::dup2(::open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644), 1);
    ::dup2(::open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644), 2);
    ::dup2(::open("/dev/null", O_RDONLY), 0);
    ::sigprocmask(SIG_SETMASK, &none, nullptr);
    if (::chdir(dir.c_str()) == 0)
        ::execve(QS_SERVER_PATH, argv.data(), envp.data());
    ::_exit(127);
}

int wait_exit(pid_t pid)
{
    int status = 0;
    ::waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

} // namespace

std::pair<std::string, int> run_qsserver(const std::string& dir, const std::vector<std::string>& args,
                                         const std::vector<std::string>& env)
{
    const int status = wait_exit(spawn(dir, "run", args, env));
    return {read_file(dir + "/run.out"), status};
}

server_process::server_process(const std::vector<std::string>& conf, int port) : port_(port ? port : free_port())
{
    std::ofstream out(dir() + "/qsserver.conf");
    out << "port=" << port_ << "\nlog_path=" << dir() << "/qsserver.log\n";
    for (const auto& line : conf) {
        out << line << "\n";
        if (line.rfind("log_path=", 0) == 0)
            log_to_standard_error_ = line == "log_path=-";
    }
}

server_process::~server_process()
{
    if (!running())
        return;
    const int status = stop(); // a sanitizer report in the server makes it fail
    EXPECT_EQ(status, 0) << read_file(dir() + "/console.err");
}

void server_process::start(const std::vector<std::string>& args, const std::vector<std::string>& env)
{
    pid_ = spawn(dir(), "console", args, env);
    for (int attempt = 0; attempt < 500; ++attempt) {
        // Its own log (or console) first: a port another process took meanwhile must not pass for ours.
        if (log().find("Listening...") == std::string::npos && console().find("Listening") == std::string::npos) {
            int status;
            if (::waitpid(pid_, &status, WNOHANG) == pid_) {
                pid_ = -1;
                throw std::runtime_error("qsserver ended at start:\n" + console() + read_file(dir() + "/console.err"));
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
            continue;
        }
        socket probe;
        probe.create(0);
        try {
            probe.connect("127.0.0.1", port_);
            probe.close();
            return;
        } catch (const exception&) {
            probe.close();
        }
        int status;
        if (::waitpid(pid_, &status, WNOHANG) == pid_) {
            pid_ = -1;
            throw std::runtime_error("qsserver ended at start:\n" + console() + read_file(dir() + "/console.err"));
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    throw std::runtime_error("qsserver does not accept connections");
}

int server_process::stop()
{
    ::kill(pid_, SIGTERM);
    const int status = wait_exit(pid_);
    pid_ = -1;
    return status;
}

void server_process::kill_hard()
{
    ::kill(pid_, SIGKILL);
    wait_exit(pid_);
    pid_ = -1;
}

bool server_process::wait_for_log(const std::string& text, std::chrono::seconds within) const
{
    const auto deadline = std::chrono::steady_clock::now() + within;
    while (log().find(text) == std::string::npos) {
        if (std::chrono::steady_clock::now() >= deadline)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return true;
}

std::string server_process::log() const
{
    return read_file(dir() + (log_to_standard_error_ ? "/console.err" : "/qsserver.log"));
}

std::string server_process::log_texts() const
{
    static const std::regex prefix(R"(^\S+ (error|warning|info|debug) )", std::regex::multiline);
    return std::regex_replace(log(), prefix, "");
}

std::string server_process::console() const
{
    return read_file(dir() + "/console.out");
}

client::client(int port)
{
    kel_.create(0);
    kel_.connect("127.0.0.1", port);
}

client::~client()
{
    close();
}

std::string client::exec(const std::string& command)
{
    char reply[1025] = {};
    kel_.exec(command.c_str(), reply, 1024);
    return reply;
}

void client::close()
{
    if (open_)
        kel_.close();
    open_ = false;
}

} // namespace qs::test

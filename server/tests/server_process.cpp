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

refusing_port::refusing_port() : fd_(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0))
{
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof addr;
    if (fd_ < 0 || ::bind(fd_, reinterpret_cast<sockaddr*>(&addr), len) != 0 ||
        ::getsockname(fd_, reinterpret_cast<sockaddr*>(&addr), &len) != 0)
        throw std::runtime_error("cannot bind a port to refuse on");
    port_ = ntohs(addr.sin_port);
}

refusing_port::~refusing_port()
{
    ::close(fd_);
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

server_process::server_process(const std::vector<std::string>& conf, int port) : port_(port)
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
    log_before_ = log().size(); // a former start's lines say nothing of this one
    std::ofstream(dir() + "/console.out", std::ios::trunc).close();
    pid_ = spawn(dir(), "console", args, env);
    for (int attempt = 0; attempt < 1500; ++attempt) {
        if (read_ports()) {
            socket probe; // accepted and closed: the server serves (its log says so)
            probe.create(0);
            probe.connect("127.0.0.1", port_);
            probe.close();
            return;
        }
        int status;
        if (::waitpid(pid_, &status, WNOHANG) == pid_) {
            pid_ = -1;
            throw std::runtime_error("qsserver ended at start:\n" + console() + read_file(dir() + "/console.err"));
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    throw std::runtime_error("qsserver does not say where it listens:\n" + console() + log());
}

// "Listening on HOST:PORT[ and WHAT on HOST:PORT]...; database ...", on the console or in
// the log: the ports this start bound.
bool server_process::read_ports()
{
    static const std::regex line(R"(Listening on ([^;\n]*);)");
    static const std::regex part(R"((?:^| and (\w+) on )\S*:(\d+))");
    std::smatch found;
    const std::string said = console() + "\n" + log().substr(std::min(log_before_, log().size()));
    if (!std::regex_search(said, found, line))
        return false;
    const std::string at = found[1];
    ports_.clear();
    for (std::sregex_iterator it(at.begin(), at.end(), part), end; it != end; ++it)
        ports_[(*it)[1].matched ? (*it)[1].str() : "plain"] = std::stoi((*it)[2]);
    port_ = ports_.at("plain");
    return true;
}

int server_process::port_of(const std::string& what) const
{
    const auto it = ports_.find(what);
    if (it == ports_.end())
        throw std::runtime_error("qsserver does not listen for " + what);
    return it->second;
}

int server_process::start_for(const std::string& what)
{
    start();
    return port_of(what);
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

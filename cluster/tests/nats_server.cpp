#include "nats_server.h"

#include <boost/json.hpp>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace qs::test {

namespace {

namespace fs = std::filesystem;
namespace json = boost::json;

std::string make_dir()
{
    char pattern[] = "/tmp/qs-nats.XXXXXX";
    if (::mkdtemp(pattern) == nullptr)
        throw std::runtime_error("cannot make a folder for nats-server");
    return pattern;
}

// fork and exec; only system calls between the two.
pid_t spawn(const std::string& dir, const std::vector<std::string>& args)
{
    std::vector<char*> argv;
    for (const auto& a : args)
        argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    const std::string out = dir + "/server.out";
    pid_t pid = ::fork();
    if (pid != 0)
        return pid;
    const int fd = ::open(out.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
    ::dup2(fd, 1);
    ::dup2(fd, 2);
    ::execv(argv[0], argv.data());
    ::_exit(127);
}

// The port of the first URL listed under key ("nats://127.0.0.1:PORT").
int port_of(const json::object& ports, const char* key)
{
    const auto& url = ports.at(key).as_array().at(0).as_string();
    const std::string text(url.data(), url.size());
    return std::stoi(text.substr(text.rfind(':') + 1));
}

// The ports file of pid, whole; none while nats-server has not written it.
bool read_ports(const std::string& dir, pid_t pid, json::object& ports)
{
    std::ifstream in(dir + "/nats-server_" + std::to_string(pid) + ".ports");
    std::stringstream text;
    text << in.rdbuf();
    boost::system::error_code ec;
    auto value = json::parse(text.str(), ec);
    if (ec || !value.is_object())
        return false;
    ports = value.as_object();
    return true;
}

} // namespace

nats_server::nats_server() : dir_(make_dir())
{
    start(-1, -1);
}

nats_server::nats_server(joined_to route)
    : dir_(make_dir()), route_("nats://127.0.0.1:" + std::to_string(route.seed.cluster_port_))
{
    start(-1, -1);
}

nats_server::~nats_server()
{
    kill();
    std::error_code ignored;
    fs::remove_all(dir_, ignored);
}

void nats_server::kill()
{
    if (pid_ <= 0)
        return;
    ::kill(pid_, SIGKILL);
    ::waitpid(pid_, nullptr, 0);
    pid_ = -1;
}

void nats_server::restart()
{
    kill();
    start(port_, cluster_port_);
}

// Every server listens for routes, so that any may be the seed of another; -1 lets
// the kernel choose a port.
void nats_server::start(int port, int cluster_port)
{
    std::vector<std::string> args{"/usr/sbin/nats-server",
                                  "-a",
                                  "127.0.0.1",
                                  "-p",
                                  std::to_string(port),
                                  "--cluster_name",
                                  "qs",
                                  "--cluster",
                                  "nats://127.0.0.1:" + std::to_string(cluster_port),
                                  "--ports_file_dir",
                                  dir_,
                                  "-l",
                                  dir_ + "/server.log"};
    if (!route_.empty())
        args.insert(args.end(), {"--routes", route_});
    pid_ = spawn(dir_, args);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    json::object ports;
    while (!read_ports(dir_, pid_, ports)) {
        if (::waitpid(pid_, nullptr, WNOHANG) == pid_) {
            pid_ = -1;
            throw std::runtime_error("nats-server ended at start; see " + dir_ + "/server.log");
        }
        if (std::chrono::steady_clock::now() > deadline)
            throw std::runtime_error("nats-server did not listen within 30 s; see " + dir_ + "/server.log");
        std::this_thread::sleep_for(std::chrono::milliseconds(10)); // polling for the ports file
    }
    port_ = port_of(ports, "nats");
    cluster_port_ = port_of(ports, "cluster");
}

} // namespace qs::test

#include "endpoint.h"

#include <arpa/inet.h>
#include <cerrno>
#include <cstring>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include "bench_error.h"

namespace qsb {

endpoint loopback_endpoint(const std::string& host, int port, std::string_view host_option)
{
    endpoint ep;
    ep.addr.sin_family = AF_INET;
    const std::string option(host_option);
    if (::inet_pton(AF_INET, host.c_str(), &ep.addr.sin_addr) != 1)
        throw bench_error(option + " must be a numeric IPv4 address on 127.0.0.0/8, not " + host);
    if ((ntohl(ep.addr.sin_addr.s_addr) >> 24) != 127)
        throw bench_error(option + " must be on the loopback network 127.0.0.0/8, not " + host);
    if (port < 1 || port > 65535)
        throw bench_error("--port must be in 1..65535");
    ep.addr.sin_port = htons(static_cast<std::uint16_t>(port));
    return ep;
}

std::string describe(const endpoint& ep)
{
    char host[INET_ADDRSTRLEN] = {};
    ::inet_ntop(AF_INET, &ep.addr.sin_addr, host, sizeof host);
    return std::string(host) + ":" + std::to_string(ntohs(ep.addr.sin_port));
}

int start_connect(const endpoint& ep)
{
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd < 0)
        throw bench_error(std::string("socket: ") + std::strerror(errno));
    const int one = 1;
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    if (::connect(fd, reinterpret_cast<const sockaddr*>(&ep.addr), sizeof ep.addr) != 0 && errno != EINPROGRESS) {
        const std::string why = std::strerror(errno);
        ::close(fd);
        throw bench_error("connect to " + describe(ep) + ": " + why);
    }
    return fd;
}

int bind_free_loopback(int& port)
{
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof addr;
    const bool ok = fd >= 0 && ::bind(fd, reinterpret_cast<sockaddr*>(&addr), len) == 0 &&
                    ::getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len) == 0;
    if (!ok) {
        const std::string why = std::strerror(errno);
        if (fd >= 0)
            ::close(fd);
        throw bench_error("no free port on 127.0.0.1: " + why);
    }
    port = ntohs(addr.sin_port);
    return fd;
}

int free_loopback_port()
{
    int port = 0;
    ::close(bind_free_loopback(port));
    return port;
}

} // namespace qsb

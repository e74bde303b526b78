#include "qs/net/socket.h"

#include <arpa/inet.h>
#include <cerrno>
#include <cstring>
#include <netdb.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

namespace qs {

namespace {

enum code : int {
    create_failed = 0,
    connect_failed = 1,
    accept_failed = 2,
    recv_failed = 3,
    send_failed = 4,
    listen_failed = 5
};

sockaddr_in ipv4_address(in_addr_t address, int port)
{
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(static_cast<uint16_t>(port));
    addr.sin_addr.s_addr = address;
    return addr;
}

// The host's first IPv4 address; throws connect_failed when it has none.
in_addr_t resolve_ipv4(const char* host)
{
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* found = nullptr;
    if (::getaddrinfo(host, nullptr, &hints, &found) != 0 || found == nullptr)
        throw exception(connect_failed);
    in_addr_t address = reinterpret_cast<sockaddr_in*>(found->ai_addr)->sin_addr.s_addr;
    ::freeaddrinfo(found);
    return address;
}

} // namespace

socket::socket() : handle_(-1) {}
socket::socket(const socket& other) : handle_(other.handle_) {}
socket& socket::operator=(const socket& other)
{
    handle_ = other.handle_;
    return *this;
}
socket::~socket() = default;

void socket::create(int port)
{
    create(ipv4_address(htonl(INADDR_ANY), port));
}

void socket::create(const sockaddr_in& addr)
{
    handle_ = ::socket(AF_INET, SOCK_STREAM, 0);
    if (handle_ == -1)
        throw exception(create_failed);
    int on = 1;
    ::setsockopt(handle_, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    if (::bind(handle_, reinterpret_cast<const sockaddr*>(&addr), sizeof addr) != 0)
        throw exception(create_failed);
    int non_blocking = 0;
    ::ioctl(handle_, FIONBIO, &non_blocking);
}

void socket::connect(const char* host, int port)
{
    if (host == nullptr)
        throw exception(connect_failed);
    sockaddr_in addr = ipv4_address(::inet_addr(host), port);
    try {
        connect(addr);
    } catch (const exception&) {
        addr.sin_addr.s_addr = resolve_ipv4(host);
        connect(addr);
    }
}

void socket::connect(const sockaddr_in& addr)
{
    int rc;
    do {
        rc = ::connect(handle_, reinterpret_cast<const sockaddr*>(&addr), sizeof addr);
    } while (rc != 0 && errno == EINTR);
    if (rc != 0)
        throw exception(connect_failed);
}

void socket::listen(int backlog)
{
    if (::listen(handle_, backlog) != 0)
        throw exception(listen_failed);
}

void socket::accept(socket& peer, sockaddr_in& addr)
{
    socklen_t len = sizeof addr;
    int fd;
    do {
        fd = ::accept(handle_, reinterpret_cast<sockaddr*>(&addr), &len);
    } while (fd == -1 && errno == EINTR);
    peer.handle_ = fd;
    if (fd == -1)
        throw exception(accept_failed);
}

void socket::accept(socket& peer)
{
    sockaddr_in addr{};
    accept(peer, addr);
}

void socket::accept(socket& peer, char* ip, int& port)
{
    sockaddr_in addr{};
    accept(peer, addr);
    ::inet_ntop(AF_INET, &addr.sin_addr, ip, INET_ADDRSTRLEN);
    port = ntohs(addr.sin_port);
}

int socket::send(const char* buf, int len)
{
    if (len <= 0)
        throw exception(send_failed);
    int sent = 0;
    while (sent < len) {
        ssize_t n = ::send(handle_, buf + sent, static_cast<size_t>(len - sent), MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            throw exception(send_failed);
        sent += static_cast<int>(n);
    }
    return sent;
}

int socket::recv(char* buf, int len)
{
    ssize_t n;
    do {
        n = ::recv(handle_, buf, static_cast<size_t>(len), 0);
    } while (n < 0 && errno == EINTR);
    if (n <= 0)
        throw exception(recv_failed);
    return static_cast<int>(n);
}

void socket::shutdown()
{
    ::shutdown(handle_, SHUT_RDWR);
}

void socket::close()
{
    if (handle_ != -1) {
        ::shutdown(handle_, SHUT_RDWR);
        ::close(handle_);
    }
    handle_ = -1;
}

kelserver::kelserver() = default;
kelserver::kelserver(const kelserver& other) = default;
kelserver& kelserver::operator=(const kelserver& other) = default;
kelserver::~kelserver() = default;

} // namespace qs

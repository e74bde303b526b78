#include "connection_socket.h"

#include <cstdlib>
#include <filesystem>
#include <netinet/in.h>
#include <sys/socket.h>

#include "qs/store/db_error.h"
#include "qs/store/odbc/statement.h"

namespace qs::odbc {

namespace {

int port_of(const sockaddr_storage& address)
{
    if (address.ss_family == AF_INET)
        return ntohs(reinterpret_cast<const sockaddr_in&>(address).sin_port);
    if (address.ss_family == AF_INET6)
        return ntohs(reinterpret_cast<const sockaddr_in6&>(address).sin6_port);
    return -1;
}

// Whether fd is a TCP socket from local_port to peer_port.
bool joins(int fd, int local_port, int peer_port)
{
    sockaddr_storage local{}, peer{};
    socklen_t local_len = sizeof local, peer_len = sizeof peer;
    return ::getsockname(fd, reinterpret_cast<sockaddr*>(&local), &local_len) == 0 && port_of(local) == local_port &&
           ::getpeername(fd, reinterpret_cast<sockaddr*>(&peer), &peer_len) == 0 && port_of(peer) == peer_port;
}

} // namespace

int connection_socket(connection& conn)
{
    int local_port = -1, peer_port = -1;
    try {
        statement ports(conn);
        ports.execute("SELECT inet_client_port(), inet_server_port()");
        if (!ports.fetch())
            return -1;
        const std::string client = ports.text(1), server = ports.text(2);
        if (client.empty() || server.empty())
            return -1;
        local_port = std::atoi(client.c_str());
        peer_port = std::atoi(server.c_str());
    } catch (const db_error&) {
        return -1;
    }
    try {
        for (const auto& entry : std::filesystem::directory_iterator("/proc/self/fd")) {
            const int fd = std::atoi(entry.path().filename().c_str());
            if (joins(fd, local_port, peer_port))
                return fd;
        }
    } catch (const std::filesystem::filesystem_error&) {
    }
    return -1;
}

} // namespace qs::odbc

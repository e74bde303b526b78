#pragma once

#include <arpa/inet.h>
#include <sys/socket.h>

#include "qs/net/socket.h"

namespace qs::test {

// A listening socket on an ephemeral loopback port.
class listener {
public:
    listener()
    {
        sock.create(0);
        sock.listen(16);
        sockaddr_in addr{};
        socklen_t len = sizeof addr;
        ::getsockname(sock.handle(), reinterpret_cast<sockaddr*>(&addr), &len);
        port = ntohs(addr.sin_port);
    }
    ~listener() { sock.close(); }

    kelserver sock;
    int port = 0;
};

inline int local_port(const socket& s)
{
    sockaddr_in addr{};
    socklen_t len = sizeof addr;
    ::getsockname(s.handle(), reinterpret_cast<sockaddr*>(&addr), &len);
    return ntohs(addr.sin_port);
}

// A connected pair over loopback; both ends closed on destruction.
struct connected_pair {
    connected_pair()
    {
        near.create(0);
        near.connect("127.0.0.1", server.port);
        server.sock.accept(far);
    }
    ~connected_pair()
    {
        near.close();
        far.close();
    }

    listener server;
    socket near;
    socket far;
};

// The code of the qs::exception the operation throws; -100 when it throws none.
int code_of(auto&& operation)
{
    try {
        operation();
    } catch (const exception& e) {
        return e.code();
    }
    return -100;
}

} // namespace qs::test

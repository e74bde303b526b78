#pragma once

#include <netinet/in.h>

#include "qs/fault/exception.h"

namespace qs {

// One TCP socket handle (a POSIX descriptor, -1 for none). Every operation is one
// blocking call and throws qs::exception with the code of the operation:
// 0 create, 1 connect, 2 accept, 3 recv, 4 send, 5 listen.
//
// Ownership: the object holds the descriptor as a plain value; copies name the same
// descriptor. Only close() releases it, never the destructor. An object used by one
// thread calls close() itself; an object whose socket is shared by several threads
// (kelclient's) calls shutdown() to wake blocked calls and releases the descriptor
// once, after no thread can use it any more. The server's connections are Asio sockets.
class socket {
public:
    socket();
    socket(const socket& other);
    socket& operator=(const socket& other);
    virtual ~socket();

    // Makes the socket (SO_REUSEADDR) and binds it to INADDR_ANY:port, or to addr.
    void create(int port);
    void create(const sockaddr_in& addr);

    // Tries the dotted address first, then the host's first IPv4 address.
    void connect(const char* host, int port);
    void connect(const sockaddr_in& addr);

    void listen(int backlog);

    // The peer object receives the new handle, -1 on failure.
    void accept(socket& peer, sockaddr_in& addr);
    void accept(socket& peer);
    // ip receives the dotted address (at least 16 bytes), port the host-order port.
    void accept(socket& peer, char* ip, int& port);

    // Sends all len bytes; never raises SIGPIPE. Returns len.
    int send(const char* buf, int len);
    // One receive of at most len bytes; a closed peer throws 3, never returns 0.
    int recv(char* buf, int len);

    // Wakes every call blocked on the handle (recv, accept) without releasing it.
    void shutdown();
    // Releases the descriptor (after shutdown) and sets -1.
    void close();

    int handle() const noexcept { return handle_; }
    bool is_open() const noexcept { return handle_ != -1; }

private:
    int handle_;
};

// A listening socket (the tests' loopback servers): a socket with nothing added.
class kelserver : public socket {
public:
    kelserver();
    kelserver(const kelserver& other);
    kelserver& operator=(const kelserver& other);
    ~kelserver() override;
};

} // namespace qs

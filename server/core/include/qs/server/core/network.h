#pragma once

#include <memory>
#include <string>

#include "qs/server/logic/server_state.h"

namespace qs {

// The server's network side: io_threads event loops (an io_context and a thread each)
// own the connections, handed round in turn;
// commands that may wait on the database run on a pool of workers sized to the
// database connections. Commands of one connection take effect in the order they
// arrived; a waiting select parks in its session and holds up nothing. Owned by the
// run routine.
//
// Threads, and what each may touch. An event loop touches its own connections'
// loop-only members (loop 0 also the acceptors and the turn of the next loop). It never
// waits: no database, no hashing, no blocking send, no waiting for a user lock (a
// command that would wait throws would_block and goes to a worker); it takes only locks
// held for moments (a connection's write_lock_, the network's lock, the state's table
// and known-users locks, the log's). A database worker runs one command of a connection
// at a time (its interpreter, while the connection is busy; one given up on at its
// deadline may still run beside the loop's next commands) and the ends of connections
// (logout, putting back what unsent replies handed out). The hashing pool runs the
// Argon2 step of a login, newuser or setinfo between its database steps. The thread
// cache (server_state's) makes the select replies that hand out stored entries and
// stores orphaned sessions once the database is back; the spill thread (timed_tasks)
// stores what waits in memory too long; the database's prober and watchdog (the
// connection pool's) look whether it is back and cut calls past db_timeout. These reach
// the server state through its locks and the database, and a connection only through
// reply() and settle(), under its write_lock_, or by posting to its loop. main runs
// start() (loops started first, then listening, the TLS context, the limits, before
// anything is accepted), stop() (the network's lock, posts to the loops, joins), and the
// server state's own start and stop (recovery, storing every session) through its
// locks. A library's own threads (a NATS client's, say) touch nothing: they may only
// post into a loop. Every member of network::impl, client_connection, server_state and
// session is const (or set before accepting begins), thread-safe itself, loop-only
// (GUARDED_BY a thread_role, asserted where loop code starts), GUARDED_BY a named
// mutex, or atomic; Clang's -Wthread-safety checks the marks.
// The ports a started network listens on; 0 for those that are not set.
struct listening_ports {
    int port = 0;
    int tls_port = 0;
    int http_port = 0;
    int https_port = 0;
    int metrics_port = 0;
};

class network {
public:
    explicit network(server_state& state);
    ~network();
    network(const network&) = delete;
    network& operator=(const network&) = delete;

    // Binds and listens on the port setting (and on tls_port with the certificate
    // loaded) and starts the event loop. Writes the start-up lines to the log; false
    // (and "Failed.") when the server cannot listen or load the certificate, with why.
    bool start(std::string& why);
    // What start() bound: a port set to be picked by the kernel has its number here.
    listening_ports ports() const;
    // Stops accepting, ends every connection (their users are logged out) and waits
    // until every connection and command has finished.
    void stop();

    struct impl;

private:
    std::unique_ptr<impl> impl_;
};

// The fixed reply to a request that failed inside the server.
inline constexpr const char* command_failed = "The command failed inside the server.";

} // namespace qs

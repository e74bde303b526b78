#pragma once

#include <algorithm>
#include <cstddef>
#include <string>
#include <thread>
#include <vector>

#include "qs/server/logic/log.h"

namespace qs {

// The server's settings with their defaults. main reads them once from qsserver.conf
// and passes them to what it builds; each part keeps the value (or a reference to its
// server_state's) and never changes it.
struct settings {
    // A port setting's value for "the kernel picks one": port=0 or PORT=auto.
    static constexpr int any_port = -1;

    int port = 7000;                      // any_port: the kernel picks
    std::string bind_address = "0.0.0.0"; // an IPv4 or IPv6 address; 0.0.0.0: every interface
    int backlog = 200;
    int buff_size = 1024;
    int sleep_ticks = 10;
    int max_field_len = 2048;
    int db_connections = 4; // database connections kept open
    int db_timeout = 10;    // seconds a database statement, or the wait for a connection, may take
    int io_threads = static_cast<int>(std::clamp(std::thread::hardware_concurrency(), 1u, 64u)); // event loops
    int max_connections = 10000;                 // past this new connections are closed at once
    int frame_timeout = 30;                      // seconds a frame may stay unfinished before its connection closes
    int spill_delay_ms = 1000;                   // how long a message may wait only in memory before it is stored
    int store_retry = 20;                        // seconds stop keeps trying to store messages
    std::string log_path = "qsserver.log";       // "-": standard error
    log_level least_log_level = log_level::info; // log_level: the least severe level logged
    bool hashed_passwords = false;               // password_storage=hashed: Argon2id hashes, no getpassword
    int tls_port = 0;                            // a second port speaking TLS; 0: none; any_port
    std::string tls_certificate;                 // PEM: the server's certificate, then any intermediates
    std::string tls_private_key;                 // PEM; empty: the key is in tls_certificate
    int http_port = 0;                           // the chat page and its WebSocket; 0: none; any_port
    int https_port = 0;                          // the same over TLS (tls_certificate); 0: none; any_port
    std::string web_root;                        // the page's folder; empty: the installed one
    std::vector<std::string> web_origins;        // other origins whose pages may open the WebSocket
    int ws_ping = 20;                            // seconds of WebSocket silence before a ping
    std::vector<std::string> cluster_urls;       // the NATS servers of a cluster; empty: a single node
    std::string node_name;                       // unique in the cluster; empty: host name and port
    int node_lease = 10;                         // seconds a node counts as live after its last renewal
    int metrics_port = 0;                        // /metrics in the Prometheus text format; 0: none; any_port
    std::string metrics_address = "127.0.0.1";   // the address metrics_port listens on

    // The most text one reply may carry.
    std::size_t reply_limit() const { return static_cast<std::size_t>(std::min(buff_size, 1024) - 5); }
};

} // namespace qs

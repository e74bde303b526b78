#pragma once

#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/ssl/context.hpp>
#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "qs/server/logic/server_state.h"
#include "asio_alias.h"
#include "served_connection.h"
#include "web_files.h"
#include "web_stream.h"

namespace qs {

// What the HTTP side serves; made by the network at start, const then.
struct web_site {
    std::unique_ptr<web_files> files;
    std::vector<std::string> origins;        // web_origins: other pages that may open the WebSocket
    std::chrono::seconds exchange_limit{30}; // frame_timeout: a request read and answered within it
    server_state* state = nullptr;           // for /healthz
    // Set on the metrics port's site only: the text /metrics answers, made per request.
    // That site serves /metrics and /healthz, no files and no WebSocket.
    std::function<std::string()> metrics;
};

// What an HTTP session tells its network, on the session's event loop.
struct http_hooks {
    // The client asked for the WebSocket and may have it: a client connection takes over.
    std::function<void(served_connection*, web_upgrade_ptr)> upgrade;
    // The session is over (after an upgrade too); once.
    std::function<void(served_connection*)> closed;
};

// Starts serving HTTP (over TLS when tls is given) on socket, on the event loop the socket
// belongs to: the page's files, /healthz, and the upgrade to the WebSocket at /ws.
std::shared_ptr<served_connection> start_http_session(asio::ip::tcp::socket socket, asio::ssl::context* tls,
                                                      const web_site& site, http_hooks hooks);

} // namespace qs

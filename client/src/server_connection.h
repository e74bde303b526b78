#pragma once

#include <chrono>
#include <optional>
#include <string>

#include "client_options.h"
#include "qs/net/kelclient.h"

namespace qs {

// Connects kel (created, not connected) to host:port, over TLS when options say so,
// waiting at most options.connect_timeout for the server to answer. Returns why it
// failed, one line for the user: an unknown host, a refused connection, no answer in
// time, an unreachable host, a failed TLS handshake; nothing when connected.
std::optional<std::string> connect_to_server(kelclient& kel, const std::string& host, int port,
                                             const client_options& options);

} // namespace qs

#pragma once

#include <chrono>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>

#include "qs/version.h"

namespace qs {

// What qsclient's command line and environment ask for.
struct client_options {
    bool help = false;                        // --help: the usage and the options, then exit
    bool version = false;                     // --version
    bool tls = false;                         // connect over TLS, checking the server's certificate
    std::string ca_file;                      // PEM CA certificates to trust; empty: the system's store
    std::optional<std::string> host;          // HOST: connect at once, without the two prompts
    std::optional<int> port;                  // PORT, given after HOST
    int default_port = 7000;                  // the port when none is given or typed
    std::chrono::seconds connect_timeout{10}; // longest wait for a connection
};

// A command line qsclient does not understand; what() says why.
struct usage_error : std::runtime_error {
    using std::runtime_error::runtime_error;
};

// qsclient [--tls [--ca FILE]] [HOST [PORT]] in any order, or --help, or --version;
// throws usage_error for anything else.
client_options parse_client_options(int argc, const char* const* argv);

// QSCLIENT_DEFAULT_PORT and QSCLIENT_CONNECT_TIMEOUT (seconds, 1-600); a value that
// does not fit keeps the default.
void read_environment(client_options& options);

// A decimal port number 1-65535, spaces around allowed; nothing for anything else.
std::optional<int> parse_port(std::string_view text);

inline constexpr const char* client_usage = "Usage: qsclient [--tls [--ca FILE]] [HOST [PORT]]\n"
                                            "       qsclient --help | --version\n";
extern const char* const client_help; // what --help prints after the usage
inline constexpr const char* client_version = "qsclient (Quillspeak) " QS_VERSION "\n";

} // namespace qs

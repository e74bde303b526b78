#pragma once

#include <optional>
#include <string>

namespace qs {

// What qsclient's command line asks for.
struct client_options {
    bool tls = false;     // connect over TLS, checking the server's certificate
    std::string ca_file;  // PEM CA certificates to trust; empty: the system's store
};

// qsclient [--tls [--ca FILE]]; nullopt for anything else.
std::optional<client_options> parse_client_options(int argc, const char* const* argv);

inline constexpr const char* client_usage = "Usage: qsclient [--tls [--ca FILE]]\n";

} // namespace qs

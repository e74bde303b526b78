#include "server_connection.h"
#include "signals_for_main.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <netdb.h>
#include <sys/socket.h>
#include <sys/time.h>

namespace qs {

namespace {

// The host's first IPv4 address, as libkel would take it; or why there is none.
std::optional<std::string> look_up(const std::string& host, int port, sockaddr_in& address)
{
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* found = nullptr;
    const int rc = ::getaddrinfo(host.c_str(), nullptr, &hints, &found);
    if (rc == EAI_NONAME || rc == EAI_NODATA || rc == EAI_ADDRFAMILY)
        return "Unknown host: " + host + ".";
    if (rc != 0 || found == nullptr)
        return "Cannot look up " + host + ": " + ::gai_strerror(rc) + ".";
    address = *reinterpret_cast<const sockaddr_in*>(found->ai_addr);
    address.sin_port = htons(static_cast<uint16_t>(port));
    ::freeaddrinfo(found);
    return std::nullopt;
}

// A blocking connect on Linux gives up after the socket's send timeout.
void set_send_timeout(int fd, std::chrono::seconds limit)
{
    timeval tv{static_cast<time_t>(limit.count()), 0};
    ::setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &tv, sizeof tv);
}

std::string reason(int error, bool tls, std::chrono::seconds limit)
{
    switch (error) {
    case ECONNREFUSED:
        return "The connection was refused: no server listens on that port.";
    case ETIMEDOUT:
    case EINPROGRESS: // the send timeout ran out
    case EALREADY:    // libkel's second try while the first still runs
        return "No answer from the server within " + std::to_string(limit.count()) + " s.";
    case ENETUNREACH:
    case EHOSTUNREACH:
        return "The host cannot be reached.";
    default:
        if (tls)
            return "The TLS handshake or the check of the server's certificate failed.";
        return std::string(std::strerror(error)) + ".";
    }
}

// Why the CA file cannot be read: the system's word for it, or that it holds no
// certificate OpenSSL could read.
std::string unreadable(const std::string& file)
{
    std::FILE* f = std::fopen(file.c_str(), "r");
    if (f == nullptr)
        return file + " (" + std::strerror(errno) + ")";
    std::fclose(f);
    return file + " (no PEM certificate in it)";
}

std::optional<std::string> tls_reason(tls_failure failure, const std::string& host, const client_options& options)
{
    switch (failure) {
    case tls_failure::not_tls:
        return "The server did not answer in TLS (is that the plain port?)";
    case tls_failure::untrusted:
        return "The server's certificate is not trusted (use --ca FILE for a private certificate authority).";
    case tls_failure::wrong_name:
        return "The certificate is not valid for " + host + ".";
    case tls_failure::ca_file:
        return "The CA file cannot be read: " + unreadable(options.ca_file) + ".";
    case tls_failure::none:
    case tls_failure::other:
        break;
    }
    return std::nullopt;
}

} // namespace

// libkel throws a bare code; each of its operations is one system call, so errno still
// says what the connect met. It is cleared first: a failed TLS check sets none.
std::optional<std::string> connect_to_server(kelclient& kel, const std::string& host, int port,
                                             const client_options& options)
{
    sockaddr_in address{};
    if (auto unknown = look_up(host, port, address))
        return unknown;
    set_send_timeout(kel.handle(), options.connect_timeout);
    try {
        const signals_for_main only_main; // the reader thread starts here
        errno = 0;
        if (!options.tls)
            kel.connect(address);
        else
            kel.connect_tls(host.c_str(), port, options.ca_file.empty() ? nullptr : options.ca_file.c_str());
    } catch (const exception&) {
        if (auto why = tls_reason(kel.last_tls_failure(), host, options))
            return why;
        return reason(errno, options.tls, options.connect_timeout);
    }
    set_send_timeout(kel.handle(), std::chrono::seconds(0));
    return std::nullopt;
}

} // namespace qs

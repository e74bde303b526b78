#include "client_options.h"

#include <algorithm>
#include <charconv>
#include <cstdlib>

namespace qs {

const char* const client_help =
    "The Quillspeak console client. With HOST (and PORT) it connects at once instead of\n"
    "asking for the server's address and port.\n"
    "\n"
    "  --tls       connect over TLS, checking the server's certificate against the system's store\n"
    "  --ca FILE   with --tls: trust the CA certificates in FILE instead\n"
    "  --help      show this text\n"
    "  --version   show the version\n"
    "\n"
    "Environment: QSCLIENT_DEFAULT_PORT, the port when none is given (else 7000);\n"
    "QSCLIENT_CONNECT_TIMEOUT, the seconds to wait for the server to accept (else 10).\n"
    "Exit status: 0 after quitting, 1 when the connection failed or was lost,\n"
    "2 for a command line not understood.\n";

namespace {

std::optional<long> parse_number(std::string_view text, long low, long high)
{
    text.remove_prefix(std::min(text.find_first_not_of(' '), text.size()));
    text.remove_suffix(text.size() - (text.find_last_not_of(' ') + 1));
    long value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (text.empty() || error != std::errc() || end != text.data() + text.size() || value < low || value > high)
        return std::nullopt;
    return value;
}

// HOST, then PORT.
void take_positional(client_options& options, const std::string& arg)
{
    if (!options.host) {
        options.host = arg;
        return;
    }
    if (options.port)
        throw usage_error("too many arguments: " + arg);
    options.port = parse_port(arg);
    if (!options.port)
        throw usage_error("not a port number (1-65535): " + arg);
}

} // namespace

std::optional<int> parse_port(std::string_view text)
{
    const auto port = parse_number(text, 1, 65535);
    return port ? std::optional<int>(static_cast<int>(*port)) : std::nullopt;
}

client_options parse_client_options(int argc, const char* const* argv)
{
    client_options options;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--help" || arg == "--version") {
            (arg == "--help" ? options.help : options.version) = true;
            return options;
        }
        if (arg == "--tls")
            options.tls = true;
        else if (arg == "--ca" && i + 1 < argc && argv[i + 1][0] != '\0')
            options.ca_file = argv[++i];
        else if (arg == "--ca")
            throw usage_error("--ca needs a FILE");
        else if (!arg.empty() && arg[0] == '-')
            throw usage_error("unknown option: " + arg);
        else
            take_positional(options, arg);
    }
    if (!options.ca_file.empty() && !options.tls)
        throw usage_error("--ca needs --tls");
    return options;
}

void read_environment(client_options& options)
{
    if (const char* port = std::getenv("QSCLIENT_DEFAULT_PORT"))
        options.default_port = parse_port(port).value_or(options.default_port);
    if (const char* seconds = std::getenv("QSCLIENT_CONNECT_TIMEOUT"))
        if (const auto value = parse_number(seconds, 1, 600))
            options.connect_timeout = std::chrono::seconds(*value);
}

} // namespace qs

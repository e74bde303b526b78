#include "client_options.h"

namespace qs {

std::optional<client_options> parse_client_options(int argc, const char* const* argv)
{
    client_options options;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--tls")
            options.tls = true;
        else if (arg == "--ca" && i + 1 < argc && argv[i + 1][0] != '\0')
            options.ca_file = argv[++i];
        else
            return std::nullopt;
    }
    if (!options.ca_file.empty() && !options.tls)
        return std::nullopt;
    return options;
}

} // namespace qs

#include "qs/server/logic/web_origin.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>

namespace qs {

namespace {

std::string lower(std::string_view s)
{
    std::string out(s);
    std::transform(out.begin(), out.end(), out.begin(), [](unsigned char c) { return std::tolower(c); });
    return out;
}

bool is_name_char(char c)
{
    return std::isalnum(static_cast<unsigned char>(c)) || c == '-' || c == '.' || c == '_';
}

// A DNS name or IPv4 address, or an IPv6 address in brackets.
bool is_host(std::string_view host)
{
    if (host.size() > 2 && host.front() == '[' && host.back() == ']')
        return std::all_of(host.begin() + 1, host.end() - 1,
                           [](char c) { return std::isxdigit(static_cast<unsigned char>(c)) || c == ':' || c == '.'; });
    return !host.empty() && host.size() <= 253 && std::all_of(host.begin(), host.end(), is_name_char);
}

// 1 to 65535 in decimal; 0 when it is not.
long port_number(std::string_view digits)
{
    if (digits.empty() || digits.size() > 5 ||
        !std::all_of(digits.begin(), digits.end(), [](char c) { return c >= '0' && c <= '9'; }))
        return 0;
    const long port = std::strtol(std::string(digits).c_str(), nullptr, 10);
    return port <= 65535 ? port : 0;
}

} // namespace

std::optional<std::string> normalized_origin(std::string_view text)
{
    std::string s = lower(text);
    if (s.ends_with('/'))
        s.pop_back();
    const auto sep = s.find("://");
    if (sep == std::string::npos)
        return std::nullopt;
    const std::string scheme = s.substr(0, sep);
    if (scheme != "http" && scheme != "https")
        return std::nullopt;
    std::string_view authority = std::string_view(s).substr(sep + 3);
    std::string_view host = authority;
    long port = 0;
    const auto colon = authority.rfind(':');
    if (colon != std::string_view::npos && authority.find(']', colon) == std::string_view::npos) {
        host = authority.substr(0, colon);
        port = port_number(authority.substr(colon + 1));
        if (port == 0)
            return std::nullopt;
    }
    if (!is_host(host))
        return std::nullopt;
    const long default_port = scheme == "http" ? 80 : 443;
    std::string out = scheme + "://" + std::string(host);
    if (port != 0 && port != default_port)
        out += ":" + std::to_string(port);
    return out;
}

std::optional<std::vector<std::string>> parse_origin_list(std::string_view text)
{
    std::vector<std::string> origins;
    if (text.find_first_not_of(' ') == std::string_view::npos)
        return origins;
    for (std::size_t at = 0;;) {
        const std::size_t end = std::min(text.find(',', at), text.size());
        std::string_view entry = text.substr(at, end - at);
        if (const auto first = entry.find_first_not_of(' '); first != std::string_view::npos)
            entry = entry.substr(first, entry.find_last_not_of(' ') + 1 - first);
        auto origin = normalized_origin(entry);
        if (!origin)
            return std::nullopt;
        origins.push_back(std::move(*origin));
        if (end == text.size())
            return origins;
        at = end + 1;
    }
}

bool origin_allowed(std::string_view origin, bool tls, std::string_view host, const std::vector<std::string>& others)
{
    const auto from = normalized_origin(origin);
    if (!from)
        return false;
    const auto own = normalized_origin(std::string(tls ? "https://" : "http://") + std::string(host));
    return (own && *from == *own) || std::find(others.begin(), others.end(), *from) != others.end();
}

} // namespace qs

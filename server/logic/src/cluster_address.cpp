#include "qs/server/logic/cluster_address.h"

#include <algorithm>
#include <cctype>

namespace qs {

namespace {

std::string_view trimmed(std::string_view s)
{
    const auto first = s.find_first_not_of(' ');
    if (first == std::string_view::npos)
        return {};
    return s.substr(first, s.find_last_not_of(' ') - first + 1);
}

bool is_host(std::string_view h)
{
    if (h.size() > 2 && h.front() == '[' && h.back() == ']')
        return std::all_of(h.begin() + 1, h.end() - 1,
                           [](char c) { return std::isxdigit(static_cast<unsigned char>(c)) || c == ':' || c == '.'; });
    return !h.empty() && h.size() <= 253 && std::all_of(h.begin(), h.end(), [](char c) {
        return std::isalnum(static_cast<unsigned char>(c)) || c == '.' || c == '-';
    });
}

bool is_port(std::string_view p)
{
    if (p.empty() || p.size() > 5 || !std::all_of(p.begin(), p.end(), [](char c) { return c >= '0' && c <= '9'; }))
        return false;
    const int n = std::stoi(std::string(p));
    return n >= 1 && n <= 65535;
}

bool is_cluster_url(std::string_view u)
{
    for (std::string_view scheme : {"nats://", "tls://"}) {
        if (!u.starts_with(scheme))
            continue;
        const auto rest = u.substr(scheme.size());
        const auto colon = rest.rfind(':');
        return colon != std::string_view::npos && is_host(rest.substr(0, colon)) && is_port(rest.substr(colon + 1));
    }
    return false;
}

} // namespace

std::optional<std::vector<std::string>> parse_cluster_urls(std::string_view text)
{
    std::vector<std::string> urls;
    if (trimmed(text).empty())
        return urls;
    for (;;) {
        const auto comma = text.find(',');
        const auto entry = trimmed(text.substr(0, comma));
        if (!is_cluster_url(entry))
            return std::nullopt;
        urls.emplace_back(entry);
        if (comma == std::string_view::npos)
            return urls;
        text.remove_prefix(comma + 1);
    }
}

bool is_node_name(std::string_view text)
{
    return !text.empty() && text.size() <= 64 && std::all_of(text.begin(), text.end(), [](char c) {
        return std::isalnum(static_cast<unsigned char>(c)) || c == '.' || c == '_' || c == ':' || c == '-';
    });
}

} // namespace qs

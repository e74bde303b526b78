#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace qs {

// Web origins as browsers send them in an Origin header: "scheme://host[:port]".

// The origin in one spelling (http or https, lower case, no default port, no trailing
// '/'); nullopt when text is no such origin (a path, user info, an odd character).
std::optional<std::string> normalized_origin(std::string_view text);

// A comma-separated list of origins, spaces around each allowed; nullopt when an entry
// is no origin. "" is the empty list.
std::optional<std::vector<std::string>> parse_origin_list(std::string_view text);

// Whether a page from origin may open the WebSocket of a request that came over tls or
// not, with host as its Host header: the page's own origin or one of the others. A
// look-alike ("http://host:80.evil.example") is foreign.
bool origin_allowed(std::string_view origin, bool tls, std::string_view host, const std::vector<std::string>& others);

} // namespace qs

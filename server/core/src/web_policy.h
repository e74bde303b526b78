#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace qs {

struct web_header {
    const char* name;
    std::string value;
};

// The page's rules for itself, sent with every HTTP response and with the WebSocket's
// upgrade: its own origin only, and its WebSocket at the request's host. cache is the
// Cache-Control value.
std::vector<web_header> web_policy_headers(std::string_view host, const char* cache);

} // namespace qs

#include "web_policy.h"

#include "qs/server/logic/web_origin.h"

namespace qs {

std::vector<web_header> web_policy_headers(std::string_view host, const char* cache)
{
    std::string csp = "default-src 'self'; connect-src 'self'";
    if (!host.empty() && normalized_origin("http://" + std::string(host)))
        csp += " ws://" + std::string(host) + " wss://" + std::string(host);
    return {{"Content-Security-Policy", std::move(csp)},
            {"X-Content-Type-Options", "nosniff"},
            {"Referrer-Policy", "no-referrer"},
            {"Cache-Control", cache}};
}

} // namespace qs

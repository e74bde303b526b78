#include "ws_message.h"

// Boost.JSON's compiled part (header-only mode): in this one translation unit of qsbench.
#include <boost/json/src.hpp>
#include <limits>

#include "bench_error.h"

namespace qsb {

namespace json = boost::json;

std::string ws_request(std::int32_t id, std::string_view cmd)
{
    return json::serialize(json::object{{"id", id}, {"cmd", cmd}});
}

qs::frame parse_ws_reply(std::string_view message)
{
    json::error_code ec;
    const json::value v = json::parse(message, ec);
    const json::object* o = ec ? nullptr : v.if_object();
    const json::value* id = o ? o->if_contains("id") : nullptr;
    const json::value* reply = o ? o->if_contains("reply") : nullptr;
    if (id == nullptr || !id->is_int64() || reply == nullptr || !reply->is_string())
        throw bench_error("not a reply message: " + std::string(message.substr(0, 200)));
    const std::int64_t n = id->get_int64();
    if (n < std::numeric_limits<std::int32_t>::min() || n > std::numeric_limits<std::int32_t>::max())
        throw bench_error("a reply id out of range: " + std::to_string(n));
    const json::string& text = reply->get_string();
    return qs::frame{static_cast<std::int32_t>(n), std::string(text.data(), text.size())};
}

} // namespace qsb

#include "cluster_wire.h"

#include <boost/json.hpp>
#include <cctype>

namespace qs::cluster_wire {

namespace json = boost::json;

namespace {

std::optional<json::object> object_of(const std::string& data)
{
    json::parse_options options;
    options.allow_invalid_utf8 = true;  // entries are bytes
    json::error_code ec;
    json::value v = json::parse(data, ec, {}, options);
    if (ec || !v.is_object())
        return std::nullopt;
    return std::move(v.as_object());
}

bool text(const json::object& o, const char* key, std::string& out)
{
    const json::value* v = o.if_contains(key);
    if (v == nullptr || !v->is_string())
        return false;
    out.assign(v->get_string().data(), v->get_string().size());
    return true;
}

template <typename Int>
bool number(const json::object& o, const char* key, Int& out)
{
    const json::value* v = o.if_contains(key);
    if (v == nullptr)
        return false;
    json::error_code ec;
    out = v->to_number<Int>(ec);
    return !ec;
}

} // namespace

std::string encode(const delivery& d)
{
    return json::serialize(json::object{{"id", d.id},
                                        {"from", d.from},
                                        {"kind", d.kind},
                                        {"receiver", d.receiver},
                                        {"entry", d.entry},
                                        {"answer", d.answer}});
}

std::string encode(const settlement& s)
{
    return json::serialize(json::object{{"id", s.id}, {"safe", s.safe}, {"refusal", s.refusal}});
}

std::string encode(const status_change& s)
{
    return json::serialize(
        json::object{{"node", s.node}, {"name", s.name}, {"status", s.status}, {"contacts", s.contacts}});
}

std::optional<delivery> decode_delivery(const std::string& data)
{
    const auto o = object_of(data);
    delivery d;
    if (!o || !number(*o, "id", d.id) || !text(*o, "from", d.from) || !number(*o, "kind", d.kind) ||
        d.kind < 0 || d.kind > 2 || !text(*o, "receiver", d.receiver) || !text(*o, "entry", d.entry))
        return std::nullopt;
    const json::value* answer = o->if_contains("answer");
    if (answer == nullptr || !answer->is_bool())
        return std::nullopt;
    d.answer = answer->get_bool();
    return d;
}

std::optional<settlement> decode_settlement(const std::string& data)
{
    const auto o = object_of(data);
    settlement s;
    if (!o || !number(*o, "id", s.id) || !number(*o, "refusal", s.refusal))
        return std::nullopt;
    const json::value* safe = o->if_contains("safe");
    if (safe == nullptr || !safe->is_bool())
        return std::nullopt;
    s.safe = safe->get_bool();
    return s;
}

std::optional<status_change> decode_status_change(const std::string& data)
{
    const auto o = object_of(data);
    status_change s;
    if (!o || !text(*o, "node", s.node) || !text(*o, "name", s.name) || !text(*o, "status", s.status) ||
        !text(*o, "contacts", s.contacts))
        return std::nullopt;
    return s;
}

// Letters, digits, '-' and '_' stay; every other byte becomes %XX.
std::string node_token(const std::string& node)
{
    static const char hex[] = "0123456789ABCDEF";
    std::string token;
    for (unsigned char c : node) {
        if (std::isalnum(c) != 0 || c == '-' || c == '_') {
            token += static_cast<char>(c);
        } else {
            token += '%';
            token += hex[c >> 4];
            token += hex[c & 15];
        }
    }
    return token;
}

std::string deliver_subject(const std::string& node, std::size_t lane)
{
    return "qs.node." + node_token(node) + ".deliver." + std::to_string(lane);
}

// FNV-1a: the same on every node and build.
std::size_t lane_of(const std::string& receiver, std::size_t lanes)
{
    std::uint64_t h = 14695981039346656037ull;
    for (unsigned char c : receiver) {
        h ^= c;
        h *= 1099511628211ull;
    }
    return static_cast<std::size_t>(h % lanes);
}

std::string settled_subject(const std::string& node)
{
    return "qs.node." + node_token(node) + ".settled";
}

} // namespace qs::cluster_wire

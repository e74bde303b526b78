#include "cluster_wire.h"

#include <boost/json.hpp>
#include <cctype>
#include <string_view>

#include "qs/cluster/bus_frames.h"

namespace qs::cluster_wire {

namespace json = boost::json;

namespace {

// Each message is built and read in an arena on the stack, spilling to the heap only
// for a long entry: no allocation per field.
class arena {
public:
    json::storage_ptr storage() { return json::storage_ptr(&resource_); }

private:
    unsigned char buffer_[2048];
    json::monotonic_resource resource_{buffer_, sizeof buffer_};
};

// Deliveries and settlements, the bulk of the traffic, are records of fixed-width
// numbers (big-endian) and texts after their length (bus_frames.h): nothing to escape.
void put(std::string& out, std::uint64_t n, int bytes)
{
    for (int i = bytes - 1; i >= 0; --i)
        out += static_cast<char>((n >> (8 * i)) & 0xff);
}

class record_reader {
public:
    explicit record_reader(std::string_view data) : rest_(data) {}

    bool number(std::uint64_t& n, int bytes)
    {
        if (rest_.size() < static_cast<std::size_t>(bytes))
            return false;
        n = 0;
        for (int i = 0; i < bytes; ++i)
            n = (n << 8) | static_cast<unsigned char>(rest_[static_cast<std::size_t>(i)]);
        rest_.remove_prefix(static_cast<std::size_t>(bytes));
        return true;
    }
    bool text(std::string& out)
    {
        std::uint64_t n = 0;
        if (!number(n, 4) || n > rest_.size())
            return false;
        out.assign(rest_.substr(0, n));
        rest_.remove_prefix(n);
        return true;
    }
    bool done() const { return rest_.empty(); }

private:
    std::string_view rest_;
};

constexpr char delivery_tag = 'D';
constexpr char settlement_tag = 'S';

// What data holds, in a; null when it is no JSON.
json::value parsed(const std::string& data, arena& a)
{
    json::parse_options options;
    options.allow_invalid_utf8 = true; // entries are bytes
    json::error_code ec;
    json::value v = json::parse(data, ec, a.storage(), options);
    if (ec)
        v.emplace_null();
    return v;
}

bool text(const json::object& o, const char* key, std::string& out)
{
    const json::value* v = o.if_contains(key);
    if (v == nullptr || !v->is_string())
        return false;
    out.assign(v->get_string().data(), v->get_string().size());
    return true;
}

} // namespace

std::string encode(const delivery& d)
{
    return encode_delivery(d.id, d.from, d.kind, d.receiver, d.entry, d.answer);
}

std::string encode_delivery(std::uint64_t id, std::string_view from, int kind, std::string_view receiver,
                            std::string_view entry, bool answer)
{
    std::string out;
    out.reserve(23 + from.size() + receiver.size() + entry.size());
    out += delivery_tag;
    put(out, id, 8);
    put(out, static_cast<std::uint64_t>(kind), 1);
    put(out, answer ? 1 : 0, 1);
    for (const std::string_view text : {from, receiver, entry})
        cluster::append_frame(out, text);
    return out;
}

std::string encode(const settlement& s)
{
    std::string out;
    out += settlement_tag;
    put(out, s.id, 8);
    put(out, s.safe ? 1 : 0, 1);
    put(out, static_cast<std::uint32_t>(s.refusal), 4);
    return out;
}

std::string encode(const status_change& s)
{
    arena a;
    return json::serialize(json::object(
        {{"node", s.node}, {"name", s.name}, {"status", s.status}, {"contacts", s.contacts}}, a.storage()));
}

std::optional<delivery> decode_delivery(const std::string& data)
{
    if (data.empty() || data[0] != delivery_tag)
        return std::nullopt;
    record_reader in(std::string_view(data).substr(1));
    delivery d;
    std::uint64_t kind = 0, answer = 0;
    if (!in.number(d.id, 8) || !in.number(kind, 1) || kind > 2 || !in.number(answer, 1) || answer > 1 ||
        !in.text(d.from) || !in.text(d.receiver) || !in.text(d.entry) || !in.done())
        return std::nullopt;
    d.kind = static_cast<int>(kind);
    d.answer = answer == 1;
    return d;
}

std::optional<settlement> decode_settlement(const std::string& data)
{
    if (data.empty() || data[0] != settlement_tag)
        return std::nullopt;
    record_reader in(std::string_view(data).substr(1));
    settlement s;
    std::uint64_t safe = 0, refusal = 0;
    if (!in.number(s.id, 8) || !in.number(safe, 1) || safe > 1 || !in.number(refusal, 4) || !in.done())
        return std::nullopt;
    s.safe = safe == 1;
    s.refusal = static_cast<std::int32_t>(static_cast<std::uint32_t>(refusal));
    return s;
}

std::optional<status_change> decode_status_change(const std::string& data)
{
    arena a;
    const json::value v = parsed(data, a);
    const json::object* o = v.if_object();
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
    for (const char byte : node) {
        const auto c = static_cast<unsigned char>(byte);
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
    for (const char c : receiver) {
        h ^= static_cast<unsigned char>(c);
        h *= 1099511628211ull;
    }
    return static_cast<std::size_t>(h % lanes);
}

std::string settled_subject(const std::string& node)
{
    return "qs.node." + node_token(node) + ".settled";
}

} // namespace qs::cluster_wire

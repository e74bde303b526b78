#include "ws_message.h"

#include <boost/json.hpp>
#include <cstring>
#include <limits>

namespace qs {

namespace {

namespace json = boost::json;

constexpr char replacement[] = "\xEF\xBF\xBD"; // U+FFFD

// The length of the well-formed UTF-8 sequence at the front of s, 0 when there is none.
std::size_t sequence_length(std::string_view s)
{
    const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(s[i]); };
    const unsigned char lead = byte(0);
    if (lead < 0x80)
        return 1;
    std::size_t n = 0;
    unsigned char low = 0x80, high = 0xBF; // the bounds of the second byte
    if (lead >= 0xC2 && lead <= 0xDF)
        n = 2;
    else if (lead >= 0xE0 && lead <= 0xEF)
        n = 3, low = lead == 0xE0 ? 0xA0 : 0x80, high = lead == 0xED ? 0x9F : 0xBF;
    else if (lead >= 0xF0 && lead <= 0xF4)
        n = 4, low = lead == 0xF0 ? 0x90 : 0x80, high = lead == 0xF4 ? 0x8F : 0xBF;
    if (n == 0 || s.size() < n || byte(1) < low || byte(1) > high)
        return 0;
    for (std::size_t i = 2; i < n; ++i)
        if (byte(i) < 0x80 || byte(i) > 0xBF)
            return 0;
    return n;
}

} // namespace

std::string utf8_repaired(std::string_view text)
{
    std::string out;
    out.reserve(text.size());
    while (!text.empty()) {
        const std::size_t n = sequence_length(text);
        if (n == 0) {
            out += replacement;
            text.remove_prefix(1);
        } else {
            out.append(text.substr(0, n));
            text.remove_prefix(n);
        }
    }
    return out;
}

std::variant<ws_request, std::string> parse_ws_request(std::string_view message)
{
    json::error_code ec;
    const json::value v = json::parse(message, ec);
    if (ec)
        return std::string("not JSON");
    const json::object* o = v.if_object();
    if (o == nullptr)
        return std::string("not a JSON object");
    const json::value* id = o->if_contains("id");
    if (id == nullptr || !(id->is_int64() || id->is_uint64()))
        return std::string("no integer id");
    const auto fits = id->is_int64() ? id->get_int64() >= std::numeric_limits<std::int32_t>::min() &&
                                           id->get_int64() <= std::numeric_limits<std::int32_t>::max()
                                     : id->get_uint64() <= std::numeric_limits<std::int32_t>::max();
    if (!fits)
        return std::string("id out of range");
    const json::value* cmd = o->if_contains("cmd");
    if (cmd == nullptr || !cmd->is_string())
        return std::string("cmd is not a string");
    const json::string& line = cmd->get_string();
    return ws_request{static_cast<std::int32_t>(id->to_number<std::int64_t>()), std::string(line.data(), line.size())};
}

std::string next_ws_reply(std::string_view& frames)
{
    if (frames.size() < 4) {
        frames = {};
        return {};
    }
    std::int32_t cid = 0; // little-endian, as encode_frame wrote it
    for (int i = 3; i >= 0; --i)
        cid = static_cast<std::int32_t>((static_cast<std::uint32_t>(cid) << 8) |
                                        static_cast<unsigned char>(frames[static_cast<std::size_t>(i)]));
    frames.remove_prefix(4);
    const std::size_t end = std::min(frames.find('\0'), frames.size());
    const std::string_view text = frames.substr(0, end);
    frames.remove_prefix(std::min(end + 1, frames.size()));
    return json::serialize(json::object{{"id", cid}, {"reply", utf8_repaired(text)}});
}

} // namespace qs

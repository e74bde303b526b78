#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <variant>

namespace qs {

// The WebSocket's messages: each text message from the browser is one request,
// {"id": N, "cmd": "COMMAND LINE"}, answered {"id": N, "reply": "TEXT"}; N is the frame's
// command id, the command line and the reply the frame's text.

struct ws_request {
    std::int32_t id;
    std::string cmd; // the UTF-8 bytes of the JSON string
};

// The request a message holds, or in a few words why it holds none (a close reason).
std::variant<ws_request, std::string> parse_ws_request(std::string_view message);

// Takes the first frame (encode_frame's bytes) off frames and gives its reply message.
std::string next_ws_reply(std::string_view& frames);

// text as valid UTF-8: each ill-formed sequence (a single-byte text, say) becomes U+FFFD.
std::string utf8_repaired(std::string_view text);

} // namespace qs

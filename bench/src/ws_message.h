#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "qs/net/frame.h"

namespace qsb {

// The server's WebSocket messages: a request {"id":N,"cmd":"COMMAND LINE"} is answered
// {"id":N,"reply":"TEXT"}, N playing the part of a frame's command id.

std::string ws_request(std::int32_t id, std::string_view cmd);

// The command id and text of a reply message. Throws bench_error when it is not one.
qs::frame parse_ws_reply(std::string_view message);

} // namespace qsb

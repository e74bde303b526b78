#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "qs/net/frame.h"

namespace qs::fuzz {

// A whole stream read by the protocol's rules, frame after frame, with no buffering.
struct decoded_stream {
    std::vector<frame> frames;
    std::size_t consumed = 0; // bytes of the whole frames
    // Bytes of the stream that show the frame after them to be longer than the cap:
    // cap bytes of it have come and none of its text's was a NUL.
    std::optional<std::size_t> over_cap_at;
};

inline decoded_stream decode_whole(std::string_view stream, std::size_t cap)
{
    decoded_stream out;
    for (;;) {
        const std::size_t at = out.consumed;
        const std::size_t text_at = std::min(at + 4, stream.size());
        const std::size_t nul = stream.find('\0', text_at);
        if (nul == std::string_view::npos || nul + 1 - at > cap) {
            if (stream.size() - at >= cap)
                out.over_cap_at = at + cap;
            return out;
        }
        std::uint32_t cid = 0;
        for (std::size_t i = 4; i-- > 0;)
            cid = (cid << 8) | static_cast<unsigned char>(stream[at + i]);
        out.frames.push_back({static_cast<std::int32_t>(cid), std::string(stream.substr(text_at, nul - text_at))});
        out.consumed = nul + 1;
    }
}

} // namespace qs::fuzz

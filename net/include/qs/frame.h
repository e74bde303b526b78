#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "qs/socket.h"

namespace qs {

// A frame is a 4-byte little-endian command id, the text, and one NUL.
// Frames longer than this (id and NUL included) end the connection.
inline constexpr std::size_t max_frame_size = 64 * 1024;
inline constexpr std::size_t frame_overhead = 5;

struct frame {
    std::int32_t cid;
    std::string text;
};

// The bytes of one frame; the text is taken up to its first NUL.
std::string encode_frame(std::int32_t cid, std::string_view text);

// Reads a byte stream frame by frame, however the receives split it.
// Owned and used by the one thread that receives on the socket.
class frame_reader {
public:
    explicit frame_reader(const socket& sock, std::size_t max_size = max_frame_size);

    // The next whole frame. Throws qs::exception(3) when the receive fails or the
    // peer closes, and when a frame grows beyond the size cap.
    frame next();

private:
    bool take_buffered(frame& out);
    void receive_more();

    socket sock_;
    std::size_t max_size_;
    std::vector<char> buf_;
    std::size_t begin_ = 0;    // first unread byte
    std::size_t end_ = 0;      // one past the last received byte
    std::size_t scanned_ = 0;  // bytes before this offset hold no NUL of the current text
};

} // namespace qs

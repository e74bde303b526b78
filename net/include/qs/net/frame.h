#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "qs/net/socket.h"

namespace qs {

// A frame is a 4-byte little-endian command id, the text, and one NUL.
// Frames longer than this (id and NUL included) end the connection.
inline constexpr std::size_t max_frame_size = std::size_t{64} * 1024;
inline constexpr std::size_t frame_overhead = 5;

struct frame {
    std::int32_t cid;
    std::string text;
};

// The bytes of one frame; the text is taken up to its first NUL.
std::string encode_frame(std::int32_t cid, std::string_view text);
// The same bytes appended to out, so that frames written together share one buffer.
void append_frame(std::string& out, std::int32_t cid, std::string_view text);

// Cuts whole frames out of the bytes of a stream received so far, however the receives
// split it, and keeps an unfinished frame for the bytes still to come. Owned and used by
// one thread at a time.
class frame_splitter {
public:
    explicit frame_splitter(std::size_t max_size = max_frame_size);

    // Room for at least one more byte to receive into: write there, then commit().
    char* prepare(std::size_t& room);
    void commit(std::size_t received) noexcept { end_ += received; }
    // Copies received bytes in (prepare and commit in one).
    void feed(const char* data, std::size_t size);

    // The next whole frame, false when none is complete yet. Throws qs::exception(3)
    // when the unfinished frame is already longer than the size cap.
    bool next(frame& out);
    // Bytes of an unfinished frame are waiting.
    bool has_partial() const noexcept { return end_ > begin_; }
    // Frees the buffer when it holds nothing (an idle connection keeps no buffer).
    void release_if_empty();

private:
    std::size_t max_size_;
    std::vector<char> buf_;
    std::size_t begin_ = 0;   // first unread byte
    std::size_t end_ = 0;     // one past the last received byte
    std::size_t scanned_ = 0; // bytes before this offset hold no NUL of the current text
};

// Reads a byte stream frame by frame, however the receives split it.
// Owned and used by the one thread that receives on the socket.
class frame_reader {
public:
    explicit frame_reader(const socket& sock, std::size_t max_size = max_frame_size);

    // The next whole frame. Throws qs::exception(3) when the receive fails or the
    // peer closes, and when a frame grows beyond the size cap.
    frame next();

private:
    socket sock_;
    frame_splitter frames_;
};

} // namespace qs

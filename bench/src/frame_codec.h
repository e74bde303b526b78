#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace qsb {

// A frame: a 4-byte little-endian command id, the text, and one NUL.
inline constexpr std::size_t frame_overhead = 5;
inline constexpr std::size_t max_frame_size = std::size_t{64} * 1024;

struct frame {
    std::int32_t cid = 0;
    std::string text;
};

// Appends the bytes of one frame to out.
void append_frame(std::string& out, std::int32_t cid, std::string_view text);

// Cuts a received byte stream into frames, however the reads split it.
class frame_decoder {
public:
    explicit frame_decoder(std::size_t max_size = max_frame_size) : max_size_(max_size) {}

    void feed(const char* data, std::size_t size);
    // Takes the next whole frame; false when none is complete. Throws std::runtime_error
    // when a frame grows beyond the size cap.
    bool next(frame& out);
    std::size_t buffered() const { return buf_.size() - begin_; }

private:
    std::string buf_;
    std::size_t begin_ = 0;   // first unread byte
    std::size_t scanned_ = 0; // no NUL of the current text before this offset
    std::size_t max_size_;
};

} // namespace qsb

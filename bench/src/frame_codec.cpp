#include "frame_codec.h"

#include <cstring>
#include <stdexcept>

namespace qsb {

namespace {

[[noreturn]] void too_long(std::size_t cap)
{
    throw std::runtime_error("a frame is longer than " + std::to_string(cap) + " bytes");
}

} // namespace

void append_frame(std::string& out, std::int32_t cid, std::string_view text)
{
    const auto id = static_cast<std::uint32_t>(cid);
    const char head[4] = {static_cast<char>(id & 0xff), static_cast<char>((id >> 8) & 0xff),
                          static_cast<char>((id >> 16) & 0xff), static_cast<char>((id >> 24) & 0xff)};
    out.append(head, 4);
    out.append(text.substr(0, text.find('\0')));
    out.push_back('\0');
}

void frame_decoder::feed(const char* data, std::size_t size)
{
    if (begin_ > 0 && begin_ >= buf_.size() / 2) { // drop consumed bytes now and then
        buf_.erase(0, begin_);
        scanned_ -= begin_;
        begin_ = 0;
    }
    buf_.append(data, size);
}

bool frame_decoder::next(frame& out)
{
    const std::size_t text_begin = begin_ + 4;
    if (buf_.size() <= text_begin) {
        scanned_ = text_begin;
        return false;
    }
    const std::size_t from = scanned_ > text_begin ? scanned_ : text_begin;
    const void* nul =
        std::memchr(buf_.data() + from, '\0', buf_.size() - from); // NOLINT(bugprone-not-null-terminated-result)
    if (nul == nullptr) {
        scanned_ = buf_.size();
        if (buffered() > max_size_)
            too_long(max_size_);
        return false;
    }
    const auto end = static_cast<std::size_t>(static_cast<const char*>(nul) - buf_.data());
    if (end + 1 - begin_ > max_size_)
        too_long(max_size_);
    const auto* p = reinterpret_cast<const unsigned char*>(buf_.data() + begin_);
    out.cid = static_cast<std::int32_t>(std::uint32_t{p[0]} | (std::uint32_t{p[1]} << 8) | (std::uint32_t{p[2]} << 16) |
                                        (std::uint32_t{p[3]} << 24));
    out.text.assign(buf_, text_begin, end - text_begin);
    begin_ = end + 1;
    scanned_ = begin_ + 4;
    return true;
}

} // namespace qsb

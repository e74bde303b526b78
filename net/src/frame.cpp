#include "qs/frame.h"

#include <algorithm>
#include <cstring>

namespace qs {

namespace {

constexpr std::size_t cid_size = 4;
constexpr std::size_t first_chunk = 4096;

std::int32_t decode_cid(const char* p)
{
    std::uint32_t v = 0;
    for (int i = 3; i >= 0; --i)
        v = (v << 8) | static_cast<unsigned char>(p[i]);
    return static_cast<std::int32_t>(v);
}

} // namespace

std::string encode_frame(std::int32_t cid, std::string_view text)
{
    text = text.substr(0, text.find('\0'));
    std::string out;
    out.reserve(text.size() + frame_overhead);
    auto v = static_cast<std::uint32_t>(cid);
    for (int i = 0; i < 4; ++i)
        out.push_back(static_cast<char>((v >> (8 * i)) & 0xff));
    out.append(text);
    out.push_back('\0');
    return out;
}

frame_reader::frame_reader(const socket& sock, std::size_t max_size)
    : sock_(sock), max_size_(std::max(max_size, frame_overhead)), buf_(std::min(first_chunk, max_size_))
{
}

frame frame_reader::next()
{
    frame out;
    while (!take_buffered(out))
        receive_more();
    return out;
}

bool frame_reader::take_buffered(frame& out)
{
    std::size_t text_begin = begin_ + cid_size;
    if (end_ <= text_begin)
        return false;
    std::size_t from = std::max(scanned_, text_begin);
    const char* nul = static_cast<const char*>(std::memchr(buf_.data() + from, '\0', end_ - from));
    if (nul == nullptr) {
        scanned_ = end_;
        return false;
    }
    std::size_t nul_at = static_cast<std::size_t>(nul - buf_.data());
    out.cid = decode_cid(buf_.data() + begin_);
    out.text.assign(buf_.data() + text_begin, nul_at - text_begin);
    begin_ = scanned_ = nul_at + 1;
    return true;
}

void frame_reader::receive_more()
{
    if (begin_ > 0) {  // move the unfinished frame to the front
        std::memmove(buf_.data(), buf_.data() + begin_, end_ - begin_);
        end_ -= begin_;
        scanned_ = scanned_ > begin_ ? scanned_ - begin_ : 0;
        begin_ = 0;
    }
    if (end_ == buf_.size()) {
        if (buf_.size() >= max_size_)
            throw exception(3);
        buf_.resize(std::min(buf_.size() * 2, max_size_));
    }
    end_ += static_cast<std::size_t>(sock_.recv(buf_.data() + end_, static_cast<int>(buf_.size() - end_)));
}

} // namespace qs

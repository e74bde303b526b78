#include "qs/net/frame.h"

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
    std::string out;
    append_frame(out, cid, text);
    return out;
}

void append_frame(std::string& out, std::int32_t cid, std::string_view text)
{
    text = text.substr(0, text.find('\0'));
    out.reserve(out.size() + text.size() + frame_overhead);
    auto v = static_cast<std::uint32_t>(cid);
    for (int i = 0; i < 4; ++i)
        out.push_back(static_cast<char>((v >> (8 * i)) & 0xff));
    out.append(text);
    out.push_back('\0');
}

frame_splitter::frame_splitter(std::size_t max_size) : max_size_(std::max(max_size, frame_overhead)) {}

void frame_splitter::release_if_empty()
{
    if (end_ != begin_ || buf_.capacity() == 0)
        return;
    std::vector<char>().swap(buf_);
    begin_ = end_ = scanned_ = 0;
}

char* frame_splitter::prepare(std::size_t& room)
{
    if (begin_ > 0 && (begin_ == end_ || end_ == buf_.size())) { // move the unfinished frame to the front
        std::memmove(buf_.data(), buf_.data() + begin_, end_ - begin_);
        end_ -= begin_;
        scanned_ = scanned_ > begin_ ? scanned_ - begin_ : 0;
        begin_ = 0;
    }
    if (end_ == buf_.size())
        buf_.resize(std::max(buf_.size() * 2, std::min(first_chunk, max_size_)));
    room = buf_.size() - end_;
    return buf_.data() + end_;
}

void frame_splitter::feed(const char* data, std::size_t size)
{
    while (size > 0) {
        std::size_t room = 0;
        char* at = prepare(room);
        const std::size_t n = std::min(room, size);
        std::memcpy(at, data, n);
        commit(n);
        data += n;
        size -= n;
    }
}

bool frame_splitter::next(frame& out)
{
    const std::size_t text_begin = begin_ + cid_size;
    const char* nul = nullptr;
    if (end_ > text_begin) {
        const std::size_t from = std::max(scanned_, text_begin);
        nul = static_cast<const char*>(std::memchr(buf_.data() + from, '\0', end_ - from));
    }
    if (nul == nullptr) {
        scanned_ = std::max(scanned_, end_);
        if (end_ - begin_ >= max_size_)
            throw exception(3);
        return false;
    }
    const std::size_t nul_at = static_cast<std::size_t>(nul - buf_.data());
    if (nul_at + 1 - begin_ > max_size_)
        throw exception(3);
    out.cid = decode_cid(buf_.data() + begin_);
    out.text.assign(buf_.data() + text_begin, nul_at - text_begin);
    begin_ = scanned_ = nul_at + 1;
    return true;
}

frame_reader::frame_reader(const socket& sock, std::size_t max_size) : sock_(sock), frames_(max_size) {}

frame frame_reader::next()
{
    frame out;
    while (!frames_.next(out)) {
        std::size_t room = 0;
        char* at = frames_.prepare(room);
        frames_.commit(static_cast<std::size_t>(sock_.recv(at, static_cast<int>(room))));
    }
    return out;
}

} // namespace qs

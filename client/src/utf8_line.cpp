#include "utf8_line.h"

namespace qs {

namespace {

// Continuation bytes a lead byte needs; -1 for a byte that cannot start a character.
int continuation_count(unsigned char lead)
{
    if (lead < 0x80)
        return 0;
    if (lead >= 0xC2 && lead <= 0xDF)
        return 1;
    if (lead >= 0xE0 && lead <= 0xEF)
        return 2;
    if (lead >= 0xF0 && lead <= 0xF4)
        return 3;
    return -1;
}

// Whether next may follow what partial holds: the second byte's range depends on the
// lead (no overlong forms, no surrogates, nothing past U+10FFFF).
bool may_follow(const std::string& partial, unsigned char next)
{
    unsigned char low = 0x80, high = 0xBF;
    if (partial.size() == 1) {
        switch (static_cast<unsigned char>(partial[0])) {
        case 0xE0:
            low = 0xA0;
            break;
        case 0xED:
            high = 0x9F;
            break;
        case 0xF0:
            low = 0x90;
            break;
        case 0xF4:
            high = 0x8F;
            break;
        default:
            break;
        }
    }
    return next >= low && next <= high;
}

} // namespace

std::string utf8_line::add(unsigned char byte)
{
    if (missing_ > 0) {
        if (may_follow(partial_, byte)) {
            partial_.push_back(static_cast<char>(byte));
            return --missing_ == 0 ? keep(std::move(partial_)) : std::string();
        }
        partial_.clear(); // broken: dropped, and byte starts afresh
        missing_ = 0;
    }
    const int needed = continuation_count(byte);
    if (needed < 0)
        return {};
    if (needed == 0)
        return keep(std::string(1, static_cast<char>(byte)));
    partial_.assign(1, static_cast<char>(byte));
    missing_ = static_cast<std::size_t>(needed);
    return {};
}

std::string utf8_line::keep(std::string character)
{
    partial_.clear();
    if (text_.size() + character.size() > max_)
        return {};
    text_ += character;
    ++characters_;
    return character;
}

bool utf8_line::erase_last()
{
    partial_.clear();
    missing_ = 0;
    if (text_.empty())
        return false;
    std::size_t start = text_.size() - 1;
    while (start > 0 && (static_cast<unsigned char>(text_[start]) & 0xC0) == 0x80)
        --start;
    text_.erase(start);
    --characters_;
    return true;
}

void utf8_line::reset(std::size_t max_bytes)
{
    max_ = max_bytes;
    text_.clear();
    characters_ = 0;
    partial_.clear();
    missing_ = 0;
}

} // namespace qs

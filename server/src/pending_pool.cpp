#include "qs/pending_pool.h"

#include "qs/list_encoding.h"

namespace qs {

std::size_t pending_pool::size_with(const std::string& entry) const noexcept
{
    return size_ + (entries_.empty() ? 0 : 1) + entry.size();
}

void pending_pool::push(std::string entry)
{
    size_ = size_with(entry);
    entries_.push_back(std::move(entry));
}

void pending_pool::push_text(const std::string& text)
{
    if (text.empty())
        return;
    for (auto& piece : split_list(text))
        push(std::move(piece));
}

std::string pending_pool::text() const
{
    std::string out;
    out.reserve(size_);
    for (const auto& e : entries_) {
        if (&e != &entries_.front())
            out += '|';
        out += e;
    }
    return out;
}

std::string pending_pool::take(std::size_t room)
{
    std::string out;
    bool first = true;
    while (!entries_.empty()) {
        const std::string& e = entries_.front();
        const std::size_t grown = out.size() + (first ? 0 : 1) + e.size();
        if (grown > room)
            break;
        if (!first)
            out += '|';
        out += e;
        first = false;
        size_ -= e.size() + (entries_.size() > 1 ? 1 : 0);
        entries_.pop_front();
    }
    return out;
}

void pending_pool::clear()
{
    entries_.clear();
    size_ = 0;
}

} // namespace qs

#include "qs/server/pending_pool.h"

#include <iterator>

#include "qs/store/list_encoding.h"

namespace qs {

std::string pending_pool::taken::text() const
{
    std::string out;
    for (const auto& e : entries) {
        if (&e != &entries.front())
            out += '|';
        out += e;
    }
    return out;
}

std::size_t pending_pool::size_with(const std::string& entry) const noexcept
{
    return size_ + (entries_.empty() ? 0 : 1) + entry.size();
}

void pending_pool::push(std::string entry)
{
    size_ = size_with(entry);
    entries_.push_back(std::move(entry));
}

void pending_pool::push_stored(const std::string& text)
{
    if (text.empty())
        return;
    for (auto& piece : split_list(text))
        push(std::move(piece));
    stored_ = entries_.size();
}

std::string pending_pool::join(std::size_t first, std::size_t last) const
{
    std::string out;
    auto it = std::next(entries_.begin(), static_cast<std::ptrdiff_t>(first));
    for (std::size_t i = first; i < last; ++i, ++it) {
        if (i != first)
            out += '|';
        out += *it;
    }
    return out;
}

std::string pending_pool::text() const
{
    return join(0, entries_.size());
}

std::string pending_pool::stored_text() const
{
    return join(0, stored_);
}

std::vector<std::string> pending_pool::unstored() const
{
    return {std::next(entries_.begin(), static_cast<std::ptrdiff_t>(stored_)), entries_.end()};
}

std::string pending_pool::unstored_text() const
{
    return join(stored_, entries_.size());
}

pending_pool::taken pending_pool::take(std::size_t room)
{
    taken out;
    std::size_t length = 0;
    while (!entries_.empty()) {
        const std::string& e = entries_.front();
        const std::size_t grown = length + (out.entries.empty() ? 0 : 1) + e.size();
        if (grown > room)
            break;
        length = grown;
        size_ -= e.size() + (entries_.size() > 1 ? 1 : 0);
        out.entries.push_back(std::move(entries_.front()));
        entries_.pop_front();
        if (stored_ > 0) {
            --stored_;
            ++out.stored;
        }
    }
    return out;
}

void pending_pool::put_back(const taken& t)
{
    for (auto it = t.entries.rbegin(); it != t.entries.rend(); ++it) {
        size_ += it->size() + (entries_.empty() ? 0 : 1);
        entries_.push_front(*it);
    }
    stored_ += t.stored;
}

void pending_pool::clear()
{
    entries_.clear();
    size_ = 0;
    stored_ = 0;
}

} // namespace qs

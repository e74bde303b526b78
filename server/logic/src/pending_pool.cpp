#include "qs/server/logic/pending_pool.h"

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

void pending_pool::taken::confirm()
{
    for (auto& ack : acks) {
        if (ack)
            ack->confirm();
        ack = nullptr;
    }
}

std::size_t pending_pool::size_with(const std::string& text) const noexcept
{
    return size_ + (entries_.empty() ? 0 : 1) + text.size();
}

void pending_pool::push(std::string text, ack_handle ack, time_point since)
{
    size_ = size_with(text);
    entries_.push_back({std::move(text), std::move(ack), since});
}

void pending_pool::push_stored(const std::string& text)
{
    if (text.empty())
        return;
    auto at = std::next(entries_.begin(), static_cast<std::ptrdiff_t>(stored_));
    for (auto& piece : split_list(text)) {
        size_ = size_with(piece);
        entries_.insert(at, {std::move(piece), nullptr});
        ++stored_;
    }
}

std::string pending_pool::join(std::size_t first, std::size_t last) const
{
    std::string out;
    auto it = std::next(entries_.begin(), static_cast<std::ptrdiff_t>(first));
    for (std::size_t i = first; i < last; ++i, ++it) {
        if (i != first)
            out += '|';
        out += it->text;
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
    std::vector<std::string> out;
    for (auto it = std::next(entries_.begin(), static_cast<std::ptrdiff_t>(stored_)); it != entries_.end(); ++it)
        out.push_back(it->text);
    return out;
}

std::string pending_pool::unstored_text() const
{
    return join(stored_, entries_.size());
}

std::size_t pending_pool::unstored_until(time_point cutoff) const
{
    std::size_t count = 0;
    for (auto it = std::next(entries_.begin(), static_cast<std::ptrdiff_t>(stored_));
         it != entries_.end() && it->since <= cutoff; ++it)
        ++count;
    return count;
}

std::string pending_pool::unstored_text(std::size_t count) const
{
    return join(stored_, stored_ + count);
}

pending_pool::time_point pending_pool::oldest_unstored() const
{
    return std::next(entries_.begin(), static_cast<std::ptrdiff_t>(stored_))->since;
}

pending_pool::taken pending_pool::take(std::size_t room)
{
    taken out;
    std::size_t length = 0;
    while (!entries_.empty()) {
        entry& e = entries_.front();
        const std::size_t grown = length + (out.entries.empty() ? 0 : 1) + e.text.size();
        if (grown > room)
            break;
        length = grown;
        size_ -= e.text.size() + (entries_.size() > 1 ? 1 : 0);
        out.entries.push_back(std::move(e.text));
        out.acks.push_back(std::move(e.ack));
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
    for (std::size_t i = t.entries.size(); i-- > 0;) {
        size_ += t.entries[i].size() + (entries_.empty() ? 0 : 1);
        entries_.push_front({t.entries[i], i < t.acks.size() ? t.acks[i] : nullptr});
    }
    stored_ += t.stored;
}

std::vector<ack_handle> pending_pool::mark_all_stored()
{
    const std::size_t first = stored_;
    return stored_after(first, begin_storing());
}

std::size_t pending_pool::begin_storing()
{
    return begin_storing(entries_.size() - stored_);
}

std::size_t pending_pool::begin_storing(std::size_t count)
{
    stored_ += count;
    return count;
}

std::vector<ack_handle> pending_pool::stored_after(std::size_t first, std::size_t count)
{
    std::vector<ack_handle> acks;
    auto it = std::next(entries_.begin(), static_cast<std::ptrdiff_t>(first));
    for (std::size_t i = 0; i < count; ++i, ++it)
        if (it->ack)
            acks.push_back(std::move(it->ack));
    return acks;
}

std::vector<ack_handle> pending_pool::not_stored(std::size_t first, std::size_t count)
{
    stored_ -= count;
    std::vector<ack_handle> acks;
    auto it = std::next(entries_.begin(), static_cast<std::ptrdiff_t>(first));
    for (std::size_t i = 0; i < count; ++i) {
        if (!it->ack) {
            ++it;
            continue;
        }
        acks.push_back(std::move(it->ack));
        it = entries_.erase(it);
    }
    size_ = 0;
    for (const auto& e : entries_)
        size_ += e.text.size() + (&e == &entries_.front() ? 0 : 1);
    return acks;
}

void pending_pool::clear()
{
    entries_.clear();
    size_ = 0;
    stored_ = 0;
}

} // namespace qs

#include "delivery_log.h"

namespace qsb {

void delivery_log::sent(std::uint64_t id)
{
    if (id >= state_.size())
        state_.resize(id + 1);
    state_[id] |= sent_bit;
}

void delivery_log::acknowledged(std::uint64_t id)
{
    if (id >= state_.size())
        return;
    state_[id] |= acked;
    if (state_[id] & seen)
        return;
    ++missing_;
}

void delivery_log::refused(std::uint64_t id)
{
    if (id >= state_.size())
        return;
    state_[id] |= refused_bit;
    if (state_[id] & seen)
        ++refused_arrived_;
}

bool delivery_log::arrived(const bench_message& m, std::uint64_t stream)
{
    if (m.id >= state_.size() || !(state_[m.id] & sent_bit)) {
        ++unknown_;
        return false;
    }
    std::uint8_t& s = state_[m.id];
    if (s & seen) {
        ++duplicated_;
        return false;
    }
    s |= seen;
    ++delivered_;
    if (s & acked)
        --missing_;
    if (s & refused_bit)
        ++refused_arrived_;
    auto [it, first] = last_id_.try_emplace(stream, m.id);
    if (first)
        return true;
    if (m.id < it->second)
        ++reordered_;
    else
        it->second = m.id;
    return true;
}

void delivery_log::report(json_line& out) const
{
    out.add("lost", static_cast<long long>(missing_));
    out.add("duplicated", static_cast<long long>(duplicated_));
    out.add("reordered", static_cast<long long>(reordered_));
    out.add("refused_but_delivered", static_cast<long long>(refused_arrived_));
    out.add("unknown_delivered", static_cast<long long>(unknown_));
}

} // namespace qsb

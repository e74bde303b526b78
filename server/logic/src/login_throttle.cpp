#include "qs/server/logic/login_throttle.h"

#include <algorithm>

namespace qs {

namespace {

constexpr std::size_t most_kept = 128; // times kept per key: a minute of turns ahead and the five free fit

} // namespace

// Names or addresses sprayed: once a table has grown to twice what the last sweep left
// (4096 keys at least), those whose last time is out of the window are forgotten.
template <typename Table, typename Times>
void login_throttle::sweep(Table& t, std::size_t& sweep_at, clock::time_point now, Times times_of)
{
    if (t.size() < sweep_at)
        return;
    std::erase_if(t, [&](const auto& entry) {
        const times& ts = times_of(entry.second);
        return ts.empty() || now - ts.back() > window;
    });
    sweep_at = std::max(first_sweep, 2 * t.size());
}

void login_throttle::forget_old(times& ts, clock::time_point now)
{
    while (!ts.empty() && now - ts.front() > window)
        ts.pop_front();
}

// At once while fewer than five are recent, else a second after the last turn given.
login_throttle::clock::time_point login_throttle::next_turn(const times& recent, clock::time_point last,
                                                            clock::time_point now)
{
    if (recent.size() < static_cast<std::size_t>(free_attempts))
        return now;
    return std::max(now, last + spacing);
}

void login_throttle::insert(times& ts, clock::time_point at)
{
    ts.insert(std::upper_bound(ts.begin(), ts.end(), at), at);
    if (ts.size() > most_kept)
        ts.pop_front();
}

login_throttle::attempt login_throttle::reserve(const std::string& account, const std::string& peer,
                                                clock::time_point now)
{
    qs::lock_guard guard(lock_);
    sweep(by_account_, account_sweep_at_, now, [](const times& ts) -> const times& { return ts; });
    times& turns = by_account_[account];
    forget_old(turns, now);
    clock::time_point at = next_turn(turns, turns.empty() ? now : turns.back(), now);
    address* from = nullptr; // known once it has failed
    if (const auto found = by_peer_.find(peer); found != by_peer_.end()) {
        from = &found->second;
        forget_old(from->failures, now);
        at = std::max(at, next_turn(from->failures, from->last_turn, now));
    }
    if (at - now > longest_wait)
        return {account, peer, at, true};
    insert(turns, at);
    if (from != nullptr)
        from->last_turn = std::max(from->last_turn, at);
    return {account, peer, at, false};
}

void login_throttle::failed(const attempt& a, clock::time_point now)
{
    qs::lock_guard guard(lock_);
    sweep(by_peer_, peer_sweep_at_, now, [](const address& from) -> const times& { return from.failures; });
    address& from = by_peer_[a.peer];
    forget_old(from.failures, now);
    insert(from.failures, now);
}

void login_throttle::succeeded(const attempt& a)
{
    qs::lock_guard guard(lock_);
    const auto found = by_account_.find(a.account);
    if (found == by_account_.end())
        return;
    times& turns = found->second;
    turns.erase(turns.begin(), std::upper_bound(turns.begin(), turns.end(), a.at));
    if (turns.empty())
        by_account_.erase(found);
}

void login_throttle::cancel(const attempt& a)
{
    qs::lock_guard guard(lock_);
    const auto found = by_account_.find(a.account);
    if (found == by_account_.end())
        return;
    times& turns = found->second;
    if (const auto it = std::lower_bound(turns.begin(), turns.end(), a.at); it != turns.end() && *it == a.at)
        turns.erase(it);
    if (turns.empty())
        by_account_.erase(found);
}

} // namespace qs

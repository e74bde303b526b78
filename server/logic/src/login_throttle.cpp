#include "qs/server/login_throttle.h"

#include <algorithm>

namespace qs {

namespace {

constexpr std::size_t most_kept = 64;       // failures kept per key: the wait is capped long before
constexpr std::size_t sweep_above = 4096;  // keys kept before the old ones are swept out

} // namespace

std::size_t login_throttle::recent(table& t, const std::string& key, clock::time_point now)
{
    const auto found = t.find(key);
    if (found == t.end())
        return 0;
    failures& f = found->second;
    while (!f.empty() && now - f.front() > window)
        f.pop_front();
    if (f.empty()) {
        t.erase(found);
        return 0;
    }
    return f.size();
}

void login_throttle::note(table& t, const std::string& key, clock::time_point now)
{
    if (t.size() >= sweep_above)  // names or addresses sprayed: forget those out of the window
        std::erase_if(t, [&](const auto& entry) { return now - entry.second.back() > window; });
    failures& f = t[key];
    f.push_back(now);
    if (f.size() > most_kept)
        f.pop_front();
}

login_throttle::clock::duration login_throttle::wait_before_login(const std::string& account, const std::string& peer,
                                                                  clock::time_point now)
{
    qs::lock_guard guard(lock_);
    const std::size_t n = std::max(recent(by_account_, account, now), recent(by_peer_, peer, now));
    if (n < static_cast<std::size_t>(free_failures))
        return clock::duration::zero();
    return std::chrono::seconds(1) * (1 << std::min<std::size_t>(n - free_failures, 2));
}

void login_throttle::failed(const std::string& account, const std::string& peer, clock::time_point now)
{
    qs::lock_guard guard(lock_);
    note(by_account_, account, now);
    note(by_peer_, peer, now);
}

void login_throttle::succeeded(const std::string& account)
{
    qs::lock_guard guard(lock_);
    by_account_.erase(account);
}

} // namespace qs

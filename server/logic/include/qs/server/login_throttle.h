#pragma once

#include <chrono>
#include <deque>
#include <string>
#include <unordered_map>

#include "qs/sync/mutex.h"

namespace qs {

// Failed logins per account and per peer address within the last minute. Past five
// for either, a further login for it waits before it runs: 1 s, doubling with each
// failure, at most 4 s. A success clears its account's failures. Shared by every
// connection; owned by server_state.
class login_throttle {
public:
    using clock = std::chrono::steady_clock;

    clock::duration wait_before_login(const std::string& account, const std::string& peer, clock::time_point now);
    void failed(const std::string& account, const std::string& peer, clock::time_point now);
    void succeeded(const std::string& account);

    static constexpr int free_failures = 5;
    static constexpr clock::duration window = std::chrono::minutes(1);

private:
    using failures = std::deque<clock::time_point>;  // oldest first, at most one window
    using table = std::unordered_map<std::string, failures>;

    static std::size_t recent(table& t, const std::string& key, clock::time_point now);
    static void note(table& t, const std::string& key, clock::time_point now);

    mutex lock_;
    table by_account_ GUARDED_BY(lock_);
    table by_peer_ GUARDED_BY(lock_);
};

} // namespace qs

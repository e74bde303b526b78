#pragma once

#include <chrono>
#include <deque>
#include <string>
#include <unordered_map>

#include "qs/sync/mutex.h"

namespace qs {

// Failed logins per account and per peer address, for the whole server.
//
// An account's attempt counts as a failure from the moment it is reserved, before its
// password is checked; a success, or a check that never took place, takes it back. Five
// attempts within a minute run at once; past them the account gets one attempt a second,
// each reserving the second after the one reserved last, however many connections or
// addresses try.
//
// An address counts its failures once checked (its users' logins at once may all be
// right); past five within a minute it gets one attempt a second too.
//
// An attempt whose turn lies more than a minute ahead is refused and counts for nothing.
// Shared by every connection; owned by server_state.
class login_throttle {
public:
    using clock = std::chrono::steady_clock;

    struct attempt {
        std::string account;
        std::string peer;
        clock::time_point at; // its turn: it may not run before
        bool refused = false; // its turn lay too far ahead: it does not run
    };

    attempt reserve(const std::string& account, const std::string& peer, clock::time_point now);
    // The password was wrong (or the user unknown): the reservation stays; the address
    // counts a failure at now.
    void failed(const attempt& a, clock::time_point now);
    // The password was right: the account's failures up to this attempt are forgotten.
    void succeeded(const attempt& a);
    // No password was checked (the database was not available, the user is online):
    // the account's reservation is taken back.
    void cancel(const attempt& a);

    static constexpr int free_attempts = 5;
    static constexpr clock::duration spacing = std::chrono::seconds(1);
    static constexpr clock::duration window = std::chrono::minutes(1);
    static constexpr clock::duration longest_wait = window;

private:
    using times = std::deque<clock::time_point>; // in order: the window's, and turns ahead
    struct address {
        times failures;
        clock::time_point last_turn; // the latest turn given to it
    };

    static constexpr std::size_t first_sweep = 4096; // keys
    template <typename Table, typename Times>
    static void sweep(Table& t, std::size_t& sweep_at, clock::time_point now, Times times_of);
    static void forget_old(times& ts, clock::time_point now);
    static clock::time_point next_turn(const times& taken, clock::time_point last, clock::time_point now);
    static void insert(times& ts, clock::time_point at);

    mutex lock_;                                                          // held for table work only
    std::unordered_map<std::string, times> by_account_ GUARDED_BY(lock_); // turns reserved
    std::unordered_map<std::string, address> by_peer_ GUARDED_BY(lock_);
    std::size_t account_sweep_at_ GUARDED_BY(lock_) = first_sweep; // sizes at which the next sweeps come
    std::size_t peer_sweep_at_ GUARDED_BY(lock_) = first_sweep;
};

} // namespace qs

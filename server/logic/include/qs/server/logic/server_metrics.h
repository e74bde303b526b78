#pragma once

#include <array>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <optional>

namespace qs {

// How a command's run ended: answered, refused (its checks, or the logic's refusal of
// what it asked), or failed (the database, or a fault of the server).
enum class command_result { ok, refused, failed };
constexpr std::size_t command_result_count = 3;

// The kinds of connection the network serves.
enum class transport { tcp, tls, ws, wss, http, https };
constexpr std::size_t transport_count = 6;

// The process's counters for /metrics. Relaxed atomics: any thread adds without a lock;
// a scrape reads each on its own (figures of one scrape need not agree to the message).
struct server_metrics {
    // Commands by the interpreter's table index; the last slot: unknown words.
    static constexpr std::size_t command_slots = 24;
    std::array<std::array<std::atomic<std::uint64_t>, command_result_count>, command_slots> commands{};
    std::array<std::atomic<std::int64_t>, transport_count> connections{}; // open now
    std::atomic<std::uint64_t> messages_delivered{0};                     // put into a logged-in user's session
    std::atomic<std::uint64_t> messages_stored{0};                        // appended to an offline user's stored box
    std::atomic<std::uint64_t> messages_refused{0}; // not taken: box full, too long, no such user, '|'
    std::atomic<std::uint64_t> login_failures{0};   // a wrong name or password
    std::atomic<std::uint64_t> logins_throttled{0}; // refused for too many failed logins
};

// The process's counters; live as long as the process.
server_metrics& metrics() noexcept;

inline void add_one(std::atomic<std::uint64_t>& counter) noexcept
{
    counter.fetch_add(1, std::memory_order_relaxed);
}

// Counts one connection of a kind while it lives (none: not counted). Owned by the connection.
class connection_count {
public:
    explicit connection_count(std::optional<transport> t) noexcept
        : slot_(t ? &metrics().connections[static_cast<std::size_t>(*t)] : nullptr)
    {
        if (slot_ != nullptr)
            slot_->fetch_add(1, std::memory_order_relaxed);
    }
    ~connection_count() { release(); }
    // The connection ended before its owner goes: counted no more. By the owner's thread.
    void release() noexcept
    {
        if (slot_ != nullptr)
            slot_->fetch_sub(1, std::memory_order_relaxed);
        slot_ = nullptr;
    }
    connection_count(const connection_count&) = delete;
    connection_count& operator=(const connection_count&) = delete;

private:
    std::atomic<std::int64_t>* slot_;
};

} // namespace qs

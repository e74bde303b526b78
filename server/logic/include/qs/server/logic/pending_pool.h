#pragma once

#include <chrono>
#include <cstddef>
#include <list>
#include <string>
#include <vector>

#include "qs/server/logic/delivery_ack.h"

namespace qs {

// Pending message entries of one kind, oldest first. Their text form is the entries
// joined by "|". The oldest stored() entries are kept in the database as well (they
// came from there at login, or were stored since); the others live only here, each
// with the acknowledgement its sender waits for, if any. Not thread-safe: guarded as a
// field of its session.
class pending_pool {
public:
    using time_point = std::chrono::steady_clock::time_point;

    // Entries taken out, to hand out or to put back.
    struct taken {
        std::vector<std::string> entries;
        std::vector<ack_handle> acks; // beside entries: what their senders wait for
        std::size_t stored = 0;       // how many of them were still in the database
        std::string text() const;
        // The entries are safe (they left in a reply, or were stored): their senders hear.
        void confirm();
    };

    bool empty() const noexcept { return entries_.empty(); }
    // Length of the text form.
    std::size_t size() const noexcept { return size_; }
    // The text form's length with text appended as one more entry.
    std::size_t size_with(const std::string& text) const noexcept;
    std::size_t stored() const noexcept { return stored_; }
    bool has_unstored() const noexcept { return stored_ < entries_.size(); }

    // since: when it came, for the storing of those that waited long enough; entries
    // put back count as old.
    void push(std::string text, ack_handle ack = nullptr, time_point since = {});
    // Adds every entry of a pool text read from the database (cut at "|"), counted as
    // stored, behind the stored entries and before those kept only here; the empty text
    // adds nothing.
    void push_stored(const std::string& text);
    // The text form; the pool stays as it is.
    std::string text() const;
    // The text form of the stored entries: what the database holds for this pool.
    std::string stored_text() const;
    // The entries kept only here, and their text form.
    std::vector<std::string> unstored() const;
    std::string unstored_text() const;
    // How many of the oldest entries kept only here came at cutoff or before, and the
    // text form of the first count of them.
    std::size_t unstored_until(time_point cutoff) const;
    std::string unstored_text(std::size_t count) const;
    // When the oldest entry kept only here came; the pool has one.
    time_point oldest_unstored() const;
    // Removes the oldest entries whose text form fits in room characters (at least one
    // entry when the oldest alone fits, none otherwise).
    taken take(std::size_t room);
    // Puts entries taken out back at the head, in their order.
    void put_back(const taken& t);
    // Every entry is now stored in the database; what their senders wait for, to confirm.
    std::vector<ack_handle> mark_all_stored();
    // Storing the unstored entries: they count as stored from now on, so that no hand-out
    // takes them without the user's lock; finished, or undone, by the two below. Returns
    // how many.
    std::size_t begin_storing();
    // The same for the oldest count of them.
    std::size_t begin_storing(std::size_t count);
    // They are stored: what their senders wait for, to confirm.
    std::vector<ack_handle> stored_after(std::size_t first, std::size_t count);
    // They could not be stored: unstored again, and those a sender waits for are taken
    // out; their acknowledgements, to withdraw.
    std::vector<ack_handle> not_stored(std::size_t first, std::size_t count);
    void clear();

private:
    struct entry {
        std::string text;
        ack_handle ack;
        time_point since{};
    };
    std::string join(std::size_t first, std::size_t last) const;

    std::list<entry> entries_; // a list: an empty pool allocates nothing
    std::size_t size_ = 0;
    std::size_t stored_ = 0;
};

} // namespace qs

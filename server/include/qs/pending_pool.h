#pragma once

#include <deque>
#include <string>

namespace qs {

// Pending message entries of one kind, oldest first. Their text form is the entries
// joined by "|". Guarded by the lock of the session that holds it.
class pending_pool {
public:
    bool empty() const noexcept { return entries_.empty(); }
    // Length of the text form.
    std::size_t size() const noexcept { return size_; }
    // The text form's length with entry appended.
    std::size_t size_with(const std::string& entry) const noexcept;

    void push(std::string entry);
    // Appends every entry of a stored pool text (cut at "|"); the empty text adds nothing.
    void push_text(const std::string& text);
    // The text form; the pool stays as it is.
    std::string text() const;
    // Removes and returns the oldest entries whose text form fits in room characters
    // (at least one entry when the oldest alone fits, none otherwise).
    std::string take(std::size_t room);
    void clear();

private:
    std::deque<std::string> entries_;
    std::size_t size_ = 0;
};

} // namespace qs

#pragma once

#include <cstdint>
#include <unordered_map>
#include <vector>

#include "json_line.h"
#include "message_text.h"

namespace qsb {

// What became of each message sent: acknowledged or refused by the server, and how
// often it arrived. Ids are small numbers, each sent once. Reordering is judged within
// a stream (one sender to one receiver).
class delivery_log {
public:
    void sent(std::uint64_t id);
    void acknowledged(std::uint64_t id);
    void refused(std::uint64_t id);
    // Records an arrival; false when it is not the first of a message sent.
    bool arrived(const bench_message& m, std::uint64_t stream);

    // Acknowledged messages that have not arrived (yet).
    std::uint64_t missing() const { return missing_; }
    std::uint64_t delivered() const { return delivered_; }
    std::uint64_t duplicated() const { return duplicated_; }
    std::uint64_t reordered() const { return reordered_; }

    // lost, duplicated, reordered, and the faults that should never happen.
    void report(json_line& out) const;

private:
    enum bits : std::uint8_t { acked = 1, refused_bit = 2, seen = 4, sent_bit = 8 };
    std::vector<std::uint8_t> state_;
    std::unordered_map<std::uint64_t, std::uint64_t> last_id_; // by stream
    std::uint64_t missing_ = 0, delivered_ = 0, duplicated_ = 0, reordered_ = 0;
    std::uint64_t unknown_ = 0, refused_arrived_ = 0;
};

} // namespace qsb

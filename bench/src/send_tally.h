#pragma once

#include <cstdint>
#include <map>
#include <string>

#include "delivery_log.h"
#include "json_line.h"

namespace qsb {

// The server's answers to sendmessage, and what became of each message.
struct send_tally {
    void sent(std::uint64_t id)
    {
        ++sent_count;
        log.sent(id);
    }
    // Counts the reply to message id: "Ok." acknowledges it, anything else refuses it.
    void replied(std::uint64_t id, const std::string& reply);
    // sent, acknowledged, refused, refusals, then the delivery log's counts.
    void report(json_line& out) const;

    delivery_log log;
    long long sent_count = 0, acknowledged = 0, refused = 0;
    std::map<std::string, long long> refusals; // by reply text
};

} // namespace qsb

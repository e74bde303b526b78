#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace qs::cluster_wire {

// What the nodes of a cluster tell each other over the bus, and the subjects they go
// to. Texts are carried byte for byte.

// An entry for a receiver whose session the addressed node holds. answer: the sending
// node waits for a settlement (to from's settled subject) before its sender hears "Ok.".
struct delivery {
    std::uint64_t id = 0;
    std::string from; // the sending node
    int kind = 0;     // a pool_kind
    std::string receiver;
    std::string entry;
    bool answer = false;
};

// A delivery settled: safe (handed out or stored), else refused with a qsexcpt code,
// or failed otherwise (refusal -1).
struct settlement {
    std::uint64_t id = 0;
    bool safe = false;
    int refusal = -1;
};

// A user's status changed on node; contacts hear.
struct status_change {
    std::string node;
    std::string name;
    std::string status;
    std::string contacts;
};

std::string encode(const delivery& d);
// The same, from the sender's own strings, without copying them first.
std::string encode_delivery(std::uint64_t id, std::string_view from, int kind, std::string_view receiver,
                            std::string_view entry, bool answer);
std::string encode(const settlement& s);
std::string encode(const status_change& s);
// Nothing when data is not such an object.
std::optional<delivery> decode_delivery(const std::string& data);
std::optional<settlement> decode_settlement(const std::string& data);
std::optional<status_change> decode_status_change(const std::string& data);

// Subjects: a node's name becomes one token whatever it holds ('.', wildcards, spaces).
std::string node_token(const std::string& node);
// Deliveries to node for receiver go to one of lanes subjects, the same for every
// entry to receiver (so that they keep their order), whichever node sends.
std::string deliver_subject(const std::string& node, std::size_t lane);
std::size_t lane_of(const std::string& receiver, std::size_t lanes);
std::string settled_subject(const std::string& node);
inline constexpr const char* status_subject = "qs.status";

} // namespace qs::cluster_wire

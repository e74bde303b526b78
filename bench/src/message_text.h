#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace qsb {

// What a bench message carries in its text: "s<sender>n<id>t<send time ns>".
struct bench_message {
    std::uint32_t sender = 0;
    std::uint64_t id = 0;
    std::int64_t sent_ns = 0;
};

std::string compose(const bench_message& m);
std::optional<bench_message> parse_message(std::string_view text);

// The label a select reply starts with.
inline constexpr std::string_view select_label = "getmessage: ";

// The texts of the entries 'SENDER says: "TEXT" on STAMP.' joined by '|' in a
// getmessage reply (or a select reply without its label). Entries of another form
// are counted in malformed.
std::vector<std::string_view> entry_texts(std::string_view entries, std::size_t& malformed);

} // namespace qsb

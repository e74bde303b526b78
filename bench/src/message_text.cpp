#include "message_text.h"

#include <charconv>

namespace qsb {

namespace {

// Reads the number after tag at the front of text; false when it is not there.
template <typename T>
bool take_number(std::string_view& text, char tag, T& value)
{
    if (text.empty() || text.front() != tag)
        return false;
    const auto [end, ec] = std::from_chars(text.data() + 1, text.data() + text.size(), value);
    if (ec != std::errc() || end == text.data() + 1)
        return false;
    text.remove_prefix(static_cast<std::size_t>(end - text.data()));
    return true;
}

} // namespace

std::string compose(const bench_message& m)
{
    return "s" + std::to_string(m.sender) + "n" + std::to_string(m.id) + "t" + std::to_string(m.sent_ns);
}

std::optional<bench_message> parse_message(std::string_view text)
{
    bench_message m;
    if (take_number(text, 's', m.sender) && take_number(text, 'n', m.id) && take_number(text, 't', m.sent_ns) &&
        text.empty())
        return m;
    return std::nullopt;
}

std::vector<std::string_view> entry_texts(std::string_view entries, std::size_t& malformed)
{
    constexpr std::string_view says = " says: \"";
    std::vector<std::string_view> texts;
    while (!entries.empty()) {
        const std::size_t bar = entries.find('|');
        const std::string_view entry = entries.substr(0, bar);
        entries = bar == std::string_view::npos ? std::string_view() : entries.substr(bar + 1);
        const std::size_t open = entry.find(says);
        const std::size_t close = open == std::string_view::npos ? open : entry.find('"', open + says.size());
        if (close == std::string_view::npos || entry.substr(close).rfind("\" on ", 0) != 0) {
            ++malformed;
            continue;
        }
        texts.push_back(entry.substr(open + says.size(), close - open - says.size()));
    }
    return texts;
}

} // namespace qsb

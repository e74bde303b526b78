#pragma once

#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace qsb {

// One JSON object on one line, its fields in the order they were added.
class json_line {
public:
    json_line& add(std::string_view key, long long value);
    json_line& add(std::string_view key, double value); // non-finite: null
    json_line& add(std::string_view key, std::optional<double> value);
    json_line& add(std::string_view key, std::string_view value);
    json_line& add(std::string_view key, const std::map<std::string, long long>& counts);
    json_line& add_null(std::string_view key) { return add_raw(key, "null"); }

    std::string str() const;
    // "key  value" lines for people.
    std::string summary() const;

private:
    json_line& add_raw(std::string_view key, std::string value);
    std::vector<std::pair<std::string, std::string>> fields_;
};

// s as a JSON string literal.
std::string json_quote(std::string_view s);

} // namespace qsb

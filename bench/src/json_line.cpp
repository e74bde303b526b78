#include "json_line.h"

#include <cmath>
#include <cstdio>

namespace qsb {

std::string json_quote(std::string_view s)
{
    std::string out = "\"";
    for (char c : s) {
        if (c == '"' || c == '\\') {
            out += '\\';
            out += c;
        } else if (static_cast<unsigned char>(c) < 0x20) {
            char esc[8];
            std::snprintf(esc, sizeof esc, "\\u%04x", c);
            out += esc;
        } else {
            out += c;
        }
    }
    return out + "\"";
}

json_line& json_line::add_raw(std::string_view key, std::string value)
{
    fields_.emplace_back(std::string(key), std::move(value));
    return *this;
}

json_line& json_line::add(std::string_view key, long long value)
{
    return add_raw(key, std::to_string(value));
}

json_line& json_line::add(std::string_view key, double value)
{
    if (!std::isfinite(value))
        return add_null(key);
    char text[64];
    std::snprintf(text, sizeof text, "%.3f", value);
    return add_raw(key, text);
}

json_line& json_line::add(std::string_view key, std::optional<double> value)
{
    return value ? add(key, *value) : add_null(key);
}

json_line& json_line::add(std::string_view key, std::string_view value)
{
    return add_raw(key, json_quote(value));
}

json_line& json_line::add(std::string_view key, const std::map<std::string, long long>& counts)
{
    std::string obj = "{";
    for (const auto& [text, n] : counts)
        obj += (obj.size() > 1 ? "," : "") + json_quote(text) + ":" + std::to_string(n);
    return add_raw(key, obj + "}");
}

std::string json_line::str() const
{
    std::string out = "{";
    for (const auto& [key, value] : fields_)
        out += (out.size() > 1 ? "," : "") + json_quote(key) + ":" + value;
    return out + "}";
}

std::string json_line::summary() const
{
    std::string out;
    for (const auto& [key, value] : fields_) {
        out += "  " + key + std::string(key.size() < 24 ? 24 - key.size() : 1, ' ') + value + "\n";
    }
    return out;
}

} // namespace qsb

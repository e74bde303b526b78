#include "sqlite_busy_wait.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <odbcinst.h>
#include <sstream>
#include <vector>

namespace qs::odbc {

namespace {

constexpr long driver_default_ms = 100000;

std::string lower(std::string text)
{
    std::transform(text.begin(), text.end(), text.begin(), [](unsigned char c) { return std::tolower(c); });
    return text;
}

std::vector<std::string> pairs_of(const std::string& connect_string)
{
    std::vector<std::string> pairs;
    std::istringstream in(connect_string);
    for (std::string pair; std::getline(in, pair, ';');)
        if (!pair.empty())
            pairs.push_back(pair);
    return pairs;
}

std::string key_of(const std::string& pair)
{
    return lower(pair.substr(0, pair.find('=')));
}

// The connect string's value for key, else its data source's; "" when neither has one.
std::string setting(const std::vector<std::string>& pairs, const std::string& key)
{
    std::string dsn;
    for (const auto& pair : pairs) {
        const auto eq = pair.find('=');
        if (eq == std::string::npos)
            continue;
        if (key_of(pair) == key)
            return pair.substr(eq + 1);
        if (key_of(pair) == "dsn")
            dsn = pair.substr(eq + 1);
    }
    char value[256] = {};
    if (dsn.empty() || SQLGetPrivateProfileString(dsn.c_str(), key.c_str(), "", value, sizeof value, "odbc.ini") <= 0)
        return "";
    return value;
}

} // namespace

std::string with_busy_wait_limit(const std::string& connect_string, long limit_ms)
{
    const auto pairs = pairs_of(connect_string);
    if (lower(setting(pairs, "driver")).find("sqlite") == std::string::npos)
        return connect_string;
    const std::string busy = setting(pairs, "timeout");
    if ((busy.empty() ? driver_default_ms : std::atol(busy.c_str())) <= limit_ms)
        return connect_string;
    std::string limited;
    for (const auto& pair : pairs)
        if (key_of(pair) != "timeout")
            limited += pair + ";";
    return limited + "Timeout=" + std::to_string(limit_ms) + ";";
}

} // namespace qs::odbc

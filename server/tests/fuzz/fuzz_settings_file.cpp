// Reads the input as a settings file, and a file written from settings the input picks,
// checking ranges, complaints, lines that must change nothing, and the round trip.
#include <algorithm>
#include <climits>
#include <cstddef>
#include <cstdint>
#include <iterator>
#include <string>
#include <string_view>
#include <vector>

#include <arpa/inet.h>
#include <fuzzer/FuzzedDataProvider.h>

#include "captured_console.h"
#include "fuzz_check.h"
#include "memory_file.h"
#include "qs/net/frame.h"
#include "qs/server/logic/cluster_address.h"
#include "qs/server/logic/log.h"
#include "qs/server/logic/settings.h"
#include "qs/server/logic/settings_file.h"
#include "qs/server/logic/web_origin.h"

namespace {

struct numeric_key {
    const char* key;
    int qs::settings::*field;
    long long low, high;
};

// The values the server can run with: the README's ranges; a port is 1 to 65535 (the TLS
// and web ones 0 for none), a request buffer holds 64 bytes up to a whole frame, the backlog is any int.
const numeric_key numeric_keys[] = {
    {"port", &qs::settings::port, 1, 65535},
    {"backlog", &qs::settings::backlog, INT_MIN, INT_MAX},
    {"buff_size", &qs::settings::buff_size, 64, static_cast<long long>(qs::max_frame_size)},
    {"sleep_ticks", &qs::settings::sleep_ticks, 1, 1LL << 30},
    {"max_field_len", &qs::settings::max_field_len, 1, 1LL << 30},
    {"db_connections", &qs::settings::db_connections, 1, 64},
    {"db_timeout", &qs::settings::db_timeout, 1, 3600},
    {"store_retry", &qs::settings::store_retry, 0, 3600},
    {"io_threads", &qs::settings::io_threads, 1, 64},
    {"max_connections", &qs::settings::max_connections, 1, 1000000},
    {"frame_timeout", &qs::settings::frame_timeout, 1, 3600},
    {"tls_port", &qs::settings::tls_port, 0, 65535},
    {"http_port", &qs::settings::http_port, 0, 65535},
    {"https_port", &qs::settings::https_port, 0, 65535},
    {"ws_ping", &qs::settings::ws_ping, 1, 3600},
    {"node_lease", &qs::settings::node_lease, 3, 3600},
    {"spill_delay_ms", &qs::settings::spill_delay_ms, 0, 60000},
    {"metrics_port", &qs::settings::metrics_port, 0, 65535},
};

struct text_key {
    const char* key;
    std::string qs::settings::*field;
};

const text_key text_keys[] = {
    {"log_path", &qs::settings::log_path},
    {"tls_certificate", &qs::settings::tls_certificate},
    {"tls_private_key", &qs::settings::tls_private_key},
    {"web_root", &qs::settings::web_root},
};

// The whole value: a NUL may not end an address early.
bool is_ip_address(const std::string& text)
{
    unsigned char bytes[sizeof(in6_addr)];
    return text.find('\0') == std::string::npos &&
           (::inet_pton(AF_INET, text.c_str(), bytes) == 1 || ::inet_pton(AF_INET6, text.c_str(), bytes) == 1);
}

bool is_storage(const std::string& text)
{
    return text == "plain" || text == "hashed";
}

// An address the input picks, in the spelling inet_ntop gives.
std::string some_address(FuzzedDataProvider& in)
{
    const bool v6 = in.ConsumeBool();
    unsigned char bytes[sizeof(in6_addr)] = {};
    in.ConsumeData(bytes, v6 ? sizeof(in6_addr) : sizeof(in_addr));
    char text[INET6_ADDRSTRLEN];
    return ::inet_ntop(v6 ? AF_INET6 : AF_INET, bytes, text, sizeof text);
}

std::string some_storage(FuzzedDataProvider& in)
{
    return in.ConsumeBool() ? "hashed" : "plain";
}

constexpr const char* level_names[] = {"error", "warning", "info", "debug"};

bool is_level(const std::string& text)
{
    return std::find(std::begin(level_names), std::end(level_names), text) != std::end(level_names);
}

std::string some_level(FuzzedDataProvider& in)
{
    return in.PickValueInArray(level_names);
}

std::string name_of(qs::log_level level)
{
    return level_names[static_cast<int>(level)];
}

bool is_origin_list(const std::string& text)
{
    return qs::parse_origin_list(text).has_value();
}

std::string joined(const std::vector<std::string>& origins)
{
    std::string out;
    for (const auto& o : origins)
        out += (out.empty() ? "" : ",") + o;
    return out;
}

// Up to three origins in the spelling the reader keeps: lower case, no default port.
std::string some_origins(FuzzedDataProvider& in)
{
    std::vector<std::string> origins(in.ConsumeIntegralInRange<std::size_t>(0, 3));
    for (auto& o : origins) {
        const bool tls = in.ConsumeBool();
        o = tls ? "https://" : "http://";
        const int letters = in.ConsumeIntegralInRange(1, 12);
        for (int i = 0; i < letters; ++i)
            o += static_cast<char>('a' + in.ConsumeIntegralInRange(0, 25));
        const int port = in.ConsumeIntegralInRange(0, 65535);
        if (port != 0 && port != (tls ? 443 : 80))
            o += ":" + std::to_string(port);
    }
    return joined(origins);
}

bool is_url_list(const std::string& text)
{
    return qs::parse_cluster_urls(text).has_value();
}

// Up to three NATS addresses, as the reader keeps them.
std::string some_urls(FuzzedDataProvider& in)
{
    std::vector<std::string> urls(in.ConsumeIntegralInRange<std::size_t>(0, 3));
    for (auto& u : urls) {
        u = in.ConsumeBool() ? "tls://" : "nats://";
        const int letters = in.ConsumeIntegralInRange(1, 12);
        for (int i = 0; i < letters; ++i)
            u += static_cast<char>('a' + in.ConsumeIntegralInRange(0, 25));
        u += ":" + std::to_string(in.ConsumeIntegralInRange(1, 65535));
    }
    return joined(urls);
}

// Empty: the default, host name and port.
bool is_name(const std::string& text)
{
    return text.empty() || qs::is_node_name(text);
}

std::string some_name(FuzzedDataProvider& in)
{
    static constexpr char allowed[] = "abcXYZ019._:-";
    std::string name(static_cast<std::size_t>(in.ConsumeIntegralInRange(1, 64)), 'n');
    for (auto& c : name)
        c = allowed[in.ConsumeIntegralInRange<std::size_t>(0, sizeof allowed - 2)];
    return name;
}

// The text settings whose value is checked: one that fails keeps the default, with a complaint.
struct checked_key {
    const char* key;
    bool (*valid)(const std::string&);
    std::string (*some_valid)(FuzzedDataProvider&);
};

const checked_key checked_keys[] = {
    {"bind_address", is_ip_address, some_address},
    {"metrics_address", is_ip_address, some_address},
    {"password_storage", is_storage, some_storage},
    {"web_origins", is_origin_list, some_origins},
    {"cluster_url", is_url_list, some_urls},
    {"node_name", is_name, some_name},
    {"log_level", is_level, some_level},
};

// The value a checked key left in the settings, as the file would spell it.
std::string value_of(const qs::settings& values, std::string_view key)
{
    if (key == "bind_address")
        return values.bind_address;
    if (key == "metrics_address")
        return values.metrics_address;
    if (key == "web_origins")
        return joined(values.web_origins);
    if (key == "cluster_url")
        return joined(values.cluster_urls);
    if (key == "node_name")
        return values.node_name;
    if (key == "log_level")
        return name_of(values.least_log_level);
    return values.hashed_passwords ? "hashed" : "plain";
}

void set_value_of(qs::settings& values, std::string_view key, const std::string& value)
{
    if (key == "bind_address")
        values.bind_address = value;
    else if (key == "metrics_address")
        values.metrics_address = value;
    else if (key == "web_origins")
        values.web_origins = *qs::parse_origin_list(value);
    else if (key == "cluster_url")
        values.cluster_urls = *qs::parse_cluster_urls(value);
    else if (key == "node_name")
        values.node_name = value;
    else if (key == "log_level")
        qs::parse_log_level(value, values.least_log_level);
    else
        values.hashed_passwords = value == "hashed";
}

bool is_known(const std::string& key)
{
    const auto named = [&](const auto& k) { return key == k.key; };
    return std::any_of(std::begin(numeric_keys), std::end(numeric_keys), named) ||
           std::any_of(std::begin(text_keys), std::end(text_keys), named) ||
           std::any_of(std::begin(checked_keys), std::end(checked_keys), named);
}

struct reading {
    qs::settings values;
    std::vector<std::string> complaints;

    bool operator==(const reading& other) const
    {
        for (const auto& k : numeric_keys)
            if (values.*k.field != other.values.*k.field)
                return false;
        for (const auto& k : text_keys)
            if (values.*k.field != other.values.*k.field)
                return false;
        for (const auto& k : checked_keys)
            if (value_of(values, k.key) != value_of(other.values, k.key))
                return false;
        return complaints == other.complaints;
    }
};

reading read(std::string_view text, std::vector<std::string>* notices = nullptr)
{
    static qs::fuzz::memory_file file;
    file.write(text);
    qs::fuzz::console_output().clear();
    reading r;
    r.complaints = qs::read_settings(file.path(), r.values, notices);
    QS_FUZZ_CHECK(qs::fuzz::console_output() == "Initializing settings...Ok.\n");
    return r;
}

bool complains_of(const std::string& complaint, std::string_view key)
{
    return complaint.starts_with("Setting " + std::string(key) + "=");
}

template <typename Key>
long complaints_of(const reading& r, const Key& k)
{
    return std::count_if(r.complaints.begin(), r.complaints.end(),
                         [&](const std::string& c) { return complains_of(c, k.key); });
}

// The ports take "auto", port takes 0 too: the kernel picks.
bool is_port(const numeric_key& k)
{
    return std::string_view(k.key).ends_with("port");
}

// Every value in range or valid; a complaint names a key, once, and that key kept its default.
void check_sound(const reading& r)
{
    const qs::settings defaults;
    for (const auto& k : numeric_keys) {
        const int value = r.values.*k.field;
        QS_FUZZ_CHECK((k.low <= value && value <= k.high) || (is_port(k) && value == qs::settings::any_port));
        const auto n = complaints_of(r, k);
        QS_FUZZ_CHECK(n <= 1);
        QS_FUZZ_CHECK(n == 0 || value == defaults.*k.field);
    }
    for (const auto& k : checked_keys) {
        const std::string value = value_of(r.values, k.key);
        QS_FUZZ_CHECK(k.valid(value));
        const auto n = complaints_of(r, k);
        QS_FUZZ_CHECK(n <= 1);
        QS_FUZZ_CHECK(n == 0 || value == value_of(defaults, k.key));
    }
    for (const auto& c : r.complaints)
        QS_FUZZ_CHECK(std::any_of(std::begin(numeric_keys), std::end(numeric_keys),
                                  [&](const numeric_key& k) { return complains_of(c, k.key); }) ||
                      std::any_of(std::begin(checked_keys), std::end(checked_keys),
                                  [&](const checked_key& k) { return complains_of(c, k.key); }));
}

// A line no reader may act on, made from a line of the file (cut to 100 bytes): behind a
// '#' or a space, with its '=' taken out, or with its key lengthened.
std::string unusable_line(std::string_view line, std::size_t kind)
{
    std::string s(line.substr(0, 100));
    switch (kind % 4) {
    case 0:
        return '#' + s;
    case 1:
        std::erase(s, '=');
        return s;
    case 2:
        return ' ' + s;
    default:
        if (const auto eq = s.find('='); eq != std::string::npos)
            s.insert(eq, "_");
        return s;
    }
}

std::string with_unusable_lines(std::string_view text)
{
    std::string out;
    for (std::size_t at = 0, kind = 0;; ++kind) {
        const std::size_t end = std::min(text.find('\n', at), text.size());
        out += unusable_line(text.substr(at, end - at), kind) + '\n';
        out += text.substr(at, end + 1 - at);
        if (end >= text.size())
            return out;
        at = end + 1;
    }
}

void check_file(std::string_view text)
{
    const reading r = read(text);
    check_sound(r);
    QS_FUZZ_CHECK(read(with_unusable_lines(text)) == r);
    const std::string file(text);
    QS_FUZZ_CHECK(read(file + '\n' + file) == r); // the last of equal lines wins
    // Reading stops at the first line longer than 1023 bytes.
    QS_FUZZ_CHECK(read(file + '\n' + std::string(1024, 'x') + "\nport=1\nlog_path=past-the-long-line\n") == r);
}

std::string number_text(long long value, std::size_t zeros)
{
    const std::string digits = std::to_string(value < 0 ? -value : value);
    return (value < 0 ? "-" : "") + std::string(zeros, '0') + digits;
}

// Often a bound.
long long value_in_range(FuzzedDataProvider& in, const numeric_key& k)
{
    switch (in.ConsumeIntegralInRange(0, 2)) {
    case 0:
        return k.low;
    case 1:
        return k.high;
    default:
        return in.ConsumeIntegralInRange(k.low, k.high);
    }
}

// Often just past a bound.
std::string out_of_range_text(FuzzedDataProvider& in, const numeric_key& k)
{
    const long long past = in.ConsumeBool() ? 1 : in.ConsumeIntegralInRange<long long>(1, 1LL << 40);
    switch (in.ConsumeIntegralInRange(0, 2)) {
    case 0: // port=0 is no error: the kernel picks
        return number_text(k.low - past == 0 && is_port(k) ? -1 : k.low - past, 0);
    case 1:
        return number_text(k.high + past, 0);
    default:
        return std::string(in.ConsumeIntegralInRange<std::size_t>(20, 30), '9'); // past any long
    }
}

std::string ignored_line(FuzzedDataProvider& in, const std::string& key)
{
    switch (in.ConsumeIntegralInRange(0, 6)) {
    case 0:
        return "";
    case 1:
        return "# " + key + "=1";
    case 2:
        return key;
    case 3:
        return " " + key + "=1";
    case 4:
        return key + " =1";
    case 5:
        return key + "_=1";
    default:
        return "x" + key + "=1";
    }
}

// A text value cannot hold a newline nor end with a CR, which the reader takes for CRLF.
std::string text_value(FuzzedDataProvider& in)
{
    std::string value = in.ConsumeRandomLengthString(200);
    std::erase(value, '\n');
    while (!value.empty() && value.back() == '\r')
        value.pop_back();
    return value;
}

// A settings file the input picks, with what reading it must give.
class written_file {
public:
    explicit written_file(FuzzedDataProvider& in) : in_(in)
    {
        for (const auto& k : numeric_keys)
            write_number(k);
        for (const auto& k : text_keys)
            write_text(k);
        for (const auto& k : checked_keys)
            write_checked(k);
    }

    std::string text;
    qs::settings expected;
    std::vector<std::string> refused_keys;
    std::vector<std::string> unknown_keys; // each once

private:
    void put(const std::string& line) { text += line + (in_.ConsumeBool() ? "\r\n" : "\n"); }

    // A line that sets nothing: a key the server does not know, or no key at all.
    void put_ignored(const std::string& key)
    {
        const std::string line = ignored_line(in_, key);
        if (const auto eq = line.find('='); eq != std::string::npos && line[0] != '#') // a comment says nothing
            unknown_keys.push_back(line.substr(0, eq));
        put(line);
    }

    void put_value(const numeric_key& k)
    {
        if (is_port(k) && in_.ConsumeIntegralInRange(0, 3) == 0) {
            put(std::string(k.key) + "=auto");
            expected.*k.field = qs::settings::any_port;
            return;
        }
        const long long value = value_in_range(in_, k);
        put(std::string(k.key) + "=" + number_text(value, in_.ConsumeIntegralInRange<std::size_t>(0, 3)));
        expected.*k.field = static_cast<int>(value);
    }

    void write_number(const numeric_key& k)
    {
        put_ignored(k.key);
        switch (in_.ConsumeIntegralInRange(0, 3)) {
        case 0: // absent: the default stays
            break;
        case 1:
            put_value(k);
            break;
        case 2:
            put(std::string(k.key) + "=" + out_of_range_text(in_, k));
            refused_keys.push_back(k.key);
            break;
        default: // a value an equal key later overrides
            put(std::string(k.key) + "=" + out_of_range_text(in_, k));
            put_value(k);
        }
    }

    void write_text(const text_key& k)
    {
        put_ignored(k.key);
        if (!in_.ConsumeBool())
            return;
        const std::string value = text_value(in_);
        put(std::string(k.key) + "=" + value);
        expected.*k.field = value;
    }

    void put_valid(const checked_key& k)
    {
        const std::string value = k.some_valid(in_);
        put(std::string(k.key) + "=" + value);
        set_value_of(expected, k.key, value);
    }

    std::string invalid_value(const checked_key& k)
    {
        std::string value = text_value(in_);
        if (k.valid(value))
            value += '!';
        return value;
    }

    void write_checked(const checked_key& k)
    {
        put_ignored(k.key);
        switch (in_.ConsumeIntegralInRange(0, 3)) {
        case 0:
            break;
        case 1:
            put_valid(k);
            break;
        case 2:
            put(std::string(k.key) + "=" + invalid_value(k));
            refused_keys.push_back(k.key);
            break;
        default:
            put(std::string(k.key) + "=" + invalid_value(k));
            put_valid(k);
        }
    }

    FuzzedDataProvider& in_;
};

std::string trimmed(const std::string& s)
{
    const auto first = s.find_first_not_of(" \t");
    return first == std::string::npos ? "" : s.substr(first, s.find_last_not_of(" \t") - first + 1);
}

// One notice for each unknown key; it hints at the spaces when they are all that is wrong.
void check_notices(const std::vector<std::string>& notices, const std::vector<std::string>& unknown_keys)
{
    QS_FUZZ_CHECK(notices.size() == unknown_keys.size());
    for (const auto& key : unknown_keys) {
        const std::string hint = "Setting '" + key + "=";
        const std::string plain = "Setting '" + key + "' is not known and is ignored.";
        const bool hinted = is_known(trimmed(key));
        QS_FUZZ_CHECK(std::count_if(notices.begin(), notices.end(), [&](const std::string& n) {
                          return hinted ? n.starts_with(hint) && n.find("no spaces around '='") != std::string::npos
                                        : n == plain;
                      }) == 1);
    }
}

void check_round_trip(FuzzedDataProvider& in)
{
    const written_file w(in);
    std::vector<std::string> notices;
    const reading r = read(w.text, &notices);
    check_sound(r);
    QS_FUZZ_CHECK((r == reading{w.expected, r.complaints}));
    QS_FUZZ_CHECK(r.complaints.size() == w.refused_keys.size()); // at most one a key: one for each
    for (const auto& key : w.refused_keys)
        QS_FUZZ_CHECK(std::any_of(r.complaints.begin(), r.complaints.end(),
                                  [&](const std::string& c) { return complains_of(c, key); }));
    check_notices(notices, w.unknown_keys);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    check_file({reinterpret_cast<const char*>(data), size});
    FuzzedDataProvider in(data, size);
    check_round_trip(in);
    return 0;
}

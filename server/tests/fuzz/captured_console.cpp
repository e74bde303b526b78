#include "captured_console.h"

#include "qs/server/logic/log.h"

namespace qs {

namespace fuzz {

std::string& console_output()
{
    static std::string output;
    return output;
}

} // namespace fuzz

bool parse_log_level(const std::string& word, log_level& level)
{
    const std::pair<const char*, log_level> names[] = {{"error", log_level::error},
                                                       {"warning", log_level::warning},
                                                       {"info", log_level::info},
                                                       {"debug", log_level::debug}};
    for (const auto& [name, l] : names)
        if (word == name) {
            level = l;
            return true;
        }
    return false;
}
void set_log_level(log_level) {}
void open_log(const std::string&) {}
void reopen_log() {}
void close_log() {}
void log_text(const std::string&) {}
void log_line(const std::string&) {}
void log_line(log_level, const std::string&) {}
void log_warning(const std::string&) {}
void log_error(const std::string&) {}
void log_lines(log_level, const std::vector<std::string>&) {}

void console_text(const std::string& text)
{
    fuzz::console_output() += text;
}

void console_line(const std::string& text)
{
    fuzz::console_output() += text + '\n';
}

} // namespace qs

#include "captured_console.h"

#include "qs/server/log.h"

namespace qs {

namespace fuzz {

std::string& console_output()
{
    static std::string output;
    return output;
}

} // namespace fuzz

void open_log(const std::string&) {}
void close_log() {}
void log_text(const std::string&) {}
void log_line(const std::string&) {}
void log_lines(const std::vector<std::string>&) {}

void console_text(const std::string& text)
{
    fuzz::console_output() += text;
}

void console_line(const std::string& text)
{
    fuzz::console_output() += text + '\n';
}

} // namespace qs

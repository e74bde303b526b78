#include "qs/server/log.h"

#include <fstream>
#include <iostream>
#include <mutex>

namespace qs {

namespace {

std::mutex log_lock;      // guards log_stream
std::ofstream log_stream;
std::mutex console_lock;  // guards std::cout for whole lines

} // namespace

void open_log(const std::string& path)
{
    std::lock_guard guard(log_lock);
    log_stream.open(path, std::ios::app);
}

void close_log()
{
    std::lock_guard guard(log_lock);
    log_stream.close();
}

void log_text(const std::string& text)
{
    std::lock_guard guard(log_lock);
    log_stream << text << std::flush;
}

void log_line(const std::string& text)
{
    log_lines({text});
}

void log_lines(const std::vector<std::string>& lines)
{
    std::lock_guard guard(log_lock);
    for (const auto& line : lines)
        log_stream << line << '\n';
    log_stream << std::flush;
}

void console_text(const std::string& text)
{
    std::lock_guard guard(console_lock);
    std::cout << text << std::flush;
}

void console_line(const std::string& text)
{
    std::lock_guard guard(console_lock);
    std::cout << text << std::endl;
}

} // namespace qs

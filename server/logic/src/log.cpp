#include "qs/server/log.h"

#include <fstream>
#include <iostream>

#include "qs/sync/mutex.h"

namespace qs {

namespace {

mutex log_lock;
std::ofstream log_stream GUARDED_BY(log_lock);
mutex console_lock;  // guards std::cout for whole lines

} // namespace

void open_log(const std::string& path)
{
    qs::lock_guard guard(log_lock);
    log_stream.open(path, std::ios::app);
}

void close_log()
{
    qs::lock_guard guard(log_lock);
    log_stream.close();
}

void log_text(const std::string& text)
{
    qs::lock_guard guard(log_lock);
    log_stream << text << std::flush;
}

void log_line(const std::string& text)
{
    log_lines({text});
}

void log_lines(const std::vector<std::string>& lines)
{
    qs::lock_guard guard(log_lock);
    for (const auto& line : lines)
        log_stream << line << '\n';
    log_stream << std::flush;
}

void console_text(const std::string& text)
{
    qs::lock_guard guard(console_lock);
    std::cout << text << std::flush;
}

void console_line(const std::string& text)
{
    qs::lock_guard guard(console_lock);
    std::cout << text << std::endl;
}

} // namespace qs

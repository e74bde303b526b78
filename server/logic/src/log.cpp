#include "qs/server/logic/log.h"

#include <atomic>
#include <chrono>
#include <ctime>
#include <fstream>
#include <iostream>

#include "qs/sync/mutex.h"

namespace qs {

namespace {

mutex log_lock;
std::ofstream log_file GUARDED_BY(log_lock);
std::string log_path GUARDED_BY(log_lock);
bool to_standard_error GUARDED_BY(log_lock) = false;
bool line_open GUARDED_BY(log_lock) = false;  // log_text began a line that is not ended
bool line_shown GUARDED_BY(log_lock) = false; // and that line's level is written
std::atomic<log_level> least{log_level::info};
mutex console_lock; // guards std::cout for whole lines

const char* name_of(log_level level)
{
    switch (level) {
    case log_level::error:
        return "error";
    case log_level::warning:
        return "warning";
    case log_level::info:
        return "info";
    case log_level::debug:
        break;
    }
    return "debug";
}

bool shown(log_level level)
{
    return static_cast<int>(level) <= static_cast<int>(least.load(std::memory_order_relaxed));
}

// 2026-12-10T05:03:12.345+01:00 and the level.
std::string prefix(log_level level)
{
    const auto now = std::chrono::system_clock::now();
    const std::time_t seconds = std::chrono::system_clock::to_time_t(now);
    const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()).count() % 1000;
    std::tm local{};
    ::localtime_r(&seconds, &local);
    char stamp[64];
    const std::size_t n = std::strftime(stamp, sizeof stamp, "%Y-%m-%dT%H:%M:%S", &local);
    const long offset = local.tm_gmtoff / 60;
    const long off = offset < 0 ? -offset : offset;
    char rest[32];
    std::snprintf(rest, sizeof rest, ".%03d%c%02ld:%02ld ", static_cast<int>(ms), offset < 0 ? '-' : '+', off / 60,
                  off % 60);
    return std::string(stamp, n) + rest + name_of(level) + " ";
}

std::ostream* sink() REQUIRES(log_lock)
{
    if (to_standard_error)
        return &std::cerr;
    return log_file.is_open() ? &log_file : nullptr;
}

void open_locked() REQUIRES(log_lock)
{
    log_file.close();
    log_file.clear();
    to_standard_error = log_path == "-";
    if (!to_standard_error)
        log_file.open(log_path, std::ios::app);
}

} // namespace

bool parse_log_level(const std::string& word, log_level& level)
{
    for (auto l : {log_level::error, log_level::warning, log_level::info, log_level::debug})
        if (word == name_of(l)) {
            level = l;
            return true;
        }
    return false;
}

void set_log_level(log_level level)
{
    least.store(level, std::memory_order_relaxed);
}

void open_log(const std::string& path)
{
    qs::lock_guard guard(log_lock);
    log_path = path;
    open_locked();
}

void reopen_log()
{
    qs::lock_guard guard(log_lock);
    if (!log_path.empty())
        open_locked();
}

void close_log()
{
    qs::lock_guard guard(log_lock);
    log_file.close();
    to_standard_error = false;
}

void log_text(const std::string& text)
{
    qs::lock_guard guard(log_lock);
    std::ostream* out = sink();
    if (!line_open) {
        line_open = true;
        line_shown = shown(log_level::info);
        if (out != nullptr && line_shown)
            *out << prefix(log_level::info);
    }
    if (out != nullptr && line_shown)
        *out << text << std::flush;
}

void log_line(const std::string& text)
{
    log_line(log_level::info, text);
}

void log_line(log_level level, const std::string& text)
{
    qs::lock_guard guard(log_lock);
    std::ostream* out = sink();
    const bool continues = line_open;
    line_open = false;
    if (continues ? !line_shown : !shown(level))
        return;
    if (out == nullptr)
        return;
    if (!continues)
        *out << prefix(level);
    *out << text << '\n' << std::flush;
}

void log_warning(const std::string& text)
{
    log_line(log_level::warning, text);
}

void log_error(const std::string& text)
{
    log_line(log_level::error, text);
}

void log_lines(log_level level, const std::vector<std::string>& lines)
{
    if (!shown(level))
        return;
    qs::lock_guard guard(log_lock);
    std::ostream* out = sink();
    if (out == nullptr || lines.empty())
        return;
    if (to_standard_error) { // one event, one line
        *out << prefix(level);
        for (const auto& line : lines)
            *out << (&line == &lines.front() ? "" : " ") << line;
        *out << '\n' << std::flush;
        return;
    }
    const std::string head = prefix(level);
    for (const auto& line : lines)
        *out << head << line << '\n';
    *out << std::flush;
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

#pragma once

#include <string>
#include <vector>

namespace qs {

// The log file and the console. Every call writes whole under one lock, so text from
// many threads never interleaves; writes to an unopened or failed log are dropped.
// Each line of the log starts with the time (ISO 8601, milliseconds and the zone) and
// its level; lines less severe than the level set are left out.

enum class log_level { error, warning, info, debug };

// "error", "warning", "info" or "debug"; false for anything else.
bool parse_log_level(const std::string& word, log_level& level);
// The least severe level written; info until set.
void set_log_level(log_level level);

// Opens path for appending ("-": standard error, each event on one line); on failure
// the log stays silent.
void open_log(const std::string& path);
// Opens the same path again: after the file was moved away (log rotation).
void reopen_log();
void close_log();
// Text without a newline (the next text continues the line), flushed, at info.
void log_text(const std::string& text);
// Text, a newline, flushed: at info, or at the level given. Text that continues a
// line of log_text keeps that line's level.
void log_line(const std::string& text);
void log_line(log_level level, const std::string& text);
void log_warning(const std::string& text);
void log_error(const std::string& text);
// Several lines of one event written together (joined on one line on standard error).
void log_lines(log_level level, const std::vector<std::string>& lines);

// The same for standard output.
void console_text(const std::string& text);
void console_line(const std::string& text);

} // namespace qs

#pragma once

#include <string>
#include <vector>

namespace qs {

// The log file and the console. Every call writes whole under one lock, so text from
// many threads never interleaves; writes to an unopened or failed log are dropped.

// Opens log_path for appending; on failure the log stays silent.
void open_log(const std::string& path);
void close_log();
// Text without a newline (the next text continues the line), flushed.
void log_text(const std::string& text);
// Text, a newline, flushed.
void log_line(const std::string& text);
// Several lines written together.
void log_lines(const std::vector<std::string>& lines);

// The same for standard output.
void console_text(const std::string& text);
void console_line(const std::string& text);

} // namespace qs

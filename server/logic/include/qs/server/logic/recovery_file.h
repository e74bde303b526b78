#pragma once

#include <cstddef>
#include <string>
#include <vector>

namespace qs {

// Pending entries that stop could not store, kept as plain text until the next start
// merges them: one line per entry, "<user> TAB <column> TAB <entry>", with backslash,
// tab, CR and newline written as \\, \t, \r and \n.
struct recovery_entry {
    std::string user;
    std::size_t column = 0; // msgpool's pool column: 0 messages, 1 groupmessages, 2 custommessages
    std::string entry;
};

// Appends the entries and flushes them to disk. Throws std::runtime_error on failure.
void append_recovery(const std::string& path, const std::vector<recovery_entry>& entries);
// The entries of the file, oldest first; none when there is no file. Lines that cannot
// be read are skipped and counted in bad_lines.
std::vector<recovery_entry> read_recovery(const std::string& path, std::size_t& bad_lines);
// Replaces the file by one holding exactly entries (removes it when there are none).
void rewrite_recovery(const std::string& path, const std::vector<recovery_entry>& entries);

} // namespace qs

#pragma once

#include <string>

namespace qs {

// The current UTC time as "%Y-%m-%d %H:%M:%S"; valid on this thread until its next call.
const std::string& time_stamp();

// <sender> says: "<text>" on <stamp>.  A group entry starts with "<group>.".
std::string message_entry(const std::string& sender, const std::string& text, const std::string& stamp);
std::string group_message_entry(const std::string& group, const std::string& sender, const std::string& text,
                                const std::string& stamp);

} // namespace qs

#include "qs/server/logic/message_entry.h"

#include <ctime>

namespace qs {

// Formatted once a second per thread: a busy server stamps thousands of entries a second.
const std::string& time_stamp()
{
    thread_local std::time_t formatted_at = -1;
    thread_local std::string formatted;
    const std::time_t now = std::time(nullptr);
    if (now != formatted_at) {
        std::tm utc{};
        ::gmtime_r(&now, &utc);
        char buf[20];
        std::strftime(buf, sizeof buf, "%Y-%m-%d %H:%M:%S", &utc);
        formatted = buf;
        formatted_at = now;
    }
    return formatted;
}

std::string message_entry(const std::string& sender, const std::string& text, const std::string& stamp)
{
    std::string entry;
    entry.reserve(sender.size() + text.size() + stamp.size() + 14);
    entry.append(sender).append(" says: \"").append(text).append("\" on ").append(stamp).append(".");
    return entry;
}

std::string group_message_entry(const std::string& group, const std::string& sender, const std::string& text,
                                const std::string& stamp)
{
    return group + "." + message_entry(sender, text, stamp);
}

} // namespace qs

#include "qs/server/message_entry.h"

#include <ctime>

namespace qs {

std::string time_stamp()
{
    std::time_t now = std::time(nullptr);
    std::tm utc{};
    ::gmtime_r(&now, &utc);
    char buf[20];
    std::strftime(buf, sizeof buf, "%Y-%m-%d %H:%M:%S", &utc);
    return buf;
}

std::string message_entry(const std::string& sender, const std::string& text, const std::string& stamp)
{
    return sender + " says: \"" + text + "\" on " + stamp + ".";
}

std::string group_message_entry(const std::string& group, const std::string& sender, const std::string& text,
                                const std::string& stamp)
{
    return group + "." + message_entry(sender, text, stamp);
}

} // namespace qs

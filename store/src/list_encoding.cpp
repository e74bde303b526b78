#include "qs/store/list_encoding.h"

namespace qs {

std::vector<std::string> split_list(const std::string& text)
{
    std::vector<std::string> pieces;
    std::string::size_type begin = 0;
    for (;;) {
        auto bar = text.find('|', begin);
        if (bar == std::string::npos) {
            pieces.push_back(text.substr(begin));
            return pieces;
        }
        pieces.push_back(text.substr(begin, bar - begin));
        begin = bar + 1;
    }
}

std::string append_entry(const std::string& pool, const std::string& entry)
{
    return pool.empty() ? entry : pool + "|" + entry;
}

} // namespace qs

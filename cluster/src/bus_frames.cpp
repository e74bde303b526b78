#include "qs/cluster/bus_frames.h"

#include <cstdint>

namespace qs::cluster {

void append_frame(std::string& batch, std::string_view payload)
{
    const auto n = static_cast<std::uint32_t>(payload.size());
    const char length[4] = {static_cast<char>(n >> 24), static_cast<char>(n >> 16), static_cast<char>(n >> 8),
                            static_cast<char>(n)};
    batch.append(length, sizeof length);
    batch.append(payload);
}

bool split_frames(std::string_view batch, std::vector<std::string>& parts)
{
    while (!batch.empty()) {
        if (batch.size() < 4)
            return false;
        std::size_t n = 0;
        for (int i = 0; i < 4; ++i)
            n = (n << 8) | static_cast<unsigned char>(batch[static_cast<std::size_t>(i)]);
        batch.remove_prefix(4);
        if (n > batch.size())
            return false;
        parts.emplace_back(batch.substr(0, n));
        batch.remove_prefix(n);
    }
    return true;
}

} // namespace qs::cluster

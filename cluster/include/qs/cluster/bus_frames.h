#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace qs::cluster {

// What the bus sends as one NATS message: the payloads published to one subject while
// the publisher thread was busy, each after its length (4 bytes, big-endian). A
// subscriber gets them back one by one, in order.
void append_frame(std::string& batch, std::string_view payload);
// The payloads of batch, in order; false, with parts left as far as they could be read,
// when it is cut short or overlong.
bool split_frames(std::string_view batch, std::vector<std::string>& parts);

} // namespace qs::cluster

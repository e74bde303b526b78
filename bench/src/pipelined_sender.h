#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include "client.h"
#include "send_tally.h"

namespace qsb {

struct outgoing {
    std::string receiver;
    std::uint64_t id = 0;
};

// Keeps up to `window` sendmessage requests unanswered on one logged-in client,
// writing `batch` frames per write. The text carries the sender's index, the message
// id and the time it was queued.
class pipelined_sender {
public:
    // Gives the next message to send; nothing when there is no more.
    using source = std::function<std::optional<outgoing>()>;

    pipelined_sender(client& c, std::uint32_t index, int window, int batch, source next, send_tally& tally);

    void top_up();
    // Sends nothing more; the requests written still get their replies.
    void stop() { exhausted_ = true; }
    bool idle() const { return exhausted_ && c_.awaiting() == 0; }

private:
    client& c_;
    std::uint32_t index_;
    std::size_t window_, batch_;
    source next_;
    send_tally& tally_;
    bool exhausted_ = false;
};

} // namespace qsb

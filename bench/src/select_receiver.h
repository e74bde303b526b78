#pragma once

#include <cstdint>
#include <functional>

#include "client.h"
#include "message_text.h"
#include "run_context.h"

namespace qsb {

// Keeps one `select MSG` waiting on a logged-in client and hands over each message
// that comes back, with the time its reply arrived.
class select_receiver {
public:
    using message_fn = std::function<void(const bench_message& m, std::int64_t arrived_ns)>;

    select_receiver(run_context& ctx, client& c, message_fn on_message);

    void start();
    // Asks for nothing more.
    void stop() { stopped_ = true; }
    std::uint64_t malformed() const { return malformed_; }

private:
    void on_reply(const std::string& reply);

    run_context& ctx_;
    client& c_;
    message_fn on_message_;
    bool stopped_ = false;
    std::uint64_t malformed_ = 0;
};

} // namespace qsb

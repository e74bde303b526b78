#include "select_receiver.h"

#include "bench_clock.h"

namespace qsb {

select_receiver::select_receiver(run_context& ctx, client& c, message_fn on_message)
    : ctx_(ctx), c_(c), on_message_(std::move(on_message))
{
}

void select_receiver::start()
{
    c_.request("select MSG", [this](const std::string& reply) { on_reply(reply); });
}

void select_receiver::on_reply(const std::string& reply)
{
    const std::int64_t arrived = now_ns();
    if (reply.rfind(select_label, 0) != 0) {
        if (ctx_.failure.empty())
            ctx_.failure = "select answered '" + reply + "'";
        return;
    }
    if (!stopped_)
        start(); // waiting again before the messages are handed over
    std::size_t bad = 0;
    for (std::string_view text : entry_texts(std::string_view(reply).substr(select_label.size()), bad)) {
        if (auto m = parse_message(text))
            on_message_(*m, arrived);
        else
            ++bad;
    }
    malformed_ += bad;
}

} // namespace qsb

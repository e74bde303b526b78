#include "pipelined_sender.h"

#include "bench_clock.h"
#include "message_text.h"

namespace qsb {

pipelined_sender::pipelined_sender(client& c, std::uint32_t index, int window, int batch, source next,
                                   send_tally& tally)
    : c_(c), index_(index), window_(static_cast<std::size_t>(window)),
      batch_(static_cast<std::size_t>(batch < window ? batch : window)), next_(std::move(next)), tally_(tally)
{
}

void pipelined_sender::top_up()
{
    while (!exhausted_ && window_ - c_.awaiting() >= batch_) {
        std::size_t queued = 0;
        for (; queued < batch_; ++queued) {
            const std::optional<outgoing> m = next_();
            if (!m) {
                exhausted_ = true;
                break;
            }
            const std::string text = compose({index_, m->id, now_ns()});
            c_.queue("sendmessage " + m->receiver + " " + text, [this, id = m->id](const std::string& reply) {
                tally_.replied(id, reply);
                top_up();
            });
            tally_.sent(m->id);
        }
        if (queued > 0)
            c_.flush();
    }
}

} // namespace qsb

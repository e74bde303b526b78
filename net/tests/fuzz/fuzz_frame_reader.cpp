// Feeds a stream to qs::frame_splitter in receives of sizes the input picks, the way
// frame_reader (prepare, commit) and the server (feed) do, and checks what it cuts
// against the whole stream read at once.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "fuzz_check.h"
#include "qs/net/frame.h"
#include "reference_decoder.h"

namespace {

// Byte 0: the cap (0: max_frame_size, else 4 + the byte); byte 1: how many receive sizes
// follow (low 4 bits), one byte each, cycled, 0 taking the rest; then the byte of ways:
// bit i % 7 sends receive i through feed(), bit 7 releases the buffer before each receive.
// The rest is the stream.
struct run_plan {
    std::size_t cap = qs::max_frame_size;
    std::vector<std::size_t> receives;
    unsigned ways = 0;
    std::string_view stream;
};

run_plan read_plan(const std::uint8_t* data, std::size_t size)
{
    run_plan plan;
    std::size_t at = 0;
    auto take = [&]() -> unsigned { return at < size ? data[at++] : 0; };
    if (const unsigned cap = take(); cap != 0)
        plan.cap = 4 + cap;
    for (unsigned n = take() & 15; n > 0; --n)
        plan.receives.push_back(take());
    plan.ways = take();
    plan.stream = {reinterpret_cast<const char*>(data) + at, size - at};
    return plan;
}

std::size_t encoded_size(const qs::frame& f)
{
    return qs::frame_overhead + f.text.size();
}

// One splitter fed the whole plan, checking after every receive that it keeps exactly
// the bytes of the frames it has not handed out yet.
class splitter_run {
public:
    explicit splitter_run(const run_plan& plan) : plan_(plan), splitter_(plan.cap) {}

    void run()
    {
        for (std::size_t i = 0; received < plan_.stream.size() && !over_cap; ++i) {
            if (plan_.ways & 0x80)
                splitter_.release_if_empty();
            receive(i);
            drain();
        }
    }

    std::vector<qs::frame> frames;   // handed out, in order
    bool over_cap = false;           // next() threw: a frame over the cap
    std::size_t received = 0;        // bytes given to the splitter
    std::size_t received_before = 0; // the same before the last receive

private:
    std::size_t receive_size(std::size_t i) const
    {
        const std::size_t left = plan_.stream.size() - received;
        const std::size_t want = plan_.receives.empty() ? 0 : plan_.receives[i % plan_.receives.size()];
        return want == 0 || want > left ? left : want;
    }

    void receive(std::size_t i)
    {
        std::size_t n = receive_size(i);
        const char* from = plan_.stream.data() + received;
        if ((plan_.ways >> (i % 7)) & 1) {
            splitter_.feed(from, n);
        } else {
            std::size_t room = 0;
            char* to = splitter_.prepare(room);
            QS_FUZZ_CHECK(room > 0);
            n = std::min(n, room);
            std::memcpy(to, from, n);
            splitter_.commit(n);
        }
        received_before = received;
        received += n;
    }

    void drain()
    {
        try {
            for (qs::frame f; splitter_.next(f);) {
                consumed_ += encoded_size(f);
                frames.push_back(std::move(f));
            }
        } catch (const qs::exception& e) {
            QS_FUZZ_CHECK(e.code() == 3);
            over_cap = true;
            return;
        }
        QS_FUZZ_CHECK(splitter_.has_partial() == (received > consumed_));
    }

    const run_plan& plan_;
    qs::frame_splitter splitter_;
    std::size_t consumed_ = 0;
};

bool same_frames(const std::vector<qs::frame>& a, const std::vector<qs::frame>& b)
{
    return std::equal(a.begin(), a.end(), b.begin(), b.end(),
                      [](const qs::frame& x, const qs::frame& y) { return x.cid == y.cid && x.text == y.text; });
}

// Re-encoding the frames gives back the bytes they came from, and none passes the cap.
void check_reencoding(const run_plan& plan, const std::vector<qs::frame>& frames)
{
    std::string bytes;
    for (const auto& f : frames) {
        QS_FUZZ_CHECK(encoded_size(f) <= plan.cap);
        bytes += qs::encode_frame(f.cid, f.text);
    }
    QS_FUZZ_CHECK(plan.stream.substr(0, bytes.size()) == bytes);
}

// A frame over the cap is refused in the drain after the receive that brings cap bytes
// of it, neither earlier nor later; otherwise every byte is received.
void check_over_cap(const splitter_run& run, const qs::fuzz::decoded_stream& whole, const run_plan& plan)
{
    QS_FUZZ_CHECK(run.over_cap == whole.over_cap_at.has_value());
    if (run.over_cap)
        QS_FUZZ_CHECK(run.received_before < *whole.over_cap_at && *whole.over_cap_at <= run.received);
    else
        QS_FUZZ_CHECK(run.received == plan.stream.size());
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const run_plan plan = read_plan(data, size);
    splitter_run run(plan);
    run.run();
    const auto whole = qs::fuzz::decode_whole(plan.stream, plan.cap);
    QS_FUZZ_CHECK(same_frames(run.frames, whole.frames)); // none lost, duplicated or changed
    check_reencoding(plan, run.frames);
    check_over_cap(run, whole, plan);
    return 0;
}

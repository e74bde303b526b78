#pragma once

#include <functional>
#include <memory>

#include "qs/sync/mutex.h"

namespace qs {

// The sender's side of one send. Each entry it put into a receiver's pending pool is
// safe once it has left in a reply or been committed to the database; the send is
// settled once every entry is safe, or one was withdrawn because it could not be
// stored. The sender holds it open until release(), so that entries settled before the
// sender listens still count. done runs once, outside every state lock, on the thread
// that settles it. Shared by the entries that carry it; safe from any thread.
class delivery_ack {
public:
    // safe, or the refusal (a qsexcpt code) that answers the send.
    using done_fn = std::function<void(bool safe, int failure_code)>;

    explicit delivery_ack(int failure_code) : failure_code_(failure_code) {}
    ~delivery_ack();
    delivery_ack(const delivery_ack&) = delete;
    delivery_ack& operator=(const delivery_ack&) = delete;

    // One more entry to wait for (the thread that sends, before release()).
    void attach();
    int attached() const noexcept { return attached_; }
    void confirm();        // one entry is safe
    void withdraw();       // one entry was taken back unsent: the send failed
    void refuse(int code); // one entry was refused (another node's answer): the send fails with code
    // The sender listens: done runs when the send settles, at once if it has.
    void release(done_fn done);

private:
    void settle_one(bool safe, int code = 0);
    static void finish(done_fn done, bool ok, int failure);

    const int failure_code_; // unless a refusal names another
    int attached_ = 0;       // the sending thread's only, before release()
    mutex lock_;
    int outstanding_ GUARDED_BY(lock_) = 1; // the entries not settled, and the sender's hold
    bool failed_ GUARDED_BY(lock_) = false;
    int refusal_ GUARDED_BY(lock_) = 0; // the first refusal's code, 0 when none
    done_fn done_ GUARDED_BY(lock_);
};

using ack_handle = std::shared_ptr<delivery_ack>;

} // namespace qs

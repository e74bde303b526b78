#include "qs/network.h"

#include <condition_variable>
#include <stdexcept>
#include <list>
#include <memory>
#include <mutex>
#include <thread>

#include "qs/command_line.h"
#include "qs/connection.h"
#include "qs/frame.h"
#include "qs/log.h"
#include "qs/settings.h"
#include "qs/thread_cache.h"

namespace qs {

namespace {

// What the pipeline's threads share. The listening socket's descriptor is released by
// stop_network after the listening thread has ended.
struct pipeline {
    server_state* state = nullptr;
    kelserver listener;
    std::thread listen_thread;

    std::mutex lock;  // guards connections, stopping and workers
    std::list<std::shared_ptr<connection>> connections;  // open connections, each once
    bool stopping = false;
    int workers = 0;  // receive and command tasks still running
    std::condition_variable workers_done;
    thread_cache threads;  // runs every receive and command task
};

pipeline net;

void worker_started()
{
    std::lock_guard guard(net.lock);
    ++net.workers;
}

void worker_finished()
{
    std::lock_guard guard(net.lock);
    if (--net.workers == 0)
        net.workers_done.notify_all();
}

void log_error_block(std::int32_t cid, const std::string& command, const std::string& result)
{
    log_lines({"ERROR!!!", "qsserver::cmd_proc()", "cid:\t" + std::to_string(cid), "cmd:\t" + command,
               "result:\t" + result});
}

// A request off the wire with its line cut into arguments (none when it is too long).
struct request {
    frame raw;
    std::vector<std::string> args;
    bool too_long = false;
};

request parse_request(frame raw)
{
    request r{std::move(raw), {}, false};
    r.too_long = r.raw.text.size() > static_cast<std::size_t>(config.buff_size) - frame_overhead;
    if (!r.too_long) {
        std::string line = r.raw.text;
        parse_command_line(r.args, line);
    }
    return r;
}

bool is_select(const request& r)
{
    return !r.args.empty() && r.args[0] == "select";
}

// Runs one request and answers it exactly once.
void answer(connection& c, const request& r)
{
    std::string result;
    try {
        if (r.too_long) {
            result = "The command is too long.";
        } else {
            c.execute(r.args, result);
            if (result.size() > server_state::reply_limit())
                throw std::length_error("reply longer than one frame");
        }
        c.send_reply(r.raw.cid, result);
    } catch (...) {
        log_error_block(r.raw.cid, r.raw.text, result);
        try {
            c.send_reply(r.raw.cid, command_failed);
        } catch (...) {  // the connection is gone
        }
    }
}

// A select may wait for long: it runs on a thread of its own and holds up nothing.
void select_proc(const std::shared_ptr<connection>& c, const request& r)
{
    answer(*c, r);
    c->release_slot();
    worker_finished();
}

void forget(const std::shared_ptr<connection>& c)
{
    std::lock_guard guard(net.lock);
    net.connections.remove(c);
}

void recv_proc(std::shared_ptr<connection> c)
{
    try {
        frame_reader reader(*c, max_frame_size);
        for (;;) {
            request r = parse_request(reader.next());
            if (!is_select(r)) {  // in the order they arrived, on this thread
                answer(*c, r);
                continue;
            }
            if (!c->try_acquire_slot()) {
                c->send_reply(r.raw.cid, qsexcpt(qsexcpt::too_many_selects).message);
                continue;
            }
            worker_started();
            net.threads.run([c, r = std::move(r)] { select_proc(c, r); });
        }
    } catch (...) {  // the peer closed, the network failed, or the server stops
    }
    forget(c);
    c->end();
    log_line("Closed a connection.");
    worker_finished();
}

void listen_proc()
{
    log_line("Listening...");
    try {
        for (;;) {
            socket peer;
            net.listener.accept(peer);
            auto c = std::make_shared<connection>(*net.state, peer);
            std::lock_guard guard(net.lock);
            if (net.stopping) {
                c->shutdown();
                continue;
            }
            net.connections.push_back(c);
            ++net.workers;
            net.threads.run([c] { recv_proc(c); });
        }
    } catch (...) {
    }
    log_line("");
    log_line("Listen-proc stopped.");
}

} // namespace

bool start_network(server_state& state)
{
    net.state = &state;
    log_text("Starting socket environment...");
    log_line("Ok.");
    log_text("initializing socket...");
    try {
        net.listener.create(config.port);
        net.listener.listen(config.backlog);
    } catch (const exception&) {
        log_line("Failed.");
        net.listener.close();
        return false;
    }
    log_line("Ok.");
    net.listen_thread = std::thread(listen_proc);
    return true;
}

void stop_network()
{
    {  // connections accepted from now on are closed at once by the listening thread
        std::lock_guard guard(net.lock);
        net.stopping = true;
        for (auto& c : net.connections)
            c->shutdown();
        net.connections.clear();
    }
    if (net.listen_thread.joinable()) {
        net.listener.shutdown();
        net.listen_thread.join();
    }
    std::unique_lock guard(net.lock);
    net.workers_done.wait(guard, [] { return net.workers == 0; });
    guard.unlock();
    net.threads.shutdown();
    net.listener.close();
}

} // namespace qs

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

// Runs one request and answers it exactly once.
void cmd_proc(std::shared_ptr<connection> c, frame request)
{
    std::string result;
    try {
        if (request.text.size() > static_cast<std::size_t>(config.buff_size) - frame_overhead) {
            result = "The command is too long.";
        } else {
            std::vector<std::string> args;
            std::string line = request.text;
            parse_command_line(args, line);
            c->execute(args, result);
            if (result.size() > server_state::reply_limit())
                throw std::length_error("reply longer than one frame");
        }
        c->send_reply(request.cid, result);
    } catch (...) {
        log_error_block(request.cid, request.text, result);
        try {
            c->send_reply(request.cid, command_failed);
        } catch (...) {  // the connection is gone
        }
    }
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
            frame request = reader.next();
            if (!c->acquire_slot())
                break;
            worker_started();
            net.threads.run([c, r = std::move(request)]() mutable { cmd_proc(std::move(c), std::move(r)); });
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

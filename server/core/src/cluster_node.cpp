#include "cluster_node.h"

#include <future>
#include <unistd.h>

#include "qs/server/logic/log.h"
#include "qs/store/db_error_text.h"

namespace qs {

namespace {

std::string joined(const std::vector<std::string>& urls)
{
    std::string out;
    for (const auto& u : urls)
        out += (out.empty() ? "" : ",") + u;
    return out;
}

} // namespace

std::string default_node_name(int port)
{
    char host[256] = {};
    if (::gethostname(host, sizeof host - 1) != 0)
        host[0] = '\0';
    const std::string at = port > 0 ? std::to_string(port) : "pid-" + std::to_string(::getpid());
    return std::string(host[0] ? host : "localhost") + ":" + at;
}

cluster_node::cluster_node(options o) : options_(std::move(o)), pool_(open_pool(options_.database))
{
    tasks_.run_at(timed_tasks::clock::now(), [this] { tasks_thread_ = std::this_thread::get_id(); });
}

cluster_node::~cluster_node()
{
    stop();
}

bool cluster_node::start(std::string& why)
{
    try {
        if (!directory_.register_node(options_.name, options_.lease)) {
            why = "another live node is named " + options_.name + " (node_name must be unique in the cluster)";
            return false;
        }
    } catch (const db_error& e) {
        why = "cannot register the node " + options_.name + " " + db_error_clause(e);
        if (e.sqlstate() == "42P01")
            why += " (the tables nodes and sessions: run postgresql.sql on the database)";
        return false;
    }
    registered_ = true;
    renew_later();
    cluster::bus_options b;
    b.urls = options_.urls;
    b.name = options_.name;
    try {
        bus_ = std::make_unique<cluster::bus>(
            b, [this](cluster::task t) { tasks_.run_at(timed_tasks::clock::now(), std::move(t)); },
            [this](cluster::bus_status s) { on_bus(s); });
    } catch (const cluster::bus_error& e) {
        why = e.what();
        stop();
        return false;
    }
    if (!bus_->connected())
        log_warning("The cluster bus (" + joined(options_.urls) + ") does not answer yet; node " + options_.name +
                    " joins it when it does.");
    return true;
}

void cluster_node::on_bus(cluster::bus_status s)
{
    switch (s) {
    case cluster::bus_status::joined:
        log_line("Node " + options_.name + " joined the cluster bus (" + joined(options_.urls) + ").");
        break;
    case cluster::bus_status::gone:
        log_warning("The cluster bus is gone; this node carries on alone until it is back.");
        break;
    case cluster::bus_status::back:
        log_line("The cluster bus is back.");
        break;
    }
}

void cluster_node::renew_later()
{
    const auto every = std::chrono::duration_cast<std::chrono::milliseconds>(options_.lease) / 3;
    tasks_.run_at(timed_tasks::clock::now() + every, [this] {
        assert_on_tasks();
        renew();
    });
}

// A failure is said once, until a renewal works again; the next one comes all the same.
void cluster_node::renew()
{
    if (released_)
        return;
    try {
        if (!directory_.renew(options_.name, options_.lease))
            reregister();
        if (renewal_failed_)
            log_line("The lease of node " + options_.name + " is renewed again.");
        renewal_failed_ = false;
    } catch (const db_error& e) {
        if (!renewal_failed_)
            log_warning("Could not renew the lease of node " + options_.name + " " + db_error_clause(e));
        renewal_failed_ = true;
    }
    renew_later();
}

// The lease ran out (the database was away too long): other nodes may hold this node's
// users now, and the node starts again from no sessions.
void cluster_node::reregister()
{
    log_warning("The lease of node " + options_.name + " had run out; registering it again.");
    if (!directory_.register_node(options_.name, options_.lease))
        log_error("Another live node is named " + options_.name + "; node_name must be unique in the cluster.");
}

void cluster_node::stop()
{
    auto released = std::make_shared<std::promise<void>>();
    auto done = released->get_future();
    tasks_.run_at(timed_tasks::clock::now(), [this, released] {
        assert_on_tasks();
        release();
        released->set_value();
    });
    done.wait();
    bus_.reset();
}

void cluster_node::release()
{
    if (released_ || !registered_)
        return;
    released_ = true;
    try {
        directory_.release_node(options_.name);
    } catch (const db_error& e) {
        log_warning("Could not release node " + options_.name + " " + db_error_clause(e) +
                    "; its lease runs out by itself.");
    }
}

} // namespace qs

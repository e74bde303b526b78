#pragma once

#include <chrono>
#include <map>
#include <memory>
#include <string>
#include <sys/types.h>
#include <vector>

#include "qs/net/frame.h"
#include "qs/net/kelclient.h"
#include "test_database.h"

namespace qs::test {

// A qsserver child process in a folder of its own, on a free port, with the test
// database and a log file there. Stopped with SIGTERM on destruction.
class server_process {
public:
    // Extra lines for qsserver.conf (the port and log path are set already); with port 0
    // the kernel picks one at each start. Other ports may be set to "auto" in conf.
    explicit server_process(const std::vector<std::string>& conf = {}, int port = 0);
    ~server_process();

    // Starts qsserver with the arguments, waits until it says where it listens, and
    // connects once (a probe its log shows as a closed connection).
    void start(const std::vector<std::string>& args = {"--console"}, const std::vector<std::string>& env = {});
    // SIGTERM, then the exit status.
    int stop();
    // SIGKILL: the server ends at once, as in a crash.
    void kill_hard();
    // Waits until the log holds text; false when it does not within the time given.
    bool wait_for_log(const std::string& text, std::chrono::seconds within = std::chrono::seconds(60)) const;
    bool running() const { return pid_ > 0; }

    // The plain port of the last start (before it, the one asked for).
    int port() const { return port_; }
    // The port of the last start for "TLS", "HTTP", "HTTPS" or "metrics"; throws when none.
    int port_of(const std::string& what) const;
    // start(), then the port it got for what (as port_of).
    int start_for(const std::string& what);
    pid_t pid() const { return pid_; }
    const std::string& dir() const { return dir_.path(); }
    std::string log() const;
    // The log without each line's time stamp and level. With log_path=- the log is what
    // the server wrote on standard error.
    std::string log_texts() const;
    std::string console() const;

private:
    bool read_ports();

    temp_dir dir_;
    int port_;
    std::map<std::string, int> ports_; // by what the start line names them; "plain" first
    std::size_t log_before_ = 0;       // the log's size when the last start began
    pid_t pid_ = -1;
    bool log_to_standard_error_ = false; // log_path=-: the log is console.err
};

// Runs qsserver to its end in a folder with the arguments and environment additions;
// returns what it printed on standard output (also in run.out; standard error in
// run.err) and its exit status.
std::pair<std::string, int> run_qsserver(const std::string& dir, const std::vector<std::string>& args,
                                         const std::vector<std::string>& env = {});

// A client on a kelclient: exec() returns the reply text.
class client {
public:
    explicit client(int port);
    ~client();
    std::string exec(const std::string& command);
    void close();

private:
    kelclient kel_;
    bool open_ = true;
};

// Makes s, bound to the loopback address from (any of 127.0.0.0/8) when it is not empty.
void create_from(socket& s, const std::string& from);

// A raw connection speaking frames, for what kelclient never sends; from an address of
// its own when from names one, as if from another machine.
struct raw_client {
    explicit raw_client(int port, const std::string& from = "")
        : reader((create_from(sock, from), sock.connect("127.0.0.1", port), sock))
    {
    }
    ~raw_client() { sock.close(); }
    void send(const std::string& bytes) { sock.send(bytes.data(), static_cast<int>(bytes.size())); }
    frame next() { return reader.next(); }

    socket sock;
    frame_reader reader;
};

// A raw connection whose receives give up after seconds: a server that stopped
// answering fails the test instead of hanging it.
std::unique_ptr<raw_client> bounded_client(int port, int seconds = 30);
// Sends one command with nothing else outstanding on c; its reply.
std::string ask(raw_client& c, const std::string& command);

// A port bound on 127.0.0.1 that never listens: a connection to it is refused for as
// long as this lives, and no other process can take the port meanwhile.
class refusing_port {
public:
    refusing_port();
    ~refusing_port();
    refusing_port(const refusing_port&) = delete;
    refusing_port& operator=(const refusing_port&) = delete;
    int port() const { return port_; }

private:
    int fd_;
    int port_;
};
std::string read_file(const std::string& path);

} // namespace qs::test

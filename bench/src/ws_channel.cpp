// The only translation unit of qsbench with Beast in it: it compiles slowly.
#include "ws_channel.h"

#include <boost/beast/core/flat_buffer.hpp>
#include <boost/beast/core/role.hpp>
#include <deque>

#include "memory_stream.h"

namespace qsb {

namespace asio = boost::asio;
namespace beast = boost::beast;

// Closing a WebSocket over memory: nothing to shut down but the stream itself.
void beast_close_socket(memory_stream& s)
{
    s.end();
}

void teardown(beast::role_type, memory_stream& s, memory_stream::error_code& ec)
{
    s.end();
    ec = {};
}

template <class Handler>
void async_teardown(beast::role_type, memory_stream& s, Handler&& handler)
{
    s.end();
    asio::post(s.get_executor(), asio::append(std::forward<Handler>(handler), memory_stream::error_code()));
}

} // namespace qsb

#include <boost/beast/websocket.hpp>

namespace qsb {

namespace websocket = beast::websocket;

// The handlers run inside poll() only, never inside a caller's callback: the client
// picks messages up with next() once feed() has returned.
struct ws_channel::impl {
    impl() : ws(polled_executor(io, services())) {}

    // Never runs; one for every channel: its timer service brings a reactor, three
    // descriptors, that each channel of the idle workload would otherwise have.
    static asio::execution_context& services()
    {
        static asio::io_context shared{1};
        return shared;
    }

    void pump()
    {
        if (io.stopped())
            io.restart();
        io.poll();
    }

    void handshake(const std::string& host, const std::string& target)
    {
        // No timers: the io_context is only polled, and the workloads keep their own deadlines.
        ws.set_option(
            websocket::stream_base::timeout{websocket::stream_base::none(), websocket::stream_base::none(), false});
        ws.text(true);
        ws.read_message_max(1 << 20);
        ws.async_handshake(response, host, target, [this, target](const boost::system::error_code& ec) {
            if (ec)
                return fail("upgrade to " + target + ": " + ec.message());
            open = true;
            read_next();
            write_next();
        });
        pump();
    }

    void read_next()
    {
        ws.async_read(buffer, [this](const boost::system::error_code& ec, std::size_t) {
            if (ec == websocket::error::closed)
                return fail("the server closed the WebSocket (" + std::to_string(ws.reason().code) + " " +
                            std::string(ws.reason().reason.data(), ws.reason().reason.size()) + ")");
            if (ec)
                return fail(ec == asio::error::eof ? "the server closed the connection" : ec.message());
            const auto data = buffer.cdata();
            received.emplace_back(static_cast<const char*>(data.data()), data.size());
            buffer.consume(buffer.size());
            read_next();
        });
    }

    // One message at a time: Beast allows one write in flight.
    void write_next()
    {
        if (!open || writing || outgoing.empty() || !failure.empty())
            return;
        writing = true;
        ws.async_write(asio::buffer(outgoing.front()), [this](const boost::system::error_code& ec, std::size_t) {
            writing = false;
            outgoing.pop_front();
            if (ec)
                return fail("send: " + ec.message());
            write_next();
        });
    }

    void fail(const std::string& why)
    {
        if (failure.empty())
            failure = why;
    }

    asio::io_context io{1};
    websocket::stream<memory_stream> ws; // after io: it goes first
    websocket::response_type response;
    beast::flat_buffer buffer;
    std::deque<std::string> outgoing; // the front is being written
    std::deque<std::string> received;
    bool open = false;
    bool writing = false;
    std::string failure;
};

ws_channel::ws_channel(const std::string& host, const std::string& target) : impl_(std::make_unique<impl>())
{
    impl_->handshake(host, target);
}

ws_channel::~ws_channel() = default;

void ws_channel::feed(const char* data, std::size_t size)
{
    impl_->ws.next_layer().feed(data, size);
    impl_->pump();
}

void ws_channel::send(std::string text)
{
    impl_->outgoing.push_back(std::move(text));
    impl_->write_next();
}

void ws_channel::take_output(std::string& out)
{
    impl_->pump();
    impl_->ws.next_layer().take_output(out);
}

bool ws_channel::next(std::string& message)
{
    if (impl_->received.empty())
        return false;
    message = std::move(impl_->received.front());
    impl_->received.pop_front();
    return true;
}

const std::string& ws_channel::failure() const
{
    return impl_->failure;
}

} // namespace qsb

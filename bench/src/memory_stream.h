#pragma once

#include <boost/asio/append.hpp>
#include <boost/asio/async_result.hpp>
#include <boost/asio/buffer.hpp>
#include <boost/asio/error.hpp>
#include <boost/asio/post.hpp>
#include <boost/system/error_code.hpp>
#include <memory>
#include <string>
#include <utility>

#include "polled_executor.h"

namespace qsb {

// An Asio byte stream in memory: reads take the bytes fed in, writes append to an output
// string. Beast's WebSocket runs over it while qsbench's own loop moves the bytes to and
// from the socket. Every completion is posted to the executor, whose owner polls it; one
// thread uses it all.
class memory_stream {
public:
    using executor_type = polled_executor;
    using error_code = boost::system::error_code;

    explicit memory_stream(const executor_type& ex) : executor_(ex) {}

    executor_type get_executor() const noexcept { return executor_; }

    // Bytes that arrived; a waiting read takes them.
    void feed(const char* data, std::size_t size)
    {
        compact();
        in_.append(data, size);
        complete_read();
    }
    // The peer is gone: reads end with eof, writes fail.
    void end()
    {
        ended_ = true;
        complete_read();
    }
    // Takes everything written so far.
    void take_output(std::string& out)
    {
        out.append(out_);
        out_.clear();
    }

    template <class Buffers, class Token>
    auto async_read_some(const Buffers& buffers, Token&& token)
    {
        return boost::asio::async_initiate<Token, void(error_code, std::size_t)>(
            [this](auto handler, const Buffers& b) {
                read_ = std::make_unique<read_of<Buffers, decltype(handler)>>(b, std::move(handler));
                complete_read();
            },
            token, buffers);
    }

    template <class Buffers, class Token>
    auto async_write_some(const Buffers& buffers, Token&& token)
    {
        return boost::asio::async_initiate<Token, void(error_code, std::size_t)>(
            [this](auto handler, const Buffers& b) {
                std::size_t n = 0;
                for (auto it = boost::asio::buffer_sequence_begin(b);
                     !ended_ && it != boost::asio::buffer_sequence_end(b); ++it) {
                    const boost::asio::const_buffer part(*it);
                    out_.append(static_cast<const char*>(part.data()), part.size());
                    n += part.size();
                }
                const error_code ec = ended_ ? boost::asio::error::broken_pipe : error_code();
                boost::asio::post(executor_, boost::asio::append(std::move(handler), ec, n));
            },
            token, buffers);
    }

private:
    // A read waiting for bytes: its buffers and its handler, whatever their types.
    struct waiting_read {
        virtual ~waiting_read() = default;
        virtual void complete(memory_stream& s) = 0;
    };
    template <class Buffers, class Handler>
    struct read_of final : waiting_read {
        read_of(const Buffers& b, Handler h) : buffers(b), handler(std::move(h)) {}
        void complete(memory_stream& s) override
        {
            const std::size_t n = boost::asio::buffer_copy(
                buffers, boost::asio::buffer(s.in_.data() + s.in_begin_, s.in_.size() - s.in_begin_));
            s.in_begin_ += n;
            const bool none = n == 0 && boost::asio::buffer_size(buffers) > 0; // only once ended
            const error_code ec = none ? error_code(boost::asio::error::eof) : error_code();
            boost::asio::post(s.executor_, boost::asio::append(std::move(handler), ec, n));
        }
        Buffers buffers;
        Handler handler;
    };

    void complete_read()
    {
        if (!read_ || (in_begin_ == in_.size() && !ended_))
            return;
        std::unique_ptr<waiting_read> r = std::move(read_);
        r->complete(*this);
    }
    void compact()
    {
        if (in_begin_ == in_.size()) {
            in_.clear();
            in_begin_ = 0;
        }
    }

    executor_type executor_;
    std::string in_; // received, not yet read from in_begin_ on
    std::size_t in_begin_ = 0;
    std::string out_; // written, not yet taken
    std::unique_ptr<waiting_read> read_;
    bool ended_ = false;
};

} // namespace qsb

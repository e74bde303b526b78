#pragma once

#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/ssl/stream.hpp>
#include <boost/beast/http/empty_body.hpp>
#include <boost/beast/http/message.hpp>
#include <memory>
#include <variant>

#include "asio_alias.h"

namespace qs {

// An HTTP connection that asked for the WebSocket, on its way from its HTTP session to
// the client connection made of it: the stream (TLS done) and the upgrade request. Used
// by the two files that include Beast only.
struct web_upgrade {
    using tls_stream = asio::ssl::stream<asio::ip::tcp::socket>;
    std::variant<asio::ip::tcp::socket, std::unique_ptr<tls_stream>> stream;
    boost::beast::http::request<boost::beast::http::empty_body> request;
};

} // namespace qs

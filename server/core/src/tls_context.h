#pragma once

#include <boost/asio/ssl/context.hpp>
#include <memory>
#include <string>

#include "asio_alias.h"

namespace qs {

// The server side of TLS: TLS 1.2 or newer with the certificate chain and private key
// read from PEM files (key empty: the key is in the certificate file). Null, with why
// in words, when either cannot be loaded or they do not belong together. Made once
// before the event loop runs; SSL objects of every event-loop thread are made from it.
std::unique_ptr<asio::ssl::context> load_tls_context(const std::string& certificate, const std::string& key,
                                                     std::string& why);

} // namespace qs

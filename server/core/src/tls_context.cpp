#include "tls_context.h"

#include <cstring>
#include <openssl/err.h>
#include <openssl/ssl.h>

namespace qs {

namespace {

// OpenSSL's first queued error in words, then an empty queue.
std::string openssl_reason()
{
    const unsigned long first = ::ERR_peek_error();
    ::ERR_clear_error();
    if (first == 0)
        return "unknown error";
    if (ERR_SYSTEM_ERROR(first))
        return std::strerror(ERR_GET_REASON(first));
    const char* reason = ::ERR_reason_error_string(first);
    return reason != nullptr ? reason : "error " + std::to_string(first);
}

} // namespace

std::unique_ptr<asio::ssl::context> load_tls_context(const std::string& certificate, const std::string& key,
                                                     std::string& why)
{
    auto context = std::make_unique<asio::ssl::context>(asio::ssl::context::tls_server);
    SSL_CTX* ctx = context->native_handle();
    ::ERR_clear_error();
    ::SSL_CTX_set_min_proto_version(ctx, TLS1_2_VERSION);
    ::SSL_CTX_set_options(ctx, SSL_OP_NO_COMPRESSION | SSL_OP_NO_RENEGOTIATION);
    const std::string& key_file = key.empty() ? certificate : key;
    if (certificate.empty()) {
        why = "tls_port needs tls_certificate";
    } else if (::SSL_CTX_use_certificate_chain_file(ctx, certificate.c_str()) != 1) {
        why = "cannot load the TLS certificate " + certificate + ": " + openssl_reason();
    } else if (::SSL_CTX_use_PrivateKey_file(ctx, key_file.c_str(), SSL_FILETYPE_PEM) != 1) {
        why = "cannot load the TLS private key " + key_file + ": " + openssl_reason();
    } else if (::SSL_CTX_check_private_key(ctx) != 1) {
        why = "the TLS private key " + key_file + " does not belong to the certificate " + certificate;
        ::ERR_clear_error();
    } else {
        return context;
    }
    return nullptr;
}

} // namespace qs

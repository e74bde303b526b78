#pragma once

namespace qs {

// Why a TLS connect failed, for a message that says what to do about it.
enum class tls_failure {
    none,       // no TLS connect failed (or the failure came before TLS: see errno)
    not_tls,    // the handshake failed before any certificate was checked: no TLS answer
    untrusted,  // the certificate does not chain to a trusted CA
    wrong_name, // the certificate does not name the host connected to
    ca_file,    // the CA file given could not be read
    other,
};

} // namespace qs

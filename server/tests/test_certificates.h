#pragma once

#include <string>

#include "test_database.h"

namespace qs::test {

// A throw-away CA and a server certificate it signed for 127.0.0.1 and localhost
// (EC P-256, PEM), made with the openssl command in a folder of their own.
class test_certificates {
public:
    test_certificates();

    std::string ca() const { return dir_.path() + "/ca.pem"; }
    std::string certificate() const { return dir_.path() + "/server.pem"; }
    std::string key() const { return dir_.path() + "/server.key"; }
    std::string ca_key() const { return dir_.path() + "/ca.key"; }

    // qsserver.conf lines for a TLS port with this certificate.
    std::string conf_certificate() const { return "tls_certificate=" + certificate(); }
    std::string conf_key() const { return "tls_private_key=" + key(); }

private:
    temp_dir dir_;
};

} // namespace qs::test

#include "test_certificates.h"

namespace qs::test {

test_certificates::test_certificates()
{
    const std::string new_key = "openssl req -newkey ec -pkeyopt ec_paramgen_curve:P-256 -nodes ";
    run("(cd " + dir_.path() + " && " + new_key +
        "-x509 -days 2 -subj '/CN=Quillspeak test CA' -keyout ca.key -out ca.pem" + " && " + new_key +
        "-subj /CN=127.0.0.1 -keyout server.key -out server.csr" +
        " && printf 'subjectAltName=IP:127.0.0.1,DNS:localhost\\n' > server.ext" +
        " && openssl x509 -req -days 2 -in server.csr -CA ca.pem -CAkey ca.key -CAcreateserial -extfile server.ext" +
        " -out server.pem)");
}

} // namespace qs::test

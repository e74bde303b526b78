#include "qs/net/kel.h"

#include "qs/net/kelclient.h"

namespace {

qs::kelclient* client(void* handle)
{
    return static_cast<qs::kelclient*>(handle);
}

// Runs step on the client; false when there is none or step throws.
template <class Step>
bool succeeds(void* handle, Step step)
{
    if (handle == nullptr)
        return false;
    try {
        step(*client(handle));
        return true;
    } catch (...) {
        return false;
    }
}

} // namespace

extern "C" {

void* kel_create(int port)
{
    auto* c = new qs::kelclient();
    try {
        c->create(port);
    } catch (...) {
        c->close();
        delete c;
        throw;
    }
    return c;
}

bool kel_connect(void* handle, const char* host, int port)
{
    return succeeds(handle, [&](qs::kelclient& c) { c.connect(host, port); });
}

bool kel_connect_tls(void* handle, const char* host, int port, const char* ca_file)
{
    return succeeds(handle, [&](qs::kelclient& c) { c.connect_tls(host, port, ca_file); });
}

bool kel_connect_tls_insecure(void* handle, const char* host, int port)
{
    return succeeds(handle, [&](qs::kelclient& c) { c.connect_tls_unverified(host, port); });
}

bool kel_exec(void* handle, const char* cmd, char* result, int size)
{
    return succeeds(handle, [&](qs::kelclient& c) { c.exec(cmd, result, size); });
}

void kel_close(void* handle)
{
    if (handle == nullptr)
        return;
    client(handle)->close();
    delete client(handle);
}

int startup(void)
{
    return 0;
}

int cleanup(void)
{
    return 0;
}
}

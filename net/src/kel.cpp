#include "qs/net/kel.h"

#include "qs/net/kelclient.h"

namespace {

qs::kelclient* client(void* handle)
{
    return static_cast<qs::kelclient*>(handle);
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
    if (handle == nullptr)
        return false;
    try {
        client(handle)->connect(host, port);
        return true;
    } catch (...) {
        return false;
    }
}

bool kel_exec(void* handle, const char* cmd, char* result, int size)
{
    if (handle == nullptr)
        return false;
    try {
        client(handle)->exec(cmd, result, size);
        return true;
    } catch (...) {
        return false;
    }
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

#pragma once

// Flat interface over qs::kelclient. The handle is an opaque kelclient pointer.
// Calling order: startup, kel_create(0), kel_connect (or a kel_connect_tls*), kel_exec (any
// thread), kel_close, cleanup.

#ifdef __cplusplus
extern "C" {
#else
#include <stdbool.h>
#endif

// A new client bound to the local port (0 for any). A failure throws qs::exception(0).
void* kel_create(int port);
// True when connected; the daemon thread is then running.
bool kel_connect(void* handle, const char* host, int port);
// kel_connect over TLS 1.2 or newer: true only when the server's certificate chains to a
// CA in ca_file (PEM), or in the system's store when ca_file is NULL, and names host.
bool kel_connect_tls(void* handle, const char* host, int port, const char* ca_file);
// kel_connect over TLS taking any certificate: hidden from onlookers, not from an impostor.
bool kel_connect_tls_insecure(void* handle, const char* host, int port);
// True when the reply was copied into result (strncpy semantics, at most size bytes).
bool kel_exec(void* handle, const char* cmd, char* result, int size);
// Closes the connection and frees the client.
void kel_close(void* handle);

// Nothing to start or stop on this platform; both return 0.
int startup(void);
int cleanup(void);

#ifdef __cplusplus
}
#endif

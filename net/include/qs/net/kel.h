#pragma once

// Flat interface over qs::kelclient. The handle is an opaque kelclient pointer.
// Calling order: startup, kel_create(0), kel_connect, kel_exec (any thread), kel_close, cleanup.

#ifdef __cplusplus
extern "C" {
#else
#include <stdbool.h>
#endif

// A new client bound to the local port (0 for any). A failure throws qs::exception(0).
void* kel_create(int port);
// True when connected; the daemon thread is then running.
bool kel_connect(void* handle, const char* host, int port);
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

#pragma once

#include <cstdio>
#include <cstdlib>

// Stops a fuzzer when a property fails; libFuzzer then keeps the input that broke it.
#define QS_FUZZ_CHECK(condition)                                                                                       \
    do {                                                                                                               \
        if (!(condition)) {                                                                                            \
            std::fprintf(stderr, "%s:%d: property failed: %s\n", __FILE__, __LINE__, #condition);                      \
            std::abort();                                                                                              \
        }                                                                                                              \
    } while (false)

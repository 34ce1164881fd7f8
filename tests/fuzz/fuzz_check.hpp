#pragma once

#include <cstdio>
#include <cstdlib>

// A broken promise of the code under test: report it and abort, so libFuzzer
// keeps the input as a crash like any sanitizer finding.
#define FUZZ_CHECK(condition)                                                             \
    do {                                                                                  \
        if (!(condition)) {                                                               \
            std::fprintf(stderr, "FUZZ_CHECK failed: %s (%s:%d)\n", #condition, __FILE__, \
                         __LINE__);                                                       \
            std::abort();                                                                 \
        }                                                                                 \
    } while (0)

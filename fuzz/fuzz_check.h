#pragma once

#include <cstdio>
#include <cstdlib>

// A property of a fuzz target that does not hold: says which and where, then aborts, so that
// libFuzzer keeps the input as a crash.
#define FUZZ_CHECK(condition)                                                               \
  do {                                                                                      \
    if (!(condition)) {                                                                     \
      std::fprintf(stderr, "%s:%d: property broken: %s\n", __FILE__, __LINE__, #condition); \
      std::abort();                                                                         \
    }                                                                                       \
  } while (false)

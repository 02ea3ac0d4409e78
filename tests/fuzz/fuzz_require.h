#pragma once
// An invariant of a harness: a violation names itself and ends the run, so
// that libFuzzer keeps the input.

#include <cstdio>
#include <cstdlib>

#define FUZZ_REQUIRE(condition)                                                        \
  do {                                                                                 \
    if (!(condition)) {                                                                \
      std::fprintf(stderr, "%s:%d: invariant broken: %s\n", __FILE__, __LINE__, #condition); \
      std::abort();                                                                    \
    }                                                                                  \
  } while (0)

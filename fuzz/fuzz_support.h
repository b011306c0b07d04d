// Invariant checks shared by the fuzz targets.
#ifndef TARNWICK_FUZZ_FUZZ_SUPPORT_H_
#define TARNWICK_FUZZ_FUZZ_SUPPORT_H_

#include <cstdio>
#include <cstdlib>

// Aborts, so libFuzzer records the input and a replaying test fails, when
// condition is false. Active in every build type.
#define TARNWICK_FUZZ_CHECK(condition)                                                            \
  do {                                                                                            \
    if (!(condition)) {                                                                           \
      std::fprintf(stderr, "%s:%d: fuzz invariant failed: %s\n", __FILE__, __LINE__, #condition); \
      std::abort();                                                                               \
    }                                                                                             \
  } while (0)

#endif  // TARNWICK_FUZZ_FUZZ_SUPPORT_H_

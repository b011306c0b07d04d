// A process-wide cap on live heap memory, for tests that feed the decoder
// hostile sizes: linked into a test program, it replaces the global
// allocation functions, refuses (std::bad_alloc) any request that would take
// the live total past kMemoryCapBytes, and keeps the peak for inspection.
#ifndef TARNWICK_TESTS_EMBEDDING_MEMORY_CAP_H_
#define TARNWICK_TESTS_EMBEDDING_MEMORY_CAP_H_

#include <cstddef>

namespace tarnwick {

inline constexpr size_t kMemoryCapBytes = size_t{512} << 20;

// False where the allocation functions could not be replaced (the thread
// sanitizer owns them); the counters below then stay at zero.
bool MemoryCapInstalled();

// Bytes currently allocated through the global allocation functions.
size_t LiveHeapBytes();
// Highest LiveHeapBytes() since the last ResetPeakHeapBytes().
size_t PeakHeapBytes();
void ResetPeakHeapBytes();

}  // namespace tarnwick

#endif  // TARNWICK_TESTS_EMBEDDING_MEMORY_CAP_H_

#include "tests/embedding/memory_cap.h"

#include <atomic>
#include <cstdlib>
#include <new>

#if defined(__has_feature)
#if __has_feature(thread_sanitizer)
#define TARNWICK_NO_MEMORY_CAP 1
#endif
#endif
#if defined(__SANITIZE_THREAD__)
#define TARNWICK_NO_MEMORY_CAP 1
#endif

namespace tarnwick {
namespace {

#ifdef TARNWICK_NO_MEMORY_CAP
constexpr bool kInstalled = false;
#else
constexpr bool kInstalled = true;
#endif

// Each block carries its size in front, so a delete knows what it returns.
// The header keeps what follows it aligned as operator new must: 16 on x64,
// where MSVC's max_align_t is only 8.
constexpr size_t kHeader = __STDCPP_DEFAULT_NEW_ALIGNMENT__;
static_assert(kHeader >= sizeof(size_t), "the header holds the block's size");

std::atomic<size_t> g_live{0};
std::atomic<size_t> g_peak{0};

[[maybe_unused]] void* Allocate(size_t size) noexcept {
  size_t live = g_live.load();
  do {
    if (size > kMemoryCapBytes - live) return nullptr;
  } while (!g_live.compare_exchange_weak(live, live + size));
  auto* block = static_cast<unsigned char*>(std::malloc(kHeader + size));
  if (block == nullptr) {
    g_live -= size;
    return nullptr;
  }
  const size_t now = live + size;
  size_t peak = g_peak.load();
  while (now > peak && !g_peak.compare_exchange_weak(peak, now)) {
  }
  *reinterpret_cast<size_t*>(block) = size;
  return block + kHeader;
}

[[maybe_unused]] void Release(void* pointer) noexcept {
  if (pointer == nullptr) return;
  auto* block = static_cast<unsigned char*>(pointer) - kHeader;
  g_live -= *reinterpret_cast<size_t*>(block);
  std::free(block);
}

[[maybe_unused]] void* AllocateOrThrow(size_t size) {
  void* pointer = Allocate(size);
  if (pointer == nullptr) throw std::bad_alloc();
  return pointer;
}

}  // namespace

bool MemoryCapInstalled() { return kInstalled; }
size_t LiveHeapBytes() { return g_live.load(); }
size_t PeakHeapBytes() { return g_peak.load(); }
void ResetPeakHeapBytes() { g_peak.store(g_live.load()); }

}  // namespace tarnwick

#ifndef TARNWICK_NO_MEMORY_CAP
void* operator new(size_t size) { return tarnwick::AllocateOrThrow(size); }
void* operator new[](size_t size) { return tarnwick::AllocateOrThrow(size); }
void* operator new(size_t size, const std::nothrow_t&) noexcept { return tarnwick::Allocate(size); }
void* operator new[](size_t size, const std::nothrow_t&) noexcept {
  return tarnwick::Allocate(size);
}
void operator delete(void* pointer) noexcept { tarnwick::Release(pointer); }
void operator delete[](void* pointer) noexcept { tarnwick::Release(pointer); }
void operator delete(void* pointer, size_t) noexcept { tarnwick::Release(pointer); }
void operator delete[](void* pointer, size_t) noexcept { tarnwick::Release(pointer); }
void operator delete(void* pointer, const std::nothrow_t&) noexcept { tarnwick::Release(pointer); }
void operator delete[](void* pointer, const std::nothrow_t&) noexcept {
  tarnwick::Release(pointer);
}
#endif  // TARNWICK_NO_MEMORY_CAP

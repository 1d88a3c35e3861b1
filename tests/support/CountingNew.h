#pragma once
// Replaces the global operator new and delete of the test binary whose one
// source file includes this: counts heap allocations and can make one throw.

#include <atomic>
#include <cstddef>
#include <cstdlib>
#include <new>

namespace zolt::test {
// Allocations of every thread count while `counting` is set; those of a
// thread while its `armed` is set.
inline std::atomic<bool> counting{false};
inline thread_local bool armed = false;
inline std::atomic<long> allocations{0};
// The armed allocation with this count (from 0) throws std::bad_alloc; with
// `stayShort` every later armed one throws too, as when memory stays short.
inline long failAt = -1;
inline bool stayShort = false;

// Runs f with this thread armed: its allocation number `fail` throws (-1:
// none), and with `shortAfter` every one after it; `allocations` then counts
// those f made.
template <class F>
void armedRun(long fail, F f, bool shortAfter = false) {
  allocations = 0;
  failAt = fail;
  stayShort = shortAfter;
  armed = true;
  f();
  armed = false;
  failAt = -1;
  stayShort = false;
}
}  // namespace zolt::test

#if defined(__clang__) && defined(__has_feature)
#if __has_feature(thread_sanitizer)
#define ZOLT_COUNT_BY_HOOK 1
#endif
#endif

#ifdef ZOLT_COUNT_BY_HOOK
// Clang's ThreadSanitizer links operator new statically: count through the
// sanitizer's allocation hook instead (no failing allocation).
#include <sanitizer/allocator_interface.h>
static void countAllocation(const volatile void*, std::size_t) {
  if (zolt::test::counting || zolt::test::armed) ++zolt::test::allocations;
}
static void ignoreFree(const volatile void*) {}
static const int hooksInstalled =
    __sanitizer_install_malloc_and_free_hooks(countAllocation, ignoreFree);
#else
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"
void* operator new(std::size_t n) {
  using namespace zolt::test;
  if (counting || armed) {
    const long k = allocations++;
    if (armed && failAt >= 0 && (k == failAt || (stayShort && k > failAt))) throw std::bad_alloc();
  }
  if (void* p = std::malloc(n ? n : 1)) return p;
  throw std::bad_alloc();
}
void* operator new[](std::size_t n) { return operator new(n); }
void operator delete(void* p) noexcept { std::free(p); }
void operator delete[](void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }
void operator delete[](void* p, std::size_t) noexcept { std::free(p); }
#endif

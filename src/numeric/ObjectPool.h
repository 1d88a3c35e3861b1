#pragma once
// Objects of one size carved from large slabs that ask for huge pages, for
// classes made by the hundred thousand per model: a fresh 4 KiB page costs
// a fault each, a slab a few. Released objects are kept for the next
// allocation; slabs are never returned. Thread-safe.

#include <cstddef>
#include <mutex>
#include <vector>

namespace zolt {

class ObjectPool {
 public:
  explicit ObjectPool(size_t objectSize, size_t slabBytes = size_t(32) << 20);
  ObjectPool(const ObjectPool&) = delete;
  ObjectPool& operator=(const ObjectPool&) = delete;

  // Memory for one object of the pool's size, aligned as operator new's.
  void* allocate();
  void release(void* p);

  // False under AddressSanitizer, whose own allocator keeps use-after-free
  // visible: classes then use the global operators.
  static constexpr bool enabled() {
#if defined(__SANITIZE_ADDRESS__)
    return false;
#else
    return true;
#endif
  }

 private:
  size_t size_, slabBytes_;
  std::mutex lock_;
  std::vector<void*> free_;
  char* next_ = nullptr;
  char* end_ = nullptr;
};

}  // namespace zolt

#pragma once
// Objects of one size carved from large slabs that ask for huge pages, for
// classes made by the hundred thousand per model: a fresh 4 KiB page costs
// a fault each, a slab a few. Released objects are kept for the next
// allocation in a list threaded through the objects themselves, so release
// never allocates or throws (it runs in destructors, also while memory is
// short); trim gives the slabs with no live object back to the system.
// Thread-safe.

#include <cstddef>
#include <mutex>
#include <vector>

namespace zolt {

class ObjectPool {
 public:
  explicit ObjectPool(size_t objectSize, size_t slabBytes = size_t(32) << 20);
  ObjectPool(const ObjectPool&) = delete;
  ObjectPool& operator=(const ObjectPool&) = delete;
  // Unmaps every slab; objects still live become invalid.
  ~ObjectPool();

  // Memory for one object of the pool's size, aligned as operator new's.
  // Throws std::bad_alloc when no slab can be mapped.
  void* allocate();
  void release(void* p) noexcept;
  // Unmaps every slab none of whose objects is live (after a model is
  // unloaded: all of them) and drops their released objects; the bytes
  // given back.
  size_t trim() noexcept;
  // Bytes of the slabs the pool holds.
  size_t mappedBytes();

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
  struct Slab {
    char* begin;
    size_t live;  // objects handed out and not released
  };
  // A released object's first bytes hold the next released one.
  struct FreeObject {
    FreeObject* next;
  };
  // The slab that holds p; slabs_ is sorted by address.
  Slab& slabOf(const void* p) noexcept;

  size_t size_, slabBytes_;
  std::mutex lock_;
  std::vector<Slab> slabs_;
  FreeObject* free_ = nullptr;
  char* next_ = nullptr;
  char* end_ = nullptr;
};

}  // namespace zolt

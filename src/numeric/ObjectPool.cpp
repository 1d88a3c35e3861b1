#include "ObjectPool.h"

#include <sys/mman.h>

#include <new>

#include "BinaryIO.h"

namespace zolt {

ObjectPool::ObjectPool(size_t objectSize, size_t slabBytes)
    : size_((objectSize + alignof(std::max_align_t) - 1) / alignof(std::max_align_t) *
            alignof(std::max_align_t)),
      slabBytes_(slabBytes < size_ ? size_ : slabBytes) {}

void* ObjectPool::allocate() {
  std::lock_guard<std::mutex> hold(lock_);
  if (!free_.empty()) {
    void* p = free_.back();
    free_.pop_back();
    return p;
  }
  if (static_cast<size_t>(end_ - next_) < size_) {
    void* slab =
        mmap(nullptr, slabBytes_, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (slab == MAP_FAILED) throw std::bad_alloc();
    adviseHugePages(slab, slabBytes_);
    next_ = static_cast<char*>(slab);
    end_ = next_ + slabBytes_;
  }
  void* p = next_;
  next_ += size_;
  return p;
}

void ObjectPool::release(void* p) {
  if (!p) return;
  std::lock_guard<std::mutex> hold(lock_);
  free_.push_back(p);
}

}  // namespace zolt

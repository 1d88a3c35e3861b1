#include "ObjectPool.h"

#include <sys/mman.h>

#include <algorithm>
#include <new>

#include "BinaryIO.h"

namespace zolt {

ObjectPool::ObjectPool(size_t objectSize, size_t slabBytes)
    : size_((std::max(objectSize, sizeof(FreeObject)) + alignof(std::max_align_t) - 1) /
            alignof(std::max_align_t) * alignof(std::max_align_t)),
      slabBytes_(slabBytes < size_ ? size_ : slabBytes) {}

ObjectPool::~ObjectPool() {
  for (const Slab& s : slabs_) munmap(s.begin, slabBytes_);
}

ObjectPool::Slab& ObjectPool::slabOf(const void* p) noexcept {
  const char* c = static_cast<const char*>(p);
  auto after = std::upper_bound(slabs_.begin(), slabs_.end(), c,
                                [](const char* a, const Slab& s) { return a < s.begin; });
  return *(after - 1);
}

void* ObjectPool::allocate() {
  std::lock_guard<std::mutex> hold(lock_);
  if (free_) {
    FreeObject* p = free_;
    free_ = p->next;
    ++slabOf(p).live;
    return p;
  }
  if (static_cast<size_t>(end_ - next_) < size_) {
    slabs_.reserve(slabs_.size() + 1);  // the insert below cannot throw then
    void* slab =
        mmap(nullptr, slabBytes_, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (slab == MAP_FAILED) throw std::bad_alloc();
    adviseHugePages(slab, slabBytes_);
    next_ = static_cast<char*>(slab);
    end_ = next_ + slabBytes_;
    const Slab s{next_, 0};
    slabs_.insert(std::upper_bound(slabs_.begin(), slabs_.end(), s,
                                   [](const Slab& a, const Slab& b) { return a.begin < b.begin; }),
                  s);
  }
  void* p = next_;
  next_ += size_;
  ++slabOf(p).live;
  return p;
}

void ObjectPool::release(void* p) noexcept {
  if (!p) return;
  std::lock_guard<std::mutex> hold(lock_);
  --slabOf(p).live;
  free_ = new (p) FreeObject{free_};
}

size_t ObjectPool::trim() noexcept {
  std::lock_guard<std::mutex> hold(lock_);
  auto idle = [](const Slab& s) { return s.live == 0; };
  if (std::none_of(slabs_.begin(), slabs_.end(), idle)) return 0;
  // Unlink the released objects of the slabs that go.
  for (FreeObject** link = &free_; *link;) {
    if (idle(slabOf(*link)))
      *link = (*link)->next;
    else
      link = &(*link)->next;
  }
  size_t freed = 0;
  for (const Slab& s : slabs_) {
    if (!idle(s)) continue;
    if (next_ > s.begin && next_ <= s.begin + slabBytes_) next_ = end_ = nullptr;
    munmap(s.begin, slabBytes_);
    freed += slabBytes_;
  }
  slabs_.erase(std::remove_if(slabs_.begin(), slabs_.end(), idle), slabs_.end());
  return freed;
}

size_t ObjectPool::mappedBytes() {
  std::lock_guard<std::mutex> hold(lock_);
  return slabs_.size() * slabBytes_;
}

}  // namespace zolt

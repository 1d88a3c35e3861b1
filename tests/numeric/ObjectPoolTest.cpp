#include <gtest/gtest.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <set>
#include <thread>
#include <vector>

#include "CountingNew.h"
#include "ObjectPool.h"

namespace {

// Objects of several sizes over slabs that hold only a few of them: every
// object is distinct, aligned, writable whole without touching another, and
// released ones come back before the slabs grow.
TEST(ObjectPool, ObjectsAreDistinctAlignedAndReused) {
  for (auto [size, slab] : {std::pair<size_t, size_t>{1, 64}, {24, 100}, {352, 4096}, {5000, 1}}) {
    SCOPED_TRACE(size);
    zolt::ObjectPool pool(size, slab);
    std::vector<unsigned char*> got;
    for (int k = 0; k < 200; ++k) {
      got.push_back(static_cast<unsigned char*>(pool.allocate()));
      EXPECT_EQ(reinterpret_cast<uintptr_t>(got[k]) % alignof(std::max_align_t), 0u);
      std::memset(got[k], k, size);
    }
    for (int k = 0; k < 200; ++k)
      for (size_t b = 0; b < size; b += 97) ASSERT_EQ(got[k][b], static_cast<unsigned char>(k));
    pool.release(got[7]);
    pool.release(got[3]);
    EXPECT_EQ((std::set<void*>{pool.allocate(), pool.allocate()}),
              (std::set<void*>{got[3], got[7]}));
  }
}

// Elements are released while a model is torn down, also while a bad_alloc
// unwinds: releasing every object of one or many slabs, in any order, and
// trimming them make no heap allocation, and the objects come back.
TEST(ObjectPool, ReleaseAndTrimNeverAllocate) {
  const size_t page = static_cast<size_t>(sysconf(_SC_PAGESIZE));
  const struct {
    size_t size, slab;
    int n;
  } rows[] = {{1, 64, 1}, {352, page, 5000}, {16, size_t(32) << 20, 100000}};
  for (const auto& r : rows) {
    const int n = r.n;
    SCOPED_TRACE(n);
    zolt::ObjectPool pool(r.size, r.slab);
    std::vector<void*> got(n);
    for (void*& p : got) p = pool.allocate();
    size_t freed = 0;
    zolt::test::armedRun(0, [&] {
      for (int k = 0; k < n; k += 2) pool.release(got[k]);  // a gap in every slab
      for (int k = n - 1 - n % 2; k > 0; k -= 2) pool.release(got[k]);
      freed = pool.trim();
    });
    EXPECT_EQ(zolt::test::allocations.load(), 0);
    const size_t perSlab = r.slab / ((r.size + 15) / 16 * 16);
    EXPECT_EQ(freed, (n + perSlab - 1) / perSlab * r.slab);
    EXPECT_EQ(pool.mappedBytes(), 0u);
    std::set<void*> again;
    for (int k = 0; k < n; ++k) again.insert(pool.allocate());
    EXPECT_EQ(again.size(), size_t(n));
  }
}

// Four threads allocating and releasing at once never share an object.
TEST(ObjectPool, ThreadsNeverShareAnObject) {
  zolt::ObjectPool pool(64, 4096);
  std::vector<std::vector<void*>> kept(4);
  std::vector<std::thread> threads;
  for (auto& mine : kept)
    threads.emplace_back([&pool, &mine] {
      for (int k = 0; k < 2000; ++k) {
        void* p = pool.allocate();
        k % 3 ? mine.push_back(p) : pool.release(p);
      }
    });
  for (auto& th : threads) th.join();
  std::set<void*> all;
  for (const auto& v : kept) all.insert(v.begin(), v.end());
  EXPECT_EQ(all.size(), 4 * 2000 - 4 * 667u);
}

// Three one-page slabs of four objects, some released: trim unmaps exactly
// the slabs without a live object (mincore fails with ENOMEM on an unmapped
// page), live objects keep their bytes, and the pool grows again.
TEST(ObjectPool, TrimReturnsExactlyTheSlabsWithoutLiveObjects) {
  const size_t page = static_cast<size_t>(sysconf(_SC_PAGESIZE));
  const auto mapped = [&](void* p) {
    unsigned char resident;
    void* start = reinterpret_cast<void*>(reinterpret_cast<uintptr_t>(p) & ~(page - 1));
    return mincore(start, page, &resident) == 0 || errno != ENOMEM;
  };
  const struct {
    unsigned released;  // bit k: object k
    size_t slabsFreed;
  } rows[] = {{0, 0}, {0x222, 0}, {0x10f, 1}, {0x8ff, 2}, {0xfff, 3}};
  for (const auto& r : rows) {
    zolt::ObjectPool pool(page / 4, page);
    std::vector<unsigned char*> got;
    for (int k = 0; k < 12; ++k) {
      got.push_back(static_cast<unsigned char*>(pool.allocate()));
      std::memset(got[k], k + 1, page / 4);
    }
    std::set<void*> live;
    for (int k = 0; k < 12; ++k)
      r.released >> k & 1 ? pool.release(got[k]) : void(live.insert(got[k]));
    EXPECT_EQ(pool.trim(), r.slabsFreed * page) << r.released;
    for (int k = 0; k < 12; ++k)
      EXPECT_EQ(mapped(got[k]), (~r.released >> (k / 4 * 4) & 0xf) != 0) << r.released << " " << k;
    for (size_t k = live.size(); k < 16; ++k) {  // refilled: distinct and writable
      void* p = pool.allocate();
      std::memset(p, 0xee, page / 4);
      EXPECT_TRUE(live.insert(p).second);
    }
    for (int k = 0; k < 12; ++k)
      EXPECT_TRUE(r.released >> k & 1 || (got[k][0] == k + 1 && got[k][page / 4 - 1] == k + 1))
          << k;
  }
}

}  // namespace

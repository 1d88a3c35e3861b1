#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <set>
#include <thread>
#include <vector>

#include "ObjectPool.h"

namespace {

// Objects of several sizes over slabs that hold only a few of them: every
// object is distinct, aligned, writable whole without touching another, and
// released ones come back before the slabs grow.
TEST(ObjectPool, ObjectsAreDistinctAlignedAndReused) {
  struct Row {
    size_t size, slab;
  };
  for (const Row& r : {Row{1, 64}, Row{24, 100}, Row{352, 4096}, Row{5000, 1}}) {
    SCOPED_TRACE(r.size);
    zolt::ObjectPool pool(r.size, r.slab);
    std::vector<unsigned char*> got;
    for (int k = 0; k < 200; ++k) {
      auto* p = static_cast<unsigned char*>(pool.allocate());
      EXPECT_EQ(reinterpret_cast<uintptr_t>(p) % alignof(std::max_align_t), 0u);
      std::memset(p, k, r.size);
      got.push_back(p);
    }
    for (int k = 0; k < 200; ++k)
      for (size_t b = 0; b < r.size; b += 97) ASSERT_EQ(got[k][b], static_cast<unsigned char>(k));
    EXPECT_EQ(std::set<unsigned char*>(got.begin(), got.end()).size(), got.size());
    pool.release(got[7]);
    pool.release(got[3]);
    std::set<void*> again = {pool.allocate(), pool.allocate()};
    EXPECT_EQ(again, (std::set<void*>{got[3], got[7]}));
  }
}

// Four threads allocating and releasing at once never share an object.
TEST(ObjectPool, ThreadsNeverShareAnObject) {
  zolt::ObjectPool pool(64, 4096);
  std::vector<std::vector<void*>> kept(4);
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t)
    threads.emplace_back([&, t] {
      for (int k = 0; k < 2000; ++k) {
        void* p = pool.allocate();
        if (k % 3 == 0)
          pool.release(p);
        else
          kept[t].push_back(p);
      }
    });
  for (auto& th : threads) th.join();
  std::set<void*> all;
  size_t n = 0;
  for (const auto& v : kept) {
    all.insert(v.begin(), v.end());
    n += v.size();
  }
  EXPECT_EQ(all.size(), n);
}

}  // namespace

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

}  // namespace
